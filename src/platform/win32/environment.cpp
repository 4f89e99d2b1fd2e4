#include <windows.h>

#include <cstdlib>

#include "platform/environment.h"

namespace plat {

std::optional<std::string> GetEnv(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length);
    return value;
}

void SetEnv(const char* name, const char* value) {
    // Both the process environment (inherited by CreateProcessA) and the C
    // runtime's copy (read by getenv) are kept in step.
    SetEnvironmentVariableA(name, value);
    _putenv_s(name, value != nullptr ? value : "");
}

}  // namespace plat
