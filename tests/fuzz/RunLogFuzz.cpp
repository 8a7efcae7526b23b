// The log line made of five fields from the input, and the trim of a log text.
#include "tests/fuzz/Fuzz.h"
#include "update/RunLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The whole input as the log's text, with what to keep taken from its first bytes.
    size_t keep = size >= 2 ? (data[0] | data[1] << 8) % (size + 2) : 0;
    size_t offset = logTrimOffset((const char*)data, size, keep);
    FUZZ_CHECK(offset <= size && (offset == 0) == (size <= keep) && (offset == 0 || size - offset <= keep));
    FUZZ_CHECK(offset == 0 || offset == size || data[offset - 1] == '\n');  // whole lines only

    std::vector<char> fields[5];
    size_t whole = 6;  // four tabs, CR LF
    for (std::vector<char>& field : fields) {
        field = nextString(&data, &size, SIZE_MAX);
        whole += field.size() > 1 ? field.size() - 1 : 1;  // an empty field is "-"
    }
    char line[RUN_LOG_LINE_SIZE];
    size_t length =
        formatLogLine(line, fields[0].data(), fields[1].data(), fields[2].data(), fields[3].data(), fields[4].data());
    // One line of plain ASCII, CR LF at its end, a tab between fields and none inside one.
    FUZZ_CHECK(length < sizeof(line) && strlen(line) == length && length >= 2 && !strcmp(line + length - 2, "\r\n"));
    int tabs = 0;
    for (size_t i = 0; i + 2 < length; ++i) {
        FUZZ_CHECK((line[i] >= 32 && line[i] < 127) || line[i] == '\t');
        tabs += line[i] == '\t';
    }
    FUZZ_CHECK(whole < sizeof(line) ? tabs == 4 && length == whole : tabs <= 4);
    return 0;
}
