#include <windows.h>

#include <shellapi.h>

#include "platform/process.h"

namespace plat {

namespace {

// Quotes one argument so that the C runtime of the started program splits it
// back out unchanged: backslashes are doubled only in front of a quote.
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

// CreateProcessA may write into the command line; it gets a copy.
uint32_t Start(const char* applicationName, std::string commandLine, PROCESS_INFORMATION* info,
               DWORD flags = 0) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(applicationName, commandLine.data(), nullptr, nullptr, FALSE, flags,
                        nullptr, nullptr, &startup, info)) {
        return GetLastError();
    }
    return kStartOk;
}

}  // namespace

// The program's only argument is its own path, so the command line is that
// path in quotes. The application name is given, so the search path is not
// used and no ".exe" is added.
uint32_t StartProgram(const std::string& path, bool newProcessGroup) {
    PROCESS_INFORMATION info{};
    const uint32_t result = Start(path.c_str(), "\"" + path + "\"", &info,
                                  newProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0);
    if (result == kStartOk) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    return result;
}

uint32_t RunProgramAndWait(const std::string& path, uint32_t* exitCode) {
    PROCESS_INFORMATION info{};
    const uint32_t result = Start(path.c_str(), "\"" + path + "\"", &info);
    if (result != kStartOk) {
        return result;
    }
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    if (exitCode) {
        *exitCode = code;
    }
    return kStartOk;
}

// Without an application name CreateProcessA looks the first word of the
// command line up along the search path.
uint32_t StartCommand(const std::string& program, const std::vector<std::string>& args) {
    std::string commandLine = QuoteArgument(program);
    for (const std::string& arg : args) {
        commandLine += ' ';
        commandLine += QuoteArgument(arg);
    }
    PROCESS_INFORMATION info{};
    const uint32_t result = Start(nullptr, commandLine, &info);
    if (result == kStartOk) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    return result;
}

const std::string& CommandLine() {
    static const std::string commandLine = GetCommandLineA();
    return commandLine;
}

uint32_t OpenWebAddress(const std::string& url) {
    // ShellExecute reports success as a value above 32.
    const auto result = reinterpret_cast<intptr_t>(
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32 ? kStartOk : static_cast<uint32_t>(result);
}

const char* TextEditorCommand() {
    return "notepad.exe";
}

std::string ProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), path.size());
        if (length == 0) {
            return std::string();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

char PathSeparator() {
    return '\\';
}

uint32_t ProcessId() {
    return GetCurrentProcessId();
}

}  // namespace plat
