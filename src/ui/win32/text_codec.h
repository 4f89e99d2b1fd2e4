// The control layer keeps its texts in the Windows-1252 code page, as the
// text table holds them; the windows are Unicode windows. The conversion is
// the texts' own codec, not the system's, so a German text reads the same
// whatever code page the system runs with, and a character the code page
// cannot hold becomes "?" as on every other system.
#pragma once

#include <string>

namespace ui::win32 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace ui::win32
