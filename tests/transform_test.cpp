#include "support.h"
#include "transform.h"

#include <cstdio>
#include <random>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Runs the transform from `in` into a fresh file and returns what it wrote.
Bytes transform_from(std::FILE* in, const TempDir& dir)
{
    const auto path = dir.path() / "out";
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    if (out == nullptr) {
        ADD_FAILURE() << "cannot create " << path;
        return {};
    }
    negate_odd_words(in, out);
    EXPECT_EQ(std::ferror(in), 0);
    EXPECT_EQ(std::ferror(out), 0);
    EXPECT_EQ(std::fclose(out), 0);
    return read_file(path);
}

Bytes transform_file(const Bytes& input)
{
    const TempDir dir;
    write_file(dir.path() / "in", input);
    std::FILE* in = std::fopen((dir.path() / "in").string().c_str(), "rb");
    if (in == nullptr) {
        ADD_FAILURE() << "cannot open the input";
        return {};
    }
    Bytes out = transform_from(in, dir);
    std::fclose(in);
    return out;
}

// Feeds `input` to the transform through a pipe, written by another thread in
// pieces of odd and uneven sizes, the way a slow pipe or terminal hands data
// over, so that words are split across reads.
Bytes transform_pipe(const Bytes& input, std::uint32_t seed)
{
    int fds[2];
#ifdef _WIN32
    const int made = _pipe(fds, 4096, _O_BINARY);
#else
    const int made = pipe(fds);
#endif
    if (made != 0) {
        ADD_FAILURE() << "cannot make a pipe";
        return {};
    }
    std::thread writer([&input, seed, fd = fds[1]] {
        std::mt19937 gen(seed);
        std::uniform_int_distribution<std::size_t> piece(0, 700);
        for (std::size_t at = 0; at < input.size();) {
            const std::size_t size = std::min(piece(gen) * 2 + 1, input.size() - at);
#ifdef _WIN32
            const auto n = _write(fd, input.data() + at, static_cast<unsigned>(size));
#else
            const auto n = write(fd, input.data() + at, size);
#endif
            if (n <= 0) {
                break;
            }
            at += static_cast<std::size_t>(n);
            if (gen() % 8 == 0) {
                std::this_thread::yield();
            }
        }
#ifdef _WIN32
        _close(fd);
#else
        close(fd);
#endif
    });
#ifdef _WIN32
    std::FILE* in = _fdopen(fds[0], "rb");
#else
    std::FILE* in = fdopen(fds[0], "rb");
#endif
    const TempDir dir;
    Bytes out = in ? transform_from(in, dir) : Bytes{};
    writer.join();
    if (in != nullptr) {
        std::fclose(in);
    }
    return out;
}

Bytes word_at_odd_position(unsigned char low, unsigned char high)
{
    return {0x11, 0x22, low, high};
}

} // namespace

TEST(NegateOddWords, KnownWords)
{
    EXPECT_EQ(transform_file({}), Bytes{});
    EXPECT_EQ(transform_file({0xFF, 0x7F}), (Bytes{0xFF, 0x7F}));
    EXPECT_EQ(transform_file({0x01, 0x00, 0x01, 0x00}), (Bytes{0x01, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(transform_file(word_at_odd_position(0xFF, 0x7F)), word_at_odd_position(0x01, 0x80));
    EXPECT_EQ(transform_file(word_at_odd_position(0x00, 0x00)), word_at_odd_position(0x00, 0x00));
    EXPECT_EQ(transform_file(word_at_odd_position(0x00, 0x80)), word_at_odd_position(0x00, 0x80));
    EXPECT_EQ(transform_file(word_at_odd_position(0x00, 0x01)), word_at_odd_position(0x00, 0xFF));
    EXPECT_EQ(transform_file({'R', 'I', 'F', 'F', 0x24, 0x00}),
              (Bytes{0x52, 0x49, 0xBA, 0xB9, 0x24, 0x00}));
}

TEST(NegateOddWords, OddLengthKeepsLastByte)
{
    EXPECT_EQ(transform_file({0x7A}), Bytes{0x7A});
    EXPECT_EQ(transform_file({0x01, 0x00, 0x01, 0x00, 0x7A}),
              (Bytes{0x01, 0x00, 0xFF, 0xFF, 0x7A}));
}

// Every word value, at an even and at an odd position.
TEST(NegateOddWords, EveryValue)
{
    Bytes input;
    for (unsigned v = 0; v <= 0xFFFF; ++v) {
        for (int twice = 0; twice < 2; ++twice) {
            input.push_back(static_cast<unsigned char>(v & 0xFF));
            input.push_back(static_cast<unsigned char>(v >> 8));
        }
    }
    EXPECT_TRUE(same_bytes(expected_output(input), transform_file(input)));
}

// Sizes around the edges of the internal blocks and random ones besides,
// from a file and from a pipe that splits words across reads.
TEST(NegateOddWords, RandomContentAnySize)
{
    std::vector<std::size_t> sizes = {1, 2, 3, 4, 5, 6, 7, 4095, 4096, 4097};
    for (const std::size_t block :
         {std::size_t{1} << 16, std::size_t{1} << 18, std::size_t{1} << 20}) {
        for (std::size_t delta = 0; delta < 4; ++delta) {
            sizes.push_back(block - delta);
            sizes.push_back(block + delta + 1);
            sizes.push_back(2 * block + delta);
        }
    }
    std::mt19937 gen(2026);
    for (int i = 0; i < 8; ++i) {
        sizes.push_back(std::uniform_int_distribution<std::size_t>(0, 3'000'000)(gen));
    }
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto seed = static_cast<std::uint32_t>(i);
        const Bytes input = random_bytes(sizes[i], seed);
        const Bytes want = expected_output(input);
        EXPECT_TRUE(same_bytes(want, transform_file(input))) << "file of " << sizes[i] << " bytes";
        EXPECT_TRUE(same_bytes(want, transform_pipe(input, seed)))
            << "pipe of " << sizes[i] << " bytes";
    }
}

#ifndef _WIN32
TEST(NegateOddWords, StopsAtReadError)
{
    const TempDir dir;
    std::FILE* in = std::fopen(dir.path().string().c_str(), "rb"); // reading a directory fails
    ASSERT_NE(in, nullptr);
    std::FILE* out = std::fopen((dir.path() / "out").string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    negate_odd_words(in, out);
    EXPECT_NE(std::ferror(in), 0);
    EXPECT_EQ(std::fclose(out), 0);
    EXPECT_TRUE(read_file(dir.path() / "out").empty());
    std::fclose(in);
}

TEST(NegateOddWords, StopsAtWriteError)
{
    const TempDir dir;
    const Bytes input = random_bytes(3'000'001, 7);
    write_file(dir.path() / "in", input);
    std::FILE* in = std::fopen((dir.path() / "in").string().c_str(), "rb");
    std::FILE* out = std::fopen("/dev/full", "wb");
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    negate_odd_words(in, out);
    EXPECT_NE(std::ferror(out), 0);
    EXPECT_EQ(std::feof(in), 0) << "kept reading after the output failed";
    std::fclose(out);
    std::fclose(in);
}
#endif
