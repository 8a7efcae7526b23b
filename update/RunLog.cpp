#include "update/RunLog.h"

#include <stdio.h>
#include <string.h>

#include "shell/Text.h"

static size_t appendField(char* out, size_t used, size_t size, const char* text) {
    if (!text || !*text) text = "-";
    for (; *text && used + 1 < size; ++text) {
        unsigned char c = (unsigned char)*text;
        // Plain ASCII: a tab or line break inside a field would split the line.
        out[used++] = (c < 32 || c >= 127) ? '?' : (char)c;
    }
    return used;
}

size_t formatLogLine(char* out, const char* timestamp, const char* event, const char* path, const char* reason,
                     const char* detail) {
    const char* fields[] = {timestamp, event, path, reason, detail};
    size_t used = 0, room = RUN_LOG_LINE_SIZE - 2;  // CR LF always fit
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && used + 1 < room) out[used++] = '\t';
        used = appendField(out, used, room, fields[i]);
    }
    out[used++] = '\r';
    out[used++] = '\n';
    out[used] = 0;
    return used;
}

void formatFailureDetail(char* out, const Failure* f, const char* systemText) {
    switch (f->reason) {
        case FAIL_HTTP_STATUS: formatText(out, RUN_LOG_DETAIL_SIZE, "HTTP %d", f->httpStatus); return;
        case FAIL_LENGTH:
            formatText(out, RUN_LOG_DETAIL_SIZE, "%llu bytes where the manifest says %llu",
                       (unsigned long long)f->actual, (unsigned long long)f->expected);
            return;
        case FAIL_CUT:
            formatText(out, RUN_LOG_DETAIL_SIZE, "ended after %llu of %llu bytes", (unsigned long long)f->actual,
                       (unsigned long long)f->expected);
            return;
        case FAIL_SLOW: formatText(out, RUN_LOG_DETAIL_SIZE, "receiving too slowly"); return;
        case FAIL_SERVER_GONE:
            formatText(out, RUN_LOG_DETAIL_SIZE, "not tried: transfers in a row found no server");
            return;
        case FAIL_OWN_FILE:
            formatText(out, RUN_LOG_DETAIL_SIZE, "the target is one of the launcher's own files");
            return;
        case FAIL_PATH_TOO_LONG:
            formatText(out, RUN_LOG_DETAIL_SIZE, "the path, its folder or its URL is too long for Windows");
            return;
        case FAIL_INSECURE_REDIRECT:
            formatText(out, RUN_LOG_DETAIL_SIZE, "the server redirected the request to plain HTTP");
            return;
    }
    if (f->systemError != 0) {
        formatText(out, RUN_LOG_DETAIL_SIZE, "error %lu: %s", (unsigned long)f->systemError,
                   systemText ? systemText : "");
    } else if (f->httpStatus != 0) {
        formatText(out, RUN_LOG_DETAIL_SIZE, "after HTTP %d", f->httpStatus);
    } else {
        out[0] = 0;
    }
}

size_t logTrimOffset(const char* text, size_t length, size_t keep) {
    if (length <= keep) return 0;
    size_t offset = length - keep;
    // Start at the line after the cut, never in the middle of one.
    while (offset < length && text[offset - 1] != '\n') ++offset;
    return offset;
}
