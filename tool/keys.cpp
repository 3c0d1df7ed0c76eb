#include "keys.h"

#include <algorithm>
#include <iterator>

namespace {

// The keys that end the wait without a character, as ranges of key codes.
constexpr unsigned listed_keys[][2] = {
    {0x08, 0x09}, // Backspace, Tab
    {0x0D, 0x0D}, // Enter
    {0x1B, 0x1B}, // Escape
    {0x20, 0x28}, // Space, Page Up, Page Down, End, Home, the arrows
    {0x2D, 0x2E}, // Insert, Delete
    {0x30, 0x39}, // 0 to 9
    {0x41, 0x5A}, // A to Z
    {0x60, 0x6B}, // keypad 0 to 9, * and +
    {0x6D, 0x6F}, // keypad -, . and /
    {0x70, 0x7B}, // F1 to F12
    {0xBA, 0xC0}, // ; = , - . / `
    {0xDB, 0xDE}, // [ \ ] '
};

// Listed keys whose combination with Ctrl has no key code: the digits other
// than 2 and 6, and ; = , . / ` and '.
constexpr unsigned without_ctrl_code[] = {'0',  '1',  '3',  '4',  '5',  '7',  '8', '9',
                                          0xBA, 0xBB, 0xBC, 0xBE, 0xBF, 0xC0, 0xDE};

bool is_listed_key(unsigned key)
{
    return std::ranges::any_of(
        listed_keys, [key](const auto& range) { return key >= range[0] && key <= range[1]; });
}

bool is_keypad_digit(unsigned key) { return key >= 0x60 && key <= 0x69; }

bool lacks_ctrl_code(unsigned key)
{
    return std::ranges::find(without_ctrl_code, key) != std::end(without_ctrl_code);
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool utf8_complete(const unsigned char* bytes, std::size_t count)
{
    const unsigned char lead = bytes[0];
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return count >= length || (count > 1 && !is_continuation(bytes[count - 1]));
}

} // namespace

bool key_ends_wait(unsigned virtual_key, char character, unsigned long modifiers)
{
    if (character != 0) {
        return true;
    }
    if (!is_listed_key(virtual_key)) {
        return false;
    }
    if ((modifiers & (left_alt_pressed | right_alt_pressed)) != 0) {
        return !is_keypad_digit(virtual_key);
    }
    if ((modifiers & (left_ctrl_pressed | right_ctrl_pressed)) != 0) {
        return !lacks_ctrl_code(virtual_key);
    }
    return true; // every listed key has a plain and a Shift code
}

bool key_bytes_complete(const unsigned char* bytes, std::size_t count)
{
    if (bytes[0] != 0x1B) {
        return utf8_complete(bytes, count);
    }
    if (count == 1) {
        return false;
    }
    if (bytes[1] == 0x1B) { // Alt with Escape or with a key that sends a sequence
        return key_bytes_complete(bytes + 1, count - 1);
    }
    if (bytes[1] != '[' && bytes[1] != 'O') { // Alt with a character
        return utf8_complete(bytes + 1, count - 1);
    }
    if (count == 2) {
        return false;
    }
    if (bytes[1] == '[' && bytes[2] == '[') { // the Linux console's F1 to F5: ESC [ [ A
        return count >= 4;
    }
    // Parameter and intermediate bytes go on; the final byte (or any byte
    // that has no place in a sequence) ends it.
    const unsigned char last = bytes[count - 1];
    return last < 0x20 || last > 0x3F;
}
