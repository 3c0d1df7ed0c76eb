#include "support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

Bytes expected_output(const Bytes& in)
{
    Bytes out = in;
    for (std::size_t at = 2; at + 1 < out.size(); at += 4) {
        const auto value = static_cast<std::int16_t>(out[at] | out[at + 1] << 8);
        const auto negated = static_cast<std::int32_t>(value * -1.0);
        out[at] = static_cast<unsigned char>(negated & 0xFF);
        out[at + 1] = static_cast<unsigned char>((negated >> 8) & 0xFF);
    }
    return out;
}

Bytes random_bytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<unsigned char>(byte(gen));
    }
    return out;
}

Bytes read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const Bytes& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

::testing::AssertionResult same_bytes(const Bytes& want, const Bytes& got)
{
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) {
        ++at;
    }
    if (at == want.size() && at == got.size()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << want.size() << " bytes, got "
                                         << got.size() << "; first difference at offset " << at;
}

TempDir::TempDir()
{
    static std::atomic<unsigned> count{0};
    const std::string name =
        "quaro-test-" + std::to_string(std::random_device{}()) + "-" + std::to_string(count++);
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
