#include <gtest/gtest.h>

#include <windows.h>

#include <string.h>

#include <string>

#include "tests/TestFiles.h"
#include "tests/WinTestSupport.h"
#include "update/Digest.h"

namespace {

struct Digest : ::testing::Test {
    std::string dir = makeTempDir();
    char hex[65];

    std::string hashOf(const std::string& bytes) {
        std::string path = joinPath(dir, "data.bin");
        writeFile(path, bytes);
        memset(hex, 'x', sizeof(hex));
        if (!fileSha256Hex(path.c_str(), hex)) return "<failed>";
        return std::string(hex, strnlen(hex, sizeof(hex)));
    }
    static std::string pattern(size_t length) {
        std::string bytes(length, 0);
        for (size_t i = 0; i < length; ++i) bytes[i] = (char)(i % 251);
        return bytes;
    }
};

TEST_F(Digest, KnownAnswers) {
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hashOf(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hashOf("abc"));
    // One full read buffer, and one byte past it.
    EXPECT_EQ("4b640d85ab3ba30fd02c9fc9db4a8928f416322ad27022ea58a65aaee68a4df2", hashOf(pattern(65536)));
    EXPECT_EQ("237356e18b503616912abb8ffaed3a72591e397d4ac294c4637917d48a3f529d", hashOf(pattern(65537)));
}

TEST_F(Digest, FailuresLeaveTheOutputUntouched) {
    memset(hex, 'x', sizeof(hex));
    EXPECT_EQ(0, fileSha256Hex(joinPath(dir, "missing.bin").c_str(), hex));
    EXPECT_EQ(std::string(65, 'x'), std::string(hex, 65));
    EXPECT_EQ(0, fileSha256Hex(dir.c_str(), hex));  // a directory
    EXPECT_EQ(std::string(65, 'x'), std::string(hex, 65));
}

// Read sharing only: a file another program is writing is refused, one it
// only reads is hashed.
TEST_F(Digest, FollowsWhatOtherProgramsHoldTheFileFor) {
    std::string path = joinPath(dir, "held.bin");
    writeFile(path, "abc");
    for (const char* access : {"rw", "r"}) {
        HeldFile held = holdFile(path, access, "rw");
        ASSERT_NE(nullptr, held.process);
        memset(hex, 'x', sizeof(hex));
        int hashed = fileSha256Hex(path.c_str(), hex);
        releaseFile(&held);
        EXPECT_EQ(access[1] == 0, hashed) << access;
        EXPECT_EQ(hashed ? "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" : std::string(65, 'x'),
                  std::string(hex, hashed ? 64 : 65));
    }
}

}  // namespace
