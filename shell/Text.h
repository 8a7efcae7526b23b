// Small text rules shared by every part of the launcher. The launcher compares
// paths, digests and URL prefixes ignoring the case of A to Z only: other
// bytes, including those of the ANSI code page above 127, must match exactly.
#pragma once

#include <stddef.h>

inline char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// 1 when the first strlen(prefix) characters of text equal prefix.
int startsWithIgnoreCase(const char* text, const char* prefix);
int equalsIgnoreCase(const char* a, const char* b);

// Bounded formatting: the result is cut to size - 1 characters and always
// terminated. Returns 1 when it fitted whole, 0 when it was cut.
int formatText(char* out, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
