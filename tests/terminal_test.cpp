// The key wait after a failure, on a pseudo-terminal that is the tool's
// controlling terminal, the way a user at a console meets it. Each case is a
// command line for sh in a scratch directory, $Q standing for the tool.

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/close_range.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The wait status once `pid` has ended, or -1 while it goes on after `patience`.
int ended(pid_t pid, std::chrono::milliseconds patience)
{
    int status = 0;
    for (auto left = patience; waitpid(pid, &status, WNOHANG) == 0; left -= 5ms) {
        if (left <= 0ms)
            return -1;
        std::this_thread::sleep_for(5ms);
    }
    return status;
}

class Terminal : public ::testing::Test {
protected:
    const fs::path dir = fs::temp_directory_path() / ("quaro-test-" + std::to_string(getpid()));
    int master = -1;
    int slave = -1;
    termios before{};
    pid_t pid = -1;

    void SetUp() override
    {
        fs::create_directories(dir);
        std::ofstream(dir / "in.wav") << "a WAV file";
        setenv("Q", QUARO_PATH, 1);
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(tcgetattr(slave, &before), 0);
    }
    void TearDown() override
    {
        if (pid > 0 && ended(pid, 0ms) == -1)
            kill(-pid, SIGKILL);
        close(master);
        close(slave);
        fs::remove_all(dir);
    }

    // Runs `command` on the terminal, then each of `steps`: "wait" till the
    // terminal is raw; "goes on" for 300 ms; "stop" the foreground job, till
    // the shell shows "stopped"; "cooked" sets the first mode again; "hang
    // up"; a number sends that signal; other text is typed. Returns the exit
    // status (a signal: its negative), whether the terminal is back in its
    // first mode with no input left, and what is on the screen.
    std::string on_terminal(const std::string& command, const std::vector<std::string>& steps)
    {
        tcsetattr(slave, TCSANOW, &before); // whatever the last run left
        pid = fork();
        if (pid == 0) {
            setsid();
            if (ioctl(slave, TIOCSCTTY, 0) != 0 || chdir(dir.c_str()) != 0 || dup2(slave, 0) < 0 ||
                dup2(slave, 1) < 0 || dup2(slave, 2) < 0)
                _exit(126);
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
        termios now{};
        std::string screen;
        const auto read_screen = [&](const std::string& until, int patience_ms) {
            const std::size_t from = screen.size();
            char buf[256];
            pollfd ready{master, POLLIN, 0};
            for (ssize_t got = 0;
                 (until.empty() || screen.find(until, from) == std::string::npos) && master >= 0 &&
                 poll(&ready, 1, patience_ms) > 0 && (got = read(master, buf, sizeof buf)) > 0;)
                screen.append(buf, static_cast<std::size_t>(got));
        };
        for (const std::string& step : steps) {
            if (step == "wait") {
                for (int tries = 0;
                     tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) != 0 && ++tries < 1000;)
                    std::this_thread::sleep_for(5ms);
            } else if (step == "goes on") {
                if (ended(pid, 300ms) != -1)
                    return "did not wait";
            } else if (step == "stop") {
                if (tcgetpgrp(master) > 1)
                    kill(-tcgetpgrp(master), SIGTSTP);
                read_screen("stopped", 5000);
            } else if (step == "cooked") {
                tcsetattr(slave, TCSANOW, &before);
            } else if (step == "hang up") {
                close(std::exchange(master, -1));
            } else if (std::isdigit(step[0])) {
                kill(pid, std::stoi(step));
            } else {
                EXPECT_EQ(write(master, step.data(), step.size()), std::ssize(step));
            }
        }
        const int status = ended(pid, 5s);
        std::string result = std::to_string(status == -1        ? 1000
                                            : WIFEXITED(status) ? WEXITSTATUS(status)
                                                                : -WTERMSIG(status));
        int pending = -1;
        if (tcgetattr(slave, &now) == 0 &&
            (now.c_lflag != before.c_lflag || now.c_iflag != before.c_iflag))
            result += " (mode not restored)";
        if (ioctl(slave, FIONREAD, &pending) == 0 && pending != 0)
            result += " (input left)";
        tcflush(slave, TCIFLUSH);
        read_screen("", 50);
        return result + screen;
    }
};

const std::string failed = "1input file open error\r\n";

// Standard input is not where the key comes from; the key is not echoed.
TEST_F(Terminal, OneKeyFromTheTerminalEndsTheWait)
{
    EXPECT_EQ(on_terminal("printf 'y\\n' | $Q missing.wav", {"wait", "goes on", "q"}), failed);
    EXPECT_EQ(on_terminal("exec $Q /dev/stdin <&-", {"wait", "q"}), failed); // no terminal for it
    EXPECT_FALSE(fs::exists(dir / "vok.wav"));
    EXPECT_EQ(on_terminal("exec $Q in.wav", {}), "0");
}

// A lone Escape (ended by the pause after it), a sequence, a UTF-8 character
// and the keys that would otherwise send signals; a key typed ahead.
TEST_F(Terminal, EachKeyIsReadWhole)
{
    for (const std::string key : {"\x1b", "\x1b[15~", "\xE2\x82\xAC", "\x03", "\x1a"})
        EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", key}), failed)
            << ::testing::PrintToString(key);
    EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", "ab"}),
              "1 (input left)" + failed.substr(1));
    char echo = 0; // typed ahead, and so echoed at once
    EXPECT_TRUE(write(master, "k", 1) == 1 && read(master, &echo, 1) == 1 && echo == 'k');
    EXPECT_EQ(on_terminal("exec $Q missing.wav", {}), failed);
}

TEST_F(Terminal, SignalsRestoreTheModeAndEndTheTool)
{
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM,
                             SIGPROF, SIGXCPU, SIGRTMIN})
        EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", std::to_string(signal)}),
                  std::to_string(-signal) + failed.substr(1));
    EXPECT_EQ(on_terminal("trap '' TERM; exec $Q missing.wav", {"wait", "15", "goes on", "k"}),
              failed);
    // No descriptor below FD_SETSIZE left for the terminal: no wait.
    EXPECT_EQ(on_terminal("exec bash -c 'ulimit -n 2048 && for ((i = 3; i < 1024; i++)); do eval "
                          "\"exec $i</dev/null\"; done && exec $Q missing.wav'",
                          {}),
              failed);
    EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", "hang up"}), "-1");
}

// Jobs of a shell with job control: stopped, the tool gives the terminal
// back; continued in the foreground it waits on, in the background it ends;
// and as a background job it does not wait at all.
TEST_F(Terminal, JobControl)
{
    const std::string check = "stty -a | grep -q -- -icanon && kill -9 %1; echo stopped; ";
    const std::string stopped = "set -m; $Q missing.wav; " + check;
    EXPECT_EQ(on_terminal(stopped + "fg >/dev/null; " + check + "fg >/dev/null",
                          {"wait", "stop", "wait", "stop", "wait", "goes on", "k"}),
              failed + "stopped\r\nstopped\r\n");
    EXPECT_EQ(on_terminal(stopped + "bg >/dev/null; wait %1", {"wait", "stop"}),
              failed + "stopped\r\n");
    EXPECT_EQ(on_terminal("set -m; $Q missing.wav & wait $!", {}), failed);
    // SIGSTOP cannot be caught; continued, the tool takes the terminal again.
    EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", std::to_string(SIGSTOP), "cooked",
                                                  std::to_string(SIGCONT), "wait", "goes on", "k"}),
              failed);
}

} // namespace
