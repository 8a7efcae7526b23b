#include <string.h>

#include "update/BlockIndex.h"

namespace {

// splitmix64: 256 well-spread 64-bit values, one per byte value, so that the
// weak sum of plain text or of runs of one byte is as spread as that of noise.
constexpr WeakByteTable makeWeakTable() {
    WeakByteTable table = {};
    for (uint64_t v = 0; v < 256; ++v) {
        uint64_t z = (v + 1) * 0x9e3779b97f4a7c15ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        table.values[v] = z ^ (z >> 31);
    }
    return table;
}

// XXH64's primes.
const uint64_t P1 = 0x9e3779b185ebca87ull;
const uint64_t P2 = 0xc2b2ae3d27d4eb4full;
const uint64_t P3 = 0x165667b19e3779f9ull;
const uint64_t P4 = 0x85ebca77c2b2ae63ull;
const uint64_t P5 = 0x27d4eb2f165667c5ull;

inline uint64_t rotateLeft(uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

inline uint64_t read32(const unsigned char* p) {
    return (uint64_t)p[0] | (uint64_t)p[1] << 8 | (uint64_t)p[2] << 16 | (uint64_t)p[3] << 24;
}

inline uint64_t strongRound(uint64_t lane, uint64_t input) { return rotateLeft(lane + input * P2, 31) * P1; }

inline uint64_t mergeLane(uint64_t sum, uint64_t lane) { return (sum ^ strongRound(0, lane)) * P1 + P4; }

// Consumes whole 32-byte stripes; returns the bytes used.
size_t addStripes(uint64_t* lanes, const unsigned char* p, size_t length) {
    size_t used = 0;
    uint64_t v1 = lanes[0], v2 = lanes[1], v3 = lanes[2], v4 = lanes[3];
    for (; used + 32 <= length; used += 32) {
        v1 = strongRound(v1, read64(p + used));
        v2 = strongRound(v2, read64(p + used + 8));
        v3 = strongRound(v3, read64(p + used + 16));
        v4 = strongRound(v4, read64(p + used + 24));
    }
    lanes[0] = v1, lanes[1] = v2, lanes[2] = v3, lanes[3] = v4;
    return used;
}

uint64_t finishStrong(const uint64_t* lanes, uint64_t total, const unsigned char* p, size_t rest) {
    uint64_t sum = P5;  // the seed, 0, plus P5
    if (total >= 32) {
        sum = rotateLeft(lanes[0], 1) + rotateLeft(lanes[1], 7) + rotateLeft(lanes[2], 12) + rotateLeft(lanes[3], 18);
        for (int i = 0; i < 4; ++i) sum = mergeLane(sum, lanes[i]);
    }
    sum += total;
    for (; rest >= 8; p += 8, rest -= 8) sum = rotateLeft(sum ^ strongRound(0, read64(p)), 27) * P1 + P4;
    if (rest >= 4) {
        sum = rotateLeft(sum ^ read32(p) * P1, 23) * P2 + P3;
        p += 4, rest -= 4;
    }
    for (; rest > 0; ++p, --rest) sum = rotateLeft(sum ^ *p * P5, 11) * P1;
    sum ^= sum >> 33;
    sum *= P2;
    sum ^= sum >> 29;
    sum *= P3;
    return sum ^ sum >> 32;
}

}  // namespace

const WeakByteTable kWeakBytes = makeWeakTable();

uint64_t weakSum(const void* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    const uint64_t* t = kWeakBytes.values;
    // Four interleaved lanes of every fourth byte, each multiplied by B^4 a
    // step, so that no step waits for the multiplication before it.
    const uint64_t b2 = WEAK_SUM_BASE * WEAK_SUM_BASE, b3 = b2 * WEAK_SUM_BASE, b4 = b2 * b2;
    uint64_t l0 = 0, l1 = 0, l2 = 0, l3 = 0;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        l0 = l0 * b4 + t[p[i]];
        l1 = l1 * b4 + t[p[i + 1]];
        l2 = l2 * b4 + t[p[i + 2]];
        l3 = l3 * b4 + t[p[i + 3]];
    }
    uint64_t sum = l0 * b3 + l1 * b2 + l2 * WEAK_SUM_BASE + l3;
    for (; i < length; ++i) sum = sum * WEAK_SUM_BASE + t[p[i]];
    return sum;
}

uint64_t weakSumPower(uint64_t length) {
    uint64_t power = 1, base = WEAK_SUM_BASE;
    for (; length; length >>= 1, base *= base) {
        if (length & 1) power *= base;
    }
    return power;
}

void weakRollTable(uint32_t windowLength, uint64_t* outTable) {
    uint64_t power = weakSumPower(windowLength);
    for (int v = 0; v < 256; ++v) outTable[v] = kWeakBytes.values[v] * power;
}

void beginStrongSum(StrongSum* sum) {
    *sum = StrongSum{};
    sum->lanes[0] = P1 + P2;
    sum->lanes[1] = P2;
    sum->lanes[2] = 0;
    sum->lanes[3] = 0 - P1;
}

void addStrongSum(StrongSum* sum, const void* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    sum->total += length;
    if (sum->pendingLength > 0) {
        size_t take = 32 - sum->pendingLength < length ? 32 - sum->pendingLength : length;
        memcpy(sum->pending + sum->pendingLength, p, take);
        sum->pendingLength += (uint32_t)take;
        p += take, length -= take;
        if (sum->pendingLength < 32) return;
        addStripes(sum->lanes, sum->pending, 32);
        sum->pendingLength = 0;
    }
    size_t used = addStripes(sum->lanes, p, length);
    memcpy(sum->pending, p + used, length - used);
    sum->pendingLength = (uint32_t)(length - used);
}

uint64_t finishStrongSum(const StrongSum* sum) {
    return finishStrong(sum->lanes, sum->total, sum->pending, sum->pendingLength);
}

uint64_t strongSum(const void* bytes, size_t length) {
    StrongSum sum;
    beginStrongSum(&sum);
    size_t used = addStripes(sum.lanes, (const unsigned char*)bytes, length);
    return finishStrong(sum.lanes, length, (const unsigned char*)bytes + used, length - used);
}
