#include "differential.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr std::size_t block = std::size_t{256} * 1024;

Bytes random_bytes(std::size_t size)
{
    std::independent_bits_engine<std::mt19937, 8, unsigned> gen(static_cast<unsigned>(size));
    Bytes out(size);
    std::ranges::generate(out, [&] { return static_cast<unsigned char>(gen()); });
    return out;
}

// The reference against known words, and the transform against the
// reference on each start of them.
TEST(NegateOddWords, KnownWords)
{
    const Bytes in = {'R',  'I', 'F', 'F', 1,    0, 1, 0, 0, 0,   0xFF,
                      0x7F, 0,   0,   0,   0x80, 0, 0, 0, 0, 0x7A};
    const Bytes out = {0x52, 0x49, 0xBA, 0xB9, 1,    0, 0xFF, 0xFF, 0, 0,   1,
                       0x80, 0,    0,    0,    0x80, 0, 0,    0,    0, 0x7A};
    EXPECT_EQ(expected_output(in), out);
    for (std::ptrdiff_t size = 0; size <= std::ssize(in); ++size)
        EXPECT_EQ(check_transform(Bytes(in.begin(), in.begin() + size), SIZE_MAX), "") << size;
}

// Sizes around the block and its multiples, read whole, failing part way and
// failing at the end; and every word value at an even and an odd position.
TEST(NegateOddWords, MatchesTheReference)
{
    for (const std::size_t size : {block - 3, block - 2, block - 1, block, block + 1, block + 2,
                                   block + 3, block + 4, 2 * block + 1, 3 * block + 2}) {
        const Bytes in = random_bytes(size);
        for (const std::size_t fail_at : {SIZE_MAX, size / 2, size, block})
            EXPECT_EQ(check_transform(in, fail_at), "") << size << " bytes, failing at " << fail_at;
    }
    Bytes every;
    for (unsigned at = 0; at < 4 * 0x10000; ++at)
        every.push_back(static_cast<unsigned char>(at % 2 == 0 ? at / 4 : at / 4 >> 8));
    EXPECT_EQ(check_transform(every, SIZE_MAX), "");
}

// Reading on after the output failed would never end here.
TEST(NegateOddWords, StopsReadingAtAWriteError)
{
    std::FILE* const out = std::fopen("/dev/full", "wb");
    negate_odd_words(std::fopen("/dev/zero", "rb"), out);
    EXPECT_NE(std::ferror(out), 0);
}

} // namespace
