// Whole-file reading and printf into a string: the two text chores every
// layer above the platform shares.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/printf_format.h"

namespace base {

// The bytes of the file at `path`; none when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// printf into a string.
std::string Printf(const char* format, ...) BRF_PRINTF_FORMAT(1, 2);

// `parts` with `separator` between them.
std::string Join(const std::vector<std::string>& parts, const std::string& separator);

}  // namespace base
