// A fresh directory for one test, made the current directory while the test
// runs and removed afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/process.h"

namespace brf_test {

class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("brf-test-" + std::to_string(plat::ProcessId()) + "-" + std::to_string(counter++) +
                 "-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // The directory as the launcher expects it: ending in a separator.
    std::string WithSeparator() const { return path_.string() + plat::PathSeparator(); }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace brf_test
