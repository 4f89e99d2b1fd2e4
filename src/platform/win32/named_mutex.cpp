#include <windows.h>

#include "platform/named_mutex.h"

namespace plat {

struct NamedMutex::Impl {
    HANDLE handle;
};

NamedMutex::NamedMutex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<NamedMutex> NamedMutex::Create(const char* name, bool initiallyOwned) {
    HANDLE handle = CreateMutexA(nullptr, initiallyOwned ? TRUE : FALSE, name);
    if (!handle) {
        return nullptr;
    }
    return std::make_unique<NamedMutex>(std::make_unique<Impl>(Impl{handle}));
}

bool NamedMutex::Release() {
    return ReleaseMutex(impl_->handle) != 0;
}

NamedMutex::~NamedMutex() {
    CloseHandle(impl_->handle);
}

bool NamedMutexExists(const char* name) {
    HANDLE handle = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    if (!handle) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

}  // namespace plat
