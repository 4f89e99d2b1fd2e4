#include "shared/base/s_mutex.h"

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"

namespace {
constexpr uint32_t kPollIntervalMs = 10;
}

bool MutexExists(const char* name) {
    return name != nullptr && plat::NamedMutexExists(name);
}

bool ExecWithMutex(const char* execMutexName, const char* directory, const char* program,
                   const char* runMutexName, uint32_t timeoutMs) {
    const char* dir = directory != nullptr ? directory : "";
    const char* file = program != nullptr ? program : "";
    BRF_LOG(1, "now executing %s in path: %s", file, dir);

    // A failure to create the exec mutex does not stop the launch.
    std::unique_ptr<plat::NamedMutex> execMutex = plat::NamedMutex::Create(execMutexName, true);
    auto letGo = [&execMutex] {
        if (execMutex) {
            execMutex->Release();
            execMutex.reset();
        }
    };

    const std::string path = std::string(dir) + file;
    if (plat::StartProgram(path) != plat::kStartOk) {
        BRF_LOG(0, "** error while executing %s in path: %s", file, dir);
        char text[512];
        std::snprintf(text, sizeof text, "Cannot execute file %s!", file);
        plat::ShowMessageBox(text, "Error!", plat::kMbOk, plat::BoxOwner::None);
        letGo();
        return false;
    }

    const uint32_t started = plat::TickCount();
    while (!MutexExists(runMutexName)) {
        if (plat::TickCount() - started >= timeoutMs) {
            BRF_LOG(0, "** %s did not create %s within %u ms, giving up the wait", file,
                    runMutexName != nullptr ? runMutexName : "", timeoutMs);
            letGo();
            return false;
        }
        plat::SleepMs(kPollIntervalMs);
    }

    BRF_LOG(1, "%s: all finished, shut down.", "updater.exe");
    letGo();
    return true;
}
