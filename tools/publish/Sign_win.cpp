#include <stdio.h>

#include "tools/publish/Publish.h"

// Private keys stay with OpenSSL on the operator's offline machine; this build
// checks signatures only, with the launcher's own code (verify --pub).
static const char PUBLISH_SIGN_ELSEWHERE[] =
    "this Windows build only checks signatures (verify --pub); make keys and sign releases with the Linux "
    "build of orvel-publish or with OpenSSL (openssl dgst -sha256 -sign NAME.key)";

int makeKeyPair(const char*, const char*, char* reason, size_t reasonSize) {
    snprintf(reason, reasonSize, "%s", PUBLISH_SIGN_ELSEWHERE);
    return 0;
}

PublishSigningKey* loadSigningKey(const char*, char* reason, size_t reasonSize) {
    snprintf(reason, reasonSize, "%s", PUBLISH_SIGN_ELSEWHERE);
    return nullptr;
}

int signMessage(PublishSigningKey*, const unsigned char*, size_t, unsigned char*, size_t*) { return 0; }

void freeSigningKey(PublishSigningKey*) {}
