#include <gtest/gtest.h>

#include <string>

#include "tests/TestFiles.h"
#include "update/Signature.h"

// Keys and signatures made with OpenSSL (tests/data); this program is built
// with release-1.pub and release-2.pub as its release keys.
namespace {

std::string data(const char* name) {
    std::string bytes = readFile(std::string(ORVEL_TEST_DATA) + "/" + name);
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

const unsigned char* bytesOf(const std::string& text) { return (const unsigned char*)text.data(); }

TEST(Signature, OpenSslSignatureOfTheExactBytesByEitherBuiltInKey) {
    const std::string message = data("signed-message.txt"), byRelease1 = data("signed-message.sig");
    const std::string byRelease2 = data("signed-message.release-2.sig"), byForeign = data("signed-message.foreign.sig");
    auto release = [](const std::string& text, const std::string& der) {
        return verifyReleaseSignature(text.data(), text.size(), bytesOf(der), der.size());
    };
    ASSERT_EQ(2, gReleaseKeyCount);
    std::string changed = message;
    changed[changed.size() - 2] = '\n';  // CR LF to LF LF
    const struct {
        const char* what;
        std::string message;
        std::string der;
        int valid;
    } cases[] = {{"the current key", message, byRelease1, 1},
                 {"the next key", message, byRelease2, 1},
                 {"a foreign key", message, byForeign, 0},
                 {"a changed manifest", changed, byRelease1, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.valid, release(c.message, c.der)) << c.what;

    // The hook as tests swap it: no keys, or a key text that does not parse.
    const char* const* builtIn = gReleaseKeys;
    const char* const swapped[] = {"-----BEGIN PUBLIC KEY-----\nnot base64\n-----END PUBLIC KEY-----\n", builtIn[1]};
    gReleaseKeys = swapped;
    EXPECT_EQ(0, release(message, byRelease1));
    EXPECT_EQ(1, release(message, byRelease2));
    gReleaseKeyCount = 0;
    EXPECT_EQ(0, release(message, byRelease2));
    gReleaseKeys = builtIn;
    gReleaseKeyCount = 2;

    // A point off the curve is no key at all.
    unsigned char xy[SIGNATURE_PAIR_SIZE] = {}, rs[SIGNATURE_PAIR_SIZE];
    ASSERT_TRUE(parseEcdsaP256DerSignature(bytesOf(byRelease1), byRelease1.size(), rs));
    EXPECT_EQ(0, verifyP256Signature(xy, bytesOf(message), message.size(), rs));
}

}  // namespace
