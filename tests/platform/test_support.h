// Helpers shared by the platform tests: scratch directories, environment
// variables, whole files, and waiting for another process.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/clock.h"
#include "platform/process.h"

namespace brf_test {

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
  public:
    ScratchDir() {
        static int counter = 0;
        path_ =
            std::filesystem::temp_directory_path() /
            ("brf-platform-" + std::to_string(plat::ProcessId()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

// Sets an environment variable (null: removes it) for the object's lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_) {
            old_ = old;
        }
        SetEnv(name, value);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { SetEnv(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// Changes the current directory for the object's lifetime.
class ScopedCurrentDir {
  public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir)
        : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCurrentDir() {
        std::error_code error;
        std::filesystem::current_path(old_, error);
    }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

  private:
    std::filesystem::path old_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Polls `condition` until it holds; false if it never does within a bound
// far beyond any expected wait (a hung test fails instead of hanging).
inline bool WaitFor(const std::function<bool()>& condition, uint32_t boundMs = 30000) {
    const uint32_t start = plat::TickCount();
    while (!condition()) {
        if (plat::TickCount() - start > boundMs) {
            return false;
        }
        plat::SleepMs(5);
    }
    return true;
}

// A mutex name no other test run uses.
inline std::string UniqueName(const std::string& stem) {
    static int counter = 0;
    return "brf-test-" + stem + "-" + std::to_string(plat::ProcessId()) + "-" +
           std::to_string(++counter);
}

}  // namespace brf_test
