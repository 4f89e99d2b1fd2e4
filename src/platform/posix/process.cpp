// Starting programs as CreateProcessA does: the start itself succeeds or
// fails with an error code at once, and the caller does not wait for the
// program unless it asks to.
//
// A program is started by fork and execve. The child reports a failed execve
// through a pipe that closes on a successful one, so the parent knows the
// outcome before it returns. Programs started without waiting are started by
// a short-lived intermediate child that exits at once: the program is then
// adopted by init (or the nearest sub-reaper), which reaps it, and no zombie
// is left behind however long the caller runs.
//
// The started program gets none of the caller's file descriptors beyond
// standard input, output and error (Windows passes no handles without being
// asked), so it cannot keep the caller's named mutexes or sockets alive.
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

extern char** environ;

namespace plat {

namespace {

constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorFilenameTooLong = 206;

// The Win32 error CreateProcessA gives where execve fails with `error`.
uint32_t StartError(int error) {
    switch (error) {
        case 0:
            return kStartOk;
        case ENOENT:
            return kStartFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kStartAccessDenied;
        case ENOEXEC:
        case ELIBBAD:
            return kStartBadFormat;
        case ETXTBSY:
            return kErrorSharingViolation;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case E2BIG:
        case EINVAL:
            return kErrorInvalidParameter;
        default:
            return kErrorNotEnoughMemory;  // EAGAIN, ENOMEM and the like
    }
}

[[noreturn]] void WriteErrorAndExit(int pipeFd, int error) {
    ssize_t ignored = ::write(pipeFd, &error, sizeof error);
    static_cast<void>(ignored);
    _exit(127);
}

// Runs in the child between fork and execve, so it calls only what is safe
// after fork in a threaded program.
[[noreturn]] void ExecChild(const char* file, char* const* argv, int pipeFd, bool newGroup) {
    // A fresh program gets the default signal state, not the caller's.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (newGroup) {
        ::setpgid(0, 0);
    }
    bool marked = false;
#ifdef SYS_close_range
    constexpr unsigned kCloseRangeCloexec = 4;  // CLOSE_RANGE_CLOEXEC, Linux 5.11
    marked = syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0;
#endif
    if (!marked) {
        for (int fd = 3; fd < 4096; ++fd) {
            const int flags = ::fcntl(fd, F_GETFD);
            if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
                ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
            }
        }
    }
    ::execve(file, argv, environ);
    const int error = errno;
    // The caller's descriptors are shared with this child until it exits: they
    // are closed before the failure is reported, so that when the caller
    // learns of it, no lock of the caller's (a named mutex) is still held here.
    for (int fd = 3; fd < 4096; ++fd) {
        if (fd != pipeFd) {
            ::close(fd);
        }
    }
    WriteErrorAndExit(pipeFd, error);
}

int WaitForPid(pid_t pid, int* status) {
    for (;;) {
        if (::waitpid(pid, status, 0) == pid) {
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

// Reads the child's report: 0 when the pipe closed without one (execve
// succeeded), else the errno of the failure.
int ReadReport(int pipeFd) {
    int error = 0;
    size_t got = 0;
    auto* bytes = reinterpret_cast<char*>(&error);
    while (got < sizeof error) {
        const ssize_t n = ::read(pipeFd, bytes + got, sizeof error - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return got == sizeof error ? error : 0;
}

// Starts `file` with `args` (args[0] is the program's name for itself).
// With `pid` null the program is detached through an intermediate child;
// otherwise `pid` receives the child's id for the caller to wait for.
// `newGroup` gives the program a process group of its own.
uint32_t Spawn(const std::string& file, const std::vector<std::string>& args, pid_t* pid,
               bool newGroup = false) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return StartError(errno);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        return StartError(error);
    }
    if (child == 0) {
        ::close(fds[0]);
        if (pid == nullptr) {
            const pid_t grandchild = ::fork();
            if (grandchild < 0) {
                WriteErrorAndExit(fds[1], errno);
            }
            if (grandchild > 0) {
                _exit(0);
            }
        }
        ExecChild(file.c_str(), argv.data(), fds[1], newGroup);
    }
    ::close(fds[1]);
    const int error = ReadReport(fds[0]);
    ::close(fds[0]);
    if (pid == nullptr) {
        int status = 0;
        WaitForPid(child, &status);
    } else if (error != 0) {
        int status = 0;
        WaitForPid(child, &status);
    } else {
        *pid = child;
    }
    return StartError(error);
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file the shell would run for `program`: a name with a slash as it is,
// else the first executable of that name in the directories of PATH.
std::string SearchPath(const std::string& program) {
    if (program.empty() || program.find('/') != std::string::npos) {
        return program;
    }
    const char* pathEnv = std::getenv("PATH");
    const std::string_view dirs =
        pathEnv != nullptr && *pathEnv != '\0' ? pathEnv : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        const std::string_view dir =
            dirs.substr(start, end == std::string_view::npos ? end : end - start);
        // An empty entry stands for the current directory.
        std::string candidate = dir.empty() ? std::string(".") : std::string(dir);
        candidate += '/';
        candidate += program;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

uint32_t StartProgram(const std::string& path, bool newProcessGroup) {
    // An empty path names no file in any directory, as Windows sees it.
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    return Spawn(path, {path}, nullptr, newProcessGroup);
}

uint32_t RunProgramAndWait(const std::string& path, uint32_t* exitCode) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    pid_t pid = 0;
    const uint32_t started = Spawn(path, {path}, &pid);
    if (started != kStartOk) {
        return started;
    }
    int status = 0;
    const int error = WaitForPid(pid, &status);
    if (exitCode != nullptr) {
        if (error != 0) {
            *exitCode = 0;
        } else if (WIFEXITED(status)) {
            *exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            // A program ended by a signal reports it as the shell does.
            *exitCode = 128 + static_cast<uint32_t>(WTERMSIG(status));
        } else {
            *exitCode = 0;
        }
    }
    return kStartOk;
}

uint32_t StartCommand(const std::string& program, const std::vector<std::string>& args) {
    const std::string file = SearchPath(program);
    if (file.empty()) {
        return kStartFileNotFound;
    }
    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(file, argv, nullptr);
}

const std::string& CommandLine() {
    static const std::string line = [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        std::string joined;
        size_t start = 0;
        while (start < raw.size()) {
            size_t end = raw.find('\0', start);
            if (end == std::string::npos) {
                end = raw.size();
            }
            const std::string arg = raw.substr(start, end - start);
            if (!joined.empty()) {
                joined += ' ';
            }
            if (arg.empty() || arg.find_first_of(" \t") != std::string::npos) {
                joined += '"' + arg + '"';
            } else {
                joined += arg;
            }
            start = end + 1;
        }
        return joined;
    }();
    return line;
}

uint32_t OpenWebAddress(const std::string& url) {
    return StartCommand("xdg-open", {url});
}

const char* TextEditorCommand() {
    return "xdg-open";
}

std::string ProgramPath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    // A program file replaced while it runs (as the updater's own is) reads
    // back with this mark; the path is still the one the program ran from.
    constexpr std::string_view kDeleted = " (deleted)";
    struct stat st {};
    if (buffer.size() > kDeleted.size() && buffer.ends_with(kDeleted) &&
        ::stat(buffer.c_str(), &st) != 0) {
        buffer.resize(buffer.size() - kDeleted.size());
    }
    return buffer;
}

char PathSeparator() {
    return '/';
}

uint32_t ProcessId() {
    return static_cast<uint32_t>(::getpid());
}

}  // namespace plat
