// libFuzzer target of the transform: its output for any input against the
// rule applied the plain way, word by word.
#include "transform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The odd words multiplied by -1.0 and truncated back to their low 16
    // bits; everything else as it was.
    std::vector<unsigned char> want(data, data + size);
    for (std::size_t at = 2; at + 1 < size; at += 4) {
        const auto word = static_cast<std::int16_t>(want[at] | want[at + 1] << 8);
        const auto negated = static_cast<int>(word * -1.0);
        want[at] = static_cast<unsigned char>(negated);
        want[at + 1] = static_cast<unsigned char>(negated >> 8);
    }
    std::FILE* const in = std::tmpfile();
    std::FILE* const out = std::tmpfile();
    std::fwrite(data, 1, size, in);
    std::rewind(in);
    negate_odd_words(in, out);
    std::rewind(out);
    std::vector<unsigned char> got(size + 1);
    if (std::fread(got.data(), 1, got.size(), out) != size)
        std::abort();
    got.pop_back();
    if (got != want)
        std::abort();
    std::fclose(in);
    std::fclose(out);
    return 0;
}
