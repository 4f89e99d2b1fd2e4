#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

namespace plat {

// POSIX files have no creation time to set; the status-change time follows
// by itself.
bool SetFileTimes(const char* path, uint32_t accessTime, uint32_t modificationTime) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    const timespec times[2] = {
        {static_cast<time_t>(accessTime), 0},
        {static_cast<time_t>(modificationTime), 0},
    };
    return utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool FileLastWriteLocal(const char* path, LocalTime* out) {
    struct stat info {};
    if (path == nullptr || stat(path, &info) != 0) {
        return false;
    }
    const time_t seconds = info.st_mtime;
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr) {
        return false;
    }
    *out = LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,    local.tm_wday,
                     local.tm_hour,        local.tm_min,     local.tm_sec & ~1};
    return true;
}

}  // namespace plat
