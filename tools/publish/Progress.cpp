#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"

enum { PUBLISH_MIB = 1048576 };

void formatProgressLine(char* out, size_t outSize, const PublishProgress* progress) {
    formatText(out, outSize, "hashing %llu/%llu files, %llu/%llu MiB", (unsigned long long)progress->doneFiles,
               (unsigned long long)progress->fileCount, (unsigned long long)(progress->doneBytes / PUBLISH_MIB),
               (unsigned long long)(progress->byteCount / PUBLISH_MIB));
}

void startProgress(PublishProgress* progress, FILE* stream, uint64_t fileCount, uint64_t byteCount) {
    *progress = PublishProgress{};
    progress->stream = isTerminal(stream) ? stream : nullptr;
    progress->fileCount = fileCount;
    progress->byteCount = byteCount;
    // Runs shorter than one interval never show a line at all.
    progress->lastDrawMs = monotonicMilliseconds();
}

static void drawProgress(PublishProgress* progress) {
    if (!progress->stream) return;
    uint64_t now = monotonicMilliseconds();
    if (now - progress->lastDrawMs < PUBLISH_PROGRESS_INTERVAL_MS) return;
    progress->lastDrawMs = now;
    char line[PUBLISH_PROGRESS_LINE_SIZE];
    formatProgressLine(line, sizeof(line), progress);
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
