// A whole manifest walked as the update run walks it: its directives, then
// each line cut at its line feed, the fields, the path rule, then the set that
// skips a path seen before.
#include <string>

#include "tests/fuzz/Fuzz.h"
#include "update/BlockIndex.h"
#include "update/ClientPath.h"
#include "update/Directives.h"
#include "update/Documents.h"
#include "update/PathSet.h"

static void checkDirectives(const std::vector<char>& text) {
    size_t length = text.size() - 1;
    ManifestDirectives d;
    readManifestDirectives(text.data(), length, &d);
    FUZZ_CHECK(d.release <= 0x7fffffffffffffffull);
    FUZZ_CHECK(!d.hasLauncher || strlen(d.launcherSha256) == 64);
    if (d.hasSignature) {
        // The signature covers everything before its own line, which is the last.
        FUZZ_CHECK(d.signedLength < length && memcmp(text.data() + d.signedLength, "#signature ", 11) == 0);
        FUZZ_CHECK(d.signedLength == 0 || text[d.signedLength - 1] == '\n');
        const char* lineFeed = (const char*)memchr(text.data() + d.signedLength, '\n', length - d.signedLength);
        FUZZ_CHECK(!lineFeed || lineFeed == text.data() + length - 1);
        FUZZ_CHECK(d.signatureLength > 0 && d.signatureLength <= sizeof(d.signature));
    }
    FUZZ_CHECK(!d.hasBlocks || (d.blockSize >= BLOCK_SIZE_MIN && d.blockSize <= BLOCK_SIZE_MAX));
    FUZZ_CHECK((d.malformed == 0) == (d.malformedLine == 0));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    checkDirectives(text);
    std::vector<std::string> kept;
    PathSet seen = {};
    for (char* line = text.data(); line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        ManifestEntry entry;
        if (parseManifestFields(line, &entry) && isAcceptedManifestPath(entry.path)) {
            FUZZ_CHECK(entry.sha256[0] != '#');
            int known = 0;
            for (const std::string& earlier : kept) known |= sameClientPath(earlier.c_str(), entry.path);
            FUZZ_CHECK(addPathOnce(&seen, entry.path) == !known);
            if (!known) kept.push_back(entry.path);
        }
        line = lineFeed ? lineFeed + 1 : nullptr;
    }
    freePathSet(&seen);
    return 0;
}
