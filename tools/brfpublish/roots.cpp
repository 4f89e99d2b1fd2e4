#include "brfpublish/roots.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "brfpublish/signing.h"
#include "index/game_files.h"
#include "index/signed_index.h"
#include "index/trust.h"
#include "shared/base/s_text.h"

namespace fs = std::filesystem;

namespace brfpublish {

namespace {

int Refuse(int status, const std::string& why) {
    std::fprintf(stderr, "brfpublish: %s\n", why.c_str());
    return status;
}

// The public keys in `files`; a failure names the first that holds none.
base::Result<std::vector<std::string>> PublicKeys(const std::vector<std::string>& files) {
    std::vector<std::string> keys;
    for (const std::string& file : files) {
        std::string error;
        const std::string key = LoadPublicKey(file, &error);
        if (key.empty()) {
            return base::Fail(error);
        }
        std::string lower = key;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        keys.push_back(lower);
    }
    return keys;
}

// `root` with the changes and signed; checked against `trusted` (the
// previous root, or the anchor of the new one's own keys) before it is
// written as DIR/patch/_root.N.txt.
int Write(const fs::path& patch, trust::Root root, const trust::Root& trusted,
          const RootChange& change) {
    const base::Result<std::vector<std::string>> addRoot = PublicKeys(change.addRoot);
    const base::Result<std::vector<std::string>> removeRoot = PublicKeys(change.removeRoot);
    const base::Result<std::vector<std::string>> addIndex = PublicKeys(change.addIndex);
    const base::Result<std::vector<std::string>> removeIndex = PublicKeys(change.removeIndex);
    for (const auto* keys : {&addRoot, &removeRoot, &addIndex, &removeIndex}) {
        if (!*keys) {
            return Refuse(1, keys->reason());
        }
    }
    std::vector<std::string> secrets;
    for (const std::string& file : change.signKeyFiles) {
        std::string error;
        const std::string secret = LoadSecretKey(file, &error);
        if (secret.empty()) {
            return Refuse(1, error);
        }
        secrets.push_back(secret);
    }
    root.rootKeys.insert(addRoot->begin(), addRoot->end());
    root.indexKeys.insert(addIndex->begin(), addIndex->end());
    for (const std::string& key : *removeRoot) {
        if (root.rootKeys.erase(key) == 0) {
            return Refuse(2,
                          key + " is not a root key of root " + std::to_string(root.version - 1));
        }
    }
    for (const std::string& key : *removeIndex) {
        if (root.indexKeys.erase(key) == 0) {
            return Refuse(2,
                          key + " is not an index key of root " + std::to_string(root.version - 1));
        }
    }
    root.threshold = change.threshold.value_or(root.threshold);
    root.indexThreshold = change.indexThreshold.value_or(root.indexThreshold);
    root.expires = change.expires;
    if (root.threshold == 0 || root.threshold > root.rootKeys.size() || root.indexThreshold == 0 ||
        root.indexThreshold > root.indexKeys.size()) {
        return Refuse(2, "root " + std::to_string(root.version) + " would have " +
                             std::to_string(root.rootKeys.size()) +
                             " root key(s) for a threshold of " + std::to_string(root.threshold) +
                             " and " + std::to_string(root.indexKeys.size()) +
                             " index key(s) for a threshold of " +
                             std::to_string(root.indexThreshold));
    }
    const base::Result<std::string> text = trust::SignLines(trust::FormatRoot(root), secrets);
    if (!text) {
        return Refuse(1, text.reason());
    }
    // What updaters would refuse is never published.
    const base::Result<trust::Root> followed = trust::FollowRoot(trusted, *text);
    if (!followed) {
        return Refuse(2, followed.reason() + "; nothing was written");
    }
    std::error_code ec;
    fs::create_directories(patch, ec);
    const fs::path path = patch / game_files::RootDocument(root.version);
    if (const base::Result<> written = ReplaceDurably(path.string(), *text); !written) {
        return Refuse(1, written.reason());
    }
    std::printf(
        "%s: root %u, %zu root key(s) (%u to sign), %zu index key(s) (%u to sign), "
        "expires %s\n",
        path.string().c_str(), root.version, root.rootKeys.size(), root.threshold,
        root.indexKeys.size(), root.indexThreshold, signed_index::FormatUtc(*root.expires).c_str());
    std::printf("sign the index under it: brfpublish resign %s --key INDEXKEY...\n",
                patch.parent_path().string().c_str());
    return 0;
}

fs::path PatchOf(const std::string& dir) {
    std::error_code ec;
    const fs::path given = dir;
    return fs::exists(given / game_files::kVersionIndex, ec) ? given
                                                             : given / game_files::kPatchDir;
}

}  // namespace

int RootInit(const std::string& dir, const RootChange& change) {
    const fs::path patch = PatchOf(dir);
    const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(patch.string());
    if (!roots) {
        return Refuse(1, roots.reason());
    }
    if (!roots->empty()) {
        return Refuse(2, patch.string() +
                             " has root documents already; the next one is made "
                             "with brfpublish root next");
    }
    if (!change.removeRoot.empty() || !change.removeIndex.empty()) {
        return Refuse(2, "root init removes no keys");
    }
    trust::Root root;
    root.version = 1;
    std::vector<std::string> signers;
    for (const std::string& file : change.signKeyFiles) {
        std::string error;
        const std::string secret = LoadSecretKey(file, &error);
        if (secret.empty()) {
            return Refuse(1, error);
        }
        root.rootKeys.insert(signed_index::PublicKeyOf(secret));
        signers.push_back(signed_index::PublicKeyOf(secret));
    }
    const base::Result<std::vector<std::string>> added = PublicKeys(change.addRoot);
    if (!added) {
        return Refuse(1, added.reason());
    }
    signers.insert(signers.end(), added->begin(), added->end());
    // Root 1 is checked as updaters built with its root keys check it.
    const trust::Root anchor = trust::Anchor(signers, change.threshold.value_or(1));
    return Write(patch, root, anchor, change);
}

int RootNext(const std::string& dir, const RootChange& change) {
    const fs::path patch = PatchOf(dir);
    const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(patch.string());
    if (!roots) {
        return Refuse(1, roots.reason());
    }
    if (roots->empty()) {
        return Refuse(2, patch.string() +
                             " has no root document; the first is made with "
                             "brfpublish root init");
    }
    const trust::Root& newest = roots->rbegin()->second;
    trust::Root next = newest;
    next.version = newest.version + 1;
    return Write(patch, next, newest, change);
}

}  // namespace brfpublish
