#include "keys.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The same open file as `fd`, above the standard descriptors, so that a
// closed one stays closed.
int above_standard(int fd)
{
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return high;
}

} // namespace

// What only Linux has: it tells which device a terminal is, and sends a
// signal when the parent ends.
#ifdef __linux__
#include <sys/prctl.h>
#include <sys/sysmacros.h>

namespace {

// The node of the pseudo-terminal `terminal` is, /dev/pts/N, opened by name
// for writing, above the standard descriptors; -1 where it is none, or
// cannot be opened.
int open_terminal_node(int terminal)
{
    unsigned device{}; // stays 0 where the ioctl fails
    ioctl(terminal, TIOCGDEV, &device);
    if (major(device) != 136) { // Linux's pseudo-terminals
        return -1;
    }
    char name[sizeof "/dev/pts/4294967295"];
    std::snprintf(name, sizeof name, "/dev/pts/%u", minor(device));
    return above_standard(open(name, O_WRONLY | O_NOCTTY));
}

void signal_at_parent_exit(int signal) { prctl(PR_SET_PDEATHSIG, signal); }

} // namespace
#else
namespace {
int open_terminal_node(int /*terminal*/) { return -1; }
void signal_at_parent_exit(int /*signal*/) {}
} // namespace
#endif

namespace {

// Set by console_open, before anything else.
int terminal;
pid_t parent; // the process that started this one
termios saved_mode{};
termios raw_mode{};
// Both false at start, as every static.
volatile std::sig_atomic_t raw_now;     // the terminal is in raw_mode
volatile std::sig_atomic_t parent_gone; // the process that started this one has ended
sigset_t open_mask;                     // the signals let through while the wait sleeps

// Signals whose default is to do nothing: no reason to touch the terminal.
// SIGCONT is caught: after a SIGSTOP, which cannot be, the terminal may be in
// another mode, or another process group's. SIGURG is caught too: it comes
// when the parent ends.
constexpr int harmless_signals[] = {SIGCHLD, SIGWINCH};

// How long the rest of a key's bytes may take after its first.
constexpr timespec sequence_pause{0, 100'000'000};
// How often a wait looks whether it still has the terminal.
constexpr timespec poll_period{0, 50'000'000};

bool in_foreground() { return tcgetpgrp(terminal) == getpgrp(); }

// Sets raw_mode, unless another process group has the terminal now.
bool enter_raw()
{
    raw_now = in_foreground() && tcsetattr(terminal, TCSANOW, &raw_mode) == 0;
    return raw_now != 0;
}

// Whether the terminal is still in raw_mode, as the wait set it.
bool still_raw()
{
    termios now{};
    return tcgetattr(terminal, &now) == 0 && now.c_iflag == raw_mode.c_iflag &&
           now.c_oflag == raw_mode.c_oflag && now.c_cflag == raw_mode.c_cflag &&
           now.c_lflag == raw_mode.c_lflag &&
           std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(raw_mode.c_cc));
}

// Puts saved_mode back. Once another process group has the terminal (a
// job-control shell, after a SIGSTOP), only if its mode is still raw_mode: a
// mode that the shell has set meanwhile is the shell's. A stop between the
// test and the write can still slip through; SIGSTOP cannot be held back.
void leave_raw()
{
    if (raw_now != 0 && (in_foreground() || still_raw())) {
        tcsetattr(terminal, TCSANOW, &saved_mode);
    }
    raw_now = 0;
}

// The input side of `mode` made raw: each key's bytes unechoed, neither
// stripped to 7 bits nor dropped nor marked, with Ctrl+C, Ctrl+Z, Ctrl+S and
// a break as plain input. The output and line settings stay, so that what
// others write meanwhile prints as before.
termios raw_input(termios mode)
{
    mode.c_iflag &= ~tcflag_t{ISTRIP | IGNCR | PARMRK | BRKINT | IXON};
    mode.c_lflag &= ~tcflag_t{ICANON | ECHO | ISIG | IEXTEN};
    mode.c_cc[VMIN] = 1; // select sees a byte as soon as there is one
    return mode;
}

// Gives the terminal back and lets the signal take its default course: the
// end of the process, or a stop (which keeps the lock). Once continued (or
// where the default is to ignore it), raw again if it was and the terminal is
// still the process's; continued in the background, the wait ends.
void act_by_default(int signal)
{
    const int saved_errno = errno;
    const bool was_raw = raw_now != 0;
    leave_raw();
    struct sigaction handler {};
    sigaction(signal, nullptr, &handler);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr); // ended or stopped here
    sigaction(signal, &handler, nullptr);
    if (was_raw) {
        enter_raw();
    }
    errno = saved_errno;
}

// After a SIGSTOP, which cannot be caught: raw again if the terminal is the
// process's (another mode may have been set meanwhile), set over whatever is
// there rather than put back first, so that a key typed now is not echoed;
// in the background, put back as leave_raw decides, before the shell that
// continued it reads the mode. (SIGCONT itself is not raised again: that
// would discard a stop signal that is waiting.)
void on_continue(int /*signal*/)
{
    const int saved_errno = errno;
    if (raw_now != 0 && in_foreground()) {
        enter_raw();
    } else {
        leave_raw();
    }
    errno = saved_errno;
}

void on_parent_exit(int /*signal*/) { parent_gone = 1; }

// Handlers for every signal the caller does not ignore; they run only while
// the wait sleeps in pselect, when the terminal is raw. (Held back, the
// terminal's SIGTTIN and SIGTTOU cannot stop a background process: its read
// fails instead, and its change of mode goes through.)
void catch_signals()
{
    struct sigaction catching {};
    catching.sa_handler = act_by_default;
    sigfillset(&catching.sa_mask);
    struct sigaction old {};
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, nullptr, &old);
        if (old.sa_handler != SIG_IGN &&
            std::ranges::find(harmless_signals, signal) == std::end(harmless_signals)) {
            catching.sa_handler = signal == SIGCONT  ? on_continue
                                  : signal == SIGURG ? on_parent_exit
                                                     : act_by_default;
            sigaction(signal, &catching, nullptr);
        }
    }
}

// Sleeps until a byte can be read, no longer than sequence_pause unless it
// is the key's first, and reads it; a byte that another reader of the
// terminal took first is slept past. False when the pause runs out, at the
// end of input, on hang-up, and once the terminal is another process group's
// (a shell that takes it back does not say so: it is looked for).
//
// When the parent ends (a script that ran this in the background, say), its
// shell takes the terminal back at once and may keep the mode it finds as its
// own: the wait ends then, to put the mode back before.
bool read_byte(unsigned char& byte, bool first)
{
    while (true) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(terminal, &ready);
        const int got = pselect(terminal + 1, &ready, nullptr, nullptr,
                                first ? &poll_period : &sequence_pause, &open_mask);
        if (parent_gone != 0) {
            return false;
        }
        if ((got < 0 && errno == EINTR && raw_now != 0) || (got == 0 && first && in_foreground())) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        const ssize_t count = read(terminal, &byte, 1);
        if (count >= 0 || errno != EAGAIN) {
            return count == 1;
        }
    }
}

// Reads one key press, all of its bytes, so that none is left for the shell.
void read_key()
{
    unsigned char key[32];
    for (std::size_t count = 0; count < sizeof key && read_byte(key[count], count == 0);) {
        if (key_bytes_complete(key, ++count)) {
            return;
        }
    }
}

// A descriptor on the terminal's own node, open for writing, to lock: a
// standard stream that is the controlling terminal, as tcgetsid tells by
// this run's session (this needs no right to open the node; on a
// pseudo-terminal's master, tcgetsid tells the other side's session), else
// the node opened by name. Not /dev/tty (whose device number a stream opened
// through it has): every process reaches its own terminal through that one
// node. -1 where there is none.
int lock_descriptor()
{
    struct stat tty {};
    fstat(terminal, &tty);
    for (int stream = 0; stream <= 2; ++stream) {
        struct stat st {};
        if (tcgetsid(stream) == getsid(0) && fstat(stream, &st) == 0 && st.st_rdev != tty.st_rdev &&
            (fcntl(stream, F_GETFL) & O_ACCMODE) != O_RDONLY) {
            return stream;
        }
    }
    return open_terminal_node(terminal);
}

// Whether this run is the one to wait for a key, with the mode to put back
// in saved_mode: one key ends every wait on a terminal. The first run to fail
// takes a record lock on the terminal's node and keeps it to its exit. A run
// that finds it held waits with that run: it blocks until the holder has
// exited, the terminal untouched and signals acting by default, and then
// waits for no key of its own. A holder outside the terminal's foreground
// process group, or one this run cannot see (in another PID namespace), is
// stopped or in the background, where no key reaches it: then no wait at
// all. Where no lock can be had, a terminal already in a wait's mode is left
// alone. Closing any descriptor on the node would give the lock back: none
// is closed before the exit.
bool first_to_wait()
{
    const int fd = lock_descriptor();
    // A holder that lets go between the two calls leaves no lock to see: one
    // more try then takes the lock, or finds the next holder.
    for (int tries = 0; tries < 2; ++tries) {
        struct flock lock {}; // the whole file: from the start (SEEK_SET) to the end
        lock.l_type = F_WRLCK;
        if (fcntl(fd, F_SETLK, &lock) == 0) {
            return tcgetattr(terminal, &saved_mode) == 0;
        }
        // F_GETLK gives the holder's lock, also of the whole file, to wait for.
        if (fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
            if (lock.l_pid > 0 && getpgid(lock.l_pid) == tcgetpgrp(terminal)) {
                fcntl(fd, F_SETLKW, &lock);
            }
            return false;
        }
    }
    return tcgetattr(terminal, &saved_mode) == 0 && (saved_mode.c_lflag & (ICANON | ECHO)) != 0;
}

} // namespace

void turn_write_signals_into_errors()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void console_open()
{
    // Non-blocking: a byte is read only once select has seen it, and no read
    // may block while signals are held back. Select takes descriptors below
    // FD_SETSIZE only.
    parent = getppid();
    terminal = above_standard(open("/dev/tty", O_RDONLY | O_NONBLOCK));
    if (terminal >= FD_SETSIZE) {
        terminal = -1; // the exit closes it
    }
}

void wait_for_key()
{
    // Without a terminal, or in the background, no wait.
    if (!in_foreground() || !first_to_wait()) {
        return;
    }
    sigset_t all;
    sigfillset(&all);
    // Signals wait until the wait sleeps, so that none finds a change of mode
    // half done. The handlers stay: what follows is the process's exit.
    sigprocmask(SIG_BLOCK, &all, &open_mask);
    catch_signals();
    raw_mode = raw_input(saved_mode);
    signal_at_parent_exit(SIGURG);
    parent_gone = getppid() != parent ? 1 : 0; // ended before it could say so
    // TCSANOW keeps what was typed before the wait: it ends the wait at once.
    if (parent_gone == 0 && enter_raw()) {
        read_key();
    }
    leave_raw();
    sigprocmask(SIG_SETMASK, &open_mask, nullptr);
}

bool is_directory(std::FILE* stream)
{
    struct stat st {};
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_same_file(std::FILE* stream, const char* path)
{
    struct stat open_file {};
    struct stat named {};
    return fstat(fileno(stream), &open_file) == 0 && stat(path, &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}
