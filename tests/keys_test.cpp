#include "keys.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr unsigned long ctrl = left_ctrl_pressed;
constexpr unsigned long alt = right_alt_pressed;
using Press = std::pair<unsigned, unsigned long>; // a key and the modifiers held

TEST(KeyEndsWait, ByTheRule)
{
    // The first and the last key of each listed range, and the keys around them.
    for (const unsigned key : std::initializer_list<unsigned>{
             0x08, 0x09, 0x0D, 0x1B, 0x20, 0x28, 0x2D, 0x2E, 0x30, 0x39, 0x41,
             0x5A, 0x60, 0x6B, 0x6D, 0x6F, 0x70, 0x7B, 0xBA, 0xC0, 0xDB, 0xDE})
        EXPECT_TRUE(key_ends_wait(key, 0, shift_pressed) && key_ends_wait(key, 0, 0)) << key;
    for (const unsigned key : std::initializer_list<unsigned>{
             0x07, 0x0A, 0x0C, 0x0E, 0x10, 0x11, 0x12, 0x13, 0x14, 0x1A, 0x1C, 0x1F, 0x29,
             0x2C, 0x2F, 0x3A, 0x40, 0x5B, 0x5F, 0x6C, 0x7C, 0x90, 0xB9, 0xC1, 0xDA, 0xDF})
        EXPECT_FALSE(key_ends_wait(key, 0, 0)) << key;
    // Alt counts over Ctrl, and Ctrl over Shift; some combinations have no code.
    for (const auto& [key, held] : {Press{'2', ctrl},
                                    {'6', right_ctrl_pressed | shift_pressed},
                                    {0xBD, ctrl},
                                    {0x65, ctrl},
                                    {'1', ctrl | alt}})
        EXPECT_TRUE(key_ends_wait(key, 0, held)) << key << " " << held;
    for (const auto& [key, held] : {Press{'1', ctrl},
                                    {0xBA, right_ctrl_pressed},
                                    {0xDE, ctrl},
                                    {0x65, left_alt_pressed},
                                    {0x69, alt},
                                    {0x60, ctrl | alt}})
        EXPECT_FALSE(key_ends_wait(key, 0, held)) << key << " " << held;
    // Any key that produces a character ends it.
    EXPECT_TRUE(key_ends_wait('C', '\x03', ctrl) && key_ends_wait(0x10, '\xE9', 0));
}

// Each key's bytes are whole when the last arrives, and not one byte sooner.
TEST(KeyBytesComplete, WholeKeysAndNoPrefixOfThem)
{
    for (const std::string key :
         {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xE0\xA4\x85", "\xF0\x9F\x98\x80", "\x1b[A", "\x1bOP",
          "\x1b[15~", "\x1b[1;5C", "\x1b[1 q", "\x1b[?1;2c", "\x1b[[A", "\x1bx", "\x1b\xC3\xA9",
          "\x1b\x1b[A", "\xC3\x61", "\xE2\x82\x61", "\x1b[1\r"}) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
        for (std::size_t count = 0; count < key.size(); ++count)
            EXPECT_FALSE(key_bytes_complete(bytes, count)) << count << " of " << key.size();
        EXPECT_TRUE(key_bytes_complete(bytes, key.size())) << ::testing::PrintToString(key);
    }
}

} // namespace
