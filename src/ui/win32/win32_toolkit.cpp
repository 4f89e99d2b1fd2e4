#include "ui/win32/win32_toolkit.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "platform/event_loop.h"
#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "ui/win32/confirm_dialog.h"
#include "ui/win32/native_link.h"
#include "ui/win32/text_codec.h"
#include "ui/win32/win32_controls.h"
#include "ui/window_toolkit.h"

namespace ui::win32 {

namespace {

constexpr const char* kDefaultFont = "MS Sans Serif";

bool RegisterClassOf(const wchar_t* name) {
    // Our windows paint the button face, as dialogs do.
    HBRUSH background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = LinkedWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const std::wstring& face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face.c_str(), LF_FACESIZE);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &wanted, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

// The window that owns a box: the top-level window of the keyboard focus,
// or none.
HWND OwnerFor(plat::BoxOwner owner) {
    if (owner != plat::BoxOwner::FocusWindow) {
        return nullptr;
    }
    HWND focus = GetFocus();
    return focus == nullptr ? nullptr : GetAncestor(focus, GA_ROOT);
}

struct PrimarySearch {
    WorkArea area;
};

BOOL CALLBACK VisitMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info) && (info.dwFlags & MONITORINFOF_PRIMARY)) {
        auto* search = reinterpret_cast<PrimarySearch*>(data);
        search->area = {true, info.rcWork.left, info.rcWork.top, info.rcWork.right,
                        info.rcWork.bottom};
        return FALSE;
    }
    return TRUE;
}

}  // namespace

// The process's loop with this toolkit: the platform's loop (which runs the
// dialog keys through the filter installed below), and errors that escape
// a handler shown in a box.
class Win32Toolkit::Loop : public plat::EventLoop {
public:
    explicit Loop(Win32Toolkit& toolkit) : toolkit_(toolkit) {}
    void HandleException(std::exception_ptr error) override {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            toolkit_.ShowException(e);
        } catch (...) {
            toolkit_.ShowException(std::runtime_error("Unknown exception"));
        }
    }

private:
    Win32Toolkit& toolkit_;
};

Win32Toolkit::Win32Toolkit() : loop_(std::make_unique<Loop>(*this)) {
    oleReady_ = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    for (const wchar_t* name : {kFormClass, kPanelClass, kPictureClass, kBrowserHostClass}) {
        if (!RegisterClassOf(name)) {
            problem_ = "cannot register the window classes";
        }
    }

    plat::AttachLoopThread();
    plat::SetMainLoop(loop_.get());
    // Tab, Enter and Esc in the main window, as in a dialog.
    plat::SetMessageFilter([this](MSG& msg) {
        return form_ != nullptr && IsWindowVisible(form_) && IsDialogMessageA(form_, &msg);
    });
    // The shared base's boxes (the launcher's) come here too.
    plat::SetMessageBoxHandler([this](const plat::MessageBoxRequest& request) {
        return MessageBox(request.text ? request.text : "", request.caption ? request.caption : "",
                          request.flags, request.owner);
    });
}

Win32Toolkit::~Win32Toolkit() {
    plat::SetMessageBoxHandler(nullptr);
    plat::SetMessageFilter(nullptr);
    plat::SetMainLoop(nullptr);
    for (auto& entry : fonts_) {
        DeleteObject(entry.second);
    }
    if (oleReady_) {
        OleUninitialize();
    }
}

bool Win32Toolkit::Ready(std::string& problem) const {
    problem = problem_;
    return problem_.empty();
}

std::unique_ptr<Control> Win32Toolkit::CreateControl(Kind kind, ControlSpec spec) {
    if (kind != Kind::Form && form_ == nullptr && spec.parent == nullptr) {
        throw std::logic_error("a control needs its window: " + spec.name);
    }
    return MakeNativeControl(*this, kind, std::move(spec));
}

bool Win32Toolkit::RegisterWindowClass(const std::wstring& name) {
    return RegisterClassOf(name.c_str());
}

HWND Win32Toolkit::ParentOf(const ControlSpec& spec) const {
    if (spec.parent == nullptr) {
        return form_;
    }
    const auto found = links_.find(spec.parent);
    return found == links_.end() ? form_ : found->second->Handle();
}

HFONT Win32Toolkit::Font(const ControlSpec& spec) {
    const std::string face = spec.fontName.empty() ? kDefaultFont : spec.fontName;
    const bool bold = (spec.style & kBold) != 0;
    const auto key = std::make_pair(face + "/" + std::to_string(spec.fontPoints), bold);
    if (const auto found = fonts_.find(key); found != fonts_.end()) {
        return found->second;
    }
    LOGFONTW font{};
    // The layout is made for 96 pixels per inch and is not rescaled.
    font.lfHeight = -MulDiv(spec.fontPoints, 96, 72);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    const std::wstring wanted = Widen(face);
    if (FontInstalled(wanted)) {
        lstrcpynW(font.lfFaceName, wanted.c_str(), LF_FACESIZE);
    } else {
        // The system's GUI font, at the layout's size.
        LOGFONTW gui{};
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui);
        lstrcpynW(font.lfFaceName, gui.lfFaceName, LF_FACESIZE);
    }
    HFONT made = CreateFontIndirectW(&font);
    if (made == nullptr) {
        made = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    fonts_[key] = made;
    return made;
}

int Win32Toolkit::NextId(const ControlSpec& spec) {
    // Esc presses the cancel button: the dialog keys send IDCANCEL.
    const int id = (spec.style & kCancelButton) ? IDCANCEL : nextId_++;
    if ((spec.style & kDefaultButton) && (defaultId_ == 0 || spec.tabOrder < defaultTab_)) {
        defaultId_ = id;
        defaultTab_ = spec.tabOrder;
    }
    return id;
}

void Win32Toolkit::Register(const Control* control, NativeLink* link) {
    links_[control] = link;
    if (control->Spec().parent == nullptr && link->Handle() != form_) {
        children_.emplace_back(control, control->Spec().tabOrder);
        OrderTabs();
    }
}

void Win32Toolkit::Unregister(const Control* control) {
    links_.erase(control);
    children_.erase(std::remove_if(children_.begin(), children_.end(),
                                   [control](const auto& child) { return child.first == control; }),
                    children_.end());
}

void Win32Toolkit::OrderTabs() {
    std::vector<std::pair<const Control*, int>> ordered = children_;
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        return (a.second < 0 ? INT_MAX : a.second) < (b.second < 0 ? INT_MAX : b.second);
    });
    // Tab goes through the children in z-order: each one to the bottom in
    // turn leaves them in tab order.
    for (const auto& child : ordered) {
        HWND hwnd = links_.at(child.first)->Handle();
        if (hwnd != nullptr) {
            SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        }
    }
}

int Win32Toolkit::MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                             plat::BoxOwner owner) {
    return MessageBoxW(OwnerFor(owner), Widen(text).c_str(), Widen(caption).c_str(), flags);
}

Confirmation Win32Toolkit::Confirm(const std::string& question) {
    HWND owner = OwnerFor(plat::BoxOwner::FocusWindow);
    if (owner == nullptr && form_ != nullptr && IsWindowVisible(form_)) {
        owner = form_;
    }
    switch (RunConfirmDialog(owner, Widen(ApplicationTitle()), Widen(question))) {
        case IDYES:
            return Confirmation::Yes;
        case kIdYesToAll:
            return Confirmation::YesToAll;
        default:
            return Confirmation::No;
    }
}

void Win32Toolkit::ShowException(const std::exception& error) {
    MessageBoxW(OwnerFor(plat::BoxOwner::FocusWindow), Widen(error.what()).c_str(),
                Widen(ApplicationTitle()).c_str(), MB_OK | MB_ICONERROR);
}

WorkArea Win32Toolkit::PrimaryWorkArea() {
    PrimarySearch search;
    EnumDisplayMonitors(nullptr, nullptr, VisitMonitor, reinterpret_cast<LPARAM>(&search));
    return search.area;
}

}  // namespace ui::win32

namespace ui {

std::unique_ptr<Toolkit> MakeWindowToolkit(int&, char**&, std::string& problem) {
    auto toolkit = std::make_unique<win32::Win32Toolkit>();
    if (!toolkit->Ready(problem)) {
        return nullptr;
    }
    return toolkit;
}

}  // namespace ui
