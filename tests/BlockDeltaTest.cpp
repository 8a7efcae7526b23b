#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/BlockDelta.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const char DIGEST[] = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

Bytes noise(size_t length, uint64_t seed) {
    Bytes out(length);
    uint64_t x = seed * 0x9e3779b97f4a7c15ull + 1;
    for (auto& byte : out) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        byte = (unsigned char)(x >> 24);
    }
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes slice(const Bytes& bytes, size_t from, size_t length) {
    return Bytes(bytes.begin() + (long)from, bytes.begin() + (long)(from + length));
}

Bytes indexOf(const Bytes& file, uint32_t blockSize, size_t piece) {
    BlockIndexWriter writer;
    EXPECT_EQ(1, beginBlockIndex(&writer, blockSize));
    for (size_t at = 0; at < file.size(); at += piece) {
        addBlockIndexBytes(&writer, &file[at], std::min(piece, file.size() - at));
    }
    EXPECT_EQ(1, finishBlockIndex(&writer, DIGEST));
    Bytes index(writer.data, writer.data + writer.length);
    endBlockIndex(&writer);
    return index;
}

// The local copy fed in pieces; 0 when the match gave up.
int plan(const BlockIndex& index, const Bytes& local, size_t piece, BlockPlan* out, uint64_t* work = nullptr) {
    *out = BlockPlan{};
    BlockMatch match;
    EXPECT_EQ(1, beginBlockMatch(&match, &index));
    int going = 1;
    for (size_t at = 0; at < local.size() && going; at += piece) {
        going = addBlockMatchBytes(&match, &local[at], std::min(piece, local.size() - at));
    }
    int planned = finishBlockMatch(&match) && planBlocks(&match, out);
    if (work) *work = match.work;
    endBlockMatch(&match);
    return planned;
}

// What a build that starts with the first `from` bytes done writes, each step
// checked to follow the one before and to read within the object and the
// local copy.
Bytes build(const BlockPlan& plan, const Bytes& local, const Bytes& file, uint64_t from) {
    Bytes out;
    BlockStep step;
    uint64_t at = from;
    for (; blockPlanStep(&plan, at, &step); at += step.length) {
        EXPECT_EQ(at, step.offset);
        EXPECT_GT(step.length, 0u);
        bool inside =
            step.offset + step.length <= file.size() && (step.fetch || step.localOffset + step.length <= local.size());
        EXPECT_TRUE(inside);
        if (!inside) break;
        const unsigned char* source = step.fetch ? &file[step.offset] : &local[step.localOffset];
        out.insert(out.end(), source, source + step.length);
    }
    EXPECT_EQ(file.size(), at);
    return out;
}

TEST(BlockDelta, PlansFetchOnlyWhatIsNotInTheLocalCopy) {
    const uint32_t size = BLOCK_SIZE_DEFAULT;
    const Bytes old = noise((8 << 20) + 5000, 1);
    // Three regions rewritten and 3,001 bytes inserted: the rest shifts.
    Bytes changed = join({slice(old, 0, 1000000), noise(700, 2), slice(old, 1000700, 2000000), noise(3001, 3),
                          slice(old, 3000700, 2000000), noise(5000, 4), slice(old, 5005700, 1494300), noise(2000, 12),
                          slice(old, 6502000, 1891608)});
    // The last sector is in the last full block: the short block after it is
    // found at the copy's end.
    Bytes damaged = old;
    for (size_t at : {size_t(70000), size_t(4000000), size_t(8380000)}) memset(&damaged[at], 0, 4096);
    const struct {
        const char* name;
        Bytes file, local;
        size_t piece;
        uint64_t maxFetched;
        int32_t maxRequests;
    } cases[] = {
        {"changed in places and shifted", changed, old, 65536, changed.size() / 50, 4},
        {"the same file", old, old, 1 << 20, 0, 0},
        {"followed by more bytes", old, join({old, noise(100, 13)}), 1 << 20, 0, 0},
        // Two blocks of zeros more in the file than in the copy: one class, found together.
        {"a block that repeats",
         join({slice(old, 0, size), Bytes(size, 0), slice(old, size, size), Bytes(2 * size, 0), slice(old, 0, 100)}),
         join({Bytes(size, 0), slice(old, 0, 2 * size), slice(old, 0, 100)}), 4093, 0, 0},
        // Both halves at offsets that are no multiple of the block size, the
        // half that ends the file first.
        {"moved blocks", old,
         join({noise(333, 5), slice(old, 4100000, old.size() - 4100000), noise(1234, 6), slice(old, 0, 4100000)}), 4093,
         size, 1},
        {"damaged", old, damaged, 100000, 3 * size, 3},
        {"cut short", old, slice(old, 0, old.size() - 20000), 1 << 20, size + 20000, 1},
        {"nothing in common", old, noise(3 << 20, 7), 65536, old.size(), 1},
        {"no local copy", old, Bytes(), 65536, old.size(), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes indexBytes = indexOf(c.file, size, 65536);
        BlockIndex index;
        ASSERT_EQ(1, readBlockIndex(indexBytes.data(), indexBytes.size(), c.file.size(), size, DIGEST, &index));
        BlockPlan p;
        ASSERT_EQ(1, plan(index, c.local, c.piece, &p));
        EXPECT_LE(p.fetchBytes, c.maxFetched);
        EXPECT_LE(p.fetchCount, c.maxRequests);
        EXPECT_TRUE(build(p, c.local, c.file, 0) == c.file);
        // An interrupted build resumes at any byte: inside and at the edges of steps.
        BlockStep step;
        for (uint64_t at = 0; blockPlanStep(&p, at, &step); at += step.length) {
            for (uint64_t from : {step.offset + 1, step.offset + step.length - 1}) {
                EXPECT_TRUE(build(p, c.local, c.file, from) == slice(c.file, from, c.file.size() - from)) << from;
            }
        }
        freeBlockPlan(&p);
    }
}

// Damaged blocks close together are one request; far apart, one each until
// there are too many, then the closest merge first.
TEST(BlockDelta, FetchesMergeIntoFewRequests) {
    const uint32_t size = 1024;
    const Bytes file = noise(11000 * size + 500, 8);
    Bytes indexBytes = indexOf(file, size, 997);
    BlockIndex index;
    ASSERT_EQ(1, readBlockIndex(indexBytes.data(), indexBytes.size(), file.size(), size, DIGEST, &index));
    std::vector<size_t> neighbours, apart, pairs;
    for (size_t b = 0; b < 100; b += 2) neighbours.push_back(b);
    for (size_t b = 0; b <= 1000; b += 100) apart.push_back(b);  // 99 blocks between: more than the gap
    for (size_t b = 0; b < 40 * 270; b += 270) pairs.insert(pairs.end(), {b, b + 70});  // 80 apart, in 40 pairs
    const struct {
        const char* name;
        std::vector<size_t> damaged;
        int32_t requests;
    } cases[] = {{"neighbours", neighbours, 1}, {"apart", apart, 11}, {"too many", pairs, 40}};
    for (const auto& c : cases) {
        Bytes local = file;
        for (size_t b : c.damaged) local[b * size + 7] ^= 1;
        BlockPlan p;
        ASSERT_EQ(1, plan(index, local, 8192, &p));
        EXPECT_EQ(c.requests, p.fetchCount) << c.name;
        EXPECT_TRUE(build(p, local, file, 0) == file) << c.name;
        freeBlockPlan(&p);
    }
}

TEST(BlockDelta, IndexesThatLieAreRefused) {
    const uint32_t size = 1024;
    const Bytes file = noise(100000, 9);
    const Bytes good = indexOf(file, size, 4096);
    BlockIndex index;
    ASSERT_EQ(1, readBlockIndex(good.data(), good.size(), file.size(), size, DIGEST, &index));
    const struct {
        const char* name;
        long length;  // added to the true length
        size_t patchAt;
        unsigned char patch;  // xor
        uint64_t fileSize;
        uint32_t blockSize;
        const char* digest;
    } cases[] = {
        {"cut", -1, 0, 0, file.size(), size, DIGEST},
        {"longer", 1, 0, 0, file.size(), size, DIGEST},
        {"magic", 0, 0, 1, file.size(), size, DIGEST},
        {"version", 0, 4, 3, file.size(), size, DIGEST},
        {"block size", 0, 9, 8, file.size(), size, DIGEST},
        {"reserved", 0, 12, 1, file.size(), size, DIGEST},
        {"file size", 0, 16, 1, file.size(), size, DIGEST},
        {"block count", 0, 24, 1, file.size(), size, DIGEST},
        {"block count's top", 0, 31, 0x80, file.size(), size, DIGEST},
        {"digest", 0, 63, 1, file.size(), size, DIGEST},
        {"other file size", 0, 0, 0, file.size() + 1, size, DIGEST},
        {"other block size", 0, 0, 0, file.size(), 2048, DIGEST},
        {"block size 0", 0, 0, 0, file.size(), 0, DIGEST},
        {"block size huge", 0, 0, 0, file.size(), 0x80000000u, DIGEST},
        {"file size overflowing", 0, 0, 0, UINT64_MAX, size, DIGEST},
        {"digest not hex", 0, 0, 0, file.size(), size, "not a digest"},
    };
    for (const auto& c : cases) {
        Bytes bytes = good;
        bytes.resize(good.size() + c.length);
        bytes[c.patchAt] ^= c.patch;
        EXPECT_EQ(0, readBlockIndex(bytes.data(), bytes.size(), c.fileSize, c.blockSize, c.digest, &index)) << c.name;
    }
    // The largest index a manifest can call for, and one block more.
    EXPECT_EQ(64u + 16u * BLOCK_INDEX_MAX_BLOCKS, blockIndexLength((uint64_t)BLOCK_INDEX_MAX_BLOCKS * 16384, 16384));
    EXPECT_EQ(0u, blockIndexLength((uint64_t)BLOCK_INDEX_MAX_BLOCKS * 16384 + 1, 16384));
}

// Sums that lie in a well-formed index give a plan within the file and the
// local copy whose result differs from the file: the digest check refuses it.
TEST(BlockDelta, WrongSumsBuildAFileTheDigestRefuses) {
    const uint32_t size = 4096;
    const Bytes file = noise(50 * size, 10);
    Bytes bytes = indexOf(file, size, 65536);
    std::swap_ranges(bytes.begin() + 64 + 3 * 16, bytes.begin() + 64 + 4 * 16, bytes.begin() + 64 + 5 * 16);
    BlockIndex index;
    ASSERT_EQ(1, readBlockIndex(bytes.data(), bytes.size(), file.size(), size, DIGEST, &index));
    BlockPlan p;
    ASSERT_EQ(1, plan(index, file, 65536, &p));
    Bytes result = build(p, file, file, 0);
    EXPECT_EQ(file.size(), result.size());
    EXPECT_FALSE(result == file);
    freeBlockPlan(&p);
}

// Every block claims the weak sum of a run of zeros: on a copy of zeros every
// offset is a candidate, and the match gives up within its budget. The same
// index with the strong sum of zeros too is a file of zeros, found at once.
TEST(BlockDelta, HostileCollisionsStayWithinTheWorkBudget) {
    const uint32_t size = 16384;
    const Bytes zeros(8 << 20, 0);
    for (int honest = 0; honest < 2; ++honest) {
        Bytes bytes = indexOf(Bytes(256 * size, 0), size, 65536);
        for (uint64_t b = 0; b < 256; ++b) {
            uint64_t strong = honest ? strongSum(zeros.data(), size) : b;
            memcpy(&bytes[64 + 16 * b + 8], &strong, 8);
        }
        BlockIndex index;
        ASSERT_EQ(1, readBlockIndex(bytes.data(), bytes.size(), 256 * size, size, DIGEST, &index));
        BlockPlan p;
        uint64_t work = 0;  // bytes hashed
        EXPECT_EQ(honest, plan(index, zeros, 1 << 20, &p, &work));
        EXPECT_LE(work, MATCH_WORK_PER_BYTE * (uint64_t)(honest ? zeros.size() : 1 << 20) + 8 * size) << honest;
        EXPECT_EQ(0u, p.fetchBytes);  // nothing to fetch, or no plan
        freeBlockPlan(&p);
    }
}

TEST(BlockSums, KnownValuesWindowsAndPieces) {
    // xxhsum -H1; the weak sum from the formula in update/BlockIndex.h.
    EXPECT_EQ(0xef46db3751d8e999ull, strongSum("", 0));
    EXPECT_EQ(0xd24ec4f1a98c6e5bull, strongSum("a", 1));
    EXPECT_EQ(0x155e7ee4e742d975ull, strongSum("abcdefghijklmnopqrstuvwxyz0123456789ABCDEF", 42));
    EXPECT_EQ(0xc13bf1d6d884ddf2ull, weakSum("Orvel", 5));
    Bytes counting;
    for (int i = 0; i < 5 * 256; ++i) counting.push_back((unsigned char)i);
    EXPECT_EQ(0x42d7ffd9367722cdull, weakSum(counting.data(), counting.size()));

    const Bytes bytes = join({noise(3000, 11), Bytes(3000, 0), counting});
    for (size_t piece : {1, 7, 31, 32, 33, 1000}) {
        StrongSum sum;
        beginStrongSum(&sum);
        for (size_t at = 0; at < bytes.size(); at += piece)
            addStrongSum(&sum, &bytes[at], std::min(piece, bytes.size() - at));
        EXPECT_EQ(strongSum(bytes.data(), bytes.size()), finishStrongSum(&sum)) << piece;
        // An index written in pieces is the index written at once.
        EXPECT_TRUE(indexOf(bytes, 1024, piece) == indexOf(bytes, 1024, bytes.size())) << piece;
    }
    // Rolled one byte at a time, the window's sum is its sum computed afresh.
    for (uint32_t window : {1024u, 1031u}) {
        uint64_t table[256];
        weakRollTable(window, table);
        uint64_t weak = weakSum(bytes.data(), window);
        for (size_t at = 0; at + window < bytes.size(); ++at) {
            weak = rollWeakSum(weak, table, bytes[at], bytes[at + window]);
            ASSERT_EQ(weakSum(&bytes[at + 1], window), weak) << at;
        }
    }
}

}  // namespace
