// Signed updates: with a public key or root keys built in, the version
// index must carry valid signatures, a serial not below the last one this
// game directory accepted and an expiry that has not long passed; and every
// file received afterwards must have the size and SHA-256 the index lists
// for it. Under root keys the roots the index needs are fetched and walked
// first (src/index/trust.h). Without a key everything stays as it was, and
// the log says so once.
#include <filesystem>

#include "index/game_files.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {

// A server that stopped publishing is noticed only a day after the index it
// froze expired, so clocks that are a little off do not stop updates.
constexpr int64_t kExpiryGrace = 86400;

// The last accepted serial; 0 when none was kept (or the file is damaged:
// the next signed index then sets it again).
uint64_t AcceptedSerial() {
    const std::optional<std::string> text = base::ReadWholeFile(UpdateSession::kSerialFile);
    if (!text) {
        return 0;
    }
    uint64_t serial = 0;
    size_t digits = 0;
    for (const char c : *text) {
        if (c < '0' || c > '9' || digits == 19) {
            break;
        }
        serial = serial * 10 + static_cast<uint64_t>(c - '0');
        ++digits;
    }
    return serial;
}

}  // namespace

bool UpdateSession::Authenticating() const {
    return !config_.publicKey.empty() || !config_.rootKeys.empty();
}

bool UpdateSession::AuthenticateIndex(CmdType Cmd) {
    signedFiles_.reset();
    if (!config_.rootKeys.empty()) {
        return AuthenticateUnderRoot(Cmd);
    }
    std::string reason;
    signed_index::Reading reading;
    const std::optional<std::string> text = base::ReadWholeFile(game_files::kVersionIndexPath);
    if (!text) {
        reason = "cannot read patch/_versions.txt";
    } else {
        reading = signed_index::Verify(*text, config_.publicKey);
        reason = reading.reason;
    }
    const uint64_t accepted = AcceptedSerial();
    if (reason.empty() && reading.manifest.serial < accepted) {
        reason = updater::Printf(
            "serial %llu is below %llu, the last one accepted here: an older index was replayed",
            static_cast<unsigned long long>(reading.manifest.serial),
            static_cast<unsigned long long>(accepted));
    }
    const bool expired = reason.empty() && reading.manifest.expires &&
                         signed_index::NowUtc() > *reading.manifest.expires + kExpiryGrace;
    if (expired) {
        reason = "it expired at " + signed_index::FormatUtc(*reading.manifest.expires) +
                 ": the server no longer publishes";
    }
    if (!reason.empty()) {
        RefuseIndex(Cmd, reason, expired ? Text(OwnText::ListExpired) : "");
        return false;
    }

    if (!AcceptServerListOf(Cmd, reading.manifest)) {
        return false;
    }
    // Replaced whole, so a crash leaves the old serial or the new one.
    if (reading.manifest.serial > accepted &&
        !updater::ReplaceFileDurably(kSerialFile, std::to_string(reading.manifest.serial) + "\r\n",
                                     "save")) {
        BRF_LOG(0, "** cannot keep the index serial in %s", kSerialFile);
    }
    BRF_LOG(1, "version index authenticated, serial %llu",
            static_cast<unsigned long long>(reading.manifest.serial));
    signedFiles_ = std::move(reading.manifest);
    return true;
}

void UpdateSession::RefuseIndex(CmdType Cmd, const std::string& reason, const std::string& line) {
    BRF_LOG(0, "** version index rejected: %s", reason.c_str());
    std::error_code ignored;
    fs::remove(kServerListTemp, ignored);
    FailRun(Cmd);
    if (!line.empty()) {
        // What the player can do about it, after the report that it failed.
        AddLogLine(line);
        SelectLastLine();
    }
}

bool UpdateSession::AcceptServerListOf(CmdType Cmd, const signed_index::Manifest& manifest) {
    // The server list waited for the index; it replaces the game's list only
    // when it is the one the index lists.
    const base::Result<> list =
        signed_index::CheckFile(manifest, game_files::kServerListPath, kServerListTemp);
    std::error_code error;
    std::error_code ignored;
    if (list) {
        fs::rename(kServerListTemp, "data/servers.dat", error);
    }
    if (!list || error) {
        BRF_LOG(0, "** server list rejected: %s",
                list ? error.message().c_str() : list.reason().c_str());
        fs::remove(kServerListTemp, ignored);
        FailRun(Cmd, RunState::ServerList);
        return false;
    }
    return true;
}

trust::State UpdateSession::KeptTrust() const {
    trust::State state{trust::Anchor(config_.rootKeys, config_.rootThreshold), 0};
    const std::optional<std::string> text = base::ReadWholeFile(kTrustFile);
    if (!text) {
        return state;  // a fresh install without the installer's baseline
    }
    base::Result<trust::State> kept = trust::ReadState(*text);
    if (!kept) {
        BRF_LOG(0, "** %s is damaged and ignored: %s", kTrustFile, kept.reason().c_str());
        return state;
    }
    if (kept->root.version == 0) {
        kept->root = state.root;
    }
    return *kept;
}

bool UpdateSession::AuthenticateUnderRoot(CmdType Cmd) {
    trust_ = KeptTrust();
    fetchedRoots_.clear();
    const std::optional<std::string> text = base::ReadWholeFile(game_files::kVersionIndexPath);
    indexText_ = text.value_or("");
    const base::Result<uint32_t> needs = trust::RootOfIndex(indexText_);
    rootsToFetch_ = needs ? trust::RootsToFetch(trust_, *needs) : std::vector<uint32_t>();
    if (!rootsToFetch_.empty()) {
        BRF_LOG(1, "the index is signed under root %u, this game directory trusts root %u", *needs,
                trust_.root.version);
        RequestNextRoot();
        return false;
    }
    return CheckUnderRoot(Cmd);
}

void UpdateSession::RequestNextRoot() {
    walkingRoots_ = true;
    sock_http->InputFileMode = true;
    sock_http->Body = kRootTemp;
    sock_http->Header.clear();
    RequestFile(game_files::InPatch(game_files::RootDocument(rootsToFetch_[fetchedRoots_.size()])),
                kMaxRootSize, Origin::SuccessHandler, true);
}

bool UpdateSession::ReceivedRoot(CmdType Cmd) {
    const uint32_t version = rootsToFetch_[fetchedRoots_.size()];
    const std::optional<std::string> text =
        sock_http->ReceivedBytes <= kMaxRootSize ? base::ReadWholeFile(kRootTemp) : std::nullopt;
    std::error_code ignored;
    fs::remove(kRootTemp, ignored);
    fetchedRoots_[version] = text.value_or("");
    if (fetchedRoots_.size() < rootsToFetch_.size()) {
        RequestNextRoot();
        return false;
    }
    walkingRoots_ = false;
    return CheckUnderRoot(Cmd);
}

void UpdateSession::RootNotReceived(CmdType Cmd) {
    // The walk ends short: the index is checked with the roots that came,
    // which refuses it for the one that did not.
    walkingRoots_ = false;
    std::error_code ignored;
    fs::remove(kRootTemp, ignored);
    CheckUnderRoot(Cmd);
}

bool UpdateSession::CheckUnderRoot(CmdType Cmd) {
    const int64_t now = signed_index::NowUtc();
    const trust::Outcome outcome = trust::Evaluate(trust_, indexText_, fetchedRoots_, now);
    // Every root walked to is genuine: it is kept even when the index is not.
    if (outcome.check == trust::Check::Accepted ||
        outcome.state.root.version != trust_.root.version) {
        if (!updater::ReplaceFileDurably(kTrustFile, trust::FormatState(outcome.state), "save")) {
            BRF_LOG(0, "** cannot keep the trusted root and serial in %s", kTrustFile);
        }
    }
    switch (outcome.check) {
        case trust::Check::Accepted:
            break;
        case trust::Check::Expired:
            RefuseIndex(Cmd, outcome.reason, Text(OwnText::ListExpired));
            return false;
        case trust::Check::FutureDated: {
            const auto day = [](int64_t t) { return signed_index::FormatUtc(t).substr(0, 10); };
            RefuseIndex(Cmd, outcome.reason,
                        updater::Printf(Text(OwnText::ClockWrong), day(now).c_str(),
                                        day(outcome.listing.signedAt).c_str()));
            return false;
        }
        case trust::Check::Refused:
            RefuseIndex(Cmd, outcome.reason, "");
            return false;
    }
    if (!AcceptServerListOf(Cmd, outcome.listing.manifest)) {
        return false;
    }
    BRF_LOG(1, "version index authenticated under root %u, serial %llu", outcome.state.root.version,
            static_cast<unsigned long long>(outcome.listing.manifest.serial));
    signedFiles_ = outcome.listing.manifest;
    return true;
}

base::Result<> UpdateSession::Authentic(const std::string& requestPath,
                                        const std::string& localPath) const {
    if (!Authenticating()) {
        return {};
    }
    if (!signedFiles_) {
        return base::Fail("no signed index was accepted in this run");
    }
    return signed_index::CheckFile(*signedFiles_, requestPath, localPath);
}
