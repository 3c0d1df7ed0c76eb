// The key wait after a failure, on a pseudo-terminal that is the tool's
// controlling terminal, the way a user at a console meets it.

#include "support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Start {
    std::vector<std::string> args = {"missing.wav"}; // a failure by default
    std::string typed_ahead;                         // on the terminal before the tool starts
    std::string standard_input;                      // through a pipe; /dev/null when empty
    bool background = false; // run as a background job of the terminal's session
};

bool same_mode(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

// In the child: a new session with the terminal as its controlling terminal.
[[noreturn]] void become_tool(const fs::path& dir, int slave, int input, const Start& how)
{
    setsid();
    if (ioctl(slave, TIOCSCTTY, 0) != 0 || chdir(dir.c_str()) != 0 || dup2(input, 0) < 0 ||
        dup2(slave, 1) < 0 || dup2(slave, 2) < 0) {
        _exit(126);
    }
    if (how.background) {
        // The session leader stays in the foreground and reports how the
        // tool in its own, background process group ended.
        const pid_t job = fork();
        if (job != 0) {
            int status = 0;
            waitpid(job, &status, WUNTRACED);
            if (WIFSTOPPED(status)) {
                kill(job, SIGKILL);
                _exit(125);
            }
            _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 124);
        }
        setpgid(0, 0);
    }
    std::vector<char*> argv = {const_cast<char*>(QUARO_PATH)};
    for (const auto& arg : how.args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

class Terminal : public ::testing::Test {
protected:
    TempDir dir;
    int master = -1;
    int slave = -1;
    pid_t pid = -1;
    termios before{};
    std::string screen;

    void SetUp() override
    {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
        ASSERT_EQ(tcgetattr(slave, &before), 0);
    }

    void TearDown() override
    {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(master);
        close(slave);
    }

    void start(const Start& how = {})
    {
        if (!how.typed_ahead.empty()) {
            type(how.typed_ahead);
        }
        int input[2] = {-1, -1};
        if (how.standard_input.empty()) {
            input[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
        } else {
            ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
            ASSERT_EQ(write(input[1], how.standard_input.data(), how.standard_input.size()),
                      static_cast<ssize_t>(how.standard_input.size()));
            close(input[1]);
        }
        pid = fork();
        if (pid == 0) {
            become_tool(dir.path(), slave, input[0], how);
        }
        close(input[0]);
    }

    void type(const std::string& keys) const
    {
        ASSERT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // Reads what the tool shows for a while, or until `text` is on screen.
    bool shows(const std::string& text, std::chrono::milliseconds patience = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (screen.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{master, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buf[256];
            const ssize_t got = read(master, buf, sizeof buf);
            if (got <= 0) {
                return false;
            }
            screen.append(buf, static_cast<std::size_t>(got));
        }
        return true;
    }

    // Whether the tool has put the terminal into its waiting mode.
    bool waiting(std::chrono::milliseconds patience = 5s) const
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        termios now{};
        while (std::chrono::steady_clock::now() < deadline) {
            if (tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) == 0) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // The raw wait status once the tool has ended, or -1 if it goes on.
    int ended(std::chrono::milliseconds patience = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        pid = -1;
        return status;
    }

    int pending_input() const
    {
        int count = -1;
        ioctl(slave, FIONREAD, &count);
        return count;
    }

    termios mode() const
    {
        termios now{};
        tcgetattr(slave, &now);
        return now;
    }
};

bool exited_with(int status, int code)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

TEST_F(Terminal, WaitsForAKeyWithoutEcho)
{
    Start how;
    how.standard_input = "y\nyes\n"; // standard input is not where the key comes from
    start(how);
    ASSERT_TRUE(shows("input file open error\r\n"));
    ASSERT_TRUE(waiting());
    const termios during = mode();
    EXPECT_EQ(during.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0U);
    EXPECT_EQ(during.c_iflag & (IXON | ICRNL), 0U);
    EXPECT_EQ(ended(300ms), -1) << "did not wait";

    type("q");
    EXPECT_TRUE(exited_with(ended(), 1));
    EXPECT_FALSE(shows("q", 200ms)) << "the key was echoed";
    EXPECT_EQ(pending_input(), 0);
    EXPECT_TRUE(same_mode(before, mode()));
}

// Each key ends the wait, leaves no byte of itself behind, and the mode is
// put back; the signal keys arrive as keys.
TEST_F(Terminal, OneKeyEndsItWhole)
{
    const std::vector<std::string> keys = {
        "\x03",     "\x1c",      "\x1a",    "\r",       "\x1b",         "\x1b[A", "\x1bOP",
        "\x1b[15~", "\x1b[1;5C", "\x1b[[A", "\xC3\xA9", "\xE2\x82\xAC", "\x1bx"};
    for (const auto& key : keys) {
        SCOPED_TRACE(::testing::PrintToString(key));
        start();
        ASSERT_TRUE(waiting());
        type(key);
        EXPECT_TRUE(exited_with(ended(), 1));
        EXPECT_EQ(pending_input(), 0);
        EXPECT_TRUE(same_mode(before, mode()));
    }
}

TEST_F(Terminal, AKeyTypedAheadEndsItAtOnce)
{
    Start how;
    how.typed_ahead = "k";
    start(how);
    EXPECT_TRUE(exited_with(ended(), 1));
    EXPECT_EQ(pending_input(), 0);
}

TEST_F(Terminal, SignalsFromOutsideRestoreTheMode)
{
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(strsignal(signal));
        start();
        ASSERT_TRUE(waiting());
        kill(pid, signal);
        const int status = ended();
        EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_TRUE(same_mode(before, mode()));
    }
}

TEST_F(Terminal, HangUpEndsIt)
{
    start();
    ASSERT_TRUE(waiting());
    close(master);
    master = -1;
    EXPECT_NE(ended(), -1);
}

TEST_F(Terminal, BackgroundJobDoesNotWait)
{
    Start how;
    how.background = true;
    start(how);
    EXPECT_TRUE(exited_with(ended(), 1)) << "125 means it was stopped by the terminal";
    EXPECT_TRUE(same_mode(before, mode()));
}

TEST_F(Terminal, SuccessDoesNotWait)
{
    write_file(dir.path() / "in.wav", random_bytes(1000, 1));
    Start how;
    how.args = {"in.wav"};
    start(how);
    EXPECT_TRUE(exited_with(ended(), 0));
    EXPECT_TRUE(same_mode(before, mode()));
}

} // namespace
