// The Win32 toolkit: the control layer on the system's own controls
// (BUTTON, COMBOBOX, LISTBOX, STATIC, the common controls' progress and
// status bars), the platform's web-browser control, MessageBox and a small
// Yes / No / Yes-to-all dialog, and the platform's message loop with the
// dialog keys (Tab, Enter, Esc) handled for the main window.
#pragma once

#include <windows.h>
// The control layer's MessageBox is a member, not the system's macro.
#undef MessageBox

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/toolkit.h"

namespace ui::win32 {

class NativeLink;

// The window classes of our own windows; a form's spec may name its own.
inline constexpr const wchar_t* kFormClass = L"BrfForm";
inline constexpr const wchar_t* kPanelClass = L"BrfPanel";
inline constexpr const wchar_t* kPictureClass = L"BrfPicture";
inline constexpr const wchar_t* kBrowserHostClass = L"BrfBrowserHost";

// The id of the Yes-to-all button of the confirmation dialog (the value the
// dialog returns for it).
inline constexpr int kIdYesToAll = 10;

class Win32Toolkit : public Toolkit {
public:
    Win32Toolkit();
    ~Win32Toolkit() override;

    // False, with `problem` set, when the windows cannot be made.
    bool Ready(std::string& problem) const;

    std::unique_ptr<Control> CreateControl(Kind kind, ControlSpec spec) override;
    int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                   plat::BoxOwner owner) override;
    Confirmation Confirm(const std::string& question) override;
    void ShowException(const std::exception& error) override;
    WorkArea PrimaryWorkArea() override;

    // For the controls: the window a control is created in, its font and
    // its control id.
    HWND ParentOf(const ControlSpec& spec) const;
    HWND FormHandle() const { return form_; }
    HFONT Font(const ControlSpec& spec);
    int NextId(const ControlSpec& spec);
    void Register(const Control* control, NativeLink* link);
    void Unregister(const Control* control);
    void SetFormHandle(HWND form) { form_ = form; }
    // Registers a window class of this toolkit's windows named `name`;
    // true when it is there (also when it was before).
    bool RegisterWindowClass(const std::wstring& name);
    // The id of the button that Enter presses when no push button has the
    // focus: the default button first in tab order.
    int DefaultButtonId() const { return defaultId_; }
    // Puts the form's children in tab order (their z-order).
    void OrderTabs();

private:
    class Loop;

    std::unique_ptr<Loop> loop_;
    std::string problem_;
    bool oleReady_ = false;
    HWND form_ = nullptr;
    std::map<std::pair<std::string, bool>, HFONT> fonts_;
    std::map<const Control*, NativeLink*> links_;
    // The form's direct children in creation order, with their tab order.
    std::vector<std::pair<const Control*, int>> children_;
    int nextId_ = 100;
    int defaultId_ = 0;
    int defaultTab_ = 0;
};

}  // namespace ui::win32
