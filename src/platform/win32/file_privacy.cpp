#include "platform/file_privacy.h"

namespace plat {

std::optional<std::string> OpenToOthers(const std::string&) {
    return std::nullopt;
}

}  // namespace plat
