// The header texts of an answer: Content-Length, Content-Range, Retry-After.
#include "tests/fuzz/Fuzz.h"
#include "update/Failure.h"
#include "update/Http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text = nextString(&data, &size, SIZE_MAX);
    uint64_t length = 0, first = 0, last = 0, total = 0;
    if (parseContentLength(text.data(), &length)) {
        // The length read is the one written: nothing wrapped or was skipped.
        char written[24];
        snprintf(written, sizeof(written), "%llu", (unsigned long long)length);
        const char* digits = text.data() + strspn(text.data(), "0");
        FUZZ_CHECK(strcmp(written, *digits ? digits : "0") == 0);
    }
    if (parseContentRange(text.data(), &first, &last, &total)) FUZZ_CHECK(first <= last && last < total);
    int32_t seconds = parseRetryAfter(text.data());
    FUZZ_CHECK(seconds >= -1 && seconds <= 30);
    return 0;
}
