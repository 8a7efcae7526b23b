#include <stdlib.h>
#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Signature.h"

// keygen NAME: NAME.key and NAME.pub, never replacing a file.
int runKeygen(const PublishOptions* options, FILE* out, FILE* err) {
    const char* name = options->operands[0];
    char reason[PUBLISH_MESSAGE_TEXT_SIZE], shownKey[PUBLISH_MESSAGE_TEXT_SIZE], shownPublic[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char xy[SIGNATURE_PAIR_SIZE];
    int status = PUBLISH_EXIT_PROBLEM;
    size_t length = 0;
    char* publicText = nullptr;
    char* keyPath = withSuffix(name, ".key");
    char* publicPath = withSuffix(name, ".pub");
    if (!keyPath || !publicPath) {
        fprintf(err, "orvel-publish: out of memory\n");
        goto cleanup;
    }
    if (!makeKeyPair(keyPath, publicPath, reason, sizeof(reason))) {
        fprintf(err, "orvel-publish: %s\n", reason);
        goto cleanup;
    }
    // The public key must be one the launcher's build and parser accept.
    publicText = readWholeFile(publicPath, &length);
    if (!publicText || !parseP256PublicKeyPem(publicText, length, xy)) {
        fprintf(err, "orvel-publish: internal error: the launcher would not read %s\n", publicPath);
        goto cleanup;
    }
    escapePath(shownKey, keyPath);
    escapePath(shownPublic, publicPath);
    fprintf(out,
            "%s: the private key, readable by you alone. Sign releases with it on this machine; never put it "
            "on the update server.\n%s: the public key, no secret. Build the launcher with it (ORVEL_RELEASE_KEYS).\n",
            shownKey, shownPublic);
    status = PUBLISH_EXIT_OK;

cleanup:
    free(publicText);
    free(publicPath);
    free(keyPath);
    return status;
}
