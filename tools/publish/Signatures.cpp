#include <stdlib.h>
#include <string.h>

#include "shell/Text.h"
#include "tools/publish/Publish.h"
#include "update/Signature.h"

int signText(PublishSigningKey* key, const char* text, size_t length, unsigned char* der, size_t* derLength,
             FILE* err) {
    if (signMessage(key, (const unsigned char*)text, length, der, derLength)) return 1;
    fprintf(err, "orvel-publish: the signing library could not sign the manifest\n");
    return 0;
}

int appendSignatureLine(PublishSigningKey* key, char* text, size_t* length, FILE* err) {
    unsigned char der[SIGNATURE_DER_MAX_SIZE];
    char base64[PUBLISH_SIGNATURE_LINE_SIZE];
    size_t derLength = 0;
    if (!signText(key, text, *length, der, &derLength, err)) return 0;
    encodeBase64(der, derLength, base64);
    *length += (size_t)sprintf(text + *length, "#signature %s\r\n", base64);
    return 1;
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

// One DER signature (null when missing) of message by xy: 1, or 0 and why on out.
static int checkOneSignature(const unsigned char xy[SIGNATURE_PAIR_SIZE], const char* shownKey, const char* shownName,
                             const unsigned char* der, size_t derLength, const char* message, size_t length,
                             const char* whenMissing, FILE* out) {
    unsigned char rs[SIGNATURE_PAIR_SIZE];
    if (!der) {
        fprintf(out, "%s: missing; %s\n", shownName, whenMissing);
    } else if (!parseEcdsaP256DerSignature(der, derLength, rs)) {
        // A DER sequence gives its own length in its second byte.
        if (derLength >= 2 && der[0] == 0x30 && der[1] < 0x80 && derLength < 2u + der[1]) {
            fprintf(out, "%s: cut short, %zu of %d bytes\n", shownName, derLength, 2 + der[1]);
        } else {
            fprintf(out, "%s: not an ECDSA P-256 signature in DER form (%zu bytes)\n", shownName, derLength);
        }
    } else if (!verifyP256Signature(xy, (const unsigned char*)message, length, rs)) {
        fprintf(out,
                "%s: not a signature of this manifest by %s (made with another key, or the manifest changed "
                "after signing)\n",
                shownName, shownKey);
    } else {
        fprintf(out, "%s: signed by %s\n", shownName, shownKey);
        return 1;
    }
    return 0;
}

int checkSignatures(const char* publicKeyPath, const char* manifestPath, const char* text, size_t length,
                    const ManifestDirectives* directives, FILE* out) {
    char shownKey[PUBLISH_MESSAGE_TEXT_SIZE], shownSignature[PUBLISH_MESSAGE_TEXT_SIZE];
    char shownManifest[PUBLISH_MESSAGE_TEXT_SIZE], shownInline[PUBLISH_MESSAGE_TEXT_SIZE];
    unsigned char xy[SIGNATURE_PAIR_SIZE];
    size_t keyLength = 0, signatureLength = 0;
    int problems = 1;
    char* keyText = readWholeFile(publicKeyPath, &keyLength);
    char* signaturePath = withSuffix(manifestPath, ".sig");
    char* signature = signaturePath ? readWholeFile(signaturePath, &signatureLength) : nullptr;
    escapePath(shownKey, publicKeyPath);
    escapePath(shownSignature, signaturePath ? signaturePath : manifestPath);
    if (!keyText) {
        fprintf(out, "cannot read the public key %s\n", shownKey);
    } else if (!parseP256PublicKeyPem(keyText, keyLength, xy)) {
        fprintf(out, "%s is not an ECDSA P-256 public key in PEM form (\"-----BEGIN PUBLIC KEY-----\")\n", shownKey);
    } else {
        problems = 0;
        // The inline line covers every byte before it; the file, every byte.
        if (directives->hasSignature) {
            formatText(shownInline, sizeof(shownInline), "%s #signature", escapePath(shownManifest, manifestPath));
            problems += !checkOneSignature(xy, shownKey, shownInline, directives->signature,
                                           directives->signatureLength, text, directives->signedLength, "", out);
        }
        problems += !checkOneSignature(
            xy, shownKey, shownSignature, (const unsigned char*)signature, signatureLength, text, length,
            directives->hasSignature ? "launchers built before the #signature line install nothing from this release"
                                     : "a launcher built with release keys installs nothing from this release",
            out);
    }
    free(signature);
    free(signaturePath);
    free(keyText);
    return problems;
}
