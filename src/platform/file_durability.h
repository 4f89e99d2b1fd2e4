// What it takes for replaced files to survive a power cut, and what a failed
// file operation means for the player.
#pragma once

#include <string>
#include <system_error>
#include <vector>

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

// Whether `error`, met replacing, renaming or removing the file at `path`,
// says that another program has the file open right now, so that trying
// again later may succeed: on Windows a sharing or lock violation, or access
// denied to a file that is not read-only; elsewhere the file is busy.
bool HeldByAnotherProgram(const std::error_code& error, const std::string& path);

// The names of the programs that hold the file at `path` open, as far as
// the system can tell (on Windows its restart manager); empty when it
// cannot.
std::vector<std::string> ProgramsHolding(const std::string& path);

}  // namespace plat
