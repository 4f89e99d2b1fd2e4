// Starting other programs and facts about the running one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Win32 error codes with which a start can fail.
inline constexpr uint32_t kStartOk = 0;
inline constexpr uint32_t kStartFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kStartAccessDenied = 5;  // ERROR_ACCESS_DENIED
inline constexpr uint32_t kStartBadFormat = 193;   // ERROR_BAD_EXE_FORMAT

// Starts the program at `path` (not searched on the system path; a path
// without a directory is taken relative to the current directory) with `path`
// as its only argument, without waiting. The program inherits the current
// directory and the environment. Returns kStartOk or the error of the start.
// With `newProcessGroup` the program starts a process group of its own
// (CREATE_NEW_PROCESS_GROUP; setpgid on POSIX), so it outlives the caller's
// group, as the stages of the updater's self-replacement need.
uint32_t StartProgram(const std::string& path, bool newProcessGroup = false);

// As StartProgram, then waits until the program has ended; `exitCode`
// receives its exit status.
uint32_t RunProgramAndWait(const std::string& path, uint32_t* exitCode);

// Starts `program`, found through the system's search path, with `args`,
// without waiting (the text editor, the command that opens web addresses).
uint32_t StartCommand(const std::string& program, const std::vector<std::string>& args);

// The program that opens a text file for reading, started with StartCommand
// and the file's name: the system's text editor on Windows, the desktop's
// opener elsewhere.
const char* TextEditorCommand();

// Opens the web address `url` the system's own way, without waiting: the
// shell's "open" verb on Windows, the desktop's opener (xdg-open) elsewhere.
uint32_t OpenWebAddress(const std::string& url);

// The command line as the process received it: on Windows the text of
// GetCommandLineA, elsewhere the arguments joined by blanks, each one that
// contains a blank in double quotes.
const std::string& CommandLine();

// Full path of the running program's file.
std::string ProgramPath();

// The platform's directory separator: "\" on Windows, "/" elsewhere.
char PathSeparator();

// The id of the running process.
uint32_t ProcessId();

}  // namespace plat
