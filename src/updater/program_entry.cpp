#include "updater/program_entry.h"

#include "shared/base/c_reg.h"
#include "shared/base/s_logging.h"
#include "shared/options/s_options.h"

int UpdaterProgram(ui::Toolkit& toolkit, const UpdaterConfig& config,
                   const std::function<int(TFUpdater&)>& drive) {
    if (COpt::Get() == nullptr) {
        toolkit.MessageBox("Cannot initialize options class!", "Error!", plat::kMbOk,
                           plat::BoxOwner::FocusWindow);
        return 0;
    }
    if (CLog::Get() == nullptr) {
        toolkit.MessageBox("Cannot initialize log file class!", "Error!", plat::kMbOk,
                           plat::BoxOwner::FocusWindow);
        return 0;
    }
    COpt::Get()->Load();

    int status = 0;
    toolkit.SetApplicationTitle("BRF-Updater");
    try {
        TFUpdater updater(toolkit, config);
        if (drive) {
            status = drive(updater);
        } else {
            updater.form->Show();
            toolkit.Loop().Run();
        }
    } catch (const std::exception& error) {
        toolkit.ShowException(error);
    }

    COpt::Release();
    CReg::Release();
    CLog::Release();
    CStr::Release();
    return status;
}

void RunUntilStopped(ui::Toolkit& toolkit, const TFUpdater& updater) {
    while (!toolkit.Terminated()) {
        toolkit.ProcessMessages();
        if (toolkit.Terminated() || !updater.Busy()) {
            return;
        }
        toolkit.Loop().WaitMessage(-1);
    }
}
