#include "updater/program_entry.h"

int UpdaterProgram(ui::Toolkit& toolkit, const UpdaterConfig& config) {
    const auto cannotStart = [&](const std::string& problem) {
        toolkit.MessageBox(problem, "Error!", plat::kMbOk, plat::BoxOwner::FocusWindow);
    };
    return WithProgramServices(cannotStart, [&] {
        toolkit.SetApplicationTitle("BRF-Updater");
        try {
            TFUpdater updater(toolkit, config);
            updater.form->Show();
            toolkit.Loop().Run();
        } catch (const std::exception& error) {
            toolkit.ShowException(error);
        }
        return 0;
    });
}
