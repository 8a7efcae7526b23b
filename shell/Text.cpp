#include "shell/Text.h"

#include <stdarg.h>
#include <stdio.h>

int startsWithIgnoreCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        if (asciiLower(*text) != asciiLower(*prefix)) return 0;
    }
    return 1;
}

int equalsIgnoreCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (asciiLower(*a) != asciiLower(*b)) return 0;
    }
    return *a == *b;
}

int formatText(char* out, size_t size, const char* format, ...) {
    if (size == 0) return 0;
    va_list args;
    va_start(args, format);
    int length = vsnprintf(out, size, format, args);
    va_end(args);
    if (length < 0) {
        out[0] = 0;
        return 0;
    }
    return (size_t)length < size;
}
