#include "platform/file_durability.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

// Nothing here keeps another program from replacing an open file, so no
// program is ever named for holding one.
std::vector<std::string> ProgramsHolding(const std::string&) {
    return {};
}

}  // namespace plat
