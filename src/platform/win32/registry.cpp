#include <windows.h>

#include "platform/registry.h"

namespace plat {

namespace {

HKEY RootHandle(RegRoot root) {
    switch (root) {
        case RegRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
    }
    return nullptr;
}

}  // namespace

struct RegKey::Impl {
    HKEY key = nullptr;
};

RegKey::RegKey() : impl_(std::make_unique<Impl>()) {}

RegKey::~RegKey() {
    Close();
}

RegKey::RegKey(RegKey&&) noexcept = default;

RegKey& RegKey::operator=(RegKey&& other) noexcept {
    if (this != &other) {
        Close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

int32_t RegKey::Open(RegRoot root, const char* subKey, uint32_t access) {
    Close();
    if (!impl_) {
        impl_ = std::make_unique<Impl>();
    }
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExA(RootHandle(root), subKey, 0, access, &key);
    if (result == ERROR_SUCCESS) {
        impl_->key = key;
    }
    return result;
}

int32_t RegKey::QueryValue(const char* valueName, uint32_t* type, uint8_t* data,
                           uint32_t* size) const {
    if (!IsOpen()) {
        return ERROR_INVALID_HANDLE;
    }
    // DWORD is unsigned long here, not uint32_t: go through locals.
    DWORD valueType = type ? *type : 0;
    DWORD byteCount = size ? *size : 0;
    const LONG result =
        RegQueryValueExA(impl_->key, valueName, nullptr, type ? &valueType : nullptr, data,
                         size ? &byteCount : nullptr);
    // A failed query reports a type only when the value exists but does not
    // fit. Otherwise Windows leaves an arbitrary type behind (Wine: REG_NONE);
    // the caller's own value is kept instead, so that a reader that presets
    // the type it expects sees the failure itself and not a type mismatch.
    if (type && (result == ERROR_SUCCESS || result == ERROR_MORE_DATA)) {
        *type = valueType;
    }
    if (size) {
        *size = byteCount;
    }
    return result;
}

void RegKey::Close() {
    if (impl_ && impl_->key) {
        RegCloseKey(impl_->key);
        impl_->key = nullptr;
    }
}

bool RegKey::IsOpen() const {
    return impl_ && impl_->key;
}

void SetLastErrorCode(uint32_t code) {
    SetLastError(code);
}

uint32_t LastErrorCode() {
    return GetLastError();
}

}  // namespace plat
