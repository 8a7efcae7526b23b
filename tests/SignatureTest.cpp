#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "update/Signature.h"

namespace {

// Bytes from hexadecimal digits; blanks are ignored.
std::string hex(const std::string& digits) {
    std::string bytes, pair;
    for (char c : digits) {
        if (c == ' ') continue;
        pair += c;
        if (pair.size() == 2) bytes += (char)std::stoi(pair, nullptr, 16), pair.clear();
    }
    return bytes;
}

// tests/data/signed-message.sig: r has a leading zero, s has none.
const std::string OPENSSL_R = "a71a77e3d869a414334a3ef4267c18c710de37da588be632366df00ddca1beb7";
const std::string OPENSSL_S = "5cf48e1dd26bab3e9e464fc32d2bcc16377a10e3006676f0d3f76db77fd3eb65";
const std::string OPENSSL_DER = hex("3045 022100" + OPENSSL_R + "0220" + OPENSSL_S);
const std::string OPENSSL_RS = hex(OPENSSL_R + OPENSSL_S);

// tests/data/release-1.pub, its point X||Y, and its compressed form.
const std::string PEM_LINE_1 = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE0kDDZ9Krs7nVDTumhwh1O3SA3DrU";
const std::string PEM_LINE_2 = "iCr+aJVpwVjD98wmAeDJdX5sOwJGcWffF8qrDAATGJJtopblKJSsquI1+Q==";
const std::string RELEASE_1_XY =
    hex("d240c367d2abb3b9d50d3ba68708753b7480dc3ad4882afe689569c158c3f7cc"
        "2601e0c9757e6c3b02467167df17caab0c001318926da296e52894acaae235f9");
const std::string COMPRESSED_BODY =
    "MDkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDIgAD0kDDZ9Krs7nVDTumhwh1O3SA3DrU\n"
    "iCr+aJVpwVjD98w=\n";

std::string pem(const std::string& body, const std::string& end = "\n") {
    return "-----BEGIN PUBLIC KEY-----" + end + body + "-----END PUBLIC KEY-----" + end;
}
const std::string RELEASE_1_PEM = pem(PEM_LINE_1 + "\n" + PEM_LINE_2 + "\n");
const std::string RELEASE_1_PEM_CRLF = pem(PEM_LINE_1 + "\r\n" + PEM_LINE_2 + "\r\n", "\r\n");

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// "" when rejected, else r||s or X||Y; a rejected input leaves the output as it
// was. Inputs are copied to blocks of their exact size, so that
// AddressSanitizer sees any read past the end.
template <typename Byte>
std::string parsed(int (*parse)(const Byte*, size_t, unsigned char*), const std::string& input) {
    unsigned char pair[SIGNATURE_PAIR_SIZE];
    memset(pair, 0xa5, sizeof(pair));
    std::vector<Byte> exact(input.begin(), input.end());
    if (parse(exact.data(), exact.size(), pair)) return std::string((char*)pair, 64);
    EXPECT_EQ(std::string(64, '\xa5'), std::string((char*)pair, 64));
    return "";
}
std::string parsedDer(const std::string& der) { return parsed(parseEcdsaP256DerSignature, der); }
std::string parsedPem(const std::string& text) { return parsed(parseP256PublicKeyPem, text); }

TEST(SignatureDer, ReadsMinimalNumbersIntoFixedWidth) {
    const std::string one = std::string(31, 0) + "\x01", high = std::string(31, 0) + "\x80";
    EXPECT_EQ(OPENSSL_RS, parsedDer(OPENSSL_DER));
    EXPECT_EQ(one + std::string(31, 0) + "\x7f", parsedDer(hex("3006 020101 02017f")));
    EXPECT_EQ(high + one, parsedDer(hex("3007 02020080 020101")));
    const std::string full = "7f" + std::string(62, 'f');
    EXPECT_EQ(hex(full + full), parsedDer(hex("3044 0220" + full + "0220" + full)));
}

TEST(SignatureDer, RejectsEverythingElse) {
    const std::string max = std::string(64, 'f');
    const char* const rejected[][2] = {{"", "empty"},
                                       {"3006 020101 020101 00", "a byte after the sequence"},
                                       {"3007 020101 020101", "sequence longer than its content"},
                                       {"3005 020101 020101", "sequence shorter than its content"},
                                       {"308106 020101 020101", "long-form length"},
                                       {"3106 020101 020101", "a set, not a sequence"},
                                       {"3006 030101 020101", "a bit string, not an integer"},
                                       {"3005 0200 020101", "empty integer"},
                                       {"3006 020100 020101", "r is zero"},
                                       {"3006 020101 020100", "s is zero"},
                                       {"3006 020181 020101", "negative r"},
                                       {"3006 020101 0201ff", "negative s"},
                                       {"3007 02020001 020101", "needless leading zero"},
                                       {"3008 0203000080 020101", "two leading zeros"},
                                       {"3009 020101 020101 020101", "three integers"},
                                       {"3006 020101 020201", "s runs past the sequence"}};
    for (const auto& c : rejected) EXPECT_EQ("", parsedDer(hex(c[0]))) << c[1];
    // 33 significant bytes, with and without the sign byte.
    EXPECT_EQ("", parsedDer(hex("3026 022101" + max + "020101")));
    EXPECT_EQ("", parsedDer(hex("3027 02220080" + max + "020101")));
    for (size_t length = 0; length < OPENSSL_DER.size(); ++length) {
        EXPECT_EQ("", parsedDer(OPENSSL_DER.substr(0, length))) << "cut to " << length;
    }
}

TEST(SignaturePem, ReadsTheKeyAsOpenSslWritesIt) {
    const std::string accepted[] = {
        RELEASE_1_PEM, RELEASE_1_PEM_CRLF,
        RELEASE_1_PEM.substr(0, RELEASE_1_PEM.size() - 1),  // no line end after the last line
        pem(PEM_LINE_1 + PEM_LINE_2 + "\n"),                // one long line
    };
    for (const std::string& text : accepted) EXPECT_EQ(RELEASE_1_XY, parsedPem(text)) << text;
}

TEST(SignaturePem, RejectsOtherKeysAndMalformedText) {
    const std::string rejected[][2] = {
        {"\n" + RELEASE_1_PEM, "text before the block"},
        {RELEASE_1_PEM + "\n", "a blank line after it"},
        {RELEASE_1_PEM + RELEASE_1_PEM, "two blocks"},
        {replaced(RELEASE_1_PEM, "\n" + PEM_LINE_2, "\n\n" + PEM_LINE_2), "a blank line inside"},
        {replaced(RELEASE_1_PEM, "\n", "\r"), "a lone carriage return"},
        {replaced(RELEASE_1_PEM, "PUBLIC KEY-----\n", "EC PUBLIC KEY-----\n"), "another label"},
        {replaced(RELEASE_1_PEM, "-----END PUBLIC", "-----END PRIVATE"), "an end line of another label"},
        {replaced(RELEASE_1_PEM, "Krs7", "Kr*7"), "a byte outside base64"},
        {replaced(RELEASE_1_PEM, "Krs7", "Kr=7"), "padding inside the body"},
        {replaced(RELEASE_1_PEM, "+Q==", "+Q="), "padding cut"},
        {replaced(RELEASE_1_PEM, "+Q==", "+R=="), "bits set past the last byte"},
        {replaced(RELEASE_1_PEM, "+Q==", "+Q==AAAA"), "a body too long"},
        {replaced(RELEASE_1_PEM, "AQcD", "AQgD"), "another curve"},
        {replaced(RELEASE_1_PEM, "zj0C", "zj0E"), "another algorithm"},
        {replaced(RELEASE_1_PEM, "QgAE", "QgAC"), "a point not marked uncompressed"},
        {pem(COMPRESSED_BODY), "a compressed point"}};
    for (const auto& c : rejected) EXPECT_EQ("", parsedPem(c[0])) << c[1];
    // Cut anywhere but in its last line end.
    for (const std::string& whole : {RELEASE_1_PEM, RELEASE_1_PEM_CRLF}) {
        size_t lastLineEnd = whole.size() - (whole.back() == '\n' && whole[whole.size() - 2] == '\r' ? 2 : 1);
        for (size_t length = 0; length < lastLineEnd; ++length) {
            EXPECT_EQ("", parsedPem(whole.substr(0, length))) << "cut to " << length;
        }
    }
}

}  // namespace
