// Block indexes: what a player's old or damaged copy of a file needs to know
// to rebuild the new file from its own bytes and fetch only the rest. The
// publisher writes one for every stored object of at least the size the
// manifest's "#blocks" directive names, beside the object:
// objects/<2 hex>/<sha256>.blocks, with that directive's block size.
//
// The file is cut into blocks of the block size, the last one shorter when the
// size is not a multiple of it. For every block the index holds two sums:
//
//   weak    a polynomial over the bytes mapped through a fixed table,
//           sum of T[x_i] * B^(L-1-i) modulo 2^64 for the L bytes x_0..x_L-1,
//           T[v] the splitmix64 output for state (v + 1) * 0x9e3779b97f4a7c15
//           and B = 0xf1357aea2e62a9c5. A window of the old copy moves on by
//           one byte in O(1): W' = W * B + T[in] - T[out] * B^L.
//   strong  XXH64 of the block's bytes with seed 0 (xxHash, 64-bit variant).
//
// Neither is cryptographic: the rebuilt file is installed only with the
// manifest's SHA-256, exactly as a downloaded one. The weak sum finds
// candidates at every offset; the strong sum confirms them.
//
// The index, all numbers little-endian:
//   offset  size
//        0     4  "OBIX"
//        4     4  version, 1
//        8     4  block size in bytes, BLOCK_SIZE_MIN to BLOCK_SIZE_MAX
//       12     4  0; a reader of version 1 refuses anything else
//       16     8  file size in bytes
//       24     8  block count, ceil(file size / block size), at most BLOCK_INDEX_MAX_BLOCKS
//       32    32  SHA-256 of the file
//       64  16 x count  per block: weak sum (8), strong sum (8)
// Nothing follows the last block: the length is exactly 64 + 16 x count.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum {
    BLOCK_SIZE_DEFAULT = 16384,
    BLOCK_SIZE_MIN = 1024,
    BLOCK_SIZE_MAX = 1048576,
    BLOCK_INDEX_VERSION = 1,
    BLOCK_INDEX_HEADER_SIZE = 64,
    BLOCK_INDEX_RECORD_SIZE = 16,
    // 16 MiB of index and 24 MiB more to match against it; a file of more
    // blocks has no index (16 GiB at 16 KiB blocks) and is fetched whole.
    BLOCK_INDEX_MAX_BLOCKS = 1 << 20
};

#define BLOCK_INDEX_SUFFIX ".blocks"

// ---- Sums (BlockSums.cpp)

// Eight bytes little-endian, one load on the machines the launcher runs on.
inline uint64_t read64(const unsigned char* p) {
    uint64_t value;
    memcpy(&value, p, sizeof(value));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap64(value);
#endif
    return value;
}

struct WeakByteTable {
    uint64_t values[256];  // T above
};
extern const WeakByteTable kWeakBytes;
static const uint64_t WEAK_SUM_BASE = 0xf1357aea2e62a9c5ull;

uint64_t weakSum(const void* bytes, size_t length);
// B^length: the weak sum of a followed by b is weakSum(a) * weakSumPower(|b|) + weakSum(b).
uint64_t weakSumPower(uint64_t length);
uint64_t strongSum(const void* bytes, size_t length);

// The strong sum of bytes that arrive in pieces: the same value as strongSum
// of all of them at once.
struct StrongSum {
    uint64_t lanes[4];
    uint64_t total;
    unsigned char pending[32];
    uint32_t pendingLength;
};
void beginStrongSum(StrongSum* sum);
void addStrongSum(StrongSum* sum, const void* bytes, size_t length);
uint64_t finishStrongSum(const StrongSum* sum);

// What a byte leaving a window of windowLength bytes takes from its weak sum:
// T[v] * B^windowLength for every byte value v.
void weakRollTable(uint32_t windowLength, uint64_t* outTable /* 256 */);

// The weak sum of the window one byte on, given what leaves and what enters.
inline uint64_t rollWeakSum(uint64_t sum, const uint64_t* rollTable, unsigned char out, unsigned char in) {
    uint64_t change = kWeakBytes.values[in] - rollTable[out];
#ifdef __GNUC__
    // Kept apart, so that the sum waits for one multiply and one add a byte,
    // not for a subtraction too (the compiler would fold it into the chain).
    __asm__("" : "+r"(change));
#endif
    return sum * WEAK_SUM_BASE + change;
}

// ---- The index (BlockIndex.cpp)

// What a caller knows from the manifest: the index of a file of fileSize
// bytes in blocks of blockSize has exactly this length. 0 when no index can
// exist: a block size out of bounds or more than BLOCK_INDEX_MAX_BLOCKS.
size_t blockIndexLength(uint64_t fileSize, uint32_t blockSize);

// A checked index; records points into the caller's bytes, which must stay
// alive and unchanged while it is used.
struct BlockIndex {
    uint64_t fileSize;
    uint32_t blockSize;
    uint32_t blockCount;
    const unsigned char* records;
};

// Reads an index of length bytes against what the manifest says: the file's
// size, the directive's block size and the file's digest (64 hex digits).
// Returns 1 only when every field agrees and the length is exactly what they
// imply; reserves nothing.
int readBlockIndex(const void* bytes, size_t length, uint64_t fileSize, uint32_t blockSize, const char* sha256Hex,
                   BlockIndex* out);

inline uint64_t blockWeakSum(const BlockIndex* index, uint32_t block) {
    return read64(index->records + (size_t)block * BLOCK_INDEX_RECORD_SIZE);
}
inline uint64_t blockStrongSum(const BlockIndex* index, uint32_t block) {
    return read64(index->records + (size_t)block * BLOCK_INDEX_RECORD_SIZE + 8);
}
// The block's length: the block size, or less for the last block.
uint32_t blockLength(const BlockIndex* index, uint32_t block);

// Writes an index from a file's bytes fed in any pieces. It holds the sums of
// the block being read and the index written so far (16 bytes a block), never
// the file's bytes.
struct BlockIndexWriter {
    uint32_t blockSize;
    uint32_t blockFill;  // bytes of the current block read so far
    uint64_t weak;       // of those bytes
    StrongSum strong;
    uint64_t fileSize;    // bytes read so far
    unsigned char* data;  // the index: header, then the records of the full blocks
    size_t length;
    size_t capacity;
    int32_t failed;  // no memory, or more blocks than an index may hold
};

// 0 when blockSize is out of bounds.
int beginBlockIndex(BlockIndexWriter* writer, uint32_t blockSize);
// 0 once the index cannot be written (it has then stopped growing).
int addBlockIndexBytes(BlockIndexWriter* writer, const void* bytes, size_t length);
// After the last byte: the last block's sums and the header, with the file's
// digest (64 hex digits). On 1 the index is writer->data, writer->length bytes.
int finishBlockIndex(BlockIndexWriter* writer, const char* sha256Hex);
void endBlockIndex(BlockIndexWriter* writer);
