#include "keys.h"

namespace {

bool between(unsigned key, unsigned first, unsigned last) { return key >= first && key <= last; }

bool is_digit_key(unsigned key) { return between(key, '0', '9'); }
bool is_keypad_digit(unsigned key) { return between(key, 0x60, 0x69); }

// Backspace, Tab, Enter, Escape, Space, digits, letters, the navigation and
// editing keys, the keypad's digits and operators, F1 to F12 and the
// punctuation keys of the main block.
bool is_listed_key(unsigned key)
{
    switch (key) {
    case 0x08: case 0x09: case 0x0D: case 0x1B: case 0x20:  // Backspace Tab Enter Esc Space
    case 0x2D: case 0x2E:                                   // Insert Delete
    case 0x6A: case 0x6B: case 0x6D: case 0x6E: case 0x6F:  // keypad * + - . /
        return true;
    default:
        return is_digit_key(key) || between(key, 'A', 'Z') ||
               between(key, 0x21, 0x28) ||   // Page Up, Page Down, End, Home, arrows
               is_keypad_digit(key) ||
               between(key, 0x70, 0x7B) ||   // F1 to F12
               between(key, 0xBA, 0xC0) ||   // ; = , - . / `
               between(key, 0xDB, 0xDE);     // [ \ ] '
    }
}

// Ctrl with a digit other than 2 and 6, or with ; = , . / ` and '.
bool lacks_ctrl_code(unsigned key)
{
    switch (key) {
    case '2': case '6':
        return false;
    case 0xBA: case 0xBB: case 0xBC: case 0xBE: case 0xBF: case 0xC0: case 0xDE:
        return true;
    default:
        return is_digit_key(key);
    }
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
    return true;  // every listed key has a plain and a Shift code
}

bool key_bytes_complete(const unsigned char* bytes, std::size_t count)
{
    if (count == 0) {
        return false;
    }
    if (bytes[0] != 0x1B) {
        return utf8_complete(bytes, count);
    }
    if (count == 1) {
        return false;
    }
    if (bytes[1] == 0x1B) {  // Alt with Escape or with a key that sends a sequence
        return key_bytes_complete(bytes + 1, count - 1);
    }
    if (bytes[1] != '[' && bytes[1] != 'O') {  // Alt with a character
        return utf8_complete(bytes + 1, count - 1);
    }
    if (count == 2) {
        return false;
    }
    if (bytes[1] == '[' && bytes[2] == '[') {  // the Linux console's F1 to F5: ESC [ [ A
        return count >= 4;
    }
    // Parameter and intermediate bytes go on; the final byte (or any byte
    // that has no place in a sequence) ends it.
    const unsigned char last = bytes[count - 1];
    return last < 0x20 || last > 0x3F;
}
