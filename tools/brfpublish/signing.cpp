#include "brfpublish/signing.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "index/game_files.h"
#include "index/signed_index.h"
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
    const signed_index::Reading reading = signed_index::ReadUnverified(*text);
    if (reading.verdict != signed_index::Verdict::Ok) {
        return std::nullopt;
    }
    return reading.manifest.serial;
}

bool SignIndex(const std::string& patchDir, const std::string& secretKey, uint64_t serial,
               std::optional<int64_t> expires, std::string* index, std::string* error) {
    signed_index::Manifest manifest;
    manifest.serial = serial;
    manifest.expires = expires;
    std::error_code ec;
    for (fs::directory_iterator it(patchDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name == game_files::kVersionIndex || !it->is_regular_file(ec)) {
            continue;
        }
        signed_index::ListedFile file;
        if (!signed_index::HashFile(it->path().string(), &file)) {
            *error = "cannot read " + it->path().string();
            return false;
        }
        manifest.files[game_files::InPatch(name)] = file;
    }
    if (ec) {
        *error = "cannot list " + patchDir + ": " + ec.message();
        return false;
    }
    base::Result<std::string> signedText = signed_index::Sign(*index, manifest, secretKey);
    if (!signedText) {
        *error = signedText.reason();
        return false;
    }
    *index = std::move(*signedText);
    return true;
}

}  // namespace brfpublish
