#include "update/Directives.h"

#include <string.h>

#include "update/BlockIndex.h"

enum { RELEASE_NUMBER_MAX_DIGITS = 19 };

static const uint64_t RELEASE_NUMBER_MAX = 0x7fffffffffffffffull;

static int isBlank(char c) { return c == ' ' || c == '\t'; }

// Decimal digits only, no sign, at most 2^63-1 and not 0.
static int readReleaseDigits(const char* text, size_t length, uint64_t* value) {
    if (length == 0 || length > RELEASE_NUMBER_MAX_DIGITS) return 0;
    uint64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        result = result * 10 + (uint64_t)(text[i] - '0');  // 19 digits cannot overflow 64 bits
    }
    if (result == 0 || result > RELEASE_NUMBER_MAX) return 0;
    *value = result;
    return 1;
}

uint64_t parseReleaseNumber(const char* text, size_t length) {
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    uint64_t value = 0;
    return readReleaseDigits(text, length, &value) ? value : 0;
}

static int readDigits(const char* text, int count, int* value) {
    *value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        *value = *value * 10 + (text[i] - '0');
    }
    return 1;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
static int64_t daysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

static int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

int parseUtcTime(const char* text, size_t length, int64_t* seconds) {
    // 0123456789012345678
    // YYYY-MM-DDTHH:MM:SSZ
    if (length != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        text[19] != 'Z') {
        return 0;
    }
    int year, month, day, hour, minute, second;
    if (!readDigits(text, 4, &year) || !readDigits(text + 5, 2, &month) || !readDigits(text + 8, 2, &day) ||
        !readDigits(text + 11, 2, &hour) || !readDigits(text + 14, 2, &minute) || !readDigits(text + 17, 2, &second)) {
        return 0;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return 0;
    }
    *seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return 1;
}

// A size as a manifest line writes it: decimal digits that fit in 64 bits.
static int readSize(const char* text, size_t length, uint64_t* value) {
    if (length == 0) return 0;
    uint64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned digit = (unsigned)(text[i] - '0');
        if (digit > 9 || result > (UINT64_MAX - digit) / 10) return 0;
        result = result * 10 + digit;
    }
    *value = result;
    return 1;
}

static int isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The directive's fields after its name, split at blanks; returns their count.
static int splitFields(const char* text, size_t length, const char** fields, size_t* lengths, int capacity) {
    int count = 0;
    for (size_t at = 0; at < length;) {
        while (at < length && isBlank(text[at])) ++at;
        if (at == length) break;
        size_t start = at;
        while (at < length && !isBlank(text[at])) ++at;
        if (count == capacity) return capacity + 1;
        fields[count] = text + start;
        lengths[count++] = at - start;
    }
    return count;
}

static int nameIs(const char* name, size_t length, const char* expected) {
    return length == strlen(expected) && memcmp(name, expected, length) == 0;
}

static void noteMalformed(ManifestDirectives* out, int32_t line) {
    if (out->malformed++ == 0) out->malformedLine = line;
}

// One directive line without its line end; returns 0 when it is malformed.
static int readDirective(const char* line, size_t length, int isLast, size_t lineStart, ManifestDirectives* out) {
    size_t nameLength = 1;
    while (nameLength < length && !isBlank(line[nameLength])) ++nameLength;
    const char* name = line + 1;
    --nameLength;
    const char* fields[3];
    size_t lengths[3];
    int count = splitFields(line + 1 + nameLength, length - 1 - nameLength, fields, lengths, 2);
    if (nameIs(name, nameLength, "release")) {
        uint64_t value = 0;
        if (out->release || count != 1 || !readReleaseDigits(fields[0], lengths[0], &value)) return 0;
        out->release = value;
    } else if (nameIs(name, nameLength, "objects")) {
        if (count != 0) return 0;
        out->objects = 1;
    } else if (nameIs(name, nameLength, "expires")) {
        int64_t seconds = 0;
        if (out->hasExpires || count != 1 || !parseUtcTime(fields[0], lengths[0], &seconds)) return 0;
        out->hasExpires = 1;
        out->expires = seconds;
    } else if (nameIs(name, nameLength, "launcher")) {
        uint64_t size = 0;
        if (out->hasLauncher || count != 2 || lengths[0] != 64 || !readSize(fields[1], lengths[1], &size)) return 0;
        for (size_t i = 0; i < 64; ++i) {
            char c = fields[0][i];
            if (!isHexDigit(c)) return 0;
            out->launcherSha256[i] = c >= 'A' && c <= 'F' ? (char)(c - 'A' + 'a') : c;
        }
        out->launcherSha256[64] = 0;
        out->launcherSize = size;
        out->hasLauncher = 1;
    } else if (nameIs(name, nameLength, "blocks")) {
        uint64_t blockSize = 0, minSize = 0;
        if (out->hasBlocks || count != 2 || !readSize(fields[0], lengths[0], &blockSize) ||
            !readSize(fields[1], lengths[1], &minSize) || blockSize < BLOCK_SIZE_MIN || blockSize > BLOCK_SIZE_MAX) {
            return 0;
        }
        out->hasBlocks = 1;
        out->blockSize = (uint32_t)blockSize;
        out->blockMinSize = minSize;
    } else if (nameIs(name, nameLength, "signature")) {
        if (out->hasSignature || !isLast || count != 1) return 0;
        size_t decoded = decodeBase64(fields[0], lengths[0], out->signature, sizeof(out->signature));
        if (decoded == 0) return 0;
        out->hasSignature = 1;
        out->signatureLength = decoded;
        out->signedLength = lineStart;
    }
    return 1;
}

int hasBlockIndex(const ManifestDirectives* directives, uint64_t fileSize) {
    return directives->objects && directives->hasBlocks && fileSize >= directives->blockMinSize &&
           blockIndexLength(fileSize, directives->blockSize) != 0;
}

int readManifestDirectives(const char* text, size_t length, ManifestDirectives* out) {
    *out = ManifestDirectives{};
    int32_t lineNumber = 0;
    for (size_t at = 0; at < length;) {
        ++lineNumber;
        size_t end = at;
        while (end < length && text[end] != '\n') ++end;
        size_t next = end < length ? end + 1 : end;
        size_t lineLength = end - at;
        if (lineLength > 0 && text[at + lineLength - 1] == '\r') --lineLength;
        if (lineLength > 0 && text[at] == '#') {
            if (!readDirective(text + at, lineLength, next == length, at, out)) noteMalformed(out, lineNumber);
        }
        at = next;
    }
    return 1;
}
