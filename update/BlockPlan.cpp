#include <stdlib.h>

#include "update/BlockDelta.h"

static uint64_t blockEnd(const BlockPlan* plan, uint64_t block) {
    uint64_t end = (block + 1) * plan->blockSize;
    return end < plan->fileSize ? end : plan->fileSize;
}

// The stretches of blocks without a source, those closer than gap joined
// with the bytes between them. Writes at most capacity; returns the count.
static int32_t collectFetches(const BlockPlan* plan, uint64_t gap, ByteRange* out, int32_t capacity) {
    int32_t count = 0;
    ByteRange current = {0, 0};
    for (uint64_t b = 0; b < plan->blockCount; ++b) {
        if (plan->sources[b] != BLOCK_NOT_FOUND) continue;
        uint64_t first = b * plan->blockSize;
        while (b + 1 < plan->blockCount && plan->sources[b + 1] == BLOCK_NOT_FOUND) ++b;
        uint64_t end = blockEnd(plan, b);
        if (count > 0 && first - (current.offset + current.length) <= gap) {
            current.length = end - current.offset;
        } else {
            if (count > 0 && count <= capacity) out[count - 1] = current;
            current = {first, end - first};
            ++count;
        }
    }
    if (count > 0 && count <= capacity) out[count - 1] = current;
    return count;
}

int planBlocks(BlockMatch* match, BlockPlan* out) {
    *out = BlockPlan{};
    if (match->gaveUp || !match->sources) return 0;
    out->fileSize = match->index.fileSize;
    out->blockSize = match->index.blockSize;
    out->blockCount = match->index.blockCount;
    out->localSize = match->bytesRead;
    out->sources = match->sources;
    match->sources = nullptr;
    // Twice the gap until the requests fit: the gaps merged are the smallest.
    uint64_t gap = PLAN_MERGE_GAP;
    while (collectFetches(out, gap, nullptr, 0) > PLAN_FETCH_MAX) gap *= 2;
    out->fetchCount = collectFetches(out, gap, out->fetches, PLAN_FETCH_MAX);
    for (int32_t i = 0; i < out->fetchCount; ++i) out->fetchBytes += out->fetches[i].length;
    return 1;
}

int blockPlanStep(const BlockPlan* plan, uint64_t offset, BlockStep* out) {
    if (offset >= plan->fileSize) return 0;
    // The first fetch that ends past offset.
    int32_t low = 0, high = plan->fetchCount;
    while (low < high) {
        int32_t middle = (low + high) / 2;
        const ByteRange& f = plan->fetches[middle];
        if (f.offset + f.length <= offset) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    uint64_t nextFetch = low < plan->fetchCount ? plan->fetches[low].offset : plan->fileSize;
    if (nextFetch <= offset) {
        const ByteRange& f = plan->fetches[low];
        *out = BlockStep{1, offset, f.offset + f.length - offset, 0};
        return 1;
    }
    uint64_t block = offset / plan->blockSize;
    uint64_t source = plan->sources[block];
    if (source == BLOCK_NOT_FOUND) return 0;  // never: the fetches cover every such block
    uint64_t end = blockEnd(plan, block);
    while (end < nextFetch && plan->sources[block + 1] == plan->sources[block] + plan->blockSize) {
        end = blockEnd(plan, ++block);
    }
    *out = BlockStep{0, offset, end - offset, source + offset % plan->blockSize};
    return 1;
}

void freeBlockPlan(BlockPlan* plan) {
    free(plan->sources);
    *plan = BlockPlan{};
}
