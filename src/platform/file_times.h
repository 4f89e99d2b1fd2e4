// File times of a file on disk.
#pragma once

#include <cstdint>

namespace plat {

// Gives the file at `path` the access time and the modification time (on
// Windows also the creation time), each in seconds since 1970-01-01 UTC.
bool SetFileTimes(const char* path, uint32_t accessTime, uint32_t modificationTime);

}  // namespace plat
