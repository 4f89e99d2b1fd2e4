// The signed version index: the signature lines that the publisher appends
// to "patch/_versions.txt" and that an updater with a public key checks
// before it believes anything the index says. The format is described in
// docs/signed-index.md; this module is its only reader and writer.
//
// Every signature line begins with "#", so the index reader removes them
// like any comment and an updater without a key reads a signed index exactly
// as an unsigned one.
//
// The cryptography is libsodium's: Ed25519 for the signature, SHA-256 for
// the files it lists.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "shared/base/s_result.h"

namespace signed_index {

// Line prefixes of the format.
inline constexpr const char* kHeaderTag = "#brf-signed-index";
inline constexpr const char* kFileTag = "#brf-file";
inline constexpr const char* kSignatureTag = "#brf-signature";
// The format version written after the header tag.
inline constexpr const char* kFormatVersion = "1";

// What a signed index lists of one published file.
struct ListedFile {
    uint64_t size = 0;
    std::string sha256;  // 64 lower-case hex digits
};

// The content of the signature lines.
struct Manifest {
    uint64_t serial = 0;
    // Seconds since 1970-01-01 00:00:00 UTC; none when the index does not
    // expire.
    std::optional<int64_t> expires;
    // By the path the updater requests below the server's base address,
    // "patch/_servers.dat", "patch/updater.exe.upd", "patch/NAME".
    std::map<std::string, ListedFile> files;
};

enum class Verdict {
    Ok,
    Unsigned,      // no signature line at all
    Malformed,     // signature lines that break the format
    BadSignature,  // the signature does not fit the bytes and the key
};

struct Reading {
    Verdict verdict = Verdict::Unsigned;
    // Why the index is not Ok, for the log and the operator.
    std::string reason;
    Manifest manifest;
};

// Checks the raw bytes of an index against `publicKeyHex` (64 hex digits):
// the last line must be the signature over every byte before it, and only
// then are the other signature lines read.
Reading Verify(const std::string& text, const std::string& publicKeyHex);

// Reads the signature lines without checking the signature: for the
// publisher, which takes the previous serial from the directory it replaces
// and checks the listed hashes of a directory without a key.
Reading ReadUnverified(const std::string& text);

// `text` with the signature lines appended: the header, one line per listed
// file in name order, and the signature over all of that. A failure for a
// bad key, a text that carries signature lines already, or a name the
// format cannot hold.
base::Result<std::string> Sign(const std::string& text, const Manifest& manifest,
                               const std::string& secretKeyHex);

// Size and SHA-256 of a file; false when it cannot be read.
bool HashFile(const std::string& path, ListedFile* out);

// SHA-256 of bytes that arrive piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const void* data, size_t size);
    // 64 lower-case hex digits; the hasher starts anew afterwards.
    std::string HexDigest();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Whether the file at `localPath` is the one listed as `requestPath`: ok
// when it is, else the reason it is not (not listed, other size, other
// hash, unreadable).
base::Result<> CheckFile(const Manifest& manifest, const std::string& requestPath,
                         const std::string& localPath);

// A new key pair, as hex digits: 64 for the public key, 128 for the secret
// key (its seed followed by the public key).
bool MakeKeyPair(std::string* publicKeyHex, std::string* secretKeyHex);
// The Ed25519 signature of `bytes` (128 hex digits); empty when
// `secretKeyHex` is not a secret key.
std::string SignDetached(const std::string& bytes, const std::string& secretKeyHex);
// Whether `signatureHex` is the signature of `bytes` by `publicKeyHex`.
bool VerifyDetached(const std::string& bytes, const std::string& signatureHex,
                    const std::string& publicKeyHex);
// The public key of a secret key; empty when `secretKeyHex` is not one.
std::string PublicKeyOf(const std::string& secretKeyHex);
// True for 64 hex digits.
bool ValidPublicKey(const std::string& publicKeyHex);

// "yyyy-mm-ddThh:mm:ssZ" for seconds since 1970 UTC, and back; the parser
// also takes a blank in place of the "T" and no "Z".
std::string FormatUtc(int64_t seconds);
std::optional<int64_t> ParseUtc(const std::string& text);
// The current time in seconds since 1970 UTC.
int64_t NowUtc();

}  // namespace signed_index
