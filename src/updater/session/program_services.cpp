#include "updater/session/program_services.h"

#include "platform/event_loop.h"
#include "shared/base/c_reg.h"
#include "shared/base/s_logging.h"
#include "shared/options/s_options.h"

namespace {

// Releases the services in their fixed order, however the program ends.
struct ServicesRelease {
    ~ServicesRelease() {
        COpt::Release();
        CReg::Release();
        CLog::Release();
        CStr::Release();
    }
};

}  // namespace

int WithProgramServices(const std::function<void(const std::string& problem)>& cannotStart,
                        const std::function<int()>& body) {
    if (COpt::Get() == nullptr) {
        cannotStart("Cannot initialize options class!");
        return 0;
    }
    if (CLog::Get() == nullptr) {
        cannotStart("Cannot initialize log file class!");
        return 0;
    }
    ServicesRelease release;
    COpt::Get()->Load();
    return body();
}

void RunUntilStopped(const UpdateSession& session) {
    plat::EventLoop& loop = plat::MainLoop();
    while (!loop.Terminated()) {
        loop.ProcessMessages();
        if (loop.Terminated() || !session.Busy()) {
            return;
        }
        loop.WaitMessage(-1);
    }
}
