// Reads REG_DWORD and string values of the installation from the registry.
// Callers ask under HKEY_CURRENT_USER first and, only if that fails, under
// HKEY_LOCAL_MACHINE. Nothing here ever writes to the registry.
#pragma once

#include <cstdint>

#include "platform/registry.h"

class CReg {
public:
    static CReg* Get();
    static void Release();

    // True with `out` = the value when the key opens, the value exists and is
    // a REG_DWORD; otherwise false with `out` = 0 (and the last-error code set
    // to the error of the failed call).
    bool ReadDword(plat::RegRoot root, const char* keyPath, const char* valueName, uint32_t& out);

    // True when the key opens and the value's data fit into `buffer` (`size`
    // bytes); the data are then in it, terminated.
    bool ReadString(plat::RegRoot root, const char* keyPath, const char* valueName, char* buffer,
                    uint32_t size);

    CReg(const CReg&) = delete;
    CReg& operator=(const CReg&) = delete;

private:
    CReg() = default;
};
