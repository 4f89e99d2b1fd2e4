// Signed updates: with a public key built in, the version index must carry a
// valid signature, a serial not below the last one this game directory
// accepted and an expiry that has not long passed; and every file received
// afterwards must have the size and SHA-256 the index lists for it. Without
// a key everything stays as it was, and the log says so once.
#include <filesystem>

#include "index/game_files.h"
#include "shared/base/s_logging.h"
#include "updater/session/u_session.h"

namespace fs = std::filesystem;

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
    return !config_.publicKey.empty();
}

bool UpdateSession::AuthenticateIndex(CmdType Cmd) {
    signedFiles_.reset();
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
    if (reason.empty() && reading.manifest.expires &&
        signed_index::NowUtc() > *reading.manifest.expires + kExpiryGrace) {
        reason = "it expired at " + signed_index::FormatUtc(*reading.manifest.expires) +
                 ": the server no longer publishes";
    }
    std::error_code ignored;
    if (!reason.empty()) {
        BRF_LOG(0, "** version index rejected: %s", reason.c_str());
        fs::remove(kServerListTemp, ignored);
        FailRun(Cmd);
        return false;
    }

    // The server list waited for the index; it replaces the game's list only
    // when it is the one the index lists.
    const base::Result<> list =
        signed_index::CheckFile(reading.manifest, game_files::kServerListPath, kServerListTemp);
    std::error_code error;
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
