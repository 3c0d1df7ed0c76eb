#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

using Bytes = std::vector<unsigned char>;

// What the tool must make of `in`, computed word by word the plain way: the
// odd words multiplied by -1.0 and truncated back to their low 16 bits.
Bytes expected_output(const Bytes& in);

Bytes random_bytes(std::size_t size, std::uint32_t seed);

Bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const Bytes& content);

// Equal bytes, or the sizes and the first offset at which they differ.
::testing::AssertionResult same_bytes(const Bytes& want, const Bytes& got);

// A fresh directory, removed with all it holds when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
