// Block indexes as the launcher reads them, then the match of a local copy
// and the plan. Input: a mode byte, a piece size byte, then
//   even mode: block size byte, 2-byte length, the new file, the local copy:
//     a true index is written from the new file, and the plan must build it;
//   odd mode: 8-byte file size, 4-byte block size, 2-byte length, the index,
//     the local copy: whatever the index says, the plan stays in order within
//     the file and the local copy and covers the file once.
// A last 2 bytes of either mode pick the byte an interrupted build resumes at.
#include "tests/fuzz/Fuzz.h"
#include "update/BlockDelta.h"

static const char DIGEST[] = "0000000000000000000000000000000000000000000000000000000000000000";

static uint64_t takeNumber(const uint8_t** data, size_t* size, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i<bytes&& * size> 0; ++i, ++*data, --*size) value |= (uint64_t) * *data << (8 * i);
    return value;
}

static std::vector<uint8_t> takeBytes(const uint8_t** data, size_t* size, size_t length) {
    if (length > *size) length = *size;
    std::vector<uint8_t> bytes(*data, *data + length);
    *data += length, *size -= length;
    return bytes;
}

// Walks the plan from offset on; with the file's bytes, every copy must read them.
static void checkPlan(const BlockPlan* plan, const std::vector<uint8_t>& local, const std::vector<uint8_t>* file,
                      uint64_t offset) {
    FUZZ_CHECK(plan->fetchCount >= 0 && plan->fetchCount <= PLAN_FETCH_MAX);
    uint64_t fetched = 0;
    for (int32_t i = 0; i < plan->fetchCount; ++i) {
        const ByteRange& f = plan->fetches[i];
        FUZZ_CHECK(f.length > 0 && f.offset + f.length <= plan->fileSize);
        FUZZ_CHECK(i == 0 || f.offset > plan->fetches[i - 1].offset + plan->fetches[i - 1].length);
        fetched += f.length;
    }
    FUZZ_CHECK(fetched == plan->fetchBytes);
    BlockStep step;
    uint64_t at = offset;
    for (; blockPlanStep(plan, at, &step); at += step.length) {
        FUZZ_CHECK(step.offset == at && step.length > 0 && step.offset + step.length <= plan->fileSize);
        if (step.fetch) continue;
        FUZZ_CHECK(step.localOffset + step.length <= local.size());
        FUZZ_CHECK(!file || memcmp(&local[step.localOffset], &(*file)[step.offset], step.length) == 0);
    }
    FUZZ_CHECK(at == (offset < plan->fileSize ? plan->fileSize : offset));
}

static void matchAndCheck(const BlockIndex* index, const std::vector<uint8_t>& local, size_t piece,
                          const std::vector<uint8_t>* file, uint64_t resumeAt) {
    BlockMatch match;
    BlockPlan plan = {};
    if (!beginBlockMatch(&match, index)) return;
    int going = 1;
    for (size_t at = 0; at < local.size() && going; at += piece) {
        going = addBlockMatchBytes(&match, &local[at], std::min(piece, local.size() - at));
    }
    FUZZ_CHECK(match.work <= MATCH_WORK_PER_BYTE * match.bytesRead + MATCH_WORK_START_BLOCKS * index->blockSize);
    // A true index is matched to the end: the budget holds every honest copy.
    FUZZ_CHECK(going || !file);
    if (finishBlockMatch(&match) && planBlocks(&match, &plan)) {
        checkPlan(&plan, local, file, 0);
        checkPlan(&plan, local, file, resumeAt % (index->fileSize + 1));
    }
    endBlockMatch(&match);
    freeBlockPlan(&plan);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint64_t mode = takeNumber(&data, &size, 1);
    size_t piece = 1 + 61 * (size_t)takeNumber(&data, &size, 1);
    uint64_t resumeAt = size >= 2 ? data[size - 2] | data[size - 1] << 8 : 0;
    if (mode % 2 == 0) {
        uint32_t blockSize = BLOCK_SIZE_MIN + 333 * (uint32_t)(takeNumber(&data, &size, 1) % 4);
        std::vector<uint8_t> file = takeBytes(&data, &size, takeNumber(&data, &size, 2));
        std::vector<uint8_t> local = takeBytes(&data, &size, size);
        BlockIndexWriter writer;
        FUZZ_CHECK(beginBlockIndex(&writer, blockSize));
        for (size_t at = 0; at < file.size(); at += piece) {
            FUZZ_CHECK(addBlockIndexBytes(&writer, &file[at], std::min(piece, file.size() - at)));
        }
        FUZZ_CHECK(finishBlockIndex(&writer, DIGEST));
        // Exactly sized, so that a read past the index shows.
        std::vector<uint8_t> bytes(writer.data, writer.data + writer.length);
        endBlockIndex(&writer);
        BlockIndex index;
        FUZZ_CHECK(readBlockIndex(bytes.data(), bytes.size(), file.size(), blockSize, DIGEST, &index));
        matchAndCheck(&index, local, piece, &file, resumeAt);
    } else {
        uint64_t fileSize = takeNumber(&data, &size, 8);
        uint32_t blockSize = (uint32_t)takeNumber(&data, &size, 4);
        std::vector<uint8_t> bytes = takeBytes(&data, &size, takeNumber(&data, &size, 2));
        std::vector<uint8_t> local = takeBytes(&data, &size, size);
        BlockIndex index;
        if (!readBlockIndex(bytes.data(), bytes.size(), fileSize, blockSize, DIGEST, &index)) return 0;
        FUZZ_CHECK(bytes.size() == blockIndexLength(fileSize, blockSize) && index.blockCount <= BLOCK_INDEX_MAX_BLOCKS);
        matchAndCheck(&index, local, piece, nullptr, resumeAt);
    }
    return 0;
}
