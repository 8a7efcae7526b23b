#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Documents.h"

static void reportCut(FILE* out, const char* name, int lineNumber, const char* field, const char* text, size_t length) {
    char kept[PUBLISH_MESSAGE_TEXT_SIZE], cut[PUBLISH_MESSAGE_TEXT_SIZE];
    fprintf(out, "%s line %d: the %s is %zu bytes; the window shows the first %d: \"%s\" and cuts \"%s\"\n", name,
            lineNumber, field, length, NEWS_FIELD_SIZE - 1, escapeText(kept, sizeof(kept), text, NEWS_FIELD_SIZE - 1),
            escapeText(cut, sizeof(cut), text + NEWS_FIELD_SIZE - 1, length - (NEWS_FIELD_SIZE - 1)));
}

// check-news FILE: what the window makes of news.txt, with the launcher's parser.
int runCheckNews(const PublishOptions* options, FILE* out, FILE* err) {
    const char* newsPath = options->operands[0];
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], caption[PUBLISH_MESSAGE_TEXT_SIZE];
    size_t length = 0;
    char* text = readWholeFile(newsPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", escapePath(shown, newsPath));
        return PUBLISH_EXIT_PROBLEM;
    }
    const char* name = escapePath(shown, newsPath);
    int problems = 0, items = 0, lineNumber = 0;
    // The launcher's text ends at the first NUL byte.
    size_t textLength = strlen(text);
    if (textLength < length) {
        fprintf(out, "%s: a NUL byte at offset %zu; the launcher reads nothing after it\n", name, textLength);
        ++problems;
    }

    // The launcher's reading: lines end at LF, each is cut at its first CR,
    // and a line without a bar is skipped.
    for (size_t start = 0; start < textLength;) {
        const char* line = text + start;
        const char* lineFeed = (const char*)memchr(line, '\n', textLength - start);
        size_t lineLength = lineFeed ? (size_t)(lineFeed - line) : textLength - start;
        start += lineLength + (lineFeed ? 1 : 0);
        ++lineNumber;

        const char* carriageReturn = (const char*)memchr(line, '\r', lineLength);
        size_t visible = carriageReturn ? (size_t)(carriageReturn - line) : lineLength;
        if (carriageReturn) {
            const char* rest = carriageReturn;
            size_t restLength = lineLength - visible;
            while (restLength > 0 && *rest == '\r') ++rest, --restLength;
            if (restLength > 0) {
                fprintf(out, "%s line %d: the text after a carriage return is ignored: \"%s\"\n", name, lineNumber,
                        escapeText(caption, sizeof(caption), rest, restLength));
                ++problems;
            }
        }
        const char* bar = (const char*)memchr(line, '|', visible);
        if (!bar) {
            if (!isBlankText(line, visible)) {
                fprintf(out, "%s line %d: no \"|\"; the launcher ignores this line: \"%s\"\n", name, lineNumber,
                        escapeText(caption, sizeof(caption), line, visible));
                ++problems;
            }
            continue;
        }
        if (items == PUBLISH_NEWS_CAPACITY) {
            fprintf(out, "%s line %d: past the fourth item; never shown: \"%s\"\n", name, lineNumber,
                    escapeText(caption, sizeof(caption), line, visible));
            ++problems;
            continue;
        }
        ++items;
        size_t captionLength = (size_t)(bar - line);
        size_t headlineLength = visible - captionLength - 1;
        if (captionLength > NEWS_FIELD_SIZE - 1) {
            reportCut(out, name, lineNumber, "caption", line, captionLength);
            ++problems;
        }
        if (headlineLength > NEWS_FIELD_SIZE - 1) {
            reportCut(out, name, lineNumber, "headline", bar + 1, headlineLength);
            ++problems;
        }
    }
    if (items == 0) {
        fprintf(out, "%s: no \"caption|headline\" line%s\n", name,
                isBlankText(text, textLength) ? " (the file is empty or holds only blank lines)" : "");
        ++problems;
    }

    // What the window shows comes from the launcher's own parser.
    NewsItem shownItems[PUBLISH_NEWS_CAPACITY];
    int shownCount = parseNewsItems(text, shownItems, PUBLISH_NEWS_CAPACITY);
    int status = problems ? PUBLISH_EXIT_PROBLEM : PUBLISH_EXIT_OK;
    if (shownCount != items) {
        fprintf(err, "orvel-publish: internal error: the launcher finds %d news items, this tool %d\n", shownCount,
                items);
        status = PUBLISH_EXIT_PROBLEM;
    }
    if (shownCount == 0) {
        fprintf(out, "The window shows no news.\n");
    } else {
        fprintf(out, "The window shows:\n");
    }
    for (int i = 0; i < shownCount; ++i) {
        char headline[PUBLISH_MESSAGE_TEXT_SIZE];
        fprintf(out, "  %d. %s | %s\n", i + 1,
                escapeText(caption, sizeof(caption), shownItems[i].caption, strlen(shownItems[i].caption)),
                escapeText(headline, sizeof(headline), shownItems[i].headline, strlen(shownItems[i].headline)));
    }
    if (problems) {
        fprintf(out, "%s: %d problem(s); the window does not show every line as written\n", name, problems);
    } else {
        fprintf(out, "%s: the window shows all %d item(s) as written\n", name, shownCount);
    }
    free(text);
    return status;
}
