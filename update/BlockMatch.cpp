#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "update/BlockDelta.h"

static uint32_t log2Ceiling(uint64_t value) {
    uint32_t bits = 0;
    while (((uint64_t)1 << bits) < value) ++bits;
    return bits;
}

// Buckets: about one per block, a power of two, at least two. The filter:
// 32 bits a block in 64-bit words, two bits a block in one word, so a window
// that matches nothing passes it about once in 270 and costs one load.
static uint32_t bucketBits(uint32_t blocks) { return std::max<uint32_t>(1, log2Ceiling(blocks)); }
static uint32_t filterWordBits(uint32_t blocks) { return log2Ceiling(((uint64_t)blocks * 32 + 63) / 64); }
static_assert(BLOCK_INDEX_MAX_BLOCKS / 2 <= 1 << 24, "a filter word's number lies in the weak sum's top 24 bits");

// Only the last block can be shorter; windows of the full block size never match it.
static uint32_t fullBlocks(const BlockIndex* index) {
    uint32_t count = index->blockCount;
    return count > 0 && blockLength(index, count - 1) < index->blockSize ? count - 1 : count;
}

size_t blockMatchMemory(uint32_t blockCount, uint32_t blockSize) {
    return (size_t)blockCount * (sizeof(uint64_t) + 2 * sizeof(uint32_t)) +
           (((size_t)1 << bucketBits(blockCount)) + 1) * sizeof(uint32_t) +
           ((size_t)1 << filterWordBits(blockCount)) * sizeof(uint64_t) + (size_t)MATCH_BUFFER_BLOCKS * blockSize +
           sizeof(BlockMatch);
}

void endBlockMatch(BlockMatch* match) {
    free(match->sources);
    free(match->order);
    free(match->heads);
    free(match->next);
    free(match->filter);
    free(match->buffer);
    *match = BlockMatch{};
}

// The filter's word of a weak sum comes from its bits 40 and up, the two
// bits in it from bits 34 to 39 and 28 to 33: constant shifts, for the loop
// that runs once a byte.
static inline int filterHas(const uint64_t* filter, uint64_t wordMask, uint64_t weak) {
    uint64_t word = filter[weak >> 40 & wordMask];
    return (int)(word >> (weak >> 34 & 63) & word >> (weak >> 28 & 63) & 1);
}

static void addToFilter(uint64_t* filter, uint64_t wordMask, uint64_t weak) {
    filter[weak >> 40 & wordMask] |= (uint64_t)1 << (weak >> 34 & 63) | (uint64_t)1 << (weak >> 28 & 63);
}

static int isInFilter(const BlockMatch* m, uint64_t weak) { return filterHas(m->filter, m->filterWordMask, weak); }

// Rolls the window at p on until its weak sum passes the filter or it stands
// at last; returns where it stopped. The time of a match goes here.
static const unsigned char* rollToCandidate(const unsigned char* p, const unsigned char* last, uint32_t n,
                                            uint64_t* weakInOut, const uint64_t* rollTable, const uint64_t* filter,
                                            uint64_t wordMask) {
    uint64_t weak = *weakInOut;
    while (p < last) {
        weak = rollWeakSum(weak, rollTable, p[0], p[n]);
        ++p;
        if (filterHas(filter, wordMask, weak)) break;
    }
    *weakInOut = weak;
    return p;
}

// Counting sort of the full blocks into buckets by their weak sums' top bits,
// each bucket then sorted by the sums, and blocks of equal sums joined into
// one class whose first block alone stays in the lookup.
static void buildLookup(BlockMatch* m) {
    const BlockIndex* index = &m->index;
    uint32_t bucketCount = (uint32_t)1 << (64 - m->bucketShift);
    memset(m->heads, 0, ((size_t)bucketCount + 1) * sizeof(uint32_t));
    for (uint32_t b = 0; b < m->lookupBlocks; ++b) ++m->heads[blockWeakSum(index, b) >> m->bucketShift];
    for (uint32_t i = 1; i < bucketCount; ++i) m->heads[i] += m->heads[i - 1];
    for (uint32_t b = m->lookupBlocks; b-- > 0;) m->order[--m->heads[blockWeakSum(index, b) >> m->bucketShift]] = b;
    m->heads[bucketCount] = m->lookupBlocks;

    auto before = [index](uint32_t a, uint32_t b) {
        uint64_t wa = blockWeakSum(index, a), wb = blockWeakSum(index, b);
        if (wa != wb) return wa < wb;
        uint64_t sa = blockStrongSum(index, a), sb = blockStrongSum(index, b);
        return sa != sb ? sa < sb : a < b;
    };
    uint32_t written = 0;
    for (uint32_t i = 0, start = 0; i < bucketCount; ++i) {
        uint32_t end = m->heads[i + 1];
        std::sort(m->order + start, m->order + end, before);
        m->heads[i] = written;
        for (uint32_t j = start; j < end; ++j) {
            uint32_t b = m->order[j];
            uint32_t leader = written > m->heads[i] ? m->order[written - 1] : b;
            if (leader != b && blockWeakSum(index, leader) == blockWeakSum(index, b) &&
                blockStrongSum(index, leader) == blockStrongSum(index, b)) {
                m->next[b] = m->next[leader];
                m->next[leader] = b;
                continue;
            }
            m->order[written++] = b;
            addToFilter(m->filter, m->filterWordMask, blockWeakSum(index, b));
        }
        start = end;
    }
    m->heads[bucketCount] = written;
}

int beginBlockMatch(BlockMatch* match, const BlockIndex* index) {
    *match = BlockMatch{};
    BlockMatch* m = match;
    m->index = *index;
    uint32_t count = index->blockCount;
    m->lookupBlocks = fullBlocks(index);
    uint32_t buckets = bucketBits(m->lookupBlocks), filterWords = filterWordBits(m->lookupBlocks);
    m->bucketShift = 64 - buckets;
    m->filterWordMask = ((uint64_t)1 << filterWords) - 1;
    m->bufferSize = (size_t)MATCH_BUFFER_BLOCKS * index->blockSize;
    // One more element each, so that an empty index still reserves something.
    m->sources = (uint64_t*)malloc(((size_t)count + 1) * sizeof(uint64_t));
    m->order = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
    m->next = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
    m->heads = (uint32_t*)malloc((((size_t)1 << buckets) + 1) * sizeof(uint32_t));
    m->filter = (uint64_t*)calloc((size_t)1 << filterWords, sizeof(uint64_t));
    m->buffer = (unsigned char*)malloc(m->bufferSize);
    if (!m->sources || !m->order || !m->next || !m->heads || !m->filter || !m->buffer) {
        endBlockMatch(m);
        return 0;
    }
    for (uint32_t b = 0; b < count; ++b) {
        m->sources[b] = BLOCK_NOT_FOUND;
        m->next[b] = b;
    }
    buildLookup(m);
    weakRollTable(index->blockSize, m->rollTable);
    m->expected = count;
    return 1;
}

// Hashing work: refused, and the match given up, past the budget.
static int spend(BlockMatch* m, uint64_t bytes) {
    uint64_t budget = MATCH_WORK_PER_BYTE * m->bytesRead + (uint64_t)MATCH_WORK_START_BLOCKS * m->index.blockSize;
    if (m->work + bytes > budget) {
        m->gaveUp = 1;
        return 0;
    }
    m->work += bytes;
    return 1;
}

// The block was found at position: so was every block of its class.
static void foundAt(BlockMatch* m, uint32_t block, uint64_t position) {
    if (m->sources[block] != BLOCK_NOT_FOUND) return;
    uint32_t b = block;
    do {
        m->sources[b] = position;
        ++m->foundBlocks;
        b = m->next[b];
    } while (b != block);
}

// Looks up the full window at (m->position, m->weak). Its strong sum is
// computed only when some block has its weak sum; *strong may hold it already.
static int lookUp(BlockMatch* m, const unsigned char* window, int* strongKnown, uint64_t* strong) {
    if (!isInFilter(m, m->weak)) return 0;
    const BlockIndex* index = &m->index;
    uint32_t j = m->heads[m->weak >> m->bucketShift];
    uint32_t end = std::min(m->heads[(m->weak >> m->bucketShift) + 1], j + MATCH_CANDIDATES_MAX);
    while (j < end && blockWeakSum(index, m->order[j]) < m->weak) ++j;
    if (j == end || blockWeakSum(index, m->order[j]) != m->weak) return 0;
    if (!*strongKnown) {
        if (!spend(m, index->blockSize)) return 0;
        *strong = strongSum(window, index->blockSize);
        *strongKnown = 1;
    }
    for (; j < end && blockWeakSum(index, m->order[j]) == m->weak; ++j) {
        uint32_t b = m->order[j];
        if (blockStrongSum(index, b) == *strong) {
            foundAt(m, b, m->position);
            m->expected = b + 1;
            return 1;
        }
    }
    return 0;
}

// The block after the last match, tried at position before anything else: a
// local copy that holds the new file's blocks in order costs one strong sum
// a block. A full block's sum is the window's, for the lookup after it.
static int tryExpected(BlockMatch* m, const unsigned char* window, int* strongKnown, uint64_t* strong) {
    uint32_t block = m->expected;
    m->expected = m->index.blockCount;
    uint32_t length = blockLength(&m->index, block);
    if (!spend(m, length)) return 0;
    uint64_t sum = strongSum(window, length);
    *strongKnown = length == m->index.blockSize;
    *strong = sum;
    if (sum != blockStrongSum(&m->index, block)) return 0;
    foundAt(m, block, m->position);
    m->position += length;
    m->expected = block + 1;
    return 1;
}

// Looks at every window of the buffer that is whole, from position on.
static void scan(BlockMatch* m) {
    const uint32_t n = m->index.blockSize;
    const uint64_t end = m->bufferStart + m->bufferLength;
    if (m->lookupBlocks == 0 && m->expected == m->index.blockCount) {
        m->position = end;  // nothing to find at any offset
        return;
    }
    while (!m->gaveUp) {
        if (!m->weakValid) {
            if (m->position + n > end) return;
            const unsigned char* window = m->buffer + (m->position - m->bufferStart);
            int strongKnown = 0;
            uint64_t strong = 0;
            if (m->expected < m->index.blockCount && tryExpected(m, window, &strongKnown, &strong)) {
                continue;
            }
            if (m->gaveUp || !spend(m, n)) return;
            m->weak = weakSum(window, n);
            m->weakValid = 1;
            if (lookUp(m, window, &strongKnown, &strong)) {
                m->position += n;
                m->weakValid = 0;
                continue;
            }
        }
        // The window at position has been looked up: roll on while the byte
        // that enters is in the buffer.
        const unsigned char* p = m->buffer + (m->position - m->bufferStart);
        const unsigned char* last = m->buffer + (end - n - m->bufferStart);
        uint64_t weak = m->weak;
        int matched = 0;
        while (p < last) {
            p = rollToCandidate(p, last, n, &weak, m->rollTable, m->filter, m->filterWordMask);
            if (p == last && !isInFilter(m, weak)) break;
            m->position = m->bufferStart + (uint64_t)(p - m->buffer);
            m->weak = weak;
            int strongKnown = 0;
            uint64_t strong = 0;
            if (lookUp(m, p, &strongKnown, &strong)) {
                matched = 1;
                break;
            }
            if (m->gaveUp) return;
        }
        m->position = m->bufferStart + (uint64_t)(p - m->buffer);
        m->weak = weak;
        if (!matched) return;
        m->position += n;
        m->weakValid = 0;
    }
}

// Keeps the window being looked at and the copy's last bytes, fewer than a
// block, where a short last block may lie.
static void compact(BlockMatch* m) {
    uint64_t end = m->bufferStart + m->bufferLength;
    uint64_t keepFrom = std::min(m->position, end);
    uint64_t tail = m->index.blockSize - 1;
    if (end > tail) keepFrom = std::min(keepFrom, end - tail);
    keepFrom = std::max(keepFrom, m->bufferStart);
    size_t kept = (size_t)(end - keepFrom);
    memmove(m->buffer, m->buffer + (keepFrom - m->bufferStart), kept);
    m->bufferStart = keepFrom;
    m->bufferLength = kept;
}

int addBlockMatchBytes(BlockMatch* match, const void* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    while (length > 0 && !match->gaveUp) {
        if (match->bufferLength == match->bufferSize) compact(match);
        size_t take = std::min(length, match->bufferSize - match->bufferLength);
        memcpy(match->buffer + match->bufferLength, p, take);
        match->bufferLength += take;
        match->bytesRead += take;
        p += take, length -= take;
        scan(match);
    }
    return !match->gaveUp;
}

int finishBlockMatch(BlockMatch* match) {
    BlockMatch* m = match;
    uint32_t count = m->index.blockCount;
    if (m->gaveUp || count == 0 || m->sources[count - 1] != BLOCK_NOT_FOUND) return !m->gaveUp;
    uint32_t length = blockLength(&m->index, count - 1);
    if (length == m->index.blockSize) return 1;  // a full block: looked for at every offset
    uint64_t end = m->bufferStart + m->bufferLength;
    uint64_t strong = blockStrongSum(&m->index, count - 1);
    // Right after the block before it, then at the very end of the copy.
    if (m->expected == count - 1 && !m->weakValid && m->position + length <= end && spend(m, length) &&
        strongSum(m->buffer + (m->position - m->bufferStart), length) == strong) {
        foundAt(m, count - 1, m->position);
    } else if (end >= length && end - length >= m->bufferStart && spend(m, length) &&
               strongSum(m->buffer + (end - length - m->bufferStart), length) == strong) {
        foundAt(m, count - 1, end - length);
    }
    return !m->gaveUp;
}
