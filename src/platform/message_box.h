// Modal message boxes (MessageBoxA). The control layer installs the toolkit's
// own box at start-up; tests and the console updater install a scripted one.
// Without a handler, Windows shows MessageBoxA and POSIX writes the message
// to stderr and answers with the default button.
#pragma once

#include <cstdint>
#include <functional>

namespace plat {

// Button and icon flags, with the Win32 values.
inline constexpr uint32_t kMbOk = 0x00;
inline constexpr uint32_t kMbOkCancel = 0x01;
inline constexpr uint32_t kMbYesNo = 0x04;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;

// Answers, with the Win32 values.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

enum class BoxOwner {
    None,         // no owner window
    FocusWindow,  // the window that has the keyboard focus
};

struct MessageBoxRequest {
    const char* text;     // in the Windows-1252 code page
    const char* caption;  // in the Windows-1252 code page
    uint32_t flags;
    BoxOwner owner;
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs `handler` for all later boxes; an empty handler restores the default.
void SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box and returns the button pressed.
int ShowMessageBox(const char* text, const char* caption, uint32_t flags,
                   BoxOwner owner = BoxOwner::FocusWindow);

}  // namespace plat
