#pragma once

#include <cstdio>

// Copies `in` to `out` as a stream of little-endian 16-bit words, counted
// from the first byte of `in`, and reverses the sign of every word at an odd
// position. Every other byte is copied unchanged, including a last byte that
// forms no whole word, so the output is exactly as long as the input.
//
// Reads until the end of `in` or the first read error, and stops at the first
// write error; the error state of both streams tells which. Neither stream is
// opened or closed here, and memory use does not depend on the input's size:
// one static buffer, so one call at a time.
void negate_odd_words(std::FILE* in, std::FILE* out);
