#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "shell/Text.h"
#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Directives.h"
#include "update/Signature.h"

enum { PUBLISH_DIRECTIVES_SIZE = 256 };  // #release, #objects, #blocks, #expires and #launcher lines

static const uint64_t PUBLISH_LAST_RELEASE_NUMBER = 0x7fffffffffffffffull;

// The launcher build of a release, when there is one.
struct ReleaseLauncher {
    const char* path;
    char sha256[DIGEST_TEXT_SIZE];
    uint64_t size;
};

// A path the tree at the files' paths cannot hold beside the store: its
// first name is one of the store's own folders (letter case aside, as on a
// Windows server).
static const char* storeFolderClash(const char* path) {
    static const char* const folders[] = {"objects/", "releases/"};
    for (const char* folder : folders) {
        if (startsWithIgnoreCase(path, folder)) return folder;
    }
    return nullptr;
}

// Each file once in the store, then (unless noPaths) at its path, made from
// its object. Returns the number of failures, told on err.
static size_t storeRelease(const char* src, const char* outRoot, const ClientListing* listing,
                           const ReleaseLauncher* launcher, int noPaths, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], object[PUBLISH_OBJECT_PATH_SIZE];
    PublishProgress progress = {};
    size_t failures = 0, files = listing->listed * (noPaths ? 1 : 2) + (launcher->path ? 1 : 0);
    uint64_t bytes = listing->totalBytes * (noPaths ? 1 : 2) + launcher->size;
    startProgress(&progress, err, "storing", files, bytes);
    for (int pass = 0; pass < (noPaths ? 1 : 2); ++pass) {
        for (size_t i = 0; i < listing->list.count; ++i) {
            const PublishFile* f = &listing->list.files[i];
            if (skippedPathNote(f->path)) continue;
            uint64_t before = progress.doneBytes;
            formatObjectPath(f->sha256, object);
            char* source = joinLocalPath(pass == 0 ? src : outRoot, pass == 0 ? f->path : object);
            char* target = pass == 0 ? nullptr : joinLocalPath(outRoot, f->path);
            int stored = 0;
            if (!source || (pass == 1 && !target)) {
                fprintf(err, "orvel-publish: out of memory\n");
            } else if (pass == 0) {
                stored = storeObject(outRoot, source, f->sha256, f->size, &progress, err);
            } else {
                // Replaced, never written into: the old file may be a link of an older object.
                stored = sameLocalFile(source, target) ||
                         (makeFoldersFor(target) && linkOrCopyReplacing(source, target, &progress));
                if (!stored) fprintf(err, "orvel-publish: cannot write %s in OUT\n", escapePath(shown, f->path));
            }
            free(source);
            free(target);
            failures += !stored;
            finishProgressFile(&progress, before, f->size);
            if (!stored) clearProgress(&progress);
        }
    }
    if (launcher->path && !storeObject(outRoot, launcher->path, launcher->sha256, launcher->size, &progress, err)) {
        ++failures;
    }
    clearProgress(&progress);
    return failures;
}

// A block index beside every stored object that #blocks promises one for,
// the launcher's included; one already there is checked and kept, as an
// object is. Returns the number of failures, told on err.
static size_t indexRelease(const char* outRoot, const ClientListing* listing, const ReleaseLauncher* launcher,
                           FILE* err) {
    ManifestDirectives blocks;
    publishBlockDirectives(&blocks);
    PublishProgress progress = {};
    size_t failures = 0, files = 0;
    uint64_t bytes = 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) startProgress(&progress, err, "indexing", files, bytes);
        for (size_t i = 0; i <= listing->list.count; ++i) {
            const PublishFile* f = i < listing->list.count ? &listing->list.files[i] : nullptr;
            const char* sha256 = f ? f->sha256 : launcher->sha256;
            uint64_t size = f ? f->size : launcher->size;
            if ((f ? skippedPathNote(f->path) != nullptr : !launcher->path) || !hasBlockIndex(&blocks, size)) continue;
            if (pass == 0) {
                ++files, bytes += size;
                continue;
            }
            uint64_t before = progress.doneBytes;
            int state = syncBlockIndex(outRoot, sha256, size, 1, &progress);
            finishProgressFile(&progress, before, size);
            if (state == PUBLISH_INDEX_RIGHT) continue;
            char name[PUBLISH_INDEX_PATH_SIZE];
            formatIndexPath(sha256, name);
            clearProgress(&progress);
            fprintf(err, "orvel-publish: %s %s\n", name,
                    state == PUBLISH_INDEX_WRONG
                        ? "is in the store but does not match its object; remove it and release again"
                        : "cannot be made: its object cannot be read or written beside");
            ++failures;
        }
    }
    clearProgress(&progress);
    return failures;
}

// The directives as the launcher's reader takes them back: anything else is a
// fault of this tool, and no such manifest may leave it.
static int readsBackAsWritten(const char* text, size_t length, uint64_t number, int hasExpires,
                              const ReleaseLauncher* launcher, int isSigned, size_t signedLength) {
    ManifestDirectives read;
    readManifestDirectives(text, length, &read);
    ManifestDirectives blocks;
    publishBlockDirectives(&blocks);
    return read.malformed == 0 && read.release == number && read.objects && read.hasExpires == hasExpires &&
           read.hasBlocks && read.blockSize == blocks.blockSize && read.blockMinSize == blocks.blockMinSize &&
           read.hasLauncher == (launcher->path != nullptr) &&
           (!launcher->path ||
            (strcmp(read.launcherSha256, launcher->sha256) == 0 && read.launcherSize == launcher->size)) &&
           read.hasSignature == isSigned && (!isSigned || read.signedLength == signedLength);
}

// Writes folder/name from bytes, beside and moved over; 0 after telling why.
static int writeDocument(const char* folder, const char* name, const char* bytes, size_t length, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    char* path = joinLocalPath(folder, name);
    int written = path && makeFoldersFor(path) && writeReplacing(path, bytes, length);
    if (!written) fprintf(err, "orvel-publish: cannot write %s\n", escapePath(shown, path ? path : name));
    free(path);
    return written;
}

static void printUploadOrder(const char* outRoot, int noPaths, int isSigned, int hasNews, FILE* out) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    const char* name = escapePath(shown, outRoot);
    int step = 0;
    fprintf(out, "Upload in this order, each step finished before the next starts:\n");
    fprintf(out, "  %d. %s/objects/ (only new objects need to go; an object never changes)\n", ++step, name);
    if (!noPaths) {
        fprintf(out,
                "  %d. the files at their paths: everything in %s but objects/, %s/, manifest.txt, "
                "manifest.txt.sig and news.txt\n",
                ++step, name, PUBLISH_HISTORY_FOLDER);
    }
    fprintf(out, "  %d. %s/manifest.txt%s\n", ++step, name, isSigned ? " and manifest.txt.sig" : "");
    if (hasNews) fprintf(out, "  %d. %s/news.txt\n", ++step, name);
    fprintf(out, "%s/%s/ stays here: prune reads it.\n", name, PUBLISH_HISTORY_FOLDER);
}

// release SRC OUT [--key] [--release N] [--expires-days D] [--no-paths]
// [--news FILE] [--launcher FILE]: the store, the tree at the files' paths
// and the manifest with its directives.
int runRelease(const PublishOptions* options, FILE* out, FILE* err) {
    int status = PUBLISH_EXIT_PROBLEM;
    char* src = copyFolderName(options->operands[0]);
    char* outRoot = copyFolderName(options->operands[1]);
    char *text = nullptr, *newsText = nullptr, *historyName = nullptr;
    char *manifestPath = nullptr, *signaturePath = nullptr;
    PublishSigningKey* key = nullptr;
    ReleaseHistory history = {};
    ClientListing listing = {};
    ReleaseLauncher launcher = {};
    PublishOptions newsOptions = {};
    PublishProgress quiet = {};
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], expires[PUBLISH_UTC_TIME_SIZE];
    size_t length = 0, newsLength = 0, bodyLength = 0, derLength = 0, clashes = 0;
    uint64_t last = 0, number = 0, size = 0;

    if (!src || !outRoot) goto outOfMemory;
    // Everything that can be refused at once comes before any hashing.
    if (options->key && !(key = openSigningKey(options->key, err))) goto cleanup;
    if (options->news) {
        newsOptions.operands[0] = options->news;
        if (runCheckNews(&newsOptions, err, err) != PUBLISH_EXIT_OK ||
            !(newsText = readWholeFile(options->news, &newsLength))) {
            fprintf(err, "orvel-publish: fix %s or release without --news; nothing written\n",
                    escapePath(shown, options->news));
            goto cleanup;
        }
    }
    if (!readReleaseHistory(outRoot, &history, err)) goto cleanup;
    last = lastReleaseNumber(&history);
    if (!options->release && last == PUBLISH_LAST_RELEASE_NUMBER) {
        fprintf(err, "orvel-publish: release numbers in %s are used up\n", escapePath(shown, outRoot));
        goto cleanup;
    }
    number = options->release ? options->release : last + 1;
    if (number <= last) {
        // A launcher that has the last one refuses anything older, and must.
        fprintf(err,
                "orvel-publish: release %llu is not above the last release in %s, %llu; launchers that have it "
                "would refuse this one. Leave --release out (it takes %llu) or give a higher number\n",
                (unsigned long long)number, escapePath(shown, outRoot), (unsigned long long)last,
                (unsigned long long)(last + 1));
        goto cleanup;
    }
    if (options->launcher) {
        launcher.path = options->launcher;
        if (!hashLocalFile(launcher.path, launcher.sha256, &launcher.size, &quiet)) {
            fprintf(err, "orvel-publish: cannot read the launcher %s\n", escapePath(shown, launcher.path));
            goto cleanup;
        }
    }

    if (!listClientFolder(src, options->clientDirLength, options->launcher, &listing, err)) {
        if (listing.refused > 0) {
            fprintf(err, "orvel-publish: %zu file(s) refused; nothing written to %s\n", listing.refused,
                    escapePath(shown, outRoot));
        }
        goto cleanup;
    }
    for (size_t i = 0; i < listing.list.count && !options->noPaths; ++i) {
        const char* path = listing.list.files[i].path;
        const char* folder = storeFolderClash(path);
        if (!folder || skippedPathNote(path)) continue;
        fprintf(err, "refused: %s: at its path it would land in the store's own folder %s of OUT\n",
                escapePath(shown, path), folder);
        ++clashes;
    }
    if (clashes > 0) {
        fprintf(err,
                "orvel-publish: %zu file(s) refused; rename that folder of the client, or release with --no-paths "
                "(launchers that predate the store then cannot update); nothing written\n",
                clashes);
        goto cleanup;
    }

    if (storeRelease(src, outRoot, &listing, &launcher, options->noPaths, err) > 0 ||
        indexRelease(outRoot, &listing, &launcher, err) > 0) {
        fprintf(err, "orvel-publish: no manifest written to %s\n", escapePath(shown, outRoot));
        goto cleanup;
    }

    text = (char*)malloc(PUBLISH_DIRECTIVES_SIZE + listing.textLength + PUBLISH_SIGNATURE_LINE_SIZE);
    if (!text) goto outOfMemory;
    length = (size_t)sprintf(text, "#release %llu\r\n#objects\r\n#blocks %d %d\r\n", (unsigned long long)number,
                             PUBLISH_BLOCK_SIZE, PUBLISH_BLOCK_MIN_SIZE);
    if (options->expiresDays) {
        formatUtcTime((int64_t)time(nullptr) + (int64_t)options->expiresDays * 86400, expires);
        length += (size_t)sprintf(text + length, "#expires %s\r\n", expires);
    }
    if (launcher.path) {
        length +=
            (size_t)sprintf(text + length, "#launcher %s %llu\r\n", launcher.sha256, (unsigned long long)launcher.size);
    }
    memcpy(text + length, listing.text, listing.textLength);
    bodyLength = length += listing.textLength;
    if (key && !appendSignatureLine(key, text, &length, err)) goto cleanup;
    if (!readsBackAsWritten(text, length, number, options->expiresDays != 0, &launcher, key != nullptr, bodyLength)) {
        fprintf(err, "orvel-publish: internal error: the launcher would not read the directives as written\n");
        goto cleanup;
    }
    // The whole file, for launchers built before the #signature line.
    if (key && !signText(key, text, length, der, &derLength, err)) goto cleanup;

    historyName = (char*)malloc(sizeof(PUBLISH_HISTORY_FOLDER) + 32);
    if (!historyName) goto outOfMemory;
    sprintf(historyName, "%s/%llu.txt", PUBLISH_HISTORY_FOLDER, (unsigned long long)number);
    if (!writeDocument(outRoot, historyName, text, length, err) ||
        !writeDocument(outRoot, "manifest.txt", text, length, err)) {
        goto cleanup;
    }
    fprintf(err, "%s: release %llu, %zu files, %llu bytes", escapePath(shown, outRoot), (unsigned long long)number,
            listing.listed, (unsigned long long)listing.totalBytes);
    if (listing.skipped > 0) fprintf(err, " (%zu skipped)", listing.skipped);
    fputc('\n', err);
    manifestPath = joinLocalPath(outRoot, "manifest.txt");
    signaturePath = joinLocalPath(outRoot, "manifest.txt.sig");
    if (!manifestPath || !signaturePath) goto outOfMemory;
    if (key && !writeSignature(manifestPath, der, derLength, err)) goto cleanup;
    if (!key && localFileKind(signaturePath, &size) != PUBLISH_KIND_MISSING) {
        fprintf(err, "warning: %s is left from an earlier release and does not match this one: remove it\n",
                escapePath(shown, signaturePath));
    }
    if (newsText && !writeDocument(outRoot, "news.txt", newsText, newsLength, err)) goto cleanup;
    printUploadOrder(outRoot, options->noPaths, key != nullptr, newsText != nullptr, out);
    status = PUBLISH_EXIT_OK;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    freeSigningKey(key);
    freeReleaseHistory(&history);
    freeClientListing(&listing);
    free(signaturePath);
    free(manifestPath);
    free(historyName);
    free(newsText);
    free(text);
    free(outRoot);
    free(src);
    return status;
}
