// Helpers of the Windows tests: a scratch directory, small files, running a
// command line to its end, and finding the programs built beside the test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace win32test {

// The directory of the running test program, ending in a backslash; the
// fixtures and the test child are built into it.
inline std::string ProgramDirectory() {
    const std::string path = plat::ProgramPath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

// A fresh directory below the temporary directory, removed with its content.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& purpose) {
        static int count = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("brf-" + purpose + "-" + std::to_string(plat::ProcessId()) + "-" +
                 std::to_string(++count));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Full path of `name` inside the directory, with backslashes.
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits until `path` exists; the bound only keeps a broken test from hanging.
inline bool WaitForFile(const std::string& path) {
    for (int waited = 0; waited < 60000; waited += 10) {
        if (std::filesystem::exists(path)) {
            return true;
        }
        plat::SleepMs(10);
    }
    return false;
}

// Waits until a named mutex exists.
inline bool WaitForMutex(const char* name) {
    for (int waited = 0; waited < 60000; waited += 10) {
        if (plat::NamedMutexExists(name)) {
            return true;
        }
        plat::SleepMs(10);
    }
    return false;
}

// Waits until a named mutex is gone, as it is when its last holder ended.
inline bool WaitUntilMutexGone(const char* name) {
    for (int waited = 0; waited < 60000; waited += 10) {
        if (!plat::NamedMutexExists(name)) {
            return true;
        }
        plat::SleepMs(10);
    }
    return false;
}

// The "key=value" lines of a report of the test child.
inline std::map<std::string, std::string> ParseReport(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return fields;
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
    ScratchDir scratch("regimport");
    const std::string file = scratch.File("values.reg");
    WriteFile(file, exportText);
    return RunToEnd("reg.exe import \"" + file + "\"") == 0;
}

// Removes a key with everything below it; `key` begins with HKCU or HKLM.
inline void DeleteRegistryKey(const std::string& key) {
    RunToEnd("reg.exe delete \"" + key + "\" /f");
}

}  // namespace win32test
