// Helpers of the Windows tests, beside the portable ones of the platform
// tests: finding the programs built for the tests, running a command line to
// its end, and registry values written by the system's own reg.exe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/process.h"
#include "support/test_support.h"

namespace win32test {

// The directory of the running test program, ending in a backslash; the
// fixtures are built into it.
inline std::string ProgramDirectory() {
    const std::string path = plat::ProgramPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

// Waits until the process with this id has ended (at once if it is gone).
inline void WaitForProcessEnd(uint32_t processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process) {
        WaitForSingleObject(process, 30000);
        CloseHandle(process);
    }
}

// Runs a command line (found along the search path) to its end, its output
// discarded; the exit status, or -1 if it could not be started.
inline long RunToEnd(std::string commandLine) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(nul);
    if (!started) {
        return -1;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return static_cast<long>(code);
}

// Loads registry values from the text of a REGEDIT4 export file through the
// system's reg.exe, so that the values do not come from the code under test.
inline bool ImportRegistry(const std::string& exportText) {
    brf_test::ScratchDir scratch;
    const std::string file = scratch.File("values.reg");
    brf_test::WriteFile(file, exportText);
    return RunToEnd("reg.exe import \"" + file + "\"") == 0;
}

// Removes a key with everything below it; `key` begins with HKCU or HKLM.
inline void DeleteRegistryKey(const std::string& key) {
    RunToEnd("reg.exe delete \"" + key + "\" /f");
}

}  // namespace win32test
