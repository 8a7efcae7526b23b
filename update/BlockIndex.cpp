#include "update/BlockIndex.h"

#include <stdlib.h>
#include <string.h>

#include "update/Digest.h"

static const unsigned char INDEX_MAGIC[4] = {'O', 'B', 'I', 'X'};

static uint32_t get32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put64(unsigned char* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = (unsigned char)(value >> (8 * i));
}

static void put32(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(value >> (8 * i));
}

static uint64_t blockCountOf(uint64_t fileSize, uint32_t blockSize) {
    return fileSize / blockSize + (fileSize % blockSize != 0);
}

size_t blockIndexLength(uint64_t fileSize, uint32_t blockSize) {
    if (blockSize < BLOCK_SIZE_MIN || blockSize > BLOCK_SIZE_MAX) return 0;
    uint64_t count = blockCountOf(fileSize, blockSize);
    if (count > BLOCK_INDEX_MAX_BLOCKS) return 0;
    return BLOCK_INDEX_HEADER_SIZE + (size_t)count * BLOCK_INDEX_RECORD_SIZE;
}

int readBlockIndex(const void* bytes, size_t length, uint64_t fileSize, uint32_t blockSize, const char* sha256Hex,
                   BlockIndex* out) {
    const unsigned char* p = (const unsigned char*)bytes;
    size_t expected = blockIndexLength(fileSize, blockSize);
    unsigned char digest[32];
    if (expected == 0 || length != expected || !digestFromHex(sha256Hex, digest)) return 0;
    uint64_t count = blockCountOf(fileSize, blockSize);
    if (memcmp(p, INDEX_MAGIC, 4) != 0 || get32(p + 4) != BLOCK_INDEX_VERSION || get32(p + 8) != blockSize ||
        get32(p + 12) != 0 || read64(p + 16) != fileSize || read64(p + 24) != count ||
        memcmp(p + 32, digest, 32) != 0) {
        return 0;
    }
    out->fileSize = fileSize;
    out->blockSize = blockSize;
    out->blockCount = (uint32_t)count;
    out->records = p + BLOCK_INDEX_HEADER_SIZE;
    return 1;
}

uint32_t blockLength(const BlockIndex* index, uint32_t block) {
    uint64_t start = (uint64_t)block * index->blockSize;
    uint64_t rest = index->fileSize - start;
    return rest < index->blockSize ? (uint32_t)rest : index->blockSize;
}

int beginBlockIndex(BlockIndexWriter* writer, uint32_t blockSize) {
    *writer = BlockIndexWriter{};
    if (blockSize < BLOCK_SIZE_MIN || blockSize > BLOCK_SIZE_MAX) return 0;
    writer->blockSize = blockSize;
    writer->length = BLOCK_INDEX_HEADER_SIZE;
    beginStrongSum(&writer->strong);
    return 1;
}

// Appends the current block's record and starts the next block.
static int closeBlock(BlockIndexWriter* w) {
    if ((w->length - BLOCK_INDEX_HEADER_SIZE) / BLOCK_INDEX_RECORD_SIZE >= BLOCK_INDEX_MAX_BLOCKS) return 0;
    if (w->length + BLOCK_INDEX_RECORD_SIZE > w->capacity) {
        size_t capacity = w->capacity ? w->capacity * 2 : BLOCK_INDEX_HEADER_SIZE + 64 * BLOCK_INDEX_RECORD_SIZE;
        unsigned char* data = (unsigned char*)realloc(w->data, capacity);
        if (!data) return 0;
        w->data = data;
        w->capacity = capacity;
    }
    put64(w->data + w->length, w->weak);
    put64(w->data + w->length + 8, finishStrongSum(&w->strong));
    w->length += BLOCK_INDEX_RECORD_SIZE;
    w->blockFill = 0;
    w->weak = 0;
    beginStrongSum(&w->strong);
    return 1;
}

int addBlockIndexBytes(BlockIndexWriter* writer, const void* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    while (length > 0 && !writer->failed) {
        size_t take = writer->blockSize - writer->blockFill;
        if (take > length) take = length;
        writer->weak = writer->weak * weakSumPower(take) + weakSum(p, take);
        addStrongSum(&writer->strong, p, take);
        writer->blockFill += (uint32_t)take;
        writer->fileSize += take;
        p += take, length -= take;
        if (writer->blockFill == writer->blockSize && !closeBlock(writer)) writer->failed = 1;
    }
    return !writer->failed;
}

int finishBlockIndex(BlockIndexWriter* writer, const char* sha256Hex) {
    unsigned char digest[32];
    if (writer->failed || writer->blockSize == 0 || !digestFromHex(sha256Hex, digest)) return 0;
    if (writer->blockFill > 0 && !closeBlock(writer)) writer->failed = 1;
    // An empty file has no block, and so an index of its header alone.
    if (writer->failed || (!writer->data && !(writer->data = (unsigned char*)malloc(BLOCK_INDEX_HEADER_SIZE)))) {
        writer->failed = 1;
        return 0;
    }
    unsigned char* p = writer->data;
    memcpy(p, INDEX_MAGIC, 4);
    put32(p + 4, BLOCK_INDEX_VERSION);
    put32(p + 8, writer->blockSize);
    put32(p + 12, 0);
    put64(p + 16, writer->fileSize);
    put64(p + 24, (writer->length - BLOCK_INDEX_HEADER_SIZE) / BLOCK_INDEX_RECORD_SIZE);
    memcpy(p + 32, digest, 32);
    return 1;
}

void endBlockIndex(BlockIndexWriter* writer) {
    free(writer->data);
    *writer = BlockIndexWriter{};
}
