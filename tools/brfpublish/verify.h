// brfpublish verify: a server directory checked against everything the
// updater relies on finding there.
#pragma once

#include <string>
#include <vector>

namespace brfpublish {

// Every problem of the patch directory `patchDir` (the one holding
// _versions.txt), one text each, naming the file and, for the index, the
// line; empty when there is none.
std::vector<std::string> VerifyPatchDir(const std::string& patchDir);

}  // namespace brfpublish
