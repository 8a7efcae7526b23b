// A whole manifest walked as the update run walks it: cut at each line feed,
// the fields, the path rule, then the set that skips a path seen before.
#include <string>

#include "tests/fuzz/Fuzz.h"
#include "update/ClientPath.h"
#include "update/Documents.h"
#include "update/PathSet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    std::vector<std::string> kept;
    PathSet seen = {};
    for (char* line = text.data(); line;) {
        char* lineFeed = strchr(line, '\n');
        if (lineFeed) *lineFeed = 0;
        ManifestEntry entry;
        if (parseManifestFields(line, &entry) && isAcceptedManifestPath(entry.path)) {
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
