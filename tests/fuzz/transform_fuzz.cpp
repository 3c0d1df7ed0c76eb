// libFuzzer target of the transform. The first 4 bytes of an input tell
// after how many of the rest a read fails (all ones: never).
#include "../differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t fail_at = UINT32_MAX;
    if (size < sizeof fail_at)
        return 0;
    std::memcpy(&fail_at, data, sizeof fail_at);
    const Bytes in(data + sizeof fail_at, data + size);
    if (!transforms_until(in, fail_at == UINT32_MAX ? SIZE_MAX : fail_at % (in.size() + 1)))
        std::abort();
    return 0;
}
