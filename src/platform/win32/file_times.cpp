#include <windows.h>

#include "platform/file_times.h"

namespace plat {

namespace {

// FILETIME counts 100-nanosecond steps since 1601-01-01 UTC.
FILETIME ToFileTime(uint32_t unixSeconds) {
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
    const uint64_t ticks = (unixSeconds + kSecondsFrom1601To1970) * 10000000ull;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

}  // namespace

bool SetFileTimes(const char* path, uint32_t accessTime, uint32_t modificationTime) {
    HANDLE file = CreateFileA(path, FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const FILETIME access = ToFileTime(accessTime);
    const FILETIME modification = ToFileTime(modificationTime);
    // A patched file looks created when its content was made.
    const bool ok = SetFileTime(file, &modification, &access, &modification) != 0;
    CloseHandle(file);
    return ok;
}

bool FileLastWriteLocal(const char* path, LocalTime* out) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    SYSTEMTIME time;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &time)) {
        return false;
    }
    *out = LocalTime{time.wYear, time.wMonth,  time.wDay,        time.wDayOfWeek,
                     time.wHour, time.wMinute, time.wSecond & ~1};
    return true;
}

}  // namespace plat
