#pragma once

#include <cstdio>

// What the tool needs of the operating system, one source file per platform.

// Readies the process for the run. Where a file-size limit can end a process
// by a signal, a write past it fails with an error instead, to be reported.
void prepare_process();

// True when the open stream is a directory rather than a file to read.
bool is_directory(std::FILE* stream);

// True when `path` names the very file that `stream` has open, by whatever
// name or link it was reached.
bool is_same_file(std::FILE* stream, const char* path);
