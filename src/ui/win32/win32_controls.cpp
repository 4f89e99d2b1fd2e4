#include "ui/win32/win32_controls.h"

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/win32/artwork.h"
#include "ui/win32/native_link.h"
#include "ui/win32/text_codec.h"
#include "ui/win32/web_browser_host.h"
#include "ui/win32/win32_toolkit.h"

namespace ui::win32 {

namespace {

std::wstring WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(got < 0 ? 0 : got));
    return text;
}

bool TabStop(Toolkit::Kind kind, const ControlSpec& spec) {
    switch (kind) {
        case Toolkit::Kind::Button:
        case Toolkit::Kind::CheckBox:
        case Toolkit::Kind::ComboBox:
        case Toolkit::Kind::ListBox:
            return spec.tabOrder >= 0;
        case Toolkit::Kind::WebBrowser:
            return (spec.style & kTabStop) != 0;
        default:
            return false;
    }
}

// Creates the window of a control: a child of the control's parent at the
// control's bounds, with its font and id, bound to `link`.
HWND MakeWindow(Win32Toolkit& toolkit, NativeLink& link, Toolkit::Kind kind,
                const ControlSpec& spec, const wchar_t* className, DWORD style, DWORD exStyle = 0,
                int height = -1) {
    if (TabStop(kind, spec)) {
        style |= WS_TABSTOP;
    }
    const int id = toolkit.NextId(spec);
    HWND hwnd = CreateWindowExW(
        exStyle, className, L"", WS_CHILD | WS_VISIBLE | style, spec.bounds.left, spec.bounds.top,
        spec.bounds.width, height < 0 ? spec.bounds.height : height, toolkit.ParentOf(spec),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), &link);
    if (hwnd == nullptr) {
        return nullptr;
    }
    if (NativeLink::Of(hwnd) != &link) {
        link.Attach(hwnd);  // a system class: no WM_NCCREATE of ours
    }
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(toolkit.Font(spec)), FALSE);
    return hwnd;
}

// What every control does: mirror the enabled state and the caption, and
// leave the toolkit's books when it goes.
template <class Base>
class Windowed : public Base, public NativeLink {
public:
    Windowed(Win32Toolkit& toolkit, ControlSpec spec) : Base(std::move(spec)), toolkit_(toolkit) {}
    ~Windowed() override { toolkit_.Unregister(this); }

    void SetEnabled(bool enabled) override {
        Base::SetEnabled(enabled);
        if (hwnd_ != nullptr) {
            EnableWindow(hwnd_, enabled ? TRUE : FALSE);
        }
    }
    void SetCaption(const std::string& caption) override {
        Base::SetCaption(caption);
        if (hwnd_ != nullptr) {
            ShowCaption(Widen(caption));
        }
    }

protected:
    virtual void ShowCaption(const std::wstring& caption) {
        if (WindowText(hwnd_) != caption) {
            SetWindowTextW(hwnd_, caption.c_str());
        }
    }
    void Created(Toolkit::Kind kind, const wchar_t* className, DWORD style, DWORD exStyle = 0,
                 int height = -1) {
        MakeWindow(toolkit_, *this, kind, this->Spec(), className, style, exStyle, height);
        toolkit_.Register(this, this);
    }

    Win32Toolkit& toolkit_;
};

class NativeLabel : public Windowed<Control> {
public:
    NativeLabel(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        DWORD align = SS_LEFT;
        if (Spec().style & kRightAligned) {
            align = SS_RIGHT;
        } else if (Spec().style & kCentered) {
            align = SS_CENTER;
        }
        Created(Toolkit::Kind::Label, L"STATIC", align | SS_NOPREFIX);
    }
};

class NativeButton : public Windowed<Button> {
public:
    NativeButton(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::Button, L"BUTTON",
                (Spec().style & kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    }
    void Command(int code) override {
        if (code == BN_CLICKED) {
            Click();
        }
    }
};

class NativeCheckBox : public Windowed<CheckBox> {
public:
    NativeCheckBox(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::CheckBox, L"BUTTON", BS_AUTOCHECKBOX);
    }
    void SetChecked(bool checked) override {
        if (hwnd_ != nullptr) {
            SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        CheckBox::SetChecked(checked);
    }
    void Command(int code) override {
        if (code == BN_CLICKED) {
            // The box has toggled itself; the state follows it and the
            // event is raised once.
            CheckBox::SetChecked(SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED);
        }
    }
};

class NativeComboBox : public Windowed<ComboBox> {
public:
    NativeComboBox(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        // The window's height includes the drop-down list; the edit field
        // keeps the height of the layout.
        Created(Toolkit::Kind::ComboBox, L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL,
                0, Spec().bounds.height + 120);
        if (hwnd_ != nullptr) {
            SendMessageW(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                         Spec().bounds.height - 6);
        }
    }
    void SetCaption(const std::string& caption) override {
        FillList();
        Windowed::SetCaption(caption);
    }
    void Command(int code) override {
        switch (code) {
            case CBN_DROPDOWN:
                FillList();  // the entries may have changed since the last look
                break;
            case CBN_EDITCHANGE:
                UserEdit(Narrow(WindowText(hwnd_)));
                break;
            case CBN_SELCHANGE: {
                // The edit field still holds the old text here.
                const LRESULT index = SendMessageW(hwnd_, CB_GETCURSEL, 0, 0);
                if (index >= 0 && static_cast<size_t>(index) < Items.size()) {
                    UserEdit(Items[static_cast<size_t>(index)]);
                }
                break;
            }
            default:
                break;
        }
    }

private:
    // The entries are a plain member of the control: they reach the list
    // when the text is set and when the list drops down. An unchanged list
    // is left alone, so that a list being dropped is never emptied.
    void FillList() {
        if (hwnd_ == nullptr || Items == shownItems_) {
            return;
        }
        SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : Items) {
            SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
        }
        shownItems_ = Items;
        // Resetting the list cleared the edit field: the text stays what it was.
        SetWindowTextW(hwnd_, Widen(Text()).c_str());
    }

    std::vector<std::string> shownItems_;
};

class NativeListBox : public Windowed<ListBox> {
public:
    NativeListBox(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::ListBox, L"LISTBOX",
                LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER);
        if (hwnd_ != nullptr) {
            SendMessageW(hwnd_, LB_SETITEMHEIGHT, 0, 13);
        }
    }
    void Clear() override {
        ListBox::Clear();
        SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
    }
    void Add(const std::string& line) override {
        ListBox::Add(line);
        SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(line).c_str()));
    }
    void SetItemIndex(int index) override {
        ListBox::SetItemIndex(index);
        SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
};

class NativeProgressBar : public Windowed<ProgressBar> {
public:
    NativeProgressBar(Win32Toolkit& toolkit, ControlSpec spec)
        : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::ProgressBar, PROGRESS_CLASSW, 0);
        SendMessageW(hwnd_, PBM_SETRANGE32, 0, Max());
    }
    void SetMax(int32_t max) override {
        ProgressBar::SetMax(max);
        SendMessageW(hwnd_, PBM_SETRANGE32, 0, max);
    }
    void SetPosition(int32_t position) override {
        ProgressBar::SetPosition(position);
        SendMessageW(hwnd_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
};

class NativeStatusBar : public Windowed<Control> {
public:
    NativeStatusBar(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::StatusBar, STATUSCLASSNAMEW,
                CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER);
        int edges[1] = {150};  // one panel of width 150
        SendMessageW(hwnd_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(edges));
    }

protected:
    void ShowCaption(const std::wstring& caption) override {
        SendMessageW(hwnd_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(caption.c_str()));
    }
};

// Our own window classes paint themselves.
void FillFace(HWND hwnd, HDC dc) {
    RECT rect;
    GetClientRect(hwnd, &rect);
    FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE));
}

// A panel: button face with a lowered bevel inside its bounds, and its
// window text (if any) centred in it.
class NativePanel : public Windowed<Control> {
public:
    NativePanel(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::Panel, kPanelClass, WS_CLIPCHILDREN);
    }
    bool HandleMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
        if (msg == WM_ERASEBKGND) {
            result = 1;
            return true;
        }
        if (msg != WM_PAINT) {
            return false;
        }
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        FillFace(hwnd_, dc);
        RECT rect;
        GetClientRect(hwnd_, &rect);
        if (Spec().style & kLoweredBevel) {
            DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
        }
        EndPaint(hwnd_, &paint);
        result = 0;
        return true;
    }
};

// A clickable picture with the hand cursor. Its window text is its
// accessible name, which is what assistive technology reads for it.
class NativePicture : public Windowed<Button> {
public:
    NativePicture(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::Picture, kPictureClass, 0);
        if (hwnd_ != nullptr) {
            SetWindowTextW(hwnd_, Widen(Spec().accessibleName).c_str());
        }
        bitmap_ = LoadArt(Spec().resource, Spec().bounds.width, Spec().bounds.height,
                          (Spec().style & kStretch) != 0);
    }
    ~NativePicture() override {
        if (bitmap_ != nullptr) {
            DeleteObject(bitmap_);
        }
    }
    bool HandleMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result) override {
        switch (msg) {
            case WM_ERASEBKGND:
                result = 1;
                return true;
            case WM_PAINT:
                Paint();
                result = 0;
                return true;
            case WM_SETCURSOR:
                if ((Spec().style & kHandCursor) && LOWORD(lParam) == HTCLIENT) {
                    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
                    result = TRUE;
                    return true;
                }
                return false;
            case WM_LBUTTONUP:
                Click();
                result = 0;
                return true;
            default:
                return false;
        }
    }

protected:
    void ShowCaption(const std::wstring&) override {}  // the text stays the accessible name

private:
    void Paint() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        FillFace(hwnd_, dc);
        if (bitmap_ != nullptr) {
            BITMAP info{};
            GetObjectW(bitmap_, sizeof info, &info);
            HDC memory = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(memory, bitmap_);
            BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            DeleteDC(memory);
        }
        EndPaint(hwnd_, &paint);
    }

    HBITMAP bitmap_ = nullptr;
};

// The web browser: a host window in which the platform's control is placed;
// where that control cannot be had, the host shows a plain panel saying so
// in the player's language, with the reason and the page it would show.
class NativeWebBrowser : public Windowed<WebBrowser> {
public:
    NativeWebBrowser(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        Created(Toolkit::Kind::WebBrowser, kBrowserHostClass, WS_CLIPCHILDREN, 0);
        if (hwnd_ == nullptr) {
            return;
        }
        EmbeddedBrowser::Events events;
        events.beforeNavigate = [this](const std::string& url) {
            if (OnBeforeNavigate2) {
                OnBeforeNavigate2(url);
            }
        };
        events.downloadComplete = [this] {
            if (OnDownloadComplete) {
                OnDownloadComplete();
            }
        };
        browser_ = EmbeddedBrowser::Create(hwnd_, std::move(events), problem_);
        if (!browser_) {
            ShowFallback();
        }
    }
    ~NativeWebBrowser() override { browser_.reset(); }

    void Navigate(const std::string& url) override {
        WebBrowser::Navigate(url);
        if (browser_) {
            browser_->Navigate(url);
        } else {
            ShowFallback();
        }
    }
    void SetUnavailableText(const std::string& text) override {
        WebBrowser::SetUnavailableText(text);
        if (!browser_) {
            ShowFallback();
        }
    }

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        switch (msg) {
            case WM_SIZE:
                if (browser_) {
                    browser_->Resize(LOWORD(lParam), HIWORD(lParam));
                }
                return false;
            case WM_SETFOCUS:
                if (browser_) {
                    browser_->Focus();
                }
                return false;
            case WM_ERASEBKGND:
                result = 1;
                return true;
            case WM_PAINT:
                Paint();
                result = 0;
                return true;
            default:
                (void)wParam;
                return false;
        }
    }

private:
    void Paint() {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd_, &paint);
        FillFace(hwnd_, dc);
        if (!browser_) {
            RECT rect;
            GetClientRect(hwnd_, &rect);
            DrawEdge(dc, &rect, EDGE_SUNKEN, BF_RECT);
            InflateRect(&rect, -16, -16);
            const std::wstring text = WindowText(hwnd_);
            HGDIOBJ old = SelectObject(dc, toolkit_.Font(Spec()));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
                      DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, old);
        }
        EndPaint(hwnd_, &paint);
    }

    // The panel's words, then the page that would be shown.
    void ShowFallback() {
        if (hwnd_ == nullptr) {
            return;
        }
        std::wstring text = Widen(UnavailableText()) + Widen(problem_);
        if (!LocationURL().empty()) {
            text += L"\r\n\r\n" + Widen(LocationURL());
        }
        SetWindowTextW(hwnd_, text.c_str());
        InvalidateRect(hwnd_, nullptr, TRUE);
    }

    std::unique_ptr<EmbeddedBrowser> browser_;
    std::string problem_;
};

// The main window: fixed size, caption and system menu with a minimise
// button, button-face background; its client area has the layout's size.
class NativeForm : public Windowed<Form> {
public:
    static constexpr DWORD kStyle =
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    static constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

    NativeForm(Win32Toolkit& toolkit, ControlSpec spec) : Windowed(toolkit, std::move(spec)) {
        RECT outer{0, 0, Spec().bounds.width, Spec().bounds.height};
        AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
        // The class the spec names is registered with its first form; where
        // that fails, so does the window, and the form has no handle.
        const std::wstring className =
            Spec().windowClass.empty() ? kFormClass : Widen(Spec().windowClass);
        toolkit.RegisterWindowClass(className);
        CreateWindowExW(kExStyle, className.c_str(), L"", kStyle, Spec().bounds.left,
                        Spec().bounds.top, outer.right - outer.left, outer.bottom - outer.top,
                        nullptr, nullptr, GetModuleHandleW(nullptr),
                        static_cast<NativeLink*>(this));
        toolkit.SetFormHandle(hwnd_);
        toolkit.Register(this, this);
    }
    ~NativeForm() override { toolkit_.SetFormHandle(nullptr); }

    void SetPosition(int left, int top) override {
        Form::SetPosition(left, top);
        SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int OuterWidth() const override {
        RECT rect;
        GetWindowRect(hwnd_, &rect);
        return rect.right - rect.left;
    }
    int OuterHeight() const override {
        RECT rect;
        GetWindowRect(hwnd_, &rect);
        return rect.bottom - rect.top;
    }
    void Show() override {
        if (!shown_) {
            shown_ = true;
            ShowWindow(hwnd_, SW_SHOW);
            SetForegroundWindow(hwnd_);
            // The focus starts on the first control in tab order.
            if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) {
                SetFocus(first);
            }
            UpdateWindow(hwnd_);
        }
        Form::Show();
    }
    void Close() override {
        const bool wasOpen = !Closed();
        Form::Close();
        if (wasOpen && hwnd_ != nullptr) {
            ShowWindow(hwnd_, SW_HIDE);
        }
    }
    void Repaint() override {
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) override {
        switch (msg) {
            case WM_CLOSE:
                Close();
                result = 0;
                return true;
            case DM_GETDEFID: {
                // A push button with the focus is the one Enter presses;
                // otherwise the default button first in tab order.
                int id = toolkit_.DefaultButtonId();
                HWND focus = GetFocus();
                if (focus != nullptr && GetParent(focus) == hwnd_ &&
                    (SendMessageW(focus, WM_GETDLGCODE, 0, 0) &
                     (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
                    id = GetDlgCtrlID(focus);
                }
                result = id != 0 ? MAKELRESULT(id, DC_HASDEFID) : 0;
                return true;
            }
            case WM_COMMAND:
                // Esc with no cancel button, Enter with no default button.
                (void)wParam;
                result = 0;
                return true;
            default:
                return false;
        }
    }

private:
    bool shown_ = false;
};

}  // namespace

std::unique_ptr<Control> MakeNativeControl(Win32Toolkit& toolkit, Toolkit::Kind kind,
                                           ControlSpec spec) {
    using K = Toolkit::Kind;
    switch (kind) {
        case K::Form:
            return std::make_unique<NativeForm>(toolkit, std::move(spec));
        case K::Label:
            return std::make_unique<NativeLabel>(toolkit, std::move(spec));
        case K::Panel:
            return std::make_unique<NativePanel>(toolkit, std::move(spec));
        case K::Button:
            return std::make_unique<NativeButton>(toolkit, std::move(spec));
        case K::Picture:
            return std::make_unique<NativePicture>(toolkit, std::move(spec));
        case K::CheckBox:
            return std::make_unique<NativeCheckBox>(toolkit, std::move(spec));
        case K::ComboBox:
            return std::make_unique<NativeComboBox>(toolkit, std::move(spec));
        case K::ListBox:
            return std::make_unique<NativeListBox>(toolkit, std::move(spec));
        case K::ProgressBar:
            return std::make_unique<NativeProgressBar>(toolkit, std::move(spec));
        case K::StatusBar:
            return std::make_unique<NativeStatusBar>(toolkit, std::move(spec));
        case K::WebBrowser:
            return std::make_unique<NativeWebBrowser>(toolkit, std::move(spec));
    }
    return nullptr;
}

}  // namespace ui::win32
