#include "keys.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int terminal = -1;
termios saved_mode{};
termios raw_mode{};
volatile std::sig_atomic_t raw_now = 0; // the terminal is in raw_mode

// Signals that end the process during the wait restore the saved mode first;
// these are the ones that do not end it, or cannot be caught.
constexpr int lasting_signals[] = {
    SIGKILL, SIGSTOP, SIGCHLD, SIGCONT, SIGURG, SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU,
#ifdef SIGINFO
    SIGINFO,
#endif
};
struct sigaction previous_actions[NSIG];

// How long the rest of a key's bytes may take after its first.
constexpr suseconds_t sequence_pause_us = 100'000;

bool ends_process(int signal)
{
    return std::ranges::find(lasting_signals, signal) == std::end(lasting_signals);
}

// Sets raw_mode, unless another process group has the terminal now.
bool enter_raw()
{
    if (tcgetpgrp(terminal) != getpgrp()) {
        return false;
    }
    raw_now = 1; // before the change, so that a signal meanwhile undoes it
    if (tcsetattr(terminal, TCSANOW, &raw_mode) != 0) {
        raw_now = 0;
    }
    return raw_now != 0;
}

void leave_raw()
{
    if (raw_now != 0) {
        tcsetattr(terminal, TCSANOW, &saved_mode);
        raw_now = 0;
    }
}

void catch_signal(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void restore_and_end(int signal)
{
    leave_raw();
    std::signal(signal, SIG_DFL);
    std::raise(signal); // delivered as this handler returns
}

// Gives the terminal back and stops; once continued in the foreground, takes
// it again and the wait goes on. Continued in the background, the read
// fails, as the terminal refuses a background job, and the wait ends.
void stop_and_continue(int signal)
{
    const int saved_errno = errno;
    leave_raw();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    sigset_t only{};
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr); // stopped here until continued
    sigprocmask(SIG_BLOCK, &only, nullptr);
    catch_signal(signal, stop_and_continue);
    enter_raw();
    errno = saved_errno;
}

// What the caller ignores stays ignored.
void catch_signals()
{
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, nullptr, &previous_actions[signal]);
        if (previous_actions[signal].sa_handler != SIG_IGN) {
            if (signal == SIGTSTP) {
                catch_signal(signal, stop_and_continue);
            } else if (ends_process(signal)) {
                catch_signal(signal, restore_and_end);
            }
        }
    }
}

void release_signals()
{
    for (int signal = 1; signal < NSIG; ++signal) {
        sigaction(signal, &previous_actions[signal], nullptr);
    }
}

// False at the end of input, on hang-up and on a read error.
bool read_byte(unsigned char& byte)
{
    for (;;) {
        const ssize_t got = read(terminal, &byte, 1);
        if (got == 1) {
            return true;
        }
        if (got == 0 || errno != EINTR) {
            return false;
        }
    }
}

// select, not poll: poll does not take terminals everywhere.
bool byte_follows()
{
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(terminal, &ready);
        timeval pause{0, sequence_pause_us};
        const int got = select(terminal + 1, &ready, nullptr, nullptr, &pause);
        if (got >= 0 || errno != EINTR) {
            return got > 0;
        }
    }
}

// Reads one key press, all of its bytes, so that none is left for the shell.
void read_key()
{
    unsigned char key[32];
    std::size_t count = 0;
    while (count < sizeof key && read_byte(key[count])) {
        ++count;
        if (key_bytes_complete(key, count) || !byte_follows()) {
            return;
        }
    }
}

} // namespace

void turn_write_signals_into_errors()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void console_open()
{
    // Non-blocking, so that opening a terminal line never waits for a carrier;
    // above the standard descriptors, so that a closed one stays closed.
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        terminal = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        fcntl(terminal, F_SETFL, fcntl(terminal, F_GETFL) & ~O_NONBLOCK);
    }
}

void console_close()
{
    if (terminal >= 0) {
        close(terminal);
        terminal = -1;
    }
}

void wait_for_key()
{
    if (terminal < 0) {
        return;
    }
    // A background job must not be stopped by the terminal: with these
    // ignored, it is refused instead, and the wait ends.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    struct sigaction old_ttin {};
    struct sigaction old_ttou {};
    sigaction(SIGTTIN, &ignore, &old_ttin);
    sigaction(SIGTTOU, &ignore, &old_ttou);

    if (tcgetattr(terminal, &saved_mode) == 0) {
        raw_mode = saved_mode;
        cfmakeraw(&raw_mode);
        raw_mode.c_cc[VMIN] = 1;
        raw_mode.c_cc[VTIME] = 0;
        catch_signals();
        // TCSANOW keeps what was typed before the wait: it ends the wait at once.
        if (enter_raw()) {
            read_key();
        }
        leave_raw();
        release_signals();
    }

    sigaction(SIGTTOU, &old_ttou, nullptr);
    sigaction(SIGTTIN, &old_ttin, nullptr);
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
