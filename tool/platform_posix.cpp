#include "keys.h"
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int terminal = -1;
termios saved_mode{};

// Signals that end the process during the wait: each puts the saved mode
// back, then ends the process as its default action would.
constexpr int ending_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
struct sigaction previous_actions[std::size(ending_signals)];

// How long the rest of a key's bytes may take after its first.
constexpr int sequence_pause_ms = 100;

void restore_and_end(int signal)
{
    tcsetattr(terminal, TCSANOW, &saved_mode);
    std::signal(signal, SIG_DFL);
    std::raise(signal); // delivered as this handler returns
}

void catch_ending_signals()
{
    struct sigaction action {};
    action.sa_handler = restore_and_end;
    sigemptyset(&action.sa_mask);
    for (const int signal : ending_signals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        sigaction(ending_signals[i], &action, &previous_actions[i]);
        if (previous_actions[i].sa_handler == SIG_IGN) { // what the caller ignores stays ignored
            sigaction(ending_signals[i], &previous_actions[i], nullptr);
        }
    }
}

void release_ending_signals()
{
    for (std::size_t i = 0; i < std::size(ending_signals); ++i) {
        sigaction(ending_signals[i], &previous_actions[i], nullptr);
    }
}

// No echo, no line editing, no signal or flow-control keys, no CR
// translation: every key arrives as its own bytes, one byte at a time.
termios raw(termios mode)
{
    mode.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    return mode;
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

bool byte_follows()
{
    pollfd ready{terminal, POLLIN, 0};
    int got = 0;
    do {
        got = poll(&ready, 1, sequence_pause_ms);
    } while (got < 0 && errno == EINTR);
    return got > 0;
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

void prepare_process() { std::signal(SIGXFSZ, SIG_IGN); }

void console_open()
{
    // Non-blocking, so that opening a terminal line never waits for a carrier.
    terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (terminal >= 0) {
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

    if (tcgetpgrp(terminal) == getpgrp() && tcgetattr(terminal, &saved_mode) == 0) {
        catch_ending_signals();
        const termios mode = raw(saved_mode);
        // TCSANOW keeps what was typed before the wait: it ends the wait at once.
        if (tcsetattr(terminal, TCSANOW, &mode) == 0) {
            read_key();
        }
        tcsetattr(terminal, TCSANOW, &saved_mode);
        release_ending_signals();
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
