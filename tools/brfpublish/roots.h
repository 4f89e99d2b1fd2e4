// brfpublish root: the root documents of a server directory, made and
// followed as operators rotate and revoke keys (docs/signed-index.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brfpublish {

// What a root command changes; key files as keygen writes them.
struct RootChange {
    // Secret root keys that sign the new document.
    std::vector<std::string> signKeyFiles;
    // Public keys added to or removed from the root keys and index keys.
    std::vector<std::string> addRoot;
    std::vector<std::string> removeRoot;
    std::vector<std::string> addIndex;
    std::vector<std::string> removeIndex;
    std::optional<uint32_t> threshold;
    std::optional<uint32_t> indexThreshold;
    // Seconds since 1970 UTC.
    int64_t expires = 0;
};

// `brfpublish root init DIR`: root document 1 in DIR/patch, whose root keys
// are those of the signing keys and --add-root, and whose index keys are
// --add-index. Refused where a root document exists. 0 done, 1 failed, 2
// the options contradict each other or the directory.
int RootInit(const std::string& dir, const RootChange& change);

// `brfpublish root next DIR`: root N+1 in DIR/patch, root N with the
// changes, written only when the signing keys meet root N's threshold and
// its own: rotation, revocation, new root keys and a renewed expiry alike.
int RootNext(const std::string& dir, const RootChange& change);

}  // namespace brfpublish
