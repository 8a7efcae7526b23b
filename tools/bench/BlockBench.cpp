// Block deltas without the network, natively and without sanitizers: an old
// copy of MIB MiB of noise, the new file with 1% of it changed in 16 regions
// (one an insertion that shifts the rest), indexed in blocks of 8 to 64 KiB
// and matched against the old copy, a copy that shares nothing and the new
// file itself, in 256 KiB reads as the launcher reads. OpenSSL's SHA-256 of
// the same bytes on one thread is the yardstick for the matcher's speed. Each
// time is the best of three, each SHA-256 run next to a match, since other
// work on the machine slows either at random.
//   bench_blocks [MIB]
#include <openssl/evp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "update/BlockDelta.h"

typedef std::vector<unsigned char> Bytes;

enum { READ_SIZE = 256 * 1024, REGIONS = 16, TRIES = 3 };

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

static double sha256Seconds(const Bytes& bytes);

// The best of a few runs; a SHA-256 of the old copy beside each, its best in *sha.
static Outcome match(const BlockIndex* index, const Bytes& local, const Bytes& file, const Bytes& old, double* sha);

static Outcome matchOnce(const BlockIndex* index, const Bytes& local, const Bytes& file) {
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

static Outcome match(const BlockIndex* index, const Bytes& local, const Bytes& file, const Bytes& old, double* sha) {
    Outcome best = {};
    for (int i = 0; i < TRIES; ++i) {
        Outcome o = matchOnce(index, local, file);
        if (i == 0 || o.seconds < best.seconds) best = o;
        double seconds = sha256Seconds(old);
        if (*sha == 0 || seconds < *sha) *sha = seconds;
    }
    return best;
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

struct Row {
    const char* copy;
    uint32_t blockSize;
    uint64_t indexLength;
    double indexSeconds;
    Outcome outcome;
    size_t localSize;
};

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? (size_t)atoi(argv[1]) : 256;
    Bytes old(mib << 20), unrelated(mib << 20);
    fillNoise(old.data(), old.size(), 1);
    fillNoise(unrelated.data(), unrelated.size(), 2);
    Bytes file = changed(old);
    double sha = 0;
    std::vector<Row> rows;
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
        rows.push_back(
            {"old", blockSize, writer.length, indexSeconds, match(&index, old, file, old, &sha), old.size()});
        if (blockSize == BLOCK_SIZE_DEFAULT) {
            rows.push_back({"shares nothing", blockSize, writer.length, 0, match(&index, unrelated, file, old, &sha),
                            unrelated.size()});
            rows.push_back(
                {"the new file", blockSize, writer.length, 0, match(&index, file, file, old, &sha), file.size()});
        }
        endBlockIndex(&writer);
    }

    double shaSpeed = (double)old.size() / 1e6 / sha;
    int failures = 0;
    printf("old copy %zu MiB, new file %zu bytes; OpenSSL SHA-256 on one thread %.0f MB/s\n\n", mib, file.size(),
           shaSpeed);
    printf(
        "| local copy | block | index | fetched | fetched + index | requests | match MB/s | / SHA-256 | index MB/s "
        "| match memory, 4 GiB file |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        double pct = 100.0 / (double)file.size();
        double speed = (double)r.localSize / 1e6 / r.outcome.seconds;
        uint64_t blocks4G = (4ull << 30) / r.blockSize;
        printf("| %s | %u KiB | %.3f%% | %.2f%% | %.2f%% | %d | %.0f | %.2f | ", r.copy, r.blockSize / 1024,
               (double)r.indexLength * pct, (double)r.outcome.fetched * pct,
               (double)(r.outcome.fetched + r.indexLength) * pct, r.outcome.requests, speed, speed / shaSpeed);
        if (r.indexSeconds > 0) {
            printf("%.0f | %.1f MiB |\n", (double)file.size() / 1e6 / r.indexSeconds,
                   (double)(blockMatchMemory((uint32_t)blocks4G, r.blockSize) + blocks4G * BLOCK_INDEX_RECORD_SIZE) /
                       1048576.0);
        } else {
            printf(" | |\n");
        }
        failures += !r.outcome.ok;
    }
    printf("\n%s\n", failures ? "A PLAN DID NOT BUILD THE FILE" : "every plan builds the new file");
    return failures ? 1 : 0;
}
