// The news document: every item a terminated field without line breaks, and
// never more items than asked for.
#include "tests/fuzz/Fuzz.h"
#include "update/Documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    NewsItem items[4];
    int count = parseNewsItems(text.data(), items, 4);
    FUZZ_CHECK(count >= 0 && count <= 4);
    for (int i = 0; i < count; ++i) {
        for (const char* field : {items[i].caption, items[i].headline}) {
            FUZZ_CHECK(strnlen(field, NEWS_FIELD_SIZE) < NEWS_FIELD_SIZE && !strpbrk(field, "\r\n"));
        }
    }
    return 0;
}
