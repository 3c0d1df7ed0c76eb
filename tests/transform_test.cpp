#include "differential.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t block = std::size_t{256} * 1024;

// Inputs around the block size, read whole, or failing part way, at the end
// of the first block or at the end of the input. From a block on, they hold
// every word value at an even and at an odd position.
TEST(NegateOddWords, StopsAtTheFirstReadError)
{
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{3}, block - 1, block, block + 3, 3 * block + 2}) {
        Bytes in(size);
        for (std::size_t at = 0; at < size; ++at)
            in[at] = static_cast<unsigned char>(at % 2 == 0 ? at / 4 : at / 4 >> 8);
        for (const std::size_t fail_at : {SIZE_MAX, size / 2, size, block})
            EXPECT_TRUE(transforms_until(in, fail_at)) << size << " bytes, failing at " << fail_at;
    }
}

} // namespace
