// brfpublish verify: a server directory checked against everything the
// updater relies on finding there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace brfpublish {

// Every problem of the patch directory `patchDir` (the one holding
// _versions.txt), one text each, naming the file and, for the index, the
// line; empty when there is none. With `publicKeyHex` the index must be
// signed with that key; signature lines, with or without a key, must list
// every served file with its size and SHA-256, and must not have expired.
// Every announced delta must be served with its size and hash and must make
// the file its container holds; where `sources` (paths by their SHA-256)
// has the file a delta applies to, the delta is applied to it and must make
// that file. Every announced bundle must be served with its size and hash,
// each member's bytes in it must have the member's hash and be the member
// as served alone, and its members must be the files its section's walk
// lists, in that order (the container or one of its announced deltas).
// Every manifest line must be readable, the container it names served with
// the listed size, passing the container check and holding (so its header
// says) a file of the listed size; a section entry for a file the manifest
// lists must name the same container with the same size.
// With root documents (docs/signed-index.md) they must be root 1 to N, each
// following the one before, root 1 signed as updaters built with
// `rootKeys` (at `rootThreshold`; without them, by its own keys) require,
// the newest not expired, and the index signed under the newest by its
// index keys, with an expiry; `publicKeyHex` then checks the lines of
// updaters built with one key.
std::vector<std::string> VerifyPatchDir(const std::string& patchDir,
                                        const std::string& publicKeyHex = "",
                                        const std::map<std::string, std::string>& sources = {},
                                        const std::vector<std::string>& rootKeys = {},
                                        uint32_t rootThreshold = 1);

}  // namespace brfpublish
