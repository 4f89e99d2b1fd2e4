#include <windows.h>

#include <cstring>

#include "platform/version_info.h"

namespace plat {

uint32_t FileVersionInfoSize(const char* path) {
    DWORD unused = 0;
    return GetFileVersionInfoSizeA(path, &unused);
}

bool FileVersionInfo(const char* path, uint32_t size, void* data) {
    return GetFileVersionInfoA(path, 0, size, data) != 0;
}

bool QueryFixedFileInfo(const void* block, uint32_t size, FixedFileInfo* out) {
    void* record = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, "\\", &record, &length) || !record ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    // The record must lie inside the block the caller owns.
    const auto* first = static_cast<const uint8_t*>(block);
    const auto* found = static_cast<const uint8_t*>(record);
    if (found < first || found + sizeof(VS_FIXEDFILEINFO) > first + size) {
        return false;
    }
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, record, sizeof info);
    *out = FixedFileInfo{info.dwSignature,     info.dwStrucVersion,     info.dwFileVersionMS,
                         info.dwFileVersionLS, info.dwProductVersionMS, info.dwProductVersionLS,
                         info.dwFileFlagsMask, info.dwFileFlags,        info.dwFileOS,
                         info.dwFileType,      info.dwFileSubtype,      info.dwFileDateMS,
                         info.dwFileDateLS};
    return true;
}

}  // namespace plat
