// File times of a file on disk.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace plat {

// Gives the file at `path` the access time and the modification time (on
// Windows also the creation time), each in seconds since 1970-01-01 UTC.
bool SetFileTimes(const char* path, uint32_t accessTime, uint32_t modificationTime);

// The last-write time of the file at `path` in local time, with the two-second
// resolution of the platform's file dates (odd seconds are rounded down).
// False when the file cannot be examined.
bool FileLastWriteLocal(const char* path, LocalTime* out);

}  // namespace plat
