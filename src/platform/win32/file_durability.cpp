#include "platform/file_durability.h"

#include <windows.h>

// After windows.h, which it builds on.
#include <restartmanager.h>

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

bool HeldByAnotherProgram(const std::error_code& error, const std::string& path) {
    // The C++ library reports most of the system's codes as C library
    // numbers: a sharing violation comes as "permission denied" too.
    bool denied = false;
    if (error.category() == std::system_category()) {
        switch (error.value()) {
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
            case ERROR_USER_MAPPED_FILE:
                return true;
            case ERROR_ACCESS_DENIED:
                denied = true;
                break;
            default:
                return false;
        }
    } else if (error.category() == std::generic_category()) {
        if (error.value() == EBUSY || error.value() == ETXTBSY) {
            return true;
        }
        denied = error.value() == EACCES;
    }
    // A read-only file or a directory is refused for good.
    const DWORD attributes = denied ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

std::vector<std::string> ProgramsHolding(const std::string& path) {
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::string> names;
    WCHAR full[MAX_PATH] = {};
    const std::wstring wide(path.begin(), path.end());  // game paths are ASCII
    if (GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr) != 0) {
        LPCWSTR files[] = {full};
        UINT needed = 0;
        UINT count = 8;
        RM_PROCESS_INFO found[8];
        DWORD reasons = 0;
        if (RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
            RmGetList(session, &needed, &count, found, &reasons) == ERROR_SUCCESS) {
            for (UINT i = 0; i < count; ++i) {
                char name[CCH_RM_MAX_APP_NAME + 1] = {};
                WideCharToMultiByte(CP_ACP, 0, found[i].strAppName, -1, name, sizeof name, nullptr,
                                    nullptr);
                if (name[0] != '\0') {
                    names.emplace_back(name);
                }
            }
        }
    }
    RmEndSession(session);
    return names;
}

}  // namespace plat
