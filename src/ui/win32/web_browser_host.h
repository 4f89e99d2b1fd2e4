// The platform's web-browser control hosted in a window: a minimal OLE
// container (client site, in-place site and frame) and a sink for the
// control's DWebBrowserEvents2, of which BeforeNavigate2 and
// DownloadComplete are passed on.
#pragma once

#include <windows.h>
// After windows.h:
#include <exdisp.h>
#include <ole2.h>

#include <functional>
#include <memory>
#include <string>

namespace ui::win32 {

class EmbeddedBrowser {
public:
    struct Events {
        std::function<void(const std::string& url)> beforeNavigate;
        std::function<void()> downloadComplete;
    };

    // Places the control in `host`, filling its client area. Null, with
    // `problem` saying why, when the control cannot be made or has no HTML
    // engine to render with.
    static std::unique_ptr<EmbeddedBrowser> Create(HWND host, Events events, std::string& problem);
    ~EmbeddedBrowser();
    EmbeddedBrowser(const EmbeddedBrowser&) = delete;
    EmbeddedBrowser& operator=(const EmbeddedBrowser&) = delete;

    // Navigates with every optional argument left out.
    void Navigate(const std::string& url);
    void Resize(int width, int height);
    void Focus();

    class Site;

private:
    EmbeddedBrowser() = default;

    HWND host_ = nullptr;
    Site* site_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* browser_ = nullptr;
    IConnectionPoint* events_ = nullptr;
    DWORD cookie_ = 0;
};

}  // namespace ui::win32
