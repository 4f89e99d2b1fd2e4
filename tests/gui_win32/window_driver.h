// Drives the updater's real window from another process the way assistive
// technology and test tools do: windows are found through the window tree
// (class names, texts, control ids, rectangles), never by screen position,
// and pressed with the messages a click or a key press produces.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace gui_test {

// A child window as the tree shows it; the rectangle is relative to the
// client area of the top-level window.
struct Child {
    HWND hwnd = nullptr;
    std::wstring className;
    std::wstring text;
    RECT rect{};
    int id = 0;
    LONG style = 0;
};

std::wstring TextOf(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
// Every descendant of `top`, in the tree's order.
std::vector<Child> ChildrenOf(HWND top);
// The client size of `top`.
SIZE ClientSize(HWND top);

// The lines of a list box.
std::vector<std::wstring> ListLines(HWND listBox);

// A click on a button (posted, so that a handler that shows a modal box
// does not block the caller).
void Press(HWND button);
// The window with the keyboard focus in the thread of `top`.
HWND FocusOf(HWND top);
// A key pressed and released in the window that has the focus in the
// thread of `top`, through that thread's message queue.
void PressKey(HWND top, UINT virtualKey);

// Waiting on the window tree: another process's windows answer through
// their message queues, so they are looked at every 20 ms.
inline const brf_test::Patience kWindowPatience{.boundMs = 20000, .pollMs = 20};

// A program started in a directory, killed at the end of the test if it is
// still running.
class Program {
public:
    Program(const std::filesystem::path& exe, const std::filesystem::path& dir);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    // The visible top-level window of `className` of this process.
    HWND WaitWindow(const std::wstring& className, uint32_t boundMs = 20000) const;
    // A visible dialog (class #32770) of this process whose texts include
    // `text`; null when none shows up in time.
    HWND WaitDialog(const std::wstring& text, uint32_t boundMs = 20000) const;
    // Every visible dialog of this process now.
    std::vector<HWND> Dialogs() const;
    // Waits for the end; false when it is still running after `boundMs`.
    bool WaitExit(uint32_t boundMs, DWORD* exitCode = nullptr) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Every visible top-level window of `className`, of any process.
std::vector<HWND> TopLevelWindows(const std::wstring& className);
// The program file of the process that shows `top` (empty if unknown).
std::filesystem::path ProgramOf(HWND top);
// All texts of a dialog and its children, joined by newlines.
std::wstring DialogTexts(HWND dialog);
// The child of `parent` whose text is `text` (class `className` if given).
HWND FindChild(HWND parent, const std::wstring& text, const std::wstring& className = L"");

// Saves what the screen shows of `top` (frame included) as a 24-bit BMP.
bool SaveScreenshot(HWND top, const std::filesystem::path& file);

}  // namespace gui_test
