// The controls of the control layer as Win32 windows: each class keeps the
// state in its base (the control layer's object) and mirrors every change
// onto its window; the windows' notifications come back as the User* calls
// of the base.
#pragma once

#include <memory>

#include "ui/toolkit.h"

namespace ui::win32 {

class Win32Toolkit;

std::unique_ptr<Control> MakeNativeControl(Win32Toolkit& toolkit, Toolkit::Kind kind,
                                           ControlSpec spec);

}  // namespace ui::win32
