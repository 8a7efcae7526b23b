#include <gtest/gtest.h>

#include <string>

#include "update/Directives.h"

namespace {

const std::string DIGEST(64, 'a');

ManifestDirectives read(const std::string& text) {
    ManifestDirectives d;
    readManifestDirectives(text.data(), text.size(), &d);
    return d;
}

TEST(Directives, ReadTheReleaseFactsBesideOrdinaryLines) {
    std::string body = "#release 42\r\n#objects\r\n" + DIGEST + " 5 a.bin\r\n#expires 2027-02-28T23:59:59Z\r\n" +
                       "#launcher " + std::string(64, 'C') +
                       " 123456\r\n#blocks 16384 1048576\r\n#future things to come\r\n";
    std::string text = body + "#signature MEUCIQ==\r\n";
    ManifestDirectives d = read(text);
    EXPECT_EQ(0, d.malformed);
    EXPECT_EQ(42u, d.release);
    EXPECT_EQ(1, d.objects);
    ASSERT_EQ(1, d.hasExpires);
    EXPECT_EQ(1803859199, d.expires);  // date -u -d 2027-02-28T23:59:59Z +%s
    ASSERT_EQ(1, d.hasLauncher);
    EXPECT_EQ(std::string(64, 'c'), d.launcherSha256);
    EXPECT_EQ(123456u, d.launcherSize);
    ASSERT_EQ(1, d.hasBlocks);
    EXPECT_EQ(16384u, d.blockSize);
    EXPECT_EQ(1048576u, d.blockMinSize);
    ASSERT_EQ(1, d.hasSignature);
    EXPECT_EQ(body.size(), d.signedLength);
    EXPECT_EQ(std::string("\x30\x45\x02\x21", 4), std::string((const char*)d.signature, d.signatureLength));
    // The last line needs no line end.
    EXPECT_EQ(1, read(body + "#signature MEUCIQ==").hasSignature);
    // Nothing at all: an old manifest.
    d = read(DIGEST + " 5 a.bin\n");
    EXPECT_EQ(0u, d.release);
    EXPECT_EQ(0, d.objects + d.hasExpires + d.hasLauncher + d.hasBlocks + d.hasSignature + d.malformed);
}

// A directive that does not read is malformed and its value unused; the first
// good one of a kind stands.
TEST(Directives, MalformedLinesAreNotedAndNotUsed) {
    const struct {
        std::string text;
        int32_t line;
    } cases[] = {
        {"#release 0\n", 1},
        {"#release 12x\n", 1},
        {"#release -3\n", 1},
        {"#release 9223372036854775808\n", 1},  // 2^63
        {"#release 1 2\n", 1},
        {"#release\n", 1},
        {"#release 7\n#release 8\n", 2},
        {"#objects yes\n", 1},
        {"#expires 2027-02-29T00:00:00Z\n", 1},
        {"#expires 2027-01-01 00:00:00\n", 1},
        {"#expires 2027-13-01T00:00:00Z\n", 1},
        {"#expires 2027-01-01T24:00:00Z\n", 1},
        {"#launcher " + std::string(63, 'a') + " 5\n", 1},
        {"#launcher " + std::string(64, 'g') + " 5\n", 1},
        {"#launcher " + DIGEST + " 18446744073709551616\n", 1},
        {"#launcher " + DIGEST + "\n", 1},
        {"#blocks 16384\n", 1},
        {"#blocks 1023 5\n", 1},  // block sizes from 1 KiB to 1 MiB
        {"#blocks 1048577 5\n", 1},
        {"#blocks 16384 1x\n", 1},
        {"#signature MEUCIQ==\n#release 3\n", 1},  // not the last line
        {"#signature MEUCIQ=\n", 1},
        {"#signature ME*CIQ==\n", 1},
        {"#signature MEUCIR==\n", 1},  // bits left over by the padding
        {"#signature " + std::string(100, 'A') + "\n", 1},
        {"#signature\n", 1},
    };
    for (const auto& c : cases) {
        ManifestDirectives d = read(c.text);
        EXPECT_EQ(c.line, d.malformedLine) << c.text;
        EXPECT_EQ(0, d.objects + d.hasExpires + d.hasLauncher + d.hasBlocks + d.hasSignature) << c.text;
    }
    EXPECT_EQ(7u, read("#release 7\n#release 8\n").release);
    EXPECT_EQ(9223372036854775807u, read("#release 9223372036854775807").release);
    // Only a "#" at the start of a line makes a directive; names are exact.
    EXPECT_EQ(0u, read(" #release 5\n#Release 5\n").release);
}

// Only the store holds indexes, beside its objects; a file of more blocks
// than an index may hold has none.
TEST(Directives, BlockIndexesOfStoredFilesFromTheLeastSize) {
    const struct {
        const char* text;
        uint64_t size;
        int has;
    } cases[] = {
        {"#objects\n#blocks 16384 1048576\n", 1048576, 1},
        {"#objects\n#blocks 16384 1048576\n", 1048575, 0},
        {"#blocks 16384 1048576\n", 1 << 30, 0},
        {"#objects\n", 1 << 30, 0},
        {"#objects\n#blocks 16384 0\n", 16384ull << 20, 1},
        {"#objects\n#blocks 16384 0\n", (16384ull << 20) + 1, 0},
    };
    for (const auto& c : cases) {
        ManifestDirectives d = read(c.text);
        EXPECT_EQ(c.has, hasBlockIndex(&d, c.size)) << c.text << c.size;
    }
}

TEST(Directives, Base64RoundTripsAndRefusesWhatIsNotIt) {
    for (size_t length = 0; length < 80; ++length) {
        unsigned char bytes[80], back[80];
        for (size_t i = 0; i < length; ++i) bytes[i] = (unsigned char)(i * 37 + length);
        char text[128];
        encodeBase64(bytes, length, text);
        size_t decoded = decodeBase64(text, strlen(text), back, sizeof(back));
        EXPECT_EQ(length, decoded) << text;
        EXPECT_EQ(0, memcmp(bytes, back, length)) << text;
    }
    unsigned char out[4];
    EXPECT_EQ(0u, decodeBase64("QUJDRA==", 8, out, 3));  // does not fit
    EXPECT_EQ(0u, decodeBase64("QU=D", 4, out, 4));
}

TEST(Directives, KeptReleaseNumbers) {
    const struct {
        const char* text;
        uint64_t number;
    } cases[] = {{"17\r\n", 17}, {"17", 17}, {"", 0}, {"0\n", 0}, {"17 \n", 0}, {"+17", 0}, {"1\n7\n", 0}};
    for (const auto& c : cases) EXPECT_EQ(c.number, parseReleaseNumber(c.text, strlen(c.text))) << c.text;
}

}  // namespace
