#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

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

}  // namespace plat
