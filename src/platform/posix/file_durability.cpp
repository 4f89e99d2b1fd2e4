#include "platform/file_durability.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>

namespace plat {

namespace {

bool Sync(const char* path, int flags) {
    const int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

bool FlushFile(const char* path) {
    return Sync(path, O_RDONLY);
}

bool FlushDirectory(const char* path) {
    return Sync(path, O_RDONLY | O_DIRECTORY);
}

FileFault ClassifyFileError(const std::error_code& error) {
    switch (error.default_error_condition().value()) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileFault::DiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
        case EBUSY:
            return FileFault::Refused;
        default:
            return FileFault::Other;
    }
}

bool HeldByAnotherProgram(const std::error_code& error, const std::string&) {
    const int value = error.default_error_condition().value();
    return error.default_error_condition().category() == std::generic_category() &&
           (value == EBUSY || value == ETXTBSY);
}

// Nothing here keeps another program from replacing an open file, but a
// file that is busy is still worth naming the programs that have it open:
// each process's open files are links below /proc.
std::vector<std::string> ProgramsHolding(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path wanted = fs::canonical(path, error);
    if (error) {
        return {};
    }
    const std::string self = std::to_string(getpid());
    std::set<std::string> names;
    for (fs::directory_iterator process("/proc", error), end; !error && process != end;
         process.increment(error)) {
        const std::string id = process->path().filename().string();
        if (id == self || id.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code unreadable;  // a process of another user, or one that ended
        for (fs::directory_iterator fd(process->path() / "fd", unreadable), last;
             !unreadable && fd != last; fd.increment(unreadable)) {
            std::error_code ignored;
            if (fs::read_symlink(fd->path(), ignored) == wanted) {
                const fs::path program = fs::read_symlink(process->path() / "exe", ignored);
                if (!program.empty()) {
                    names.insert(program.filename().string());
                }
                break;
            }
        }
    }
    return {names.begin(), names.end()};
}

}  // namespace plat
