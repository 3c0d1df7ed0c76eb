#include "keys.h"

#include <gtest/gtest.h>

namespace {

constexpr unsigned long ctrl = left_ctrl_pressed;
constexpr unsigned long alt = right_alt_pressed;

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
    EXPECT_TRUE(key_ends_wait('2', 0, ctrl) && key_ends_wait(0xBD, 0, ctrl) &&
                key_ends_wait(0x65, 0, ctrl) && key_ends_wait('1', 0, ctrl | alt) &&
                key_ends_wait('6', 0, right_ctrl_pressed | shift_pressed));
    EXPECT_FALSE(key_ends_wait('1', 0, ctrl) || key_ends_wait(0xBA, 0, right_ctrl_pressed) ||
                 key_ends_wait(0xDE, 0, ctrl) || key_ends_wait(0x65, 0, left_alt_pressed) ||
                 key_ends_wait(0x69, 0, alt) || key_ends_wait(0x60, 0, ctrl | alt));
    // Any key that produces a character ends it.
    EXPECT_TRUE(key_ends_wait('C', '\x03', ctrl) && key_ends_wait(0x10, '\xE9', 0));
}

} // namespace
