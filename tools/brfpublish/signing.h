// brfpublish's side of the signed version index: key files, the key pair,
// the serial of a publication and the signature lines of a built directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brfpublish {

// `brfpublish keygen`: writes a new key pair, the secret key to
// `secretFile` (readable by its owner only; an existing file is never
// overwritten) and the public key to `publicFile`. 0 done, 1 failed (the
// reason is on stderr).
int KeyGen(const std::string& secretFile, const std::string& publicFile);

// The key in a key file (hex digits, blanks and line ends around them
// ignored). Empty, with `error` set, when the file holds no such key; the
// secret key must also fit its own public half.
std::string LoadSecretKey(const std::string& path, std::string* error);
std::string LoadPublicKey(const std::string& path, std::string* error);

// The serial of the signed index in `patchDir`; none when it holds none.
std::optional<uint64_t> PublishedSerial(const std::string& patchDir);

// Appends the signature lines to `index` (the text of _versions.txt): the
// serial, the expiry when given, and the size and SHA-256 of every other
// file in `patchDir`, listed by the path the updater requests. False, with
// `error` set, when a file cannot be read or the key does not sign.
bool SignIndex(const std::string& patchDir, const std::string& secretKey, uint64_t serial,
               std::optional<int64_t> expires, std::string* index, std::string* error);

}  // namespace brfpublish
