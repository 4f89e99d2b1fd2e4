#include "platform/file_privacy.h"

#include <cstdio>
#include <filesystem>

namespace plat {

std::optional<std::string> OpenToOthers(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::perms mode = fs::status(path, ec).permissions();
    if (ec || (mode & (fs::perms::group_all | fs::perms::others_all)) == fs::perms::none) {
        return std::nullopt;
    }
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & fs::perms::mask));
    return std::string(octal);
}

}  // namespace plat
