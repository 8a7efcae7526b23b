// Shared by the fuzz targets: strings cut from the input, and a check that
// stops the run on a broken rule so that the fuzzer keeps the input.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), abort()))

// The input up to its next zero byte, at most maxLength bytes of it, as a
// terminated string in a block of exactly its size (so AddressSanitizer sees
// any read past the terminator). The input moves on past that zero byte.
inline std::vector<char> nextString(const uint8_t** data, size_t* size, size_t maxLength) {
    const uint8_t* zero = *size ? (const uint8_t*)memchr(*data, 0, *size) : nullptr;
    size_t length = zero ? (size_t)(zero - *data) : *size;
    std::vector<char> text((length < maxLength ? length : maxLength) + 1);
    if (text.size() > 1) memcpy(text.data(), *data, text.size() - 1);
    size_t used = zero ? length + 1 : length;
    *data += used;
    *size -= used;
    return text;
}
