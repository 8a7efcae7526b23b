#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Directives.h"
#include "update/Signature.h"

// A manifest that release wrote (it begins with directives) signed again: its
// body, every byte before any #signature line, gets a new last line. 0 after
// telling why.
static int signInline(PublishSigningKey* key, char** text, size_t* length, FILE* err) {
    ManifestDirectives directives;
    readManifestDirectives(*text, *length, &directives);
    if (directives.malformed) {
        fprintf(err, "orvel-publish: manifest.txt line %d: a directive that does not read; nothing signed\n",
                directives.malformedLine);
        return 0;
    }
    size_t body = directives.hasSignature ? directives.signedLength : *length;
    char* signedText = (char*)malloc(body + 2 + PUBLISH_SIGNATURE_LINE_SIZE);
    if (!signedText) {
        fprintf(err, "orvel-publish: out of memory\n");
        return 0;
    }
    memcpy(signedText, *text, body);
    // The signature line must be a line of its own.
    if (body > 0 && signedText[body - 1] != '\n') {
        memcpy(signedText + body, "\r\n", 2);
        body += 2;
    }
    if (!appendSignatureLine(key, signedText, &body, err)) {
        free(signedText);
        return 0;
    }
    free(*text);
    *text = signedText;
    *length = body;
    return 1;
}

// sign FOLDER --key NAME.key: FOLDER/manifest.txt.sig for the manifest as it
// is; a manifest that release wrote gets its #signature line first, so a key
// kept away from the client's files can sign a release.
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
    if (!key) goto cleanup;
    if (isDirectiveLine(text)) {
        if (!signInline(key, &text, &length, err)) goto cleanup;
        if (!writeReplacing(manifestPath, text, length)) {
            fprintf(err, "orvel-publish: cannot write %s\n", escapePath(shown, manifestPath));
            goto cleanup;
        }
    }
    if (signText(key, text, length, der, &derLength, err) && writeSignature(manifestPath, der, derLength, err)) {
        status = PUBLISH_EXIT_OK;
    }

cleanup:
    freeSigningKey(key);
    free(text);
    free(manifestPath);
    free(root);
    return status;
}
