#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Signature.h"

// sign FOLDER --key NAME.key: FOLDER/manifest.txt.sig for the manifest as it is.
int runSign(const PublishOptions* options, FILE*, FILE* err) {
    const char* keyPath = options->key;
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    size_t length = 0, derLength = 0;
    int status = PUBLISH_EXIT_PROBLEM;
    char* text = nullptr;
    PublishSigningKey* key = nullptr;
    char* root = copyFolderName(options->operands[0]);
    char* manifestPath = root ? joinLocalPath(root, "manifest.txt") : nullptr;
    if (!manifestPath) {
        fprintf(err, "orvel-publish: out of memory\n");
        goto cleanup;
    }
    text = readWholeFile(manifestPath, &length);
    if (!text) {
        fprintf(err, "orvel-publish: cannot read %s\n", escapePath(shown, manifestPath));
        goto cleanup;
    }
    key = openSigningKey(keyPath, err);
    if (key && signText(key, text, length, der, &derLength, err) && writeSignature(manifestPath, der, derLength, err)) {
        status = PUBLISH_EXIT_OK;
    }

cleanup:
    freeSigningKey(key);
    free(text);
    free(manifestPath);
    free(root);
    return status;
}
