// The built tool as a user meets it: run in a scratch directory, in a session
// of its own with no controlling terminal, so a failure never waits for a key.
// QUARO names another build of the tool to test and QUARO_RUNNER a program to
// run it with (for instance the Windows build under wine).

#include "support.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1; // the exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct Options {
    const Bytes* input = nullptr;         // fed through a pipe on standard input
    std::string input_path = "/dev/null"; // otherwise standard input comes from here
    std::function<void()> in_child;       // runs in the child just before the tool
};

std::string tool_path()
{
    const char* path = std::getenv("QUARO");
    return path != nullptr && *path != '\0' ? path : QUARO_PATH;
}

std::vector<std::string> command(const std::vector<std::string>& args)
{
    std::vector<std::string> cmd;
    if (const char* runner = std::getenv("QUARO_RUNNER")) {
        std::istringstream words(runner);
        for (std::string word; words >> word;) {
            cmd.push_back(word);
        }
    }
    cmd.push_back(tool_path());
    cmd.insert(cmd.end(), args.begin(), args.end());
    return cmd;
}

bool windows_build() { return tool_path().ends_with(".exe"); }

// A message as the tool writes it to standard error on this platform.
std::string line(const std::string& text) { return text + (windows_build() ? "\r\n" : "\n"); }

[[noreturn]] void exec_child(const fs::path& dir, const std::vector<std::string>& cmd, int in_fd,
                             int out_fd, int err_fd, const Options& opt)
{
    setsid();
    if (chdir(dir.c_str()) != 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
        dup2(err_fd, 2) < 0) {
        _exit(126);
    }
    if (opt.in_child) {
        opt.in_child();
    }
    std::vector<char*> argv;
    argv.reserve(cmd.size() + 1);
    for (const auto& arg : cmd) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Moves data between the child's pipes until it has ended and its output is
// read, or gives up at the deadline. Helpers the child leaves behind (wine's)
// may hold the pipes open, so the end of the child, not of the pipes, counts.
bool pump(pid_t pid, int in_fd, const Bytes* input, int out_fd, int err_fd, Outcome& run)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::size_t sent = 0;
    pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    bool exited = false;
    for (;;) {
        if (!exited) {
            int status = 0;
            exited = waitpid(pid, &status, WNOHANG) == pid;
            run.status = exited && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        // Once the child is gone, only what is already in the pipes is read.
        const int ready = poll(fds, 3, exited ? 0 : 20);
        if (ready == 0 && exited) {
            break;
        }
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buf[4096];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
        }
        if (fds[2].fd >= 0 && ready > 0 && fds[2].revents != 0) {
            const ssize_t n = input != nullptr && sent < input->size()
                                  ? write(fds[2].fd, input->data() + sent,
                                          std::min<std::size_t>(input->size() - sent, 7777))
                                  : -1;
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            }
            if (n <= 0 || sent == input->size()) {
                close(fds[2].fd);
                fds[2].fd = -1;
            }
        }
        if (exited && fds[0].fd < 0 && fds[1].fd < 0) {
            break;
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    return true;
}

Outcome run_quaro(const fs::path& dir, const std::vector<std::string>& args,
                  const Options& opt = {})
{
    Outcome run;
    int out[2];
    int err[2];
    int in[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        (opt.input != nullptr ? pipe2(in, O_CLOEXEC)
                              : (in[0] = open(opt.input_path.c_str(), O_RDONLY | O_CLOEXEC))) < 0) {
        ADD_FAILURE() << "cannot set up the child's standard streams";
        return run;
    }
    const auto cmd = command(args);
    const pid_t pid = fork();
    if (pid == 0) {
        exec_child(dir, cmd, in[0], out[1], err[1], opt);
    }
    close(out[1]);
    close(err[1]);
    close(in[0]);
    if (in[1] >= 0) {
        fcntl(in[1], F_SETFL, O_NONBLOCK);
    }
    if (!pump(pid, in[1], opt.input, out[0], err[0], run)) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ADD_FAILURE() << "the tool did not finish in time";
    }
    return run;
}

class Tool : public ::testing::Test {
protected:
    TempDir dir;
    fs::path at(const std::string& name) const { return dir.path() / name; }
    Bytes output() const { return read_file(at("vok.wav")); }
};

TEST_F(Tool, ConvertsTheSampleInto_vok_wav)
{
    const Bytes sample = read_file(QUARO_EXAMPLE);
    ASSERT_GT(sample.size(), 44U);
    const Outcome run = run_quaro(dir.path(), {QUARO_EXAMPLE});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const Bytes out = output();
    EXPECT_TRUE(same_bytes(expected_output(sample), out));
    ASSERT_GE(out.size(), 4U);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x52, 0x49, 0xBA, 0xB9}));
}

TEST_F(Tool, ReplacesAnExistingOutputAndLeavesTheInputAlone)
{
    const Bytes input = random_bytes(300'001, 1);
    write_file(at("in.wav"), input);
    write_file(at("vok.wav"), random_bytes(500'000, 2));
    const Outcome run = run_quaro(dir.path(), {"in.wav"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(same_bytes(expected_output(input), output()));
    EXPECT_TRUE(same_bytes(input, read_file(at("in.wav"))));
}

TEST_F(Tool, UsesOnlyTheFirstArgumentEvenWithADash)
{
    const Bytes input = random_bytes(1'000, 3);
    write_file(at("-n"), input);
    const Outcome run = run_quaro(dir.path(), {"-n", "missing.wav", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_TRUE(same_bytes(expected_output(input), output()));
}

TEST_F(Tool, WritesIntoTheWorkingDirectory)
{
    fs::create_directory(at("music"));
    const Bytes input = random_bytes(4'000, 4);
    write_file(at("music") / "in.wav", input);
    const Outcome run = run_quaro(dir.path(), {"music/in.wav"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(same_bytes(expected_output(input), output()));
    EXPECT_FALSE(fs::exists(at("music") / "vok.wav"));
}

TEST_F(Tool, TakesNamesInAnyScript)
{
    for (const std::string name : {"M\xC3\xBCsik.wav", "\xE9\x9F\xB3\xE6\xA5\xBD.wav"}) {
        const Bytes input = random_bytes(1'001, 11);
        write_file(at(name), input);
        const Outcome run = run_quaro(dir.path(), {name});
        EXPECT_EQ(run.status, 0) << name;
        EXPECT_EQ(run.err, "") << name;
        EXPECT_TRUE(same_bytes(expected_output(input), output())) << name;
    }
}

TEST_F(Tool, ReadsAPipe)
{
    if (windows_build()) {
        GTEST_SKIP() << "/dev/stdin is a path of POSIX systems";
    }
    const Bytes input = random_bytes(1'000'003, 5);
    Options opt;
    opt.input = &input;
    const Outcome run = run_quaro(dir.path(), {"/dev/stdin"}, opt);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(same_bytes(expected_output(input), output()));
}

TEST_F(Tool, WithoutAnArgumentShowsUsage)
{
    const Outcome run = run_quaro(dir.path(), {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quaro.exe <wav file>");
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(Tool, InputThatCannotBeOpened)
{
    const Bytes old = random_bytes(100, 6);
    write_file(at("vok.wav"), old);
    fs::create_directory(at("folder.wav"));
    for (const char* input : {"missing.wav", "folder.wav", "."}) {
        const Outcome run = run_quaro(dir.path(), {input});
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_EQ(run.err, line("input file open error")) << input;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(read_file(at("vok.wav")), old) << input;
    }
    fs::remove(at("vok.wav"));
    EXPECT_EQ(run_quaro(dir.path(), {"folder.wav"}).status, 1);
    EXPECT_FALSE(fs::exists(at("vok.wav")));
}

TEST_F(Tool, OutputThatCannotBeCreated)
{
    write_file(at("in.wav"), random_bytes(100, 7));
    fs::create_directory(at("vok.wav"));
    const Outcome run = run_quaro(dir.path(), {"in.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line("output file create error"));
    EXPECT_TRUE(fs::is_directory(at("vok.wav")));
}

// Creating the output would wipe an input that is the same file.
TEST_F(Tool, RefusesToOverwriteItsInput)
{
    const Bytes input = random_bytes(10'000, 8);
    write_file(at("vok.wav"), input);
    fs::create_hard_link(at("vok.wav"), at("hard.wav"));
    fs::create_symlink("vok.wav", at("soft.wav"));
    fs::create_directory(at("sub"));
    fs::create_symlink("../vok.wav", at("sub") / "up.wav");
    const std::vector<std::string> names = {"vok.wav",    "./vok.wav",      "hard.wav",
                                            "soft.wav",   "sub/../vok.wav", "sub/up.wav",
                                            at("vok.wav")};
    for (const auto& name : names) {
        const Outcome run = run_quaro(dir.path(), {name});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.err, line("output file create error")) << name;
        EXPECT_EQ(read_file(at("vok.wav")), input) << name;
    }
    if (!windows_build()) {
        Options opt;
        opt.input_path = at("vok.wav");
        const Outcome run = run_quaro(dir.path(), {"/dev/stdin"}, opt);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(read_file(at("vok.wav")), input);
    }
}

TEST_F(Tool, ReportsAFailedWrite)
{
    write_file(at("in.wav"), random_bytes(100'000, 9));
    fs::create_symlink("/dev/full", at("vok.wav"));
    const Outcome run = run_quaro(dir.path(), {"in.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line("output file write error"));
    EXPECT_EQ(run.out, "");
}

TEST_F(Tool, ReportsAFileSizeLimit)
{
    if (windows_build()) {
        GTEST_SKIP() << "file-size limits are a POSIX matter; under wine they hit wine itself";
    }
    write_file(at("in.wav"), random_bytes(1'000'000, 10));
    Options opt;
    opt.in_child = [] {
        const rlimit limit{100'000, 100'000};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    const Outcome run = run_quaro(dir.path(), {"in.wav"}, opt);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line("output file write error"));
}

TEST_F(Tool, ReportsAFailedRead)
{
    // Opens fine; reading its first page fails, as nothing is mapped there.
    const Outcome run = run_quaro(dir.path(), {"/proc/self/mem"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, line("input file read error"));
    EXPECT_EQ(run.out, "");
}

} // namespace
