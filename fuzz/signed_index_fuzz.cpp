// Feeds arbitrary version indexes to the reader of their signature lines:
// signed_index::Verify and signed_index::ReadUnverified. A signature that an
// attacker cannot forge is always wrong, so each input is also signed here
// with a key of the fuzzer's own, which takes the lines past the signature
// check into the reader of the lines that it covers.
//
// Whatever the bytes: a signature that holds never gives another reading
// than the same text read without the check; an index signed here is never
// taken for a bad signature; and what the publisher signs of a manifest
// that was read reads back as the same manifest.
//
//   fuzz/run.sh 600 signed_index
//
// The reader is the signature module's public interface; this include is
// the only place that names where it lives.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "index/signed_index.h"

namespace {

using signed_index::Manifest;
using signed_index::Reading;
using signed_index::Verdict;

struct Keys {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    std::string publicHex;
    std::string secretHex;
};

std::string Hex(const unsigned char* bytes, size_t size) {
    std::string hex(2 * size + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

// The fuzzer's own key pair, made once with "brfpublish keygen" and used for
// nothing else: fuzz/make_corpus.sh signs the seed index with it too, so
// that the seed passes the signature check.
constexpr const char* kSecretKeyHex =
    "e4b383b1c374327de6397e93a06aed17111fdf9931f0461ba42fffcb32a14b19"
    "2a2c9a40f96c42c143609d0a52a2a142bde55b0ba158fe7a7eba68b9f7356207";

const Keys& FuzzKeys() {
    static const Keys keys = [] {
        Keys k;
        k.secretHex = kSecretKeyHex;
        size_t length = 0;
        if (sodium_init() < 0 ||
            sodium_hex2bin(k.secretKey, sizeof k.secretKey, k.secretHex.data(), k.secretHex.size(),
                           nullptr, &length, nullptr) != 0 ||
            length != sizeof k.secretKey ||
            crypto_sign_ed25519_sk_to_pk(k.publicKey, k.secretKey) != 0) {
            std::abort();
        }
        k.publicHex = Hex(k.publicKey, sizeof k.publicKey);
        return k;
    }();
    return keys;
}

bool SameManifest(const Manifest& a, const Manifest& b) {
    if (a.serial != b.serial || a.expires != b.expires || a.files.size() != b.files.size()) {
        return false;
    }
    for (auto i = a.files.begin(), j = b.files.begin(); i != a.files.end(); ++i, ++j) {
        if (i->first != j->first || i->second.size != j->second.size ||
            i->second.sha256 != j->second.sha256) {
            return false;
        }
    }
    return true;
}

bool SameReading(const Reading& a, const Reading& b) {
    return a.verdict == b.verdict && a.reason == b.reason && SameManifest(a.manifest, b.manifest);
}

// `text` with a signature line of the fuzzer's key after its last line.
std::string SignedHere(std::string text) {
    if (!text.empty() && text.back() != '\n' && text.back() != '\r') {
        text += "\r\n";
    }
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(text.data()),
                         text.size(), FuzzKeys().secretKey);
    return text + signed_index::kSignatureTag + " " + Hex(signature, sizeof signature) + "\r\n";
}

// A reading that Verify may give with the fuzzer's key: a valid verdict,
// and a manifest that the format can carry when it is Ok.
void CheckReading(const Reading& reading) {
    if (reading.verdict != Verdict::Ok) {
        if (reading.reason.empty()) {
            std::abort();
        }
        return;
    }
    for (const auto& [name, file] : reading.manifest.files) {
        if (name.empty() || name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos ||
            file.sha256.size() != 64 ||
            file.sha256.find_first_not_of("0123456789abcdef") != std::string::npos) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Keys& keys = FuzzKeys();
    const std::string text(reinterpret_cast<const char*>(data), size);

    const Reading verified = signed_index::Verify(text, keys.publicHex);
    const Reading unverified = signed_index::ReadUnverified(text);
    CheckReading(verified);
    CheckReading(unverified);
    if (verified.verdict == Verdict::Ok && !SameReading(verified, unverified)) {
        std::abort();
    }

    const std::string signedText = SignedHere(text);
    const Reading signedReading = signed_index::Verify(signedText, keys.publicHex);
    CheckReading(signedReading);
    if (signedReading.verdict == Verdict::BadSignature ||
        signedReading.verdict == Verdict::Unsigned ||
        !SameReading(signedReading, signed_index::ReadUnverified(signedText))) {
        std::abort();
    }
    if (signedReading.verdict != Verdict::Ok) {
        return 0;
    }

    // What the publisher writes of the manifest reads back the same.
    const auto republished = signed_index::Sign("", signedReading.manifest, keys.secretHex);
    if (!republished) {
        std::abort();
    }
    const Reading again = signed_index::Verify(*republished, keys.publicHex);
    if (again.verdict != Verdict::Ok || !SameManifest(again.manifest, signedReading.manifest)) {
        std::abort();
    }
    return 0;
}
