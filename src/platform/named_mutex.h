// Named mutexes shared by all processes of the user: CreateMutexA, OpenMutexA,
// ReleaseMutex and CloseHandle on Windows. A mutex exists while any process
// holds a handle to it and disappears with the last handle, also when its
// owner dies.
#pragma once

#include <memory>
#include <string>

namespace plat {

class NamedMutex {
public:
    // CreateMutexA(default security, initiallyOwned, name): a handle to a new
    // mutex, or to the existing one of that name; null if none can be made.
    static std::unique_ptr<NamedMutex> Create(const char* name, bool initiallyOwned);

    // ReleaseMutex: gives up ownership; false if this handle did not own it.
    bool Release();

    // CloseHandle.
    ~NamedMutex();

    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    struct Impl;
    explicit NamedMutex(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

// OpenMutexA(MUTEX_ALL_ACCESS, no inheritance, name) followed by closing the
// handle: whether a mutex of that name exists now.
bool NamedMutexExists(const char* name);

}  // namespace plat
