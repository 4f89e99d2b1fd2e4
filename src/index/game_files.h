// The names the update server and the game directory share, in one place
// for the updater and the publisher alike. Every file the server serves lies
// below "patch/" of its address, and the updater keeps what it receives
// under the same name below "patch/" of the game directory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace game_files {

inline constexpr const char* kPatchDir = "patch";
inline constexpr const char* kServerList = "_servers.dat";
inline constexpr const char* kVersionIndex = "_versions.txt";
// The next updater, as a container, and the program it holds.
inline constexpr const char* kUpdaterContainer = "updater.exe.upd";
inline constexpr const char* kUpdaterProgram = "updater.exe";
// The self-replacement's temporary copy of the next updater.
inline constexpr const char* kTempProgram = "updater.tmp.exe";
// The game client, whose version resource says which release is installed.
inline constexpr const char* kClientProgram = "BRFClient.exe";

// "patch/NAME".
inline std::string InPatch(std::string_view name) {
    return std::string(kPatchDir) + "/" + std::string(name);
}
inline const std::string kServerListPath = InPatch(kServerList);
inline const std::string kVersionIndexPath = InPatch(kVersionIndex);

// Root document `version` of signed updates: "_root.N.txt" below "patch/".
inline std::string RootDocument(uint32_t version) {
    return "_root." + std::to_string(version) + ".txt";
}
// Whether `name` (below "patch/") is a root document.
inline bool IsRootDocument(std::string_view name) {
    if (name.size() < 11 || name.substr(0, 6) != "_root." ||
        name.substr(name.size() - 4) != ".txt") {
        return false;
    }
    for (const char c : name.substr(6, name.size() - 10)) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// What a game directory keeps of the signed updates it accepted, and what
// an installer ships there: below "save/".
inline constexpr const char* kSaveDir = "save";
inline constexpr const char* kTrustState = "trust.sav";
inline constexpr const char* kIndexSerial = "indexserial.sav";

// Whether `path` names the client program, in any case (Windows' file
// names are not case-sensitive, and publishers wrote it both ways).
inline bool IsClientProgram(std::string_view path) {
    const std::string_view client = kClientProgram;
    if (path.size() != client.size()) {
        return false;
    }
    for (size_t i = 0; i < path.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(path[i]) != lower(client[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace game_files
