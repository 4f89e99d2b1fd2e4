// The toolkit that shows the updater's real window on this platform: GTK on
// Linux, the Win32 controls on Windows. Both implement the control layer and
// drive the process's event loop, so the window's logic is the same as with
// the headless toolkit.
#pragma once

#include <memory>
#include <string>

#include "ui/toolkit.h"

namespace ui {

// Makes the window toolkit and plugs it into the event loop. It may take
// its own options out of argc/argv. Returns null, with `problem` saying why,
// when no window can be shown (no display, say).
std::unique_ptr<Toolkit> MakeWindowToolkit(int& argc, char**& argv, std::string& problem);

}  // namespace ui
