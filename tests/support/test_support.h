// Helpers shared by the tests: scratch directories, environment variables,
// whole files, and waiting for another process.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/process.h"

namespace brf_test {

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("brf-test-" + std::to_string(plat::ProcessId()) + "-" + std::to_string(++counter));
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
    // The directory as the launcher expects it: ending in a separator.
    std::string WithSeparator() const { return path_.string() + plat::PathSeparator(); }

private:
    std::filesystem::path path_;
};

// Sets an environment variable (null: removes it) for the object's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name), old_(plat::GetEnv(name)) {
        plat::SetEnv(name, value);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { plat::SetEnv(name_.c_str(), old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
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

// `size` bytes that do not pack; `seed` makes them differ.
inline std::string Noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A scratch directory that is the current directory while the object lives.
class TempDir : public ScratchDir {
public:
    TempDir() : cd_(path()) {}

private:
    ScopedCurrentDir cd_;
};

// The lines of `text`, split at line feeds.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// How a test waits for an event it cannot be told of: the bound, far
// beyond any expected wait (a hung test fails instead of hanging), the time
// between two looks at the condition, and how that time passes: asleep, or
// handling messages in a thread that owns windows or a loop.
struct Patience {
    uint32_t boundMs = 30000;
    uint32_t pollMs = 5;
    std::function<void(uint32_t ms)> pause = nullptr;  // null: sleeps
};

// Waits until `condition` holds; false if it does not within the bound.
inline bool WaitFor(const std::function<bool()>& condition, const Patience& patience = {}) {
    const uint32_t start = plat::TickCount();
    while (!condition()) {
        if (plat::TickCount() - start > patience.boundMs) {
            return false;
        }
        if (patience.pause) {
            patience.pause(patience.pollMs);
        } else {
            plat::SleepMs(patience.pollMs);
        }
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
