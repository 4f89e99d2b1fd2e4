// The updater program: the window toolkit of this platform, the engine and
// the message loop until the application ends.
#include <cstdio>
#include <string>

#include "ui/window_toolkit.h"
#include "updater/program_entry.h"
#include "updater/session/built_config.h"

int main(int argc, char** argv) {
    std::string problem;
    const std::unique_ptr<ui::Toolkit> toolkit = ui::MakeWindowToolkit(argc, argv, problem);
    if (!toolkit) {
        std::fprintf(stderr, "updater: cannot show the window: %s\n", problem.c_str());
        return 1;
    }
    return UpdaterProgram(*toolkit, BuiltUpdaterConfig());
}
