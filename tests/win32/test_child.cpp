// A stand-in for the game's programs that the updater starts (the settings
// and terms programs). It gets no arguments beyond its own path, so the tests
// steer it through its environment:
//   BRF_CHILD_REPORT      file to write what the child saw at its start
//   BRF_CHILD_EXEC_MUTEX  mutex whose existence at start is reported
//   BRF_CHILD_WAIT_FOR    mutex to wait for before anything else
//   BRF_CHILD_RUN_MUTEX   mutex to create once running, as the game's
//                         programs announce themselves
//   BRF_CHILD_DELAY_MS    pause before creating the run mutex
//   BRF_CHILD_STOP_MUTEX  the run mutex is held until this mutex exists
//   BRF_CHILD_EXIT_CODE   exit status
// Every wait is bounded, so a failing test leaves no process behind for long.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace {

constexpr uint32_t kWaitLimitMs = 60000;

std::string Env(const char* name) {
    return plat::GetEnv(name).value_or("");
}

bool WaitForMutex(const std::string& name) {
    for (uint32_t waited = 0; waited < kWaitLimitMs; waited += 10) {
        if (plat::NamedMutexExists(name.c_str())) {
            return true;
        }
        plat::SleepMs(10);
    }
    return false;
}

// Written under another name and renamed, so a reader never sees half a report.
void WriteReport(const std::string& path, int argc, char** argv) {
    const std::string partial = path + ".part";
    {
        std::ofstream out(partial, std::ios::binary);
        out << "argc=" << argc << "\n";
        for (int i = 0; i < argc; ++i) {
            out << "argv" << i << "=" << argv[i] << "\n";
        }
        out << "cmdline=" << plat::CommandLine() << "\n";
        out << "program=" << plat::ProgramPath() << "\n";
        out << "cwd=" << std::filesystem::current_path().string() << "\n";
        const std::string execMutex = Env("BRF_CHILD_EXEC_MUTEX");
        if (!execMutex.empty()) {
            out << "exec_mutex_seen=" << (plat::NamedMutexExists(execMutex.c_str()) ? 1 : 0)
                << "\n";
        }
    }
    std::filesystem::rename(partial, path);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string waitFor = Env("BRF_CHILD_WAIT_FOR");
    if (!waitFor.empty() && !WaitForMutex(waitFor)) {
        return 90;
    }
    const std::string report = Env("BRF_CHILD_REPORT");
    if (!report.empty()) {
        WriteReport(report, argc, argv);
    }
    const std::string runMutex = Env("BRF_CHILD_RUN_MUTEX");
    if (!runMutex.empty()) {
        plat::SleepMs(static_cast<uint32_t>(std::atoi(Env("BRF_CHILD_DELAY_MS").c_str())));
        auto run = plat::NamedMutex::Create(runMutex.c_str(), true);
        if (!run) {
            return 91;
        }
        const std::string stop = Env("BRF_CHILD_STOP_MUTEX");
        if (!stop.empty() && !WaitForMutex(stop)) {
            return 92;
        }
    }
    return std::atoi(Env("BRF_CHILD_EXIT_CODE").c_str());
}
