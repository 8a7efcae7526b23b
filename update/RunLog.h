// OrvelLauncher.log in the client folder: what each update run did and why a
// file failed, for players and operators to read. One line per event, plain
// ASCII, tab-separated:
//   <UTC time, ISO 8601> <event> <path or -> <reason code or -> <detail>
// The launcher only ever appends to it; past RUN_LOG_LIMIT the oldest lines go.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "update/Failure.h"

enum {
    RUN_LOG_LIMIT = 256 * 1024,
    RUN_LOG_KEEP = 192 * 1024,  // what a trim keeps, so that trims stay rare
    RUN_LOG_LINE_SIZE = 1024,
    RUN_LOG_DETAIL_SIZE = 512
};

// ---- Rules (RunLog.cpp)

// The line for one event, CR LF included; fields are made plain ASCII
// without tabs. Returns its length.
size_t formatLogLine(char* out /* RUN_LOG_LINE_SIZE */, const char* timestamp, const char* event, const char* path,
                     const char* reason, const char* detail);

// What a person can act on, for a failure; systemText is the platform's
// message for failure->systemError (may be empty).
void formatFailureDetail(char* out /* RUN_LOG_DETAIL_SIZE */, const Failure* failure, const char* systemText);

// The offset of the first line to keep when at most keep bytes of whole lines
// of text stay.
size_t logTrimOffset(const char* text, size_t length, size_t keep);

// ---- The file (RunLog_win.cpp); every thread of a run may log.

// Opens the log for the run (trimming it first when it has grown too large).
void openRunLog();
void closeRunLog();
void logEvent(const char* event, const char* path, const char* reason, const char* detail);
void logFailure(const char* event, const char* path, const Failure* failure);
// The same, naming the base URL the failure came from.
void logFailureFrom(const char* event, const char* path, const char* base, const Failure* failure);
// An event caused by a Windows error: "<what>: error <N>: <the system's text>".
void logSystemError(const char* event, const char* path, const char* reason, unsigned long error, const char* what);
