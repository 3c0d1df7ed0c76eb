#pragma once

// The transform against a plain word-by-word reference, for the tests and
// the fuzz target alike.

#include "transform.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using Bytes = std::vector<unsigned char>;

// What the tool must make of `in`: the odd words multiplied by -1.0 and
// truncated back to their low 16 bits, everything else as it was.
inline Bytes expected_output(Bytes out)
{
    for (std::size_t at = 2; at + 1 < out.size(); at += 4) {
        const auto word = static_cast<std::int16_t>(out[at] | out[at + 1] << 8);
        const auto negated = static_cast<int>(word * -1.0);
        out[at] = static_cast<unsigned char>(negated);
        out[at + 1] = static_cast<unsigned char>(negated >> 8);
    }
    return out;
}

// Runs the transform over `in`, read through a stream whose read fails once
// when `fail_at` bytes have been read, and goes on after. True when the
// output is the reference result of the bytes before the failure and the
// failure, if any, was reported.
inline bool transforms_until(const Bytes& in, std::size_t fail_at)
{
    struct Source {
        const Bytes& data;
        std::size_t at;
        std::size_t fail_at;
    } source{in, 0, fail_at};
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
        auto& s = *static_cast<Source*>(cookie);
        if (s.at == s.fail_at) {
            s.fail_at = SIZE_MAX;
            return -1;
        }
        size = std::min({size, s.data.size() - s.at, s.fail_at - s.at});
        std::copy_n(s.data.begin() + static_cast<std::ptrdiff_t>(s.at), size, buf);
        s.at += size;
        return static_cast<ssize_t>(size);
    };
    char* written = nullptr;
    std::size_t size = 0;
    std::FILE* const from = fopencookie(&source, "rb", io);
    std::FILE* const to = open_memstream(&written, &size);
    negate_odd_words(from, to);
    const bool read_failed = std::ferror(from) != 0;
    std::fclose(from);
    std::fclose(to);
    const Bytes got(written, written + size);
    std::free(written);
    const auto read = static_cast<std::ptrdiff_t>(std::min(in.size(), fail_at));
    return read_failed == (fail_at <= in.size()) &&
           got == expected_output(Bytes(in.begin(), in.begin() + read));
}
