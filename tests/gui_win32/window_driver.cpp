#include "gui_win32/window_driver.h"

#include <fstream>

namespace gui_test {

std::wstring TextOf(HWND hwnd) {
    wchar_t text[2048] = {};
    // WM_GETTEXT is carried across processes; GetWindowText is not for
    // other processes' controls.
    SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return name;
}

namespace {

struct Collect {
    HWND top;
    std::vector<Child>* children;
};

BOOL CALLBACK AddChild(HWND hwnd, LPARAM data) {
    auto* collect = reinterpret_cast<Collect*>(data);
    Child child;
    child.hwnd = hwnd;
    child.className = ClassOf(hwnd);
    child.text = TextOf(hwnd);
    GetWindowRect(hwnd, &child.rect);
    MapWindowPoints(nullptr, collect->top, reinterpret_cast<POINT*>(&child.rect), 2);
    child.id = GetDlgCtrlID(hwnd);
    child.style = GetWindowLongW(hwnd, GWL_STYLE);
    collect->children->push_back(child);
    return TRUE;
}

struct TopSearch {
    DWORD process;
    std::wstring className;
    std::vector<HWND> found;
};

BOOL CALLBACK AddTop(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<TopSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if ((search->process == 0 || process == search->process) && IsWindowVisible(hwnd) &&
        ClassOf(hwnd) == search->className) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

std::vector<HWND> Tops(DWORD process, const std::wstring& className) {
    TopSearch search{process, className, {}};
    EnumWindows(AddTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::vector<Child> ChildrenOf(HWND top) {
    std::vector<Child> children;
    Collect collect{top, &children};
    EnumChildWindows(top, AddChild, reinterpret_cast<LPARAM>(&collect));
    return children;
}

SIZE ClientSize(HWND top) {
    RECT rect{};
    GetClientRect(top, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

std::vector<std::wstring> ListLines(HWND listBox) {
    std::vector<std::wstring> lines;
    const LRESULT count = SendMessageW(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(listBox, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring line(static_cast<size_t>(length < 0 ? 0 : length) + 1, L'\0');
        SendMessageW(listBox, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(line.data()));
        line.resize(static_cast<size_t>(length < 0 ? 0 : length));
        lines.push_back(line);
    }
    return lines;
}

void Press(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

HWND FocusOf(HWND top) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(top, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

void PressKey(HWND top, UINT virtualKey) {
    HWND target = FocusOf(top);
    if (target == nullptr) {
        target = top;
    }
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, virtualKey, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

Program::Program(const std::filesystem::path& exe, const std::filesystem::path& dir) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring command = L"\"" + exe.wstring() + L"\"";
    if (CreateProcessW(exe.wstring().c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       dir.wstring().c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

Program::~Program() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        CloseHandle(process_);
    }
}

HWND Program::WaitWindow(const std::wstring& className, uint32_t boundMs) const {
    HWND found = nullptr;
    brf_test::WaitFor(
        [&] {
            const std::vector<HWND> tops = Tops(id_, className);
            found = tops.empty() ? nullptr : tops.front();
            return found != nullptr;
        },
        {.boundMs = boundMs, .pollMs = kWindowPatience.pollMs});
    return found;
}

std::vector<HWND> Program::Dialogs() const {
    return Tops(id_, L"#32770");
}

HWND Program::WaitDialog(const std::wstring& text, uint32_t boundMs) const {
    HWND found = nullptr;
    brf_test::WaitFor(
        [&] {
            for (HWND dialog : Dialogs()) {
                if (DialogTexts(dialog).find(text) != std::wstring::npos) {
                    found = dialog;
                    return true;
                }
            }
            return false;
        },
        {.boundMs = boundMs, .pollMs = kWindowPatience.pollMs});
    return found;
}

bool Program::WaitExit(uint32_t boundMs, DWORD* exitCode) const {
    if (process_ == nullptr || WaitForSingleObject(process_, boundMs) != WAIT_OBJECT_0) {
        return false;
    }
    if (exitCode != nullptr) {
        GetExitCodeProcess(process_, exitCode);
    }
    return true;
}

std::vector<HWND> TopLevelWindows(const std::wstring& className) {
    return Tops(0, className);
}

std::filesystem::path ProgramOf(HWND top) {
    DWORD id = 0;
    GetWindowThreadProcessId(top, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return {};
    }
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool got = QueryFullProcessImageNameW(process, 0, path, &size) != FALSE;
    CloseHandle(process);
    return got ? std::filesystem::path(path) : std::filesystem::path();
}

std::wstring DialogTexts(HWND dialog) {
    std::wstring texts = TextOf(dialog);
    for (const Child& child : ChildrenOf(dialog)) {
        texts += L"\n" + child.text;
    }
    return texts;
}

HWND FindChild(HWND parent, const std::wstring& text, const std::wstring& className) {
    for (const Child& child : ChildrenOf(parent)) {
        if (child.text == text && (className.empty() || child.className == className)) {
            return child.hwnd;
        }
    }
    return nullptr;
}

bool SaveScreenshot(HWND top, const std::filesystem::path& file) {
    RECT rect{};
    if (!GetWindowRect(top, &rect)) {
        return false;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files are
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
        const DWORD size = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + size;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.write(static_cast<const char*>(bits), size);
        saved = static_cast<bool>(out);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace gui_test
