// The control layer keeps its texts in the Windows-1252 code page, as the
// text table holds them; the windows are Unicode windows. The conversion is
// made here, with that code page named, so a German text reads the same
// whatever code page the system runs with.
#pragma once

#include <string>

namespace ui::win32 {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace ui::win32
