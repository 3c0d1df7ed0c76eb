#pragma once

#include <cstdio>

// What the tool needs of the operating system, one source file per platform.

// Readies the process for the run. Where a file-size limit can end a process
// by a signal, a write past it fails with an error instead, to be reported.
void prepare_process();

// The console the failure pause reads its key from, not standard input:
// opened once at start-up, closed at exit. Without a console both do nothing.
void console_open();
void console_close();

// Waits for one key press on the console, unechoed and without Enter, with
// the console's mode put back afterwards. Returns at once when there is no
// console to read, and when reading it fails or ends.
void wait_for_key();

// True when the open stream is a directory rather than a file to read.
bool is_directory(std::FILE* stream);

// True when `path` names the very file that `stream` has open, by whatever
// name or link it was reached.
bool is_same_file(std::FILE* stream, const char* path);
