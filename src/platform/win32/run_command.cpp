#include "platform/run_command.h"

#include <windows.h>

namespace plat {

namespace {

// One argument in the quoting that the C runtime's parser undoes.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

HANDLE OpenOutput(const std::string& name) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int RunCommand(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& stdoutFile, const std::string& stderrFile) {
    std::string commandLine = Quote(program);
    for (const std::string& a : arguments) {
        commandLine += ' ';
        commandLine += Quote(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    HANDLE out = stdoutFile.empty() ? INVALID_HANDLE_VALUE : OpenOutput(stdoutFile);
    HANDLE err = stderrFile.empty() ? INVALID_HANDLE_VALUE : OpenOutput(stderrFile);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out != INVALID_HANDLE_VALUE ? out : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = err != INVALID_HANDLE_VALUE ? err : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    if (err != INVALID_HANDLE_VALUE) {
        CloseHandle(err);
    }
    if (!started) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

}  // namespace plat
