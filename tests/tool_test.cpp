// The built tool as a user meets it. Each case is a command line for sh, run
// in a scratch directory in a session of its own, in which $Q stands for the
// tool: QUARO names another build of it and QUARO_RUNNER a program to run it
// with (for instance the Windows build under wine). End to end the tool runs
// without a terminal, so that no failure waits for a key; the key wait is
// tried on a pseudo-terminal.

#include "differential.h"

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

std::string from_environment(const char* name, const char* otherwise)
{
    const char* const value = std::getenv(name);
    return value != nullptr ? value : otherwise;
}

const std::string tool = from_environment("QUARO", QUARO_PATH);
const bool windows_build = tool.ends_with(".exe");

Bytes read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

// The exit status, or the negative of the signal that ended the process.
std::string outcome(int status)
{
    return std::to_string(status == -1        ? 1000
                          : WIFEXITED(status) ? WEXITSTATUS(status)
                                              : -WTERMSIG(status));
}

class Tool : public ::testing::Test {
protected:
    const fs::path root = fs::temp_directory_path() / ("quaro-test-" + std::to_string(getpid()));
    const fs::path dir = root / "work";
    const Bytes input = random_bytes(1'000'003);
    int master = -1;
    int slave = -1;
    termios before{};
    pid_t pid = -1;

    void SetUp() override
    {
        fs::create_directories(dir);
        std::ofstream(dir / "in.wav", std::ios::binary)
            .write(reinterpret_cast<const char*>(input.data()), std::ssize(input));
        setenv("Q", (from_environment("QUARO_RUNNER", "") + " " + tool).c_str(), 1);
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(tcgetattr(slave, &before), 0);
    }
    void TearDown() override
    {
        if (pid > 0 && ended(pid, 0ms) == -1)
            kill(-pid, SIGKILL);
        close(master);
        close(slave);
        fs::remove_all(root);
    }

    // Starts `command` in a session of its own, with the pseudo-terminal as
    // its controlling terminal and standard streams, or with no terminal and
    // standard input from /dev/null.
    void start(const std::string& command, bool on_terminal)
    {
        tcsetattr(slave, TCSANOW, &before); // whatever the last run left
        pid = fork();
        if (pid == 0) {
            setsid();
            const int in = on_terminal ? slave : open("/dev/null", O_RDWR);
            if ((on_terminal && ioctl(slave, TIOCSCTTY, 0) != 0) || chdir(dir.c_str()) != 0 ||
                dup2(in, 0) < 0 || dup2(in, 1) < 0 || dup2(in, 2) < 0)
                _exit(126);
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
            _exit(127);
        }
    }

    // Runs `command` without a terminal: its exit status and what the tool
    // in it wrote to standard error, with the platform's line end as "\n".
    std::string run(const std::string& command)
    {
        start(command + " >../out 2>../err", false);
        const std::string status = outcome(ended(pid, 60s));
        EXPECT_EQ(read_file(root / "out"), Bytes{}) << "standard output";
        Bytes message = read_file(root / "err");
        if (windows_build && message.size() >= 2 && message.end()[-2] == '\r')
            message.erase(message.end() - 2);
        return status + " " + std::string(message.begin(), message.end());
    }

    std::string output_difference(const Bytes& want) const
    {
        return difference(want, read_file(dir / "vok.wav"));
    }

    // Runs `command` on the terminal, then each of `steps`: "wait" till the
    // terminal is raw; "goes on" for 300 ms; "stop" the foreground job;
    // "hang up"; a number sends that signal; other text is typed. Returns
    // the exit status (a signal: its negative), what is on the screen, and
    // whether the terminal is back in its first mode with no input left.
    std::string on_terminal(const std::string& command, const std::vector<std::string>& steps)
    {
        start(command, true);
        termios now{};
        for (const std::string& step : steps) {
            if (step == "wait") {
                for (int tries = 0; tcgetattr(slave, &now) == 0 && (now.c_lflag & ICANON) != 0;)
                    if (++tries > 1000)
                        return "never waited";
                    else
                        std::this_thread::sleep_for(5ms);
            } else if (step == "goes on" && ended(pid, 300ms) != -1) {
                return "did not wait";
            } else if (step == "stop" && tcgetpgrp(master) > 1) {
                kill(-tcgetpgrp(master), SIGTSTP);
            } else if (step == "hang up") {
                close(std::exchange(master, -1));
            } else if (std::isdigit(step[0])) {
                kill(pid, std::stoi(step));
            } else if (step != "goes on" && step != "stop") {
                EXPECT_EQ(write(master, step.data(), step.size()), std::ssize(step));
            }
        }
        std::string result = outcome(ended(pid, 5s));
        int pending = -1;
        if (tcgetattr(slave, &now) == 0 &&
            (now.c_lflag != before.c_lflag || now.c_iflag != before.c_iflag))
            result += " (mode not restored)";
        if (ioctl(slave, FIONREAD, &pending) == 0 && pending != 0)
            result += " (input left)";
        tcflush(slave, TCIFLUSH);
        char buf[256];
        pollfd ready{master, POLLIN, 0};
        for (ssize_t got = 0;
             master >= 0 && poll(&ready, 1, 50) > 0 && (got = read(master, buf, sizeof buf)) > 0;)
            result.append(buf, static_cast<std::size_t>(got));
        return result;
    }
};

TEST_F(Tool, ConvertsIntoTheWorkingDirectory)
{
    EXPECT_EQ(run("cp in.wav ./-n && head -c 2000000 /dev/zero > vok.wav && $Q -n missing --help"),
              "0 ");
    EXPECT_EQ(output_difference(expected_output(input)), "");
    EXPECT_EQ(read_file(dir / "-n"), input);
    EXPECT_EQ(run("mkdir music && mv in.wav music/\xE9\x9F\xB3.wav && $Q music/\xE9\x9F\xB3.wav"),
              "0 ");
    EXPECT_EQ(output_difference(expected_output(input)), "");
    EXPECT_FALSE(fs::exists(dir / "music" / "vok.wav"));
}

TEST_F(Tool, ReadsAPipe)
{
    if (windows_build)
        GTEST_SKIP() << "/dev/stdin is a POSIX path";
    EXPECT_EQ(run("cat in.wav | $Q /dev/stdin"), "0 ");
    EXPECT_EQ(output_difference(expected_output(input)), "");
}

TEST_F(Tool, NoOutputWithoutAnInput)
{
    EXPECT_EQ(run("$Q"), "1 quaro.exe <wav file>");
    EXPECT_EQ(run("mkdir folder && $Q folder"), "1 input file open error\n");
    EXPECT_FALSE(fs::exists(dir / "vok.wav"));
    EXPECT_EQ(run("cp in.wav vok.wav && $Q missing.wav"), "1 input file open error\n");
    EXPECT_EQ(output_difference(input), "");
}

TEST_F(Tool, OutputThatCannotBeCreated)
{
    EXPECT_EQ(run("mkdir vok.wav && $Q in.wav"), "1 output file create error\n");
    EXPECT_EQ(run("rmdir vok.wav && ln in.wav vok.wav && $Q in.wav"),
              "1 output file create error\n");
    EXPECT_EQ(output_difference(input), "");
    if (!windows_build) {
        EXPECT_EQ(run("$Q /dev/stdin < vok.wav"), "1 output file create error\n");
    }
    EXPECT_EQ(output_difference(input), "");
}

TEST_F(Tool, ReportsFailedReadsAndWrites)
{
    EXPECT_EQ(run("$Q /proc/self/mem"), "1 input file read error\n");
    EXPECT_EQ(output_difference({}), "");
    EXPECT_EQ(run("ln -sf /dev/full vok.wav && $Q in.wav"), "1 output file write error\n");
    if (windows_build)
        return;
    EXPECT_EQ(run("rm vok.wav && ulimit -f 100 && $Q in.wav"), "1 output file write error\n");
    const Bytes negated = expected_output(input); // sh counts the limit in 512-byte blocks
    EXPECT_EQ(output_difference(Bytes(negated.begin(), negated.begin() + 51'200)), "");
    // The reader of vok.wav goes before the end.
    EXPECT_EQ(run("rm vok.wav && mkfifo vok.wav && { : < vok.wav & } && $Q in.wav"),
              "1 output file write error\n");
}

class Terminal : public Tool {};

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
    EXPECT_EQ(on_terminal("exec $Q missing.wav", {"wait", "hang up"}), "-1");
}

// Jobs of a shell with job control: stopped, the tool gives the terminal
// back; continued in the foreground it waits on, in the background it ends;
// and as a background job it does not wait at all.
TEST_F(Terminal, JobControl)
{
    const std::string stopped =
        "set -m; $Q missing.wav; stty -a | grep -q -- -icanon && kill -9 %1; ";
    EXPECT_EQ(on_terminal(stopped + "fg >/dev/null", {"wait", "stop", "wait", "goes on", "k"}),
              failed);
    EXPECT_EQ(on_terminal(stopped + "bg >/dev/null; wait %1", {"wait", "stop"}), failed);
    EXPECT_EQ(on_terminal("set -m; $Q missing.wav & wait $!", {}), failed);
}

} // namespace
