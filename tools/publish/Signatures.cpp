#include <stdlib.h>

#include "tools/publish/Publish.h"
#include "update/Signature.h"

int signText(PublishSigningKey* key, const char* text, size_t length, unsigned char* der, size_t* derLength,
             FILE* err) {
    if (signMessage(key, (const unsigned char*)text, length, der, derLength)) return 1;
    fprintf(err, "orvel-publish: the signing library could not sign the manifest\n");
    return 0;
}

int writeSignature(const char* manifestPath, const unsigned char* der, size_t derLength, FILE* err) {
    char shown[PUBLISH_MESSAGE_TEXT_SIZE];
    char* signaturePath = withSuffix(manifestPath, ".sig");
    int written = signaturePath && writeReplacing(signaturePath, der, derLength);
    if (written) {
        fprintf(err, "%s: signed\n", escapePath(shown, signaturePath));
    } else {
        fprintf(err, "orvel-publish: cannot write the signature of %s\n", escapePath(shown, manifestPath));
    }
    free(signaturePath);
    return written;
}

PublishSigningKey* openSigningKey(const char* keyPath, FILE* err) {
    char reason[PUBLISH_MESSAGE_TEXT_SIZE];
    PublishSigningKey* key = loadSigningKey(keyPath, reason, sizeof(reason));
    if (!key) fprintf(err, "orvel-publish: %s\n", reason);
    return key;
}

int checkSignature(const char* publicKeyPath, const char* manifestPath, const char* text, size_t length, FILE* out) {
    char shownKey[PUBLISH_MESSAGE_TEXT_SIZE], shownSignature[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char xy[SIGNATURE_PAIR_SIZE], rs[SIGNATURE_PAIR_SIZE];
    size_t keyLength = 0, signatureLength = 0;
    int good = 0;
    char* keyText = readWholeFile(publicKeyPath, &keyLength);
    char* signaturePath = withSuffix(manifestPath, ".sig");
    char* signature = signaturePath ? readWholeFile(signaturePath, &signatureLength) : nullptr;
    const unsigned char* der = (const unsigned char*)signature;
    escapePath(shownKey, publicKeyPath);
    escapePath(shownSignature, signaturePath ? signaturePath : manifestPath);
    if (!keyText) {
        fprintf(out, "cannot read the public key %s\n", shownKey);
    } else if (!parseP256PublicKeyPem(keyText, keyLength, xy)) {
        fprintf(out, "%s is not an ECDSA P-256 public key in PEM form (\"-----BEGIN PUBLIC KEY-----\")\n", shownKey);
    } else if (!signature) {
        fprintf(out, "%s: missing; a launcher built with release keys installs nothing from this release\n",
                shownSignature);
    } else if (!parseEcdsaP256DerSignature(der, signatureLength, rs)) {
        // A DER sequence gives its own length in its second byte.
        if (signatureLength >= 2 && der[0] == 0x30 && der[1] < 0x80 && signatureLength < 2u + der[1]) {
            fprintf(out, "%s: cut short, %zu of %d bytes\n", shownSignature, signatureLength, 2 + der[1]);
        } else {
            fprintf(out, "%s: not an ECDSA P-256 signature in DER form (%zu bytes)\n", shownSignature, signatureLength);
        }
    } else if (!verifyP256Signature(xy, (const unsigned char*)text, length, rs)) {
        fprintf(out,
                "%s: not a signature of this manifest by %s (made with another key, or the manifest changed "
                "after signing)\n",
                shownSignature, shownKey);
    } else {
        fprintf(out, "%s: signed by %s\n", shownSignature, shownKey);
        good = 1;
    }
    free(signature);
    free(signaturePath);
    free(keyText);
    return good;
}
