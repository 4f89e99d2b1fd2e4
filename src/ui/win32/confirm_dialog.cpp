#include "ui/win32/confirm_dialog.h"

#include <algorithm>
#include <vector>

#include "ui/win32/win32_toolkit.h"

namespace ui::win32 {

namespace {

constexpr int kIconId = 100;
constexpr int kTextId = 101;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
static_assert(sizeof(DLGTEMPLATE) == 18 && sizeof(DLGITEMTEMPLATE) == 18,
              "dialog templates are packed to two bytes");

// A dialog template as the system reads it: a header, then each item
// aligned to four bytes, strings as UTF-16 with their terminator.
class TemplateWriter {
public:
    void Header(DWORD style, WORD items, const std::wstring& title) {
        DLGTEMPLATE header{};
        header.style = style;
        header.cdit = items;
        header.cx = 200;
        header.cy = 60;
        Raw(&header, sizeof header);
        Word(0);  // no menu
        Word(0);  // the dialog class
        String(title);
        Word(8);  // DS_SETFONT: point size and face
        String(L"MS Shell Dlg");
    }
    void Item(DWORD style, int id, WORD windowClass, const std::wstring& text) {
        Align();
        DLGITEMTEMPLATE item{};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.x = 0;
        item.y = 0;
        item.cx = 10;
        item.cy = 10;
        item.id = static_cast<WORD>(id);
        Raw(&item, sizeof item);
        Word(0xFFFF);
        Word(windowClass);
        String(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Raw(const void* data, size_t size) {
        const auto* from = static_cast<const WORD*>(data);
        words_.insert(words_.end(), from, from + size / sizeof(WORD));
    }
    void Word(WORD value) { words_.push_back(value); }
    void String(const std::wstring& text) {
        for (wchar_t c : text) {
            words_.push_back(static_cast<WORD>(c));
        }
        words_.push_back(0);
    }
    void Align() {
        if (words_.size() % 2 != 0) {
            words_.push_back(0);
        }
    }
    std::vector<WORD> words_;  // WORD storage keeps the start aligned
};

struct DialogData {
    std::wstring question;
};

// Lays the dialog out in pixels around the measured question text.
void Layout(HWND dialog, const std::wstring& question) {
    HWND text = GetDlgItem(dialog, kTextId);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    RECT measured{0, 0, 420, 0};
    DrawTextW(dc, question.c_str(), static_cast<int>(question.size()), &measured,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);

    const int margin = 12;
    const int icon = GetSystemMetrics(SM_CXICON);
    const int buttonWidth = 88;
    const int buttonHeight = 25;
    const int gap = 8;
    const int buttonsWidth = 3 * buttonWidth + 2 * gap;
    const int textLeft = margin + icon + margin;
    const int textHeight = std::max<int>(measured.bottom, icon);
    const int clientWidth =
        std::max<int>(textLeft + measured.right + margin, buttonsWidth + 2 * margin);
    const int buttonsTop = margin + textHeight + margin + 4;
    const int clientHeight = buttonsTop + buttonHeight + margin;

    MoveWindow(GetDlgItem(dialog, kIconId), margin, margin, icon, icon, FALSE);
    MoveWindow(text, textLeft, margin + std::max(0, (icon - static_cast<int>(measured.bottom)) / 2),
               measured.right, measured.bottom, FALSE);
    int left = (clientWidth - buttonsWidth) / 2;
    for (int id : {IDYES, IDNO, kIdYesToAll}) {
        MoveWindow(GetDlgItem(dialog, id), left, buttonsTop, buttonWidth, buttonHeight, FALSE);
        left += buttonWidth + gap;
    }
    RECT outer{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    // Centred over the owner, or the screen without one.
    RECT area;
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner == nullptr || !GetWindowRect(owner, &area)) {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            const auto* data = reinterpret_cast<const DialogData*>(lParam);
            SendDlgItemMessageW(dialog, kIconId, STM_SETICON,
                                reinterpret_cast<WPARAM>(
                                    LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION))),
                                0);
            SetDlgItemTextW(dialog, kTextId, data->question.c_str());
            Layout(dialog, data->question);
            MessageBeep(MB_ICONQUESTION);
            return TRUE;  // the focus goes to the first button, Yes
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDYES:
                case IDNO:
                case kIdYesToAll:
                    EndDialog(dialog, LOWORD(wParam));
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDNO);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

int RunConfirmDialog(HWND owner, const std::wstring& title, const std::wstring& question) {
    TemplateWriter writer;
    writer.Header(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 5, title);
    writer.Item(SS_ICON, kIconId, kStaticClass, L"");
    writer.Item(SS_LEFT | SS_NOPREFIX, kTextId, kStaticClass, L"");
    writer.Item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDYES, kButtonClass, L"&Yes");
    writer.Item(BS_PUSHBUTTON | WS_TABSTOP, IDNO, kButtonClass, L"&No");
    writer.Item(BS_PUSHBUTTON | WS_TABSTOP, kIdYesToAll, kButtonClass, L"Yes to &All");
    DialogData data{question};
    const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), writer.Get(), owner,
                                                   DialogProc, reinterpret_cast<LPARAM>(&data));
    if (answer == IDYES || answer == kIdYesToAll) {
        return static_cast<int>(answer);
    }
    return IDNO;  // No, Esc, the close box, or no dialog at all
}

}  // namespace ui::win32
