#include "platform/file_durability.h"

#include <windows.h>

#include <cerrno>

namespace plat {

bool FlushFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

bool FlushDirectory(const char*) {
    return true;
}

FileFault ClassifyFileError(const std::error_code& error) {
    if (error.category() == std::system_category()) {
        switch (error.value()) {
            case ERROR_DISK_FULL:
            case ERROR_HANDLE_DISK_FULL:
                return FileFault::DiskFull;
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
            case ERROR_WRITE_PROTECT:
                return FileFault::Refused;
            default:
                break;
        }
    }
    switch (error.default_error_condition().value()) {
        case ENOSPC:
        case EFBIG:
            return FileFault::DiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case EBUSY:
            return FileFault::Refused;
        default:
            return FileFault::Other;
    }
}

}  // namespace plat
