#include "transform.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t block_size = std::size_t{256} * 1024;

void negate_word(unsigned char* p)
{
    const auto value = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    const auto negated = static_cast<std::uint16_t>(0U - value);
    p[0] = static_cast<unsigned char>(negated);
    p[1] = static_cast<unsigned char>(negated >> 8);
}

// Negates every second word of `words` whole words at `p`, starting with the
// first when `odd_first`. Each pair of words is handled as one little-endian
// 32-bit value whose high half is the odd word: negating the value with its
// low half cleared negates the high half alone.
void negate_block(unsigned char* p, std::size_t words, bool odd_first)
{
    if (odd_first && words > 0) {
        negate_word(p);
        p += 2;
        --words;
    }
    const std::size_t pairs = words / 2;
    if constexpr (std::endian::native == std::endian::little) {
        for (std::size_t i = 0; i < pairs; ++i) {
            std::uint32_t pair;
            std::memcpy(&pair, p + 4 * i, 4);
            pair = (pair & 0xFFFFU) | (0U - (pair & 0xFFFF0000U));
            std::memcpy(p + 4 * i, &pair, 4);
        }
    } else {
        for (std::size_t i = 0; i < pairs; ++i) {
            negate_word(p + 4 * i + 2);
        }
    }
}

} // namespace

void negate_odd_words(std::FILE* in, std::FILE* out)
{
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(block_size);
    unsigned char* const buf = buffer.get();
    std::size_t held = 0; // a byte left over from the last read, kept at buf[0]
    bool odd = false;     // the word at buf[0] has an odd position

    for (;;) {
        const std::size_t got = std::fread(buf + held, 1, block_size - held, in);
        const std::size_t total = held + got;
        const std::size_t words = total / 2;
        negate_block(buf, words, odd);
        if (words > 0 && std::fwrite(buf, 2, words, out) != words) {
            return;
        }
        odd = odd != (words % 2 != 0);
        held = total % 2;
        if (held != 0) {
            buf[0] = buf[total - 1];
        }
        if (got == 0 || std::feof(in) || std::ferror(in)) {
            break;
        }
    }
    if (held != 0) {
        std::fputc(buf[0], out);
    }
}
