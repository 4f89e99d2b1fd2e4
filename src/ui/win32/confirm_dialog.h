// The confirmation dialog with a question icon and the buttons Yes, No and
// Yes to all, made from a small dialog template in memory.
#pragma once

#include <windows.h>

#include <string>

namespace ui::win32 {

// Shows the dialog modally over `owner` (may be null) and returns IDYES,
// IDNO or kIdYesToAll. Esc and the close box answer No, the answer that
// fetches nothing.
int RunConfirmDialog(HWND owner, const std::wstring& title, const std::wstring& question);

}  // namespace ui::win32
