#pragma once

#include <cstdio>

// What the tool needs of the operating system, one source file per platform.

// Where a write past a file-size limit or into a pipe without a reader ends
// the process by a signal, makes it fail with an error instead, to be reported.
void turn_write_signals_into_errors();

// Opens the console the failure pause reads its key from, not standard
// input, once at start-up; the process exit closes it. Without a console it
// does nothing.
void console_open();

// Waits for one key press on the console, unechoed and without Enter, with
// the console's mode put back afterwards; where another run waits on the same
// console, waits with it instead, until it ends. Returns at once when there
// is no console to read, and when reading it fails or ends.
void wait_for_key();

// True when the open stream is a directory rather than a file to read.
bool is_directory(std::FILE* stream);

// True when `path` names the very file that `stream` has open, by whatever
// name or link it was reached.
bool is_same_file(std::FILE* stream, const char* path);
