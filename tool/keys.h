#pragma once

#include <cstddef>

// Decisions about key presses that do not depend on the platform, so that
// they can be tested anywhere.

// Modifier bits of a console key event, as the Windows console reports them.
constexpr unsigned long right_alt_pressed = 0x01;
constexpr unsigned long left_alt_pressed = 0x02;
constexpr unsigned long right_ctrl_pressed = 0x04;
constexpr unsigned long left_ctrl_pressed = 0x08;
constexpr unsigned long shift_pressed = 0x10;

// Whether a console key press ends the wait: any press that produces a
// character does; one without a character does only for the keys that stand
// for something (letters, digits, Enter, arrows, F1 to F12, ...), and only
// when their combination with the held Alt, Ctrl or Shift has a key code.
// Modifiers, lock keys, Pause and the like never do.
bool key_ends_wait(unsigned virtual_key, char character, unsigned long modifiers);

// Whether the `count` bytes read so far from a terminal, at least one, make
// up one whole key press: a byte, a UTF-8 character, or an escape sequence
// such as ESC [ A, ESC O P, ESC [ 1 5 ~ or ESC [ 1 ; 5 C. A lone ESC is never
// whole by itself: only a pause after it tells the Escape key from a sequence.
bool key_bytes_complete(const unsigned char* bytes, std::size_t count);
