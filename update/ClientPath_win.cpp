#include <windows.h>

#include <bcrypt.h>
#include <stdlib.h>

#include "update/ClientPath.h"

// The capital of one character of length bytes, as the file system compares
// names; the character itself when it has none in the code page. The capital
// must compare equal to the character ignoring case: a best-fit conversion
// back to the code page could otherwise turn a Greek capital into a Latin
// letter and make two files one.
static unsigned capitalOf(LCID locale, const char* character, int length) {
    char capital[2];
    unsigned same =
        length == 1 ? (unsigned char)character[0] : (unsigned char)character[0] << 8 | (unsigned char)character[1];
    if (LCMapStringA(locale, LCMAP_UPPERCASE, character, length, capital, length) != length) return same;
    if (CompareStringA(locale, NORM_IGNORECASE, character, length, capital, length) != CSTR_EQUAL) return same;
    return length == 1 ? (unsigned char)capital[0] : (unsigned char)capital[0] << 8 | (unsigned char)capital[1];
}

void loadPathFolding(unsigned long locale) {
    static uint16_t pairs[65536];
    char text[8] = "";
    GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof(text));
    UINT codePage = (UINT)atoi(text);
    PathFolding folding = asciiPathFolding();
    int doubleByte = 0;
    for (int c = 1; c < 256; ++c) {
        char character[2] = {(char)c, 0};
        if (codePage != 0 && IsDBCSLeadByteEx(codePage, (BYTE)c)) {
            folding.lead[c] = 1;
            doubleByte = 1;
            for (int trail = 1; trail < 256; ++trail) {
                character[1] = (char)trail;
                pairs[c << 8 | trail] = (uint16_t)capitalOf(locale, character, 2);
            }
        } else if (c != '/') {
            folding.single[c] = (unsigned char)capitalOf(locale, character, 1);
        }
    }
    folding.pairs = doubleByte ? pairs : nullptr;
    gPathFolding = folding;
}

void initClientPathRules() {
    loadPathFolding(LOCALE_SYSTEM_DEFAULT);
    uint64_t key[2] = {};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, (PUCHAR)key, sizeof(key), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        // Without the system's generator, what this process alone knows at
        // this moment still keeps a manifest from being built for it.
        LARGE_INTEGER counter = {};
        QueryPerformanceCounter(&counter);
        key[0] = (uint64_t)counter.QuadPart ^ ((uint64_t)GetCurrentProcessId() << 32);
        key[1] = (uint64_t)(uintptr_t)&counter ^ GetTickCount();
    }
    gPathHashKey[0] ^= key[0];
    gPathHashKey[1] ^= key[1];
}
