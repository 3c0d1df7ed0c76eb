#include "keys.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace {

constexpr unsigned long shift = shift_pressed;
constexpr unsigned long ctrl = left_ctrl_pressed;
constexpr unsigned long alt = right_alt_pressed;
using Combination = std::pair<unsigned, unsigned long>;

// The first and the last key of each listed range, and the keys around them;
// Alt counts over Ctrl, and Ctrl over Shift, and some combinations have no
// code. A key that produces a character always ends the wait.
TEST(KeyEndsWait, ByTheRule)
{
    for (const unsigned key : std::initializer_list<unsigned>{
             0x08, 0x09, 0x0D, 0x1B, 0x20, 0x28, 0x2D, 0x2E, 0x30, 0x39, 0x41,
             0x5A, 0x60, 0x6B, 0x6D, 0x6F, 0x70, 0x7B, 0xBA, 0xC0, 0xDB, 0xDE}) {
        EXPECT_TRUE(key_ends_wait(key, 0, 0)) << "key " << key;
        EXPECT_TRUE(key_ends_wait(key, 0, shift)) << "key " << key << " with Shift";
    }
    for (const unsigned key : std::initializer_list<unsigned>{
             0x07, 0x0A, 0x0C, 0x0E, 0x10, 0x11, 0x12, 0x13, 0x14, 0x1A, 0x1C, 0x1F, 0x29,
             0x2C, 0x2F, 0x3A, 0x40, 0x5B, 0x5F, 0x6C, 0x7C, 0x90, 0xB9, 0xC1, 0xDA, 0xDF})
        EXPECT_FALSE(key_ends_wait(key, 0, 0)) << "key " << key;
    for (const auto& [key, modifiers] :
         {Combination{'2', ctrl}, Combination{0xBD, ctrl}, Combination{0x65, ctrl},
          Combination{'1', ctrl | alt}, Combination{'6', right_ctrl_pressed | shift}})
        EXPECT_TRUE(key_ends_wait(key, 0, modifiers))
            << "key " << key << ", modifiers " << modifiers;
    for (const auto& [key, modifiers] :
         {Combination{'1', ctrl}, Combination{0xBA, right_ctrl_pressed}, Combination{0xDE, ctrl},
          Combination{0x65, left_alt_pressed}, Combination{0x69, alt},
          Combination{0x60, ctrl | alt}})
        EXPECT_FALSE(key_ends_wait(key, 0, modifiers))
            << "key " << key << ", modifiers " << modifiers;
    EXPECT_TRUE(key_ends_wait('C', '\x03', ctrl)) << "Ctrl+C";
    EXPECT_TRUE(key_ends_wait(0x10, '\xE9', 0)) << "a character from Shift";
}

// Each key's bytes make up a whole key at their full length, and at no
// shorter one: control keys, UTF-8 characters, and sequences, valid or broken.
// A lone Escape is never whole.
TEST(KeyBytesComplete, WholeKeysOnly)
{
    for (const std::string key :
         {"a",          "\x03",         "\x1c",       "\x1a",      "\x13",
          "\x16",       "\u00e9",       "\u20ac",     "\u0905",    "\U0001F600",
          "\x1bx",      "\x1b\xC3\xA9", "\x1bOP",     "\x1b[1;5C", "\x1b[1 q",
          "\x1b[?1;2c", "\x1b[[A",      "\x1b\x1b[A", "\xE2\x61",  "\x1b[1\r"}) {
        const auto* const bytes = reinterpret_cast<const unsigned char*>(key.data());
        for (std::size_t count = 1; count <= key.size(); ++count)
            EXPECT_EQ(key_bytes_complete(bytes, count), count == key.size())
                << testing::PrintToString(key) << ", " << count << " bytes";
    }
}

} // namespace
