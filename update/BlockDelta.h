// Rebuilding a new file from a local copy and the new file's block index
// (update/BlockIndex.h): the matcher reads the local copy (the old or damaged
// file, or any other file of the client) once, in pieces, and finds every
// block of the new file at any offset in it; the plan then says, for each
// stretch of the new file in order, "copy these bytes from the local copy" or
// "fetch this byte range of the object". A plan whose result does not have
// the manifest's SHA-256 (an index that lied) is the caller's to drop: it
// fetches the whole file instead.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/BlockIndex.h"

static const uint64_t BLOCK_NOT_FOUND = UINT64_MAX;

enum {
    // Distinct candidate blocks whose weak sums are compared at one offset of
    // the local copy; further ones are not looked at there.
    MATCH_CANDIDATES_MAX = 16,
    // Hashing work (bytes run through a weak or strong sum of a whole block)
    // allowed per byte of the local copy read, plus a start of a few blocks.
    // A copy equal to the new file takes one: one strong sum per block.
    MATCH_WORK_PER_BYTE = 4,
    MATCH_WORK_START_BLOCKS = 8,
    MATCH_BUFFER_BLOCKS = 4,  // the window on the local copy
    // Missing stretches closer than this are fetched as one request with the
    // bytes between them: at 10 Mbit/s and a 50 ms round trip, a request
    // costs about as much time as 64 KiB of data.
    PLAN_MERGE_GAP = 65536,
    PLAN_FETCH_MAX = 64  // requests a file at most; gaps merge further until it holds
};

// One block index matched against one local copy. The lookup holds each
// distinct block once; blocks of equal sums are one class, found together.
struct BlockMatch {
    BlockIndex index;
    uint64_t* sources;  // per block: the local offset it was found at, or BLOCK_NOT_FOUND
    uint32_t* order;    // the lookup: class leaders by bucket, then by weak sum
    uint32_t* heads;    // per bucket: its first entry in order; one more at the end
    uint32_t* next;     // per block: the next block of its class, around to itself
    uint64_t* filter;   // bits set by the blocks' weak sums: a window that passes may match
    uint32_t bucketShift;
    uint64_t filterWordMask;
    uint32_t lookupBlocks;  // the blocks that windows of the full block size can match
    uint64_t rollTable[256];
    unsigned char* buffer;  // the local copy from bufferStart on
    size_t bufferSize;
    size_t bufferLength;
    uint64_t bufferStart;
    uint64_t position;  // the local offset of the window being looked at
    uint64_t weak;      // its weak sum, when weakValid
    int32_t weakValid;  // weak is that of the window at position, which has been looked up
    uint32_t expected;  // the block that follows the last match, tried first; blockCount when none
    uint64_t bytesRead;
    uint64_t work;
    uint32_t foundBlocks;
    int32_t gaveUp;  // the work budget ran out: the caller fetches the whole file
};

// What beginBlockMatch reserves for an index of blockCount blocks of
// blockSize, beside the index's own 16 bytes a block: 24 to 28 bytes a block
// (1.5 MiB for a 1 GiB file in 16 KiB blocks, 2.5 MiB with its index) and
// four blocks of the local copy.
size_t blockMatchMemory(uint32_t blockCount, uint32_t blockSize);

// Builds the lookup of a checked index, which must outlive the match.
// 0 when there is no memory (nothing is then held).
int beginBlockMatch(BlockMatch* match, const BlockIndex* index);

// The local copy's next bytes, in any pieces. The work is O(1) a byte for the
// rolling sum plus at most MATCH_WORK_PER_BYTE bytes hashed per byte read.
// Returns 0 once that budget is spent: the match has given up and takes no
// more bytes.
int addBlockMatchBytes(BlockMatch* match, const void* bytes, size_t length);

// After the local copy's last byte: a last block shorter than the block size
// is looked for right after the block before it and at the copy's very end.
// Returns 0 when the match gave up.
int finishBlockMatch(BlockMatch* match);

// Frees what the match holds (the sources too, unless a plan took them).
void endBlockMatch(BlockMatch* match);

// A byte range of the new file, the unit of a Range request.
struct ByteRange {
    uint64_t offset;
    uint64_t length;
};

// The build of the new file: block by block from its sources, except within
// the fetches, which cover every block without one.
struct BlockPlan {
    uint64_t fileSize;
    uint32_t blockSize;
    uint32_t blockCount;
    uint64_t localSize;  // the local copy's length: every copy lies within it
    uint64_t* sources;
    ByteRange fetches[PLAN_FETCH_MAX];  // in order, apart, never empty
    int32_t fetchCount;
    uint64_t fetchBytes;  // what the fetches read, in all
};

// One step of the build: fetch [offset, offset + length) of the object, or
// copy length bytes from localOffset of the local copy.
struct BlockStep {
    int32_t fetch;
    uint64_t offset;
    uint64_t length;
    uint64_t localOffset;
};

// Plans the build from a finished match and takes its sources, so the match's
// lookup can be freed at once. O(blocks); holds 8 bytes a block. 0 when the
// match gave up or holds nothing: the caller fetches the whole file.
int planBlocks(BlockMatch* match, BlockPlan* out);

// The step that builds the new file from byte offset on: the rest of the
// fetch that holds offset, or the longest copy from offset that reads
// consecutive local bytes. A build interrupted with its first N bytes done
// resumes with the step at N. Returns 0 at or past the end of the file.
int blockPlanStep(const BlockPlan* plan, uint64_t offset, BlockStep* out);

void freeBlockPlan(BlockPlan* plan);
