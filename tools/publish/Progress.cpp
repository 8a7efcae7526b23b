#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"

enum { PUBLISH_MIB = 1048576 };

void formatProgressLine(char* out, size_t outSize, const PublishProgress* progress, uint64_t nowMs) {
    uint64_t elapsedMs = nowMs > progress->startMs ? nowMs - progress->startMs : 1;
    // Tenths of a MiB a second, over the whole run so far.
    uint64_t speed = progress->doneBytes * 10000 / PUBLISH_MIB / elapsedMs;
    formatText(out, outSize, "%s %llu/%llu files, %llu/%llu MiB, %llu.%llu MiB/s", progress->action,
               (unsigned long long)progress->doneFiles, (unsigned long long)progress->fileCount,
               (unsigned long long)(progress->doneBytes / PUBLISH_MIB),
               (unsigned long long)(progress->byteCount / PUBLISH_MIB), (unsigned long long)(speed / 10),
               (unsigned long long)(speed % 10));
}

void startProgress(PublishProgress* progress, FILE* stream, const char* action, uint64_t fileCount,
                   uint64_t byteCount) {
    *progress = PublishProgress{};
    progress->stream = isTerminal(stream) ? stream : nullptr;
    progress->action = action;
    progress->fileCount = fileCount;
    progress->byteCount = byteCount;
    progress->startMs = monotonicMilliseconds();
    // Runs shorter than one interval never show a line at all.
    progress->lastDrawMs = progress->startMs;
}

static void drawProgress(PublishProgress* progress) {
    if (!progress->stream) return;
    uint64_t now = monotonicMilliseconds();
    if (now - progress->lastDrawMs < PUBLISH_PROGRESS_INTERVAL_MS) return;
    progress->lastDrawMs = now;
    char line[PUBLISH_PROGRESS_LINE_SIZE];
    formatProgressLine(line, sizeof(line), progress, now);
    size_t length = strlen(line);
    fprintf(progress->stream, "\r%s", line);
    for (size_t i = length; i < progress->drawnLength; ++i) fputc(' ', progress->stream);
    if (length > progress->drawnLength) progress->drawnLength = length;
    fflush(progress->stream);
}

void addHashedBytes(PublishProgress* progress, uint64_t bytes) {
    progress->doneBytes += bytes;
    drawProgress(progress);
}

void finishProgressFile(PublishProgress* progress, uint64_t bytesBefore, uint64_t size) {
    progress->doneBytes = bytesBefore + size;
    ++progress->doneFiles;
    drawProgress(progress);
}

void clearProgress(PublishProgress* progress) {
    if (!progress->stream || progress->drawnLength == 0) return;
    fputc('\r', progress->stream);
    for (size_t i = 0; i < progress->drawnLength; ++i) fputc(' ', progress->stream);
    fputc('\r', progress->stream);
    fflush(progress->stream);
    progress->drawnLength = 0;
}
