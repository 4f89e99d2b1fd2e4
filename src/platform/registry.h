// Registry reads. On Windows these are the registry API calls themselves; on
// POSIX the three root keys are hive files in the registry export text format.
#pragma once

#include <cstdint>
#include <memory>

namespace plat {

// The root keys carry the numeric values of the Win32 predefined keys.
enum class RegRoot : uint32_t {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
};

inline constexpr uint32_t kKeyRead = 0x20019;  // KEY_READ

// Value types, numbered as in Win32.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Win32 error codes returned by the registry calls and kept as last-error code.
inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorAccessDenied = 5;
inline constexpr int32_t kErrorInvalidHandle = 6;
inline constexpr int32_t kErrorMoreData = 234;

// An open registry key (RegOpenKeyExA ... RegCloseKey). Closed by the destructor.
class RegKey {
public:
    RegKey();
    ~RegKey();
    RegKey(RegKey&&) noexcept;
    RegKey& operator=(RegKey&&) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens `subKey` below `root` with the given access; returns a Win32 error
    // code (kErrorSuccess, kErrorFileNotFound for a missing key or hive, ...).
    int32_t Open(RegRoot root, const char* subKey, uint32_t access);

    // RegQueryValueExA: `type` and `data` may be null. `size` holds the
    // buffer's byte count on entry and the value's byte count on return; a
    // buffer that is too small gives kErrorMoreData. String data include their
    // terminating zero. `type` is written only when the value exists, so a
    // failed read leaves the caller's type in place.
    int32_t QueryValue(const char* valueName, uint32_t* type, uint8_t* data, uint32_t* size) const;

    void Close();
    bool IsOpen() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The thread's last-error code (SetLastError / GetLastError).
void SetLastErrorCode(uint32_t code);
uint32_t LastErrorCode();

}  // namespace plat
