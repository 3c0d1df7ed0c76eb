#include "platform.h"
#include "transform.h"

#include <cstdio>

namespace {

constexpr const char* output_name = "vok.wav";

// Flush, then error state, then close: true when all three went well.
bool close_output(std::FILE* out)
{
    const bool flushed = std::fflush(out) == 0;
    const bool clean = std::ferror(out) == 0;
    const bool closed = std::fclose(out) == 0;
    return flushed && clean && closed;
}

// Does the whole job; returns the message for the failure that ended it, or
// nullptr when there was none. Streams left open on a failure are closed by
// the process exit.
const char* run(int argc, char** argv)
{
    if (argc <= 1) {
        return "quaro.exe <wav file>";
    }
    std::FILE* const in = std::fopen(argv[1], "rb");
    if (in == nullptr || is_directory(in)) {
        return "input file open error\n";
    }
    // Creating the output would truncate the input before a word is read.
    if (is_same_file(in, output_name)) {
        return "output file create error\n";
    }
    std::FILE* const out = std::fopen(output_name, "wb");
    if (out == nullptr) {
        return "output file create error\n";
    }
    // The transform reads and writes whole blocks: one system call each.
    std::setvbuf(in, nullptr, _IONBF, 0);
    std::setvbuf(out, nullptr, _IONBF, 0);

    negate_odd_words(in, out);

    const bool read_failed = std::ferror(in) != 0;
    std::fclose(in);
    const bool written = close_output(out);
    if (read_failed) {
        return "input file read error\n";
    }
    return written ? nullptr : "output file write error\n";
}

} // namespace

int main(int argc, char** argv)
{
    turn_write_signals_into_errors();
    console_open();
    const char* const failure = run(argc, argv);
    if (failure != nullptr) {
        std::fputs(failure, stderr);
        std::fflush(stderr);
        wait_for_key();
    }
    return failure == nullptr ? 0 : 1;
}
