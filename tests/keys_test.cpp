#include "keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

// The keys that end the wait without a character, by their virtual-key codes.
std::set<unsigned> listed_keys()
{
    std::set<unsigned> keys = {0x08, 0x09, 0x0D, 0x1B, 0x20, // Backspace Tab Enter Esc Space
                               0x21, 0x22, 0x23, 0x24,       // Page Up, Page Down, End, Home
                               0x25, 0x26, 0x27, 0x28,       // arrows
                               0x2D, 0x2E,                   // Insert, Delete
                               0x6A, 0x6B, 0x6D, 0x6E, 0x6F, // keypad * + - . /
                               0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, // ; = , - . / `
                               0xDB, 0xDC, 0xDD, 0xDE};                  // [ \ ] '
    for (unsigned key = '0'; key <= '9'; ++key) {
        keys.insert(key);
    }
    for (unsigned key = 'A'; key <= 'Z'; ++key) {
        keys.insert(key);
    }
    for (unsigned i = 0; i < 10; ++i) {
        keys.insert(0x60 + i); // keypad digits
    }
    for (unsigned i = 0; i < 12; ++i) {
        keys.insert(0x70 + i); // F1 to F12
    }
    return keys;
}

const std::set<unsigned> ctrl_without_code = {'0',  '1',  '3',  '4',  '5',  '7',  '8', '9',
                                              0xBA, 0xBB, 0xBF, 0xBC, 0xBE, 0xC0, 0xDE};

bool alt_without_code(unsigned key) { return key >= 0x60 && key <= 0x69; }

struct Held {
    const char* name;
    unsigned long modifiers;
};

const Held held_states[] = {
    {"nothing", 0},
    {"Shift", shift_pressed},
    {"left Ctrl", left_ctrl_pressed},
    {"right Ctrl", right_ctrl_pressed},
    {"Shift+Ctrl", shift_pressed | left_ctrl_pressed},
    {"left Alt", left_alt_pressed},
    {"right Alt", right_alt_pressed},
    {"Ctrl+Alt", left_ctrl_pressed | left_alt_pressed},
    {"Shift+Alt", shift_pressed | right_alt_pressed},
    {"Num Lock on, with Shift", shift_pressed | 0x20},
};

} // namespace

TEST(KeyEndsWait, AnyCharacterEndsIt)
{
    EXPECT_TRUE(key_ends_wait('A', 'a', 0));
    EXPECT_TRUE(key_ends_wait('C', '\x03', left_ctrl_pressed)); // Ctrl+C
    EXPECT_TRUE(key_ends_wait(0xE2, '<', 0));                   // a key that is not listed
    EXPECT_TRUE(key_ends_wait(0, '\xE9', 0));                   // a character outside ASCII
}

TEST(KeyEndsWait, WholeTableWithoutCharacters)
{
    const auto listed = listed_keys();
    for (unsigned key = 0; key < 256; ++key) {
        for (const Held& held : held_states) {
            const bool alt = (held.modifiers & (left_alt_pressed | right_alt_pressed)) != 0;
            const bool ctrl = (held.modifiers & (left_ctrl_pressed | right_ctrl_pressed)) != 0;
            bool expected = listed.contains(key);
            if (alt) {
                expected = expected && !alt_without_code(key);
            } else if (ctrl) {
                expected = expected && !ctrl_without_code.contains(key);
            }
            EXPECT_EQ(key_ends_wait(key, 0, held.modifiers), expected)
                << "key 0x" << std::hex << key << " with " << held.name;
        }
    }
}

TEST(KeyEndsWait, CombinationThatCounts)
{
    EXPECT_TRUE(key_ends_wait(0x70, 0, 0));                                    // F1
    EXPECT_TRUE(key_ends_wait(0x26, 0, left_ctrl_pressed));                    // Ctrl+Up
    EXPECT_FALSE(key_ends_wait('1', 0, left_ctrl_pressed));                    // Ctrl+1
    EXPECT_TRUE(key_ends_wait('2', 0, left_ctrl_pressed));                     // Ctrl+2
    EXPECT_TRUE(key_ends_wait('1', 0, left_ctrl_pressed | right_alt_pressed)); // Alt wins
    EXPECT_FALSE(key_ends_wait(0x65, 0, left_alt_pressed));                    // Alt+keypad 5
    EXPECT_TRUE(key_ends_wait(0x65, 0, left_ctrl_pressed));                    // Ctrl+keypad 5
    EXPECT_FALSE(key_ends_wait(0xBA, 0, right_ctrl_pressed));                  // Ctrl+;
    EXPECT_TRUE(key_ends_wait(0xBD, 0, right_ctrl_pressed));                   // Ctrl+-
    EXPECT_TRUE(key_ends_wait(0xBA, 0, shift_pressed));                        // Shift+;
}

// Each key's bytes are whole when the last arrives, and not one byte sooner.
TEST(KeyBytesComplete, WholeKeysAndNoPrefixOfThem)
{
    const std::vector<std::string> keys = {"a",
                                           "\x03",
                                           "\r",
                                           "\x7f",
                                           "\xC3\xA9",
                                           "\xE2\x82\xAC",
                                           "\xF0\x9F\x98\x80",
                                           "\x1b[A",
                                           "\x1bOP",
                                           "\x1b[15~",
                                           "\x1b[1;5C",
                                           "\x1b[5~",
                                           "\x1b[[A",
                                           "\x1b[200~",
                                           "\x1bx",
                                           "\x1b\xC3\xA9",
                                           "\x1b\x1b[A",
                                           "\x1bO1;2P"};
    for (const auto& key : keys) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
        for (std::size_t count = 0; count < key.size(); ++count) {
            EXPECT_FALSE(key_bytes_complete(bytes, count))
                << count << " bytes of " << ::testing::PrintToString(key);
        }
        EXPECT_TRUE(key_bytes_complete(bytes, key.size())) << ::testing::PrintToString(key);
    }
}

TEST(KeyBytesComplete, BrokenSequencesEnd)
{
    const auto complete = [](const std::string& bytes) {
        return key_bytes_complete(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size());
    };
    EXPECT_FALSE(complete("\x1b")); // Escape, or the start of a sequence
    EXPECT_TRUE(complete("\xC3"
                         "a"));        // a lead byte without its continuation
    EXPECT_TRUE(complete("\x1b[1\r")); // a control byte inside a sequence
}
