#include "toolkit/browser_engine.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ocidl.h>
#include <ole2.h>

#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

// The hosted browser: the system's web browser control, active in place in the host window. The
// site is the control's container and receives its events.
class BrowserSite : public IOleClientSite,
                    public IOleInPlaceSite,
                    public IOleInPlaceFrame,
                    public IDispatch {
 public:
  BrowserSite(CXWebBrowser::Engine* engine, HWND host) : engine_(engine), host_(host) {}
  void detach() { engine_ = nullptr; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
      *out = static_cast<IDispatch*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (both the site and the frame)
  STDMETHODIMP GetWindow(HWND* w) override {
    *w = host_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(host_, pos);
    GetClientRect(host_, clip);
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(host_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDispatch: the browser's events.
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override;

 private:
  virtual ~BrowserSite() = default;
  CXWebBrowser::Engine* engine_;
  HWND host_;
  LONG refs_ = 1;
};

std::u16string urlOf(const VARIANT& v) {
  const VARIANT* p = &v;
  if (p->vt == (VT_BYREF | VT_VARIANT) && p->pvarVal) p = p->pvarVal;
  if (p->vt == VT_BSTR && p->bstrVal) return fromWide(p->bstrVal, SysStringLen(p->bstrVal));
  return std::u16string();
}

class HtmlEngine : public CXWebBrowser::Engine {
 public:
  HtmlEngine(CXWebBrowser* owner, HWND host) : Engine(owner), host_(host) {}
  ~HtmlEngine() override { shutdown(); }

  bool start() {
    site_ = new BrowserSite(this, host_);
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&object_)))) {
      return false;
    }
    object_->SetClientSite(static_cast<IOleClientSite*>(site_));
    OleSetContainedObject(object_, TRUE);
    RECT r;
    GetClientRect(host_, &r);
    if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                               static_cast<IOleClientSite*>(site_), 0, host_, &r))) {
      return false;
    }
    if (FAILED(object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_)))) {
      return false;
    }
    browser_->put_Silent(VARIANT_TRUE);
    IConnectionPointContainer* container = nullptr;
    if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(&container)))) {
      if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &events_))) {
        events_->Advise(static_cast<IDispatch*>(site_), &cookie_);
      }
      container->Release();
    }
    return true;
  }

  void shutdown() {
    if (events_) {
      events_->Unadvise(cookie_);
      events_->Release();
      events_ = nullptr;
    }
    if (browser_) {
      browser_->Stop();
      browser_->Release();
      browser_ = nullptr;
    }
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
      object_->Release();
      object_ = nullptr;
    }
    if (site_) {
      site_->detach();
      site_->Release();
      site_ = nullptr;
    }
  }

  bool html() const override { return true; }

  void navigate(const std::u16string& url) override {
    if (!browser_) return;
    BSTR b = SysAllocStringLen(wide(url), UINT(url.size()));
    VARIANT empty;
    VariantInit(&empty);
    browser_->Navigate(b, &empty, &empty, &empty, &empty);
    SysFreeString(b);
  }

  IHTMLDocument2* document() {
    if (!browser_) return nullptr;
    IDispatch* d = nullptr;
    if (FAILED(browser_->get_Document(&d)) || !d) return nullptr;
    IHTMLDocument2* doc = nullptr;
    d->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&doc));
    d->Release();
    return doc;
  }

  bool write(const std::u16string& text) override {
    IHTMLDocument2* doc = document();
    if (!doc) return false;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    bool ok = false;
    if (array) {
      VARIANT* v = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(array, reinterpret_cast<void**>(&v)))) {
        v->vt = VT_BSTR;
        v->bstrVal = SysAllocStringLen(wide(text), UINT(text.size()));
        SafeArrayUnaccessData(array);
        ok = SUCCEEDED(doc->write(array));
      }
      SafeArrayDestroy(array);  // frees the string with the variant
    }
    doc->Release();
    return ok;
  }

  void clear() override {
    IHTMLDocument2* doc = document();
    if (!doc) return;
    write(u"");
    doc->close();
    doc->Release();
  }

  void resize(int width, int height) override {
    if (!object_) return;
    IOleInPlaceObject* inplace = nullptr;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject,
                                          reinterpret_cast<void**>(&inplace)))) {
      RECT r = {0, 0, width, height};
      inplace->SetObjectRects(&r, &r);
      inplace->Release();
    }
  }

  bool printPreview() override {
    if (!browser_) return false;
    return SUCCEEDED(
        browser_->ExecWB(OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr));
  }

  bool saveAs(const std::u16string& name) override {
    IHTMLDocument2* doc = document();
    if (!doc) return false;
    BSTR command = SysAllocString(L"SaveAs");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(wide(name), UINT(name.size()));
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = doc->execCommand(command, VARIANT_TRUE, value, &done);
    VariantClear(&value);
    SysFreeString(command);
    doc->Release();
    return SUCCEEDED(hr) && done == VARIANT_TRUE;
  }

  bool topLevel(IDispatch* frame) const {
    if (!frame || !browser_) return false;
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    frame->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    browser_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    bool same = a && a == b;
    if (a) a->Release();
    if (b) b->Release();
    return same;
  }

  // Events, called by the site.
  friend class BrowserSite;

 private:
  HWND host_;
  BrowserSite* site_ = nullptr;
  IOleObject* object_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
  IConnectionPoint* events_ = nullptr;
  DWORD cookie_ = 0;
};

STDMETHODIMP BrowserSite::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                 EXCEPINFO*, UINT*) {
  if (!engine_ || !params) return S_OK;
  auto* engine = static_cast<HtmlEngine*>(engine_);
  // Arguments arrive in reverse order.
  switch (id) {
    case DISPID_BEFORENAVIGATE2:
      if (params->cArgs >= 7) {
        std::u16string url = urlOf(params->rgvarg[5]);
        VARIANT& cancel = params->rgvarg[0];
        bool allow = engine->owner->beforeNavigate(url);
        if (!allow && cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal) {
          *cancel.pboolVal = VARIANT_TRUE;
        }
      }
      break;
    case DISPID_NAVIGATECOMPLETE2:
      if (params->cArgs >= 2) engine->owner->navigateComplete(urlOf(params->rgvarg[0]));
      break;
    case DISPID_DOCUMENTCOMPLETE:
      if (params->cArgs >= 2 && params->rgvarg[1].vt == VT_DISPATCH &&
          engine->topLevel(params->rgvarg[1].pdispVal)) {
        engine->owner->documentComplete();
      }
      break;
    default:
      break;
  }
  return S_OK;
}

}  // namespace

std::unique_ptr<CXWebBrowser::Engine> startHtmlEngine(CXWebBrowser* owner, HWND host) {
  auto html = std::make_unique<HtmlEngine>(owner, host);
  if (!html->start()) return nullptr;
  return html;
}

}  // namespace keldrun
