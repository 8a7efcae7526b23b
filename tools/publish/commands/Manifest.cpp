#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Signature.h"

// manifest CLIENT_DIR [-o FILE] [--client-dir-length N] [--key NAME.key]:
// the manifest of a client folder, signed when a key is given.
int runManifest(const PublishOptions* options, FILE* out, FILE* err) {
    int status = PUBLISH_EXIT_PROBLEM;
    ClientListing listing = {};
    PublishSigningKey* key = nullptr;
    const char* outputPath = options->output;
    char* root = copyFolderName(options->operands[0]);
    char* defaultOutput = nullptr;
    char* oldSignature = nullptr;
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    size_t derLength = 0;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE], shownOutput[PUBLISH_MESSAGE_TEXT_SIZE];
    const char* outputName = nullptr;

    if (!root) goto outOfMemory;
    if (!outputPath) {
        defaultOutput = joinLocalPath(root, "manifest.txt");
        if (!defaultOutput) goto outOfMemory;
        outputPath = defaultOutput;
    }
    outputName = strcmp(outputPath, "-") == 0 ? "standard output" : escapePath(shownOutput, outputPath);
    // The key first: a wrong path or pass phrase shows up before any hashing.
    if (options->key && !(key = openSigningKey(options->key, err))) goto cleanup;
    if (!listClientFolder(root, options->clientDirLength, nullptr, &listing, err)) {
        if (listing.refused > 0) {
            fprintf(err, "orvel-publish: %zu file(s) refused; no manifest written to %s\n", listing.refused,
                    outputName);
        }
        goto cleanup;
    }

    // Signed before anything is written: a failure leaves the old manifest and
    // its signature as they were.
    if (key && !signText(key, listing.text, listing.textLength, der, &derLength, err)) goto cleanup;
    if (strcmp(outputPath, "-") == 0) {
        if (fwrite(listing.text, 1, listing.textLength, out) != listing.textLength || fflush(out) != 0) {
            fprintf(err, "orvel-publish: cannot write the manifest to standard output\n");
            goto cleanup;
        }
    } else if (!writeReplacing(outputPath, listing.text, listing.textLength)) {
        fprintf(err, "orvel-publish: cannot write %s\n", outputName);
        goto cleanup;
    }
    fprintf(err, "%s: %zu files, %llu bytes", outputName, listing.listed, (unsigned long long)listing.totalBytes);
    if (listing.skipped > 0) fprintf(err, " (%zu skipped)", listing.skipped);
    fputc('\n', err);
    if (key && !writeSignature(outputPath, der, derLength, err)) goto cleanup;
    if (!key && strcmp(outputPath, "-") != 0) {
        // A signature of the manifest just replaced would pair with the new one on a server.
        uint64_t size = 0;
        oldSignature = withSuffix(outputPath, ".sig");
        if (!oldSignature) goto outOfMemory;
        if (localFileKind(oldSignature, &size) != PUBLISH_KIND_MISSING) {
            fprintf(err,
                    "warning: %s is left from an earlier manifest and may not match this one: sign this one "
                    "before publishing it\n",
                    escapePath(shown, oldSignature));
        }
    }
    status = PUBLISH_EXIT_OK;
    goto cleanup;

outOfMemory:
    fprintf(err, "orvel-publish: out of memory\n");
cleanup:
    freeSigningKey(key);
    freeClientListing(&listing);
    free(oldSignature);
    free(defaultOutput);
    free(root);
    return status;
}
