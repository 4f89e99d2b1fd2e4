// Whether a file is kept from the other users of the machine, for files that
// hold secrets (the publisher's signing key).
#pragma once

#include <optional>
#include <string>

namespace plat {

// The file's permission mode as octal text ("0644") when users other than
// its owner may read or change it; nothing when it is private or cannot be
// examined. On POSIX that is any group or other permission bit. On Windows
// the permission bits say nothing of it (a file in the user's profile is
// private through the profile's access list): nothing.
std::optional<std::string> OpenToOthers(const std::string& path);

}  // namespace plat
