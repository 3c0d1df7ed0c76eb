#include "transform.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// A multiple of 4, so that every block but the last starts at an even word.
constexpr std::size_t block_size = std::size_t{256} * 1024;

// Page-aligned, as the kernel copies to and from it fastest; static, so
// that no allocation can fail part way through the output.
alignas(4096) unsigned char buffer[block_size];

// The four bytes as the little-endian value they spell, or that value back
// as its four bytes: the same swap both ways on a big-endian machine.
std::uint32_t little_endian(std::uint32_t bytes)
{
    if constexpr (std::endian::native == std::endian::big) {
        return __builtin_bswap32(bytes);
    }
    return bytes;
}

// Negates the second word of every whole pair of words in the first `size`
// bytes at `p`. Each pair is one little-endian 32-bit value whose high half
// is that word: negating the value with its low half cleared negates the high
// half alone. Bytes after the last whole pair stay as they are.
void negate_pairs(unsigned char* p, std::size_t size)
{
    for (std::size_t i = 0; i < size / 4; ++i) {
        std::uint32_t bytes;
        std::memcpy(&bytes, p + 4 * i, 4);
        const std::uint32_t pair = little_endian(bytes);
        bytes = little_endian((pair & 0xFFFFU) | (0U - (pair & 0xFFFF0000U)));
        std::memcpy(p + 4 * i, &bytes, 4);
    }
}

} // namespace

void negate_odd_words(std::FILE* in, std::FILE* out)
{
    // fread comes back short only at the end of the input or on a read error,
    // so only the last block can be partial; its odd last byte goes out as is.
    std::size_t got;
    do {
        got = std::fread(buffer, 1, block_size, in);
        negate_pairs(buffer, got);
    } while (std::fwrite(buffer, 1, got, out) == got && got == block_size);
}
