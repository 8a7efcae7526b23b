// Block deltas without the network, natively and without sanitizers: an old
// copy of MIB MiB of noise, the new file with 1% of it changed in 16 regions
// (one an insertion that shifts the rest), indexed in blocks of 8 to 64 KiB
// and matched against the old copy, a copy that shares nothing and the new
// file itself, in 256 KiB reads as the launcher reads. OpenSSL's SHA-256 of
// the same bytes on one thread is the yardstick for the matcher's speed.
//   bench_blocks [MIB]
#include <openssl/evp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "update/BlockDelta.h"

typedef std::vector<unsigned char> Bytes;

enum { READ_SIZE = 256 * 1024, REGIONS = 16 };

static const char* const ZERO_DIGEST = "0000000000000000000000000000000000000000000000000000000000000000";

static double nowSeconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void fillNoise(unsigned char* out, size_t length, uint64_t seed) {
    uint64_t x = seed * 0x9e3779b97f4a7c15ull + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        out[i] = (unsigned char)(x >> 32);
    }
}

// 1% of the bytes in 16 regions spread over the file; the last one inserted.
static Bytes changed(const Bytes& old) {
    Bytes next = old;
    size_t region = old.size() / 100 / REGIONS;
    for (int r = 0; r < REGIONS - 1; ++r) fillNoise(&next[(old.size() / REGIONS) * r + 12345], region, 100 + r);
    Bytes inserted(region);
    fillNoise(inserted.data(), region, 99);
    next.insert(next.begin() + (long)(old.size() / REGIONS * (REGIONS - 1) + 777), inserted.begin(), inserted.end());
    return next;
}

struct Outcome {
    double seconds;
    uint64_t fetched;
    int32_t requests;
    int ok;
};

// The plan's result against the new file: a benchmark that measured a wrong
// build would measure nothing.
static int buildsTheFile(const BlockPlan* plan, const Bytes& local, const Bytes& file) {
    BlockStep step;
    for (uint64_t at = 0; blockPlanStep(plan, at, &step); at += step.length) {
        const unsigned char* from = step.fetch ? &file[step.offset] : &local[step.localOffset];
        if (memcmp(from, &file[step.offset], step.length) != 0) return 0;
    }
    return 1;
}

static Outcome match(const BlockIndex* index, const Bytes& local, const Bytes& file) {
    Outcome outcome = {};
    BlockMatch m;
    BlockPlan plan = {};
    double start = nowSeconds();
    if (!beginBlockMatch(&m, index)) return outcome;
    for (size_t at = 0; at < local.size(); at += READ_SIZE) {
        addBlockMatchBytes(&m, &local[at], std::min<size_t>(READ_SIZE, local.size() - at));
    }
    int planned = finishBlockMatch(&m) && planBlocks(&m, &plan);
    endBlockMatch(&m);
    outcome.seconds = nowSeconds() - start;
    if (planned) {
        outcome.fetched = plan.fetchBytes;
        outcome.requests = plan.fetchCount;
        outcome.ok = buildsTheFile(&plan, local, file);
    }
    freeBlockPlan(&plan);
    return outcome;
}

static double sha256Seconds(const Bytes& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    double start = nowSeconds();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    for (size_t at = 0; at < bytes.size(); at += READ_SIZE) {
        EVP_DigestUpdate(context, &bytes[at], std::min<size_t>(READ_SIZE, bytes.size() - at));
    }
    EVP_DigestFinal_ex(context, digest, &length);
    double seconds = nowSeconds() - start;
    EVP_MD_CTX_free(context);
    return seconds;
}

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? (size_t)atoi(argv[1]) : 256;
    Bytes old(mib << 20), unrelated(mib << 20);
    fillNoise(old.data(), old.size(), 1);
    fillNoise(unrelated.data(), unrelated.size(), 2);
    Bytes file = changed(old);
    double mb = (double)old.size() / 1e6;
    double sha = sha256Seconds(old);
    int failures = 0;

    printf("old copy %zu MiB, new file %zu bytes; OpenSSL SHA-256 %.0f MB/s on one thread\n\n", mib, file.size(),
           mb / sha);
    printf(
        "| block | index | fetched | fetched + index | requests | match MB/s | vs SHA-256 | index MB/s | match "
        "memory, 4 GiB file |\n|---|---|---|---|---|---|---|---|---|\n");
    for (uint32_t blockSize = 8192; blockSize <= 65536; blockSize *= 2) {
        BlockIndexWriter writer;
        double start = nowSeconds();
        beginBlockIndex(&writer, blockSize);
        for (size_t at = 0; at < file.size(); at += READ_SIZE) {
            addBlockIndexBytes(&writer, &file[at], std::min<size_t>(READ_SIZE, file.size() - at));
        }
        finishBlockIndex(&writer, ZERO_DIGEST);
        double indexSeconds = nowSeconds() - start;
        BlockIndex index;
        if (!readBlockIndex(writer.data, writer.length, file.size(), blockSize, ZERO_DIGEST, &index)) return 1;
        Outcome o = match(&index, old, file);
        failures += !o.ok;
        double pct = 100.0 / (double)file.size();
        uint64_t blocks4G = (4ull << 30) / blockSize;
        printf(
            "| %u KiB | %.3f%% | %.2f%% | %.2f%% | %d | %.0f | %.2f | %.0f | %.1f MiB |\n", blockSize / 1024,
            (double)writer.length * pct, (double)o.fetched * pct, (double)(o.fetched + writer.length) * pct, o.requests,
            mb / o.seconds, sha / o.seconds, (double)file.size() / 1e6 / indexSeconds,
            (double)(blockMatchMemory((uint32_t)blocks4G, blockSize) + blocks4G * BLOCK_INDEX_RECORD_SIZE) / 1048576.0);
        if (blockSize == BLOCK_SIZE_DEFAULT) {
            Outcome none = match(&index, unrelated, file);
            Outcome same = match(&index, file, file);
            failures += !none.ok + !same.ok;
            printf("|  | 16 KiB against a copy that shares nothing: | %.2f%% fetched | | %d | %.0f | %.2f | | |\n",
                   (double)none.fetched * pct, none.requests, mb / none.seconds, sha / none.seconds);
            printf("|  | 16 KiB against the new file itself: | %.2f%% fetched | | %d | %.0f | %.2f | | |\n",
                   (double)same.fetched * pct, same.requests, (double)file.size() / 1e6 / same.seconds,
                   sha / same.seconds * (double)file.size() / (double)old.size());
        }
        endBlockIndex(&writer);
    }
    printf("\n%s\n", failures ? "A PLAN DID NOT BUILD THE FILE" : "every plan builds the new file");
    return failures ? 1 : 0;
}
