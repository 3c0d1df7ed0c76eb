// libFuzzer target for the transform. The first bytes of an input shape how
// the rest reaches the transform:
//   byte 0       how many piece sizes follow (1 to 8)
//   next bytes   the piece sizes, each 1 to 256 bytes times 1, 64 or 1024
//   next 4 bytes after how many bytes a read fails (all ones: never)
// The stream hands out the data in those pieces, cyclically, and the output
// must be the plain word-by-word result of what was read before the failure.
#include "transform.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
    std::size_t fail_at;
    std::vector<std::size_t> pieces;
    std::size_t next_piece;
};

ssize_t read_piece(void* cookie, char* buf, std::size_t size)
{
    auto& src = *static_cast<Source*>(cookie);
    if (src.at == src.fail_at) {
        return -1;
    }
    std::size_t n = src.pieces[src.next_piece++ % src.pieces.size()];
    n = std::min({n, size, src.size - src.at, src.fail_at - src.at});
    std::memcpy(buf, src.data + src.at, n);
    src.at += n;
    return static_cast<ssize_t>(n);
}

std::vector<std::uint8_t> reference(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out(data, data + size);
    for (std::size_t word = 1; 2 * word + 1 < size; word += 2) {
        const auto value = static_cast<std::int16_t>(out[2 * word] | out[2 * word + 1] << 8);
        const auto negated = static_cast<std::uint16_t>(-static_cast<std::int32_t>(value));
        out[2 * word] = static_cast<std::uint8_t>(negated & 0xFF);
        out[2 * word + 1] = static_cast<std::uint8_t>(negated >> 8);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::size_t count = data[0] % 8U + 1U;
    if (size < 1 + 2 * count + 4) {
        return 0;
    }
    Source src{};
    for (std::size_t i = 0; i < count; ++i) {
        static constexpr std::size_t scale[] = {1, 1, 64, 1024};
        src.pieces.push_back((data[1 + 2 * i] + 1U) * scale[data[2 + 2 * i] % 4]);
    }
    std::uint32_t fail_at = 0;
    std::memcpy(&fail_at, data + 1 + 2 * count, 4);
    const std::size_t header = 1 + 2 * count + 4;
    src.data = data + header;
    src.size = size - header;
    src.fail_at = fail_at == UINT32_MAX ? SIZE_MAX : fail_at % (src.size + 1);

    std::FILE* in = fopencookie(&src, "rb", {read_piece, nullptr, nullptr, nullptr});
    char* written = nullptr;
    std::size_t written_size = 0;
    std::FILE* out = open_memstream(&written, &written_size);
    negate_odd_words(in, out);
    const bool read_failed = std::ferror(in) != 0;
    std::fclose(in);
    std::fclose(out);

    const std::size_t read = std::min(src.size, src.fail_at);
    const auto want = reference(src.data, read);
    if (read_failed != (src.fail_at <= src.size) || written_size != want.size() ||
        (!want.empty() && std::memcmp(written, want.data(), want.size()) != 0)) {
        std::abort();
    }
    std::free(written);
    return 0;
}
