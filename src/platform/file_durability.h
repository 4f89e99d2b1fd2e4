// What it takes for replaced files to survive a power cut, and what a failed
// file operation means for the player.
#pragma once

#include <system_error>

namespace plat {

// Forces the contents of the file at `path` to the disk. False when the
// file cannot be opened or the system refuses.
bool FlushFile(const char* path);

// Forces the names of the directory at `path` (files renamed into it) to
// the disk. Where the system keeps names with the files' own data (Windows)
// there is nothing to do, and it returns true.
bool FlushDirectory(const char* path);

// Why a file could not be written or replaced, as far as it matters to the
// player: the drive is full, the system refuses (read-only, locked, in use,
// no permission), or something else.
enum class FileFault { DiskFull, Refused, Other };

// Takes both the C library's error numbers and the system's own codes.
FileFault ClassifyFileError(const std::error_code& error);

}  // namespace plat
