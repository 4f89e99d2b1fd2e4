// brfpublish verify: a server directory checked against everything the
// updater relies on finding there.
#pragma once

#include <string>
#include <vector>

namespace brfpublish {

// Every problem of the patch directory `patchDir` (the one holding
// _versions.txt), one text each, naming the file and, for the index, the
// line; empty when there is none. With `publicKeyHex` the index must be
// signed with that key; signature lines, with or without a key, must list
// every served file with its size and SHA-256, and must not have expired.
std::vector<std::string> VerifyPatchDir(const std::string& patchDir,
                                        const std::string& publicKeyHex = "");

}  // namespace brfpublish
