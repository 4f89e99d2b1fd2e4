#include "ui/win32/web_browser_host.h"

#include <exdispid.h>

#include <exception>

#include "platform/event_loop.h"
#include "ui/win32/text_codec.h"

namespace ui::win32 {

namespace {

// The HTML document object, which renders the control's pages. Where it
// cannot be made, the control would stay blank.
const CLSID kHtmlDocument = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

std::string HexResult(HRESULT result) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

}  // namespace

// The container's side of the embedding, and the sink of the control's
// events. One object, counted by COM, that lives as long as the control
// holds it.
class EmbeddedBrowser::Site final : public IOleClientSite,
                                    public IOleInPlaceSite,
                                    public IOleInPlaceFrame,
                                    public IDispatch {
public:
    Site(HWND host, Events events) : host_(host), events_(std::move(events)) {}
    virtual ~Site() = default;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
            *out = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
            *out = static_cast<IOleInPlaceSite*>(this);
        } else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) ||
                   IsEqualIID(iid, IID_IOleInPlaceFrame)) {
            *out = static_cast<IOleInPlaceFrame*>(this);
        } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_DWebBrowserEvents2)) {
            *out = static_cast<IDispatch*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
        *out = host_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, RECT* position,
                                               RECT* clip, OLEINPLACEFRAMEINFO* info) override {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        GetClientRect(host_, position);
        GetClientRect(host_, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = GetAncestor(host_, GA_ROOT);
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool bars, no menus.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the control's events.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        try {
            if (id == DISPID_BEFORENAVIGATE2 && params != nullptr && params->cArgs == 7) {
                // Arguments arrive last first: the address is the second.
                const VARIANT* url = &params->rgvarg[5];
                if (url->vt == (VT_BYREF | VT_VARIANT) && url->pvarVal != nullptr) {
                    url = url->pvarVal;
                }
                std::string address;
                if (url->vt == VT_BSTR && url->bstrVal != nullptr) {
                    address = Narrow(std::wstring(url->bstrVal, SysStringLen(url->bstrVal)));
                }
                if (events_.beforeNavigate) {
                    events_.beforeNavigate(address);
                }
            } else if (id == DISPID_DOWNLOADCOMPLETE) {
                if (events_.downloadComplete) {
                    events_.downloadComplete();
                }
            }
        } catch (...) {
            plat::MainLoop().HandleException(std::current_exception());
        }
        return S_OK;
    }

    // The object is told by its owner when the host goes.
    void Forget() { events_ = {}; }

private:
    long refs_ = 1;
    HWND host_;
    Events events_;
};

std::unique_ptr<EmbeddedBrowser> EmbeddedBrowser::Create(HWND host, Events events,
                                                         std::string& problem) {
    IUnknown* document = nullptr;
    HRESULT result = CoCreateInstance(kHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      reinterpret_cast<void**>(&document));
    if (FAILED(result) || document == nullptr) {
        problem = "the system has no HTML engine (" + HexResult(result) + ")";
        return nullptr;
    }
    document->Release();

    std::unique_ptr<EmbeddedBrowser> self(new EmbeddedBrowser);
    self->host_ = host;
    self->site_ = new Site(host, std::move(events));
    result = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              reinterpret_cast<void**>(&self->object_));
    if (FAILED(result) || self->object_ == nullptr) {
        problem = "the web-browser control cannot be created (" + HexResult(result) + ")";
        return nullptr;
    }
    self->object_->SetClientSite(static_cast<IOleClientSite*>(self->site_));
    OleSetContainedObject(self->object_, TRUE);
    RECT rect;
    GetClientRect(host, &rect);
    result = self->object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                                   static_cast<IOleClientSite*>(self->site_), 0, host, &rect);
    if (FAILED(result)) {
        problem = "the web-browser control cannot be shown (" + HexResult(result) + ")";
        return nullptr;
    }
    result =
        self->object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&self->browser_));
    if (FAILED(result) || self->browser_ == nullptr) {
        problem = "the web-browser control has no IWebBrowser2 (" + HexResult(result) + ")";
        return nullptr;
    }
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(self->object_->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(&points)))) {
        if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &self->events_)) &&
            FAILED(self->events_->Advise(static_cast<IDispatch*>(self->site_), &self->cookie_))) {
            self->events_->Release();
            self->events_ = nullptr;
        }
        points->Release();
    }
    self->Resize(rect.right - rect.left, rect.bottom - rect.top);
    return self;
}

EmbeddedBrowser::~EmbeddedBrowser() {
    if (events_ != nullptr) {
        events_->Unadvise(cookie_);
        events_->Release();
    }
    if (browser_ != nullptr) {
        browser_->Stop();
        browser_->Release();
    }
    if (object_ != nullptr) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        object_->Release();
    }
    if (site_ != nullptr) {
        site_->Forget();
        site_->Release();
    }
}

void EmbeddedBrowser::Navigate(const std::string& url) {
    if (browser_ == nullptr) {
        return;
    }
    BSTR address = SysAllocString(Widen(url).c_str());
    VARIANT empty;
    VariantInit(&empty);
    browser_->Navigate(address, &empty, &empty, &empty, &empty);
    SysFreeString(address);
}

void EmbeddedBrowser::Resize(int width, int height) {
    if (object_ == nullptr) {
        return;
    }
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(
            object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        RECT rect{0, 0, width, height};
        inPlace->SetObjectRects(&rect, &rect);
        inPlace->Release();
    }
}

void EmbeddedBrowser::Focus() {
    if (object_ != nullptr && site_ != nullptr) {
        RECT rect;
        GetClientRect(host_, &rect);
        object_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, host_,
                        &rect);
    }
}

}  // namespace ui::win32
