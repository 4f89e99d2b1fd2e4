// A stand-in for the programs that the launcher starts. It is started with
// its own path as its only argument, so everything it does is configured
// through environment variables:
//
//   BRF_CHILD_RECORD    file that receives, before anything else, the argument
//                       count, each argument and the current directory, one
//                       per line
//   BRF_CHILD_SELF      file that receives the program's own path, its
//                       command line and its process id, one per line
//   BRF_CHILD_DELAY_MS  milliseconds to wait before creating the mutex (0)
//   BRF_CHILD_MUTEX     name of a mutex to create, as a started program
//                       announces itself
//   BRF_CHILD_HOLD_MS   milliseconds to hold the mutex before ending (2000)
//   BRF_CHILD_HOLD_FILE file to hold open without sharing it, as a virus
//                       scanner or the game itself would, for BRF_CHILD_HOLD_MS
//                       or until the file BRF_CHILD_RELEASE appears (which it
//                       removes once the file is free); only Windows can
//                       keep an open file from others
//   BRF_CHILD_EXIT      exit code (0)
//
// Files are written under a temporary name and then renamed, so a test that
// waits for one never reads it half written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// A variable's value; unset and empty are alike.
std::optional<std::string> Env(const char* name) {
    std::optional<std::string> value = plat::GetEnv(name);
    return value && !value->empty() ? value : std::nullopt;
}

uint32_t EnvNumber(const char* name, uint32_t fallback) {
    const std::optional<std::string> value = Env(name);
    return value ? static_cast<uint32_t>(std::strtoul(value->c_str(), nullptr, 10)) : fallback;
}

void WriteFile(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::rename(part, path, error);
}

// Holds `path` open, on Windows without sharing it; once it is held,
// BRF_CHILD_SELF says so.
void HoldFile(const std::string& path) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return;
    }
#endif
    if (const auto self = Env("BRF_CHILD_SELF")) {
        WriteFile(*self, "holding\n");
    }
    const std::string release = Env("BRF_CHILD_RELEASE").value_or(path + ".release");
    std::error_code error;
    for (uint32_t held = 0; held < EnvNumber("BRF_CHILD_HOLD_MS", 2000); held += 20) {
        if (std::filesystem::exists(release, error)) {
            break;
        }
        plat::SleepMs(20);
    }
#ifdef _WIN32
    CloseHandle(file);
#else
    std::fclose(file);
#endif
    // The test may still have the marker open for writing, and Windows
    // removes no file that is open: try again until it goes (10 s at most).
    for (int tries = 0; tries < 500 && !std::filesystem::remove(release, error) &&
                        std::filesystem::exists(release, error);
         ++tries) {
        plat::SleepMs(20);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto record = Env("BRF_CHILD_RECORD")) {
        std::string text = std::to_string(argc) + "\n";
        for (int i = 0; i < argc; ++i) {
            text += argv[i];
            text += "\n";
        }
        std::error_code error;
        text += std::filesystem::current_path(error).string() + "\n";
        WriteFile(*record, text);
    }
    if (const auto self = Env("BRF_CHILD_SELF")) {
        WriteFile(*self, plat::ProgramPath() + "\n" + plat::CommandLine() + "\n" +
                             std::to_string(plat::ProcessId()) + "\n");
    }
    if (const auto held = Env("BRF_CHILD_HOLD_FILE")) {
        HoldFile(*held);
        return static_cast<int>(EnvNumber("BRF_CHILD_EXIT", 0));
    }
    std::unique_ptr<plat::NamedMutex> mutex;
    if (const auto name = Env("BRF_CHILD_MUTEX")) {
        plat::SleepMs(EnvNumber("BRF_CHILD_DELAY_MS", 0));
        mutex = plat::NamedMutex::Create(name->c_str(), true);
        plat::SleepMs(EnvNumber("BRF_CHILD_HOLD_MS", 2000));
        if (mutex) {
            mutex->Release();
        }
    }
    return static_cast<int>(EnvNumber("BRF_CHILD_EXIT", 0));
}
