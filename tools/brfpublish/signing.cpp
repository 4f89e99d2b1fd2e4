#include "brfpublish/signing.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "brfpublish/verify.h"
#include "index/game_files.h"
#include "index/signed_index.h"
#include "index/trust.h"
#include "platform/file_durability.h"
#include "platform/file_privacy.h"
#include "shared/base/s_text.h"

namespace fs = std::filesystem;

namespace brfpublish {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

}  // namespace

int KeyGen(const std::string& secretFile, const std::string& publicFile) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(secretFile, ec))) {
        std::fprintf(stderr,
                     "brfpublish: %s exists; a secret key is never overwritten (updaters built "
                     "with its public key would refuse every later index)\n",
                     secretFile.c_str());
        return 1;
    }
    std::string publicKey;
    std::string secretKey;
    if (!signed_index::MakeKeyPair(&publicKey, &secretKey)) {
        std::fprintf(stderr, "brfpublish: cannot make a key pair\n");
        return 1;
    }
    // The file is made empty and closed to its owner before the key goes in.
    {
        std::ofstream create(secretFile, std::ios::binary | std::ios::trunc);
        if (!create) {
            std::fprintf(stderr, "brfpublish: cannot create %s\n", secretFile.c_str());
            return 1;
        }
    }
    fs::permissions(secretFile, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace, ec);
    if (ec) {
        std::fprintf(stderr, "brfpublish: cannot restrict %s to its owner: %s\n",
                     secretFile.c_str(), ec.message().c_str());
        fs::remove(secretFile, ec);
        return 1;
    }
    std::ofstream secret(secretFile, std::ios::binary | std::ios::trunc);
    secret << secretKey << "\n";
    secret.close();
    std::ofstream pub(publicFile, std::ios::binary | std::ios::trunc);
    pub << publicKey << "\n";
    pub.close();
    if (secret.fail() || pub.fail()) {
        std::fprintf(stderr, "brfpublish: cannot write the key files\n");
        fs::remove(secretFile, ec);
        return 1;
    }
    std::printf("%s\n", publicKey.c_str());
    return 0;
}

std::string LoadSecretKey(const std::string& path, std::string* error) {
    // Whoever can read the key can sign for every updater built with its
    // public half; one that others can write could be swapped for theirs.
    if (const std::optional<std::string> mode = plat::OpenToOthers(path)) {
        *error = "the secret key file " + path + " can be read or changed by others (mode " +
                 *mode + "); make it private: chmod 600 " + path;
        return {};
    }
    const std::optional<std::string> text = base::ReadWholeFile(path);
    if (!text) {
        *error = "cannot read the secret key " + path;
        return {};
    }
    const std::string key = Trimmed(*text);
    if (signed_index::PublicKeyOf(key).empty()) {
        *error = path + " holds no secret key made by brfpublish keygen";
        return {};
    }
    return key;
}

std::string LoadPublicKey(const std::string& path, std::string* error) {
    const std::optional<std::string> text = base::ReadWholeFile(path);
    if (!text) {
        *error = "cannot read the public key " + path;
        return {};
    }
    const std::string key = Trimmed(*text);
    if (!signed_index::ValidPublicKey(key)) {
        *error = path + " holds no public key (64 hex digits)";
        return {};
    }
    return key;
}

std::optional<uint64_t> PublishedSerial(const std::string& patchDir) {
    const std::optional<std::string> text =
        base::ReadWholeFile((fs::path(patchDir) / game_files::kVersionIndex).string());
    if (!text) {
        return std::nullopt;
    }
    if (const base::Result<trust::Listing> listing = trust::ReadUnverified(*text)) {
        return listing->manifest.serial;
    }
    const signed_index::Reading reading = signed_index::ReadUnverified(*text);
    if (reading.verdict != signed_index::Verdict::Ok) {
        return std::nullopt;
    }
    return reading.manifest.serial;
}

base::Result<std::map<uint32_t, trust::Root>> RootsIn(const std::string& patchDir) {
    std::map<uint32_t, trust::Root> roots;
    std::error_code ec;
    for (fs::directory_iterator it(patchDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!game_files::IsRootDocument(name)) {
            continue;
        }
        const std::optional<std::string> text = base::ReadWholeFile(it->path().string());
        base::Result<trust::Root> root =
            text ? trust::ReadRoot(*text) : base::Fail("cannot be read");
        if (!root) {
            return base::Fail(it->path().string() + ": " + root.reason());
        }
        if (game_files::RootDocument(root->version) != name) {
            return base::Fail(it->path().string() + " holds root " + std::to_string(root->version));
        }
        roots.emplace(root->version, std::move(*root));
    }
    return roots;
}

base::Result<Signing> ChooseSigning(const std::string& patchDir,
                                    const std::vector<std::string>& keyFiles,
                                    const std::string& legacyKeyFile, bool retireLegacy) {
    std::string error;
    const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(patchDir);
    if (!roots) {
        return roots.failure();
    }
    Signing signing;
    if (roots->empty()) {
        if (!legacyKeyFile.empty() || retireLegacy) {
            return base::Fail(
                "--legacy-key and --retire-legacy-key belong to a directory with root documents "
                "(brfpublish root init); without them --key signs for updaters with one key");
        }
        if (keyFiles.size() != 1) {
            return base::Fail("without root documents one --key signs the index");
        }
        signing.legacyKey = LoadSecretKey(keyFiles[0], &error);
        return signing.legacyKey.empty() ? base::Result<Signing>(base::Fail(error)) : signing;
    }
    const trust::Root& newest = roots->rbegin()->second;
    std::set<std::string> signers;
    for (const std::string& file : keyFiles) {
        const std::string key = LoadSecretKey(file, &error);
        if (key.empty()) {
            return base::Fail(error);
        }
        if (newest.indexKeys.count(signed_index::PublicKeyOf(key)) == 0) {
            return base::Fail(file + " is not an index key of root " +
                              std::to_string(newest.version) + ", the newest in " + patchDir);
        }
        if (signers.insert(key).second) {
            signing.indexKeys.push_back(key);
        }
    }
    if (signers.size() < newest.indexThreshold) {
        return base::Fail("root " + std::to_string(newest.version) + " needs " +
                          std::to_string(newest.indexThreshold) +
                          " index key(s) to sign (--key), " + std::to_string(signers.size()) +
                          " given");
    }
    if (!legacyKeyFile.empty()) {
        signing.legacyKey = LoadSecretKey(legacyKeyFile, &error);
        if (signing.legacyKey.empty()) {
            return base::Fail(error);
        }
    } else if (!retireLegacy) {
        const std::optional<std::string> previous =
            base::ReadWholeFile((fs::path(patchDir) / game_files::kVersionIndex).string());
        if (previous &&
            signed_index::ReadUnverified(*previous).verdict == signed_index::Verdict::Ok) {
            return base::Fail(
                "the publication it replaces is signed for updaters built with one key: keep "
                "that with --legacy-key FILE, or end it with --retire-legacy-key once no player "
                "needs it");
        }
    }
    return signing;
}

base::Result<std::string> SignIndex(const std::string& patchDir, const std::string& body,
                                    const Signing& signing) {
    trust::Listing listing;
    listing.manifest.serial = signing.serial;
    listing.manifest.expires = signing.expires;
    listing.signedAt = signing.signedAt;
    std::error_code ec;
    for (fs::directory_iterator it(patchDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == game_files::kVersionIndex || game_files::IsRootDocument(name) ||
            !it->is_regular_file(ec)) {
            continue;
        }
        signed_index::ListedFile file;
        if (!signed_index::HashFile(it->path().string(), &file)) {
            return base::Fail("cannot read " + it->path().string());
        }
        listing.manifest.files[game_files::InPatch(name)] = file;
    }
    if (ec) {
        return base::Fail("cannot list " + patchDir + ": " + ec.message());
    }
    const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(patchDir);
    if (!roots) {
        return roots.failure();
    }
    if (roots->empty()) {
        return signed_index::Sign(body, listing.manifest, signing.legacyKey);
    }
    listing.root = roots->rbegin()->first;
    return trust::SignIndex(body, listing, signing.indexKeys, signing.legacyKey);
}

base::Result<> WriteInstallerBaseline(const std::string& outDir, const std::string& patchDir,
                                      const Signing& signing) {
    const fs::path save = fs::path(outDir) / "installer" / game_files::kSaveDir;
    std::error_code ec;
    fs::create_directories(save, ec);
    const base::Result<std::map<uint32_t, trust::Root>> roots = RootsIn(patchDir);
    if (!roots) {
        return roots.failure();
    }
    const auto write = [&save](const char* name, const std::string& text) {
        return ReplaceDurably((save / name).string(), text);
    };
    if (!roots->empty()) {
        const trust::State state{roots->rbegin()->second, signing.serial};
        if (base::Result<> written = write(game_files::kTrustState, trust::FormatState(state));
            !written) {
            return written;
        }
    }
    if (!signing.legacyKey.empty()) {
        return write(game_files::kIndexSerial, std::to_string(signing.serial) + "\r\n");
    }
    return {};
}

base::Result<> ReplaceDurably(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out || !plat::FlushFile(temporary.c_str())) {
            fs::remove(temporary, ec);
            return base::Fail("cannot write " + temporary);
        }
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return base::Fail("cannot replace " + path + ": " + ec.message());
    }
    plat::FlushDirectory(fs::path(path).parent_path().string().c_str());
    return {};
}

int Resign(const std::string& dir, const std::vector<std::string>& keyFiles,
           const std::string& legacyKeyFile, bool retireLegacy, std::optional<uint64_t> serial,
           int64_t expires) {
    const auto fail = [](int status, const std::string& why) {
        std::fprintf(stderr, "brfpublish: %s\n", why.c_str());
        return status;
    };
    fs::path patch = dir;
    std::error_code ec;
    if (!fs::exists(patch / game_files::kVersionIndex, ec)) {
        patch /= game_files::kPatchDir;
    }
    const std::string indexPath = (patch / game_files::kVersionIndex).string();
    const std::optional<std::string> text = base::ReadWholeFile(indexPath);
    if (!text) {
        return fail(1, "cannot read " + indexPath);
    }
    // What the old lines list must still be there byte for byte: a resign
    // renews the signature of a publication, never blesses a changed file.
    signed_index::Manifest listed;
    if (const base::Result<trust::Listing> listing = trust::ReadUnverified(*text)) {
        listed = listing->manifest;
    } else if (const signed_index::Reading reading = signed_index::ReadUnverified(*text);
               reading.verdict == signed_index::Verdict::Ok) {
        listed = reading.manifest;
    } else {
        return fail(2, indexPath + " is not signed; sign it with brfpublish build --key");
    }
    for (const auto& [name, file] : listed.files) {
        const std::string local = (patch / name.substr(name.find('/') + 1)).string();
        if (const base::Result<> same = signed_index::CheckFile(listed, name, local); !same) {
            return fail(1, same.reason() +
                               ": the publication changed since it was signed; "
                               "publish it again with brfpublish build");
        }
    }
    base::Result<Signing> signing =
        ChooseSigning(patch.string(), keyFiles, legacyKeyFile, retireLegacy);
    if (!signing) {
        return fail(2, signing.reason());
    }
    if (serial && *serial <= listed.serial) {
        return fail(2, "the serial " + std::to_string(*serial) + " is not above " +
                           std::to_string(listed.serial) + ", the published one");
    }
    signing->serial = serial.value_or(listed.serial + 1);
    signing->expires = expires;
    signing->signedAt = signed_index::NowUtc();
    const base::Result<std::string> signedText =
        SignIndex(patch.string(), trust::WithoutSignatures(*text), *signing);
    if (!signedText) {
        return fail(1, "cannot sign the index: " + signedText.reason());
    }
    if (const base::Result<> written = ReplaceDurably(indexPath, *signedText); !written) {
        return fail(1, written.reason());
    }
    const std::string legacyPublic =
        signing->legacyKey.empty() ? "" : signed_index::PublicKeyOf(signing->legacyKey);
    const std::vector<std::string> problems = VerifyPatchDir(patch.string(), legacyPublic);
    if (!problems.empty()) {
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "brfpublish: %s\n", problem.c_str());
        }
        const base::Result<> restored = ReplaceDurably(indexPath, *text);
        return fail(1, restored ? "the re-signed directory fails its check; the old index is back"
                                : "the re-signed directory fails its check, and the old index "
                                  "could not be put back: " +
                                      restored.reason());
    }
    if (const base::Result<> baseline = WriteInstallerBaseline(
            fs::path(patch).parent_path().string(), patch.string(), *signing);
        !baseline) {
        return fail(1, baseline.reason());
    }
    std::printf("re-signed %s: serial %llu, expires %s\n", indexPath.c_str(),
                static_cast<unsigned long long>(signing->serial),
                signed_index::FormatUtc(expires).c_str());
    return 0;
}

}  // namespace brfpublish
