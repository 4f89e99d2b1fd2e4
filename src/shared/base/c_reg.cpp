#include "shared/base/c_reg.h"

#include <memory>
#include <new>

namespace {
std::unique_ptr<CReg>& Instance() {
    static std::unique_ptr<CReg> instance;
    return instance;
}
}  // namespace

CReg* CReg::Get() {
    auto& instance = Instance();
    if (!instance) {
        instance.reset(new (std::nothrow) CReg());
    }
    return instance.get();
}

void CReg::Release() {
    Instance().reset();
}

bool CReg::ReadDword(plat::RegRoot root, const char* keyPath, const char* valueName,
                     uint32_t& out) {
    out = 0;
    plat::RegKey key;
    const int32_t opened = key.Open(root, keyPath, plat::kKeyRead);
    if (opened != plat::kErrorSuccess) {
        plat::SetLastErrorCode(static_cast<uint32_t>(opened));
        return false;
    }
    // A query that fails without reporting a type leaves it at REG_DWORD.
    uint32_t type = plat::kRegDword;
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    const int32_t queried = key.QueryValue(valueName, &type, data, &size);
    key.Close();
    if (type != plat::kRegDword) {
        return false;
    }
    if (queried != plat::kErrorSuccess) {
        plat::SetLastErrorCode(static_cast<uint32_t>(queried));
        return false;
    }
    out = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
          static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    return true;
}

bool CReg::ReadString(plat::RegRoot root, const char* keyPath, const char* valueName, char* buffer,
                      uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    plat::RegKey key;
    if (key.Open(root, keyPath, plat::kKeyRead) != plat::kErrorSuccess) {
        return false;
    }
    uint32_t length = size;
    if (key.QueryValue(valueName, nullptr, reinterpret_cast<uint8_t*>(buffer), &length) !=
        plat::kErrorSuccess) {
        return false;
    }
    // The registry does not promise a terminator: data stored without one get
    // it here, and data that fill the buffer without one are refused, so the
    // caller never reads past its buffer.
    if (length < size) {
        buffer[length] = '\0';
    } else if (buffer[size - 1] != '\0') {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
