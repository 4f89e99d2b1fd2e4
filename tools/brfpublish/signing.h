// brfpublish's side of the signed version index: key files, the key pair,
// the serial of a publication and the signature lines of a built directory.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "index/trust.h"
#include "shared/base/s_result.h"

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

// The serial of the signed index in `patchDir` (its trust lines, else the
// lines of updaters with one key); none when it holds none.
std::optional<uint64_t> PublishedSerial(const std::string& patchDir);

// How a publication is signed.
struct Signing {
    // Secret keys (hex) that sign the trust lines: index keys of the newest
    // root. Empty in a directory without root documents.
    std::vector<std::string> indexKeys;
    // The secret key (hex) of the lines that updaters built with one key
    // check; empty: none.
    std::string legacyKey;
    uint64_t serial = 0;
    std::optional<int64_t> expires;
    int64_t signedAt = 0;
};

// The keys that sign a publication into a directory whose root documents
// and previous index are in `patchDir`. Without root documents the one
// `--key` signs the lines of updaters with one key, as it always did. With
// them `keyFiles` sign the trust lines and must be index keys the newest
// root allows, at its threshold; `legacyKeyFile` also signs for updaters
// with one key, and a publication that replaces one carrying those lines
// must either keep them or say `retireLegacy`.
base::Result<Signing> ChooseSigning(const std::string& patchDir,
                                    const std::vector<std::string>& keyFiles,
                                    const std::string& legacyKeyFile, bool retireLegacy);

// The root documents in `patchDir`, by version; a failure names one that
// is not a root document.
base::Result<std::map<uint32_t, trust::Root>> RootsIn(const std::string& patchDir);

// `body` (an index without signature lines) signed as `signing` says,
// listing the size and SHA-256 of every other file in `patchDir` by the
// path the updater requests (root documents, which carry their own
// signatures, excepted); trust lines under the newest root there, else
// the lines of updaters with one key.
base::Result<std::string> SignIndex(const std::string& patchDir, const std::string& body,
                                    const Signing& signing);

// What an installer ships in the game's save/ so that a fresh install
// starts from this publication: "trust.sav" (the newest root and the
// serial) with root documents, "indexserial.sav" where updaters with one
// key read the index. Written below `outDir`/installer/save/.
base::Result<> WriteInstallerBaseline(const std::string& outDir, const std::string& patchDir,
                                      const Signing& signing);

// Writes `text` beside `path`, flushed, and renames it into place: a server
// reads the old file or the new one, never a torn one.
base::Result<> ReplaceDurably(const std::string& path, const std::string& text);

// `brfpublish resign DIR`: the index of DIR/patch with new signature lines
// (serial and expiry renewed), nothing else rebuilt, replaced atomically.
// Every file the old lines list must still have the listed bytes. 0 done,
// 1 failed, 2 the options contradict the directory.
int Resign(const std::string& dir, const std::vector<std::string>& keyFiles,
           const std::string& legacyKeyFile, bool retireLegacy, std::optional<uint64_t> serial,
           int64_t expires);

}  // namespace brfpublish
