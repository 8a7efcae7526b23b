#include <gtest/gtest.h>

#include "update/Digest.h"

namespace {

TEST(DigestText, WritesLowercaseHexInByteOrder) {
    unsigned char raw[32];
    for (int i = 0; i < 32; ++i) raw[i] = (unsigned char)(i * 8 + 0x0f);
    char out[65];
    digestToHex(raw, out);
    EXPECT_STREQ("0f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff07", out);
}

}  // namespace
