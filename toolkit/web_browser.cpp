#include "toolkit/web_browser.h"

#include <commctrl.h>
#include <commdlg.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ocidl.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "toolkit/button.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

const wchar_t kHostClass[] = L"CXBrowserHost";
constexpr UINT kDocumentReady = WM_APP + 0x4B0;  // wparam: navigation sequence number
constexpr UINT kRefreshView = WM_APP + 0x4B1;
constexpr int kTextViewId = 100;
constexpr int kOpenButtonId = 101;
constexpr int kLinkListId = 102;
constexpr int kOpenButtonHeight = 24;
constexpr uint64_t kMaxFileBytes = 64u << 20;

std::u16string fromWide(const wchar_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// A local path for a URL that names a file, empty otherwise.
std::wstring localPathOf(const std::u16string& url) {
  std::wstring w(url.begin(), url.end());
  if (w.size() > 8 && _wcsnicmp(w.c_str(), L"file:///", 8) == 0) {
    std::wstring p = w.substr(8);
    for (wchar_t& c : p) {
      if (c == L'/') c = L'\\';
    }
    return p;
  }
  if (w.size() > 2 && w[1] == L':' && (w[2] == L'\\' || w[2] == L'/')) return w;
  if (w.size() > 2 && w[0] == L'\\' && w[1] == L'\\') return w;
  return std::wstring();
}

// Reads a page file for the text view: UTF-16 with a byte order mark, UTF-8 with one, or ANSI.
bool readPage(const std::wstring& path, std::u16string* out) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(f, &size) || uint64_t(size.QuadPart) > kMaxFileBytes) {
    CloseHandle(f);
    return false;
  }
  std::vector<char> bytes(size_t(size.QuadPart));
  DWORD got = 0;
  bool ok = bytes.empty() || (ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr) &&
                              got == bytes.size());
  CloseHandle(f);
  if (!ok) return false;
  out->clear();
  size_t n = bytes.size();
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    for (size_t i = 2; i + 1 < n; i += 2) out->push_back(char16_t(b[i] | (b[i + 1] << 8)));
    return true;
  }
  UINT page = CP_ACP;
  size_t start = 0;
  if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    page = CP_UTF8;
    start = 3;
  }
  if (n > start) {
    int len = MultiByteToWideChar(page, 0, bytes.data() + start, int(n - start), nullptr, 0);
    std::wstring w(size_t(len), L'\0');
    MultiByteToWideChar(page, 0, bytes.data() + start, int(n - start), &w[0], len);
    *out = fromWide(w.data(), w.size());
  }
  return true;
}

}  // namespace

// ---- the two forms ----

struct CXWebBrowser::Engine {
  explicit Engine(CXWebBrowser* owner) : owner(owner) {}
  virtual ~Engine() = default;
  virtual bool html() const = 0;
  virtual void navigate(const std::u16string& url) = 0;
  // Writes into the document; false when there is no document to write to.
  virtual bool write(const std::u16string& text) = 0;
  virtual void clear() = 0;
  virtual void resize(int width, int height) = 0;
  virtual bool printPreview() = 0;
  virtual bool saveAs(const std::u16string& name) = 0;
  virtual void refresh() {}
  CXWebBrowser* owner;
};

namespace {

// The plain-text view: the document's links in a row of their own above what was written or
// loaded, as text, and a button that opens the page in the system's browser. Choosing a link
// (a click, the arrow keys, or typing its first letters) follows it; the link the page marks is
// the row's selection. Navigation completes on a posted message, like the real control.
class TextEngine : public CXWebBrowser::Engine {
 public:
  TextEngine(CXWebBrowser* owner, HWND host) : Engine(owner), host_(host) {
    links_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                             WS_CHILD | WS_TABSTOP | LBS_NOTIFY | LBS_MULTICOLUMN |
                                 LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
                             0, 0, 0, 0, host, reinterpret_cast<HMENU>(INT_PTR(kLinkListId)),
                             toolkitInstance(), nullptr);
    SendMessageW(links_, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
    view_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                                ES_READONLY | ES_AUTOVSCROLL,
                            0, 0, 0, 0, host, reinterpret_cast<HMENU>(INT_PTR(kTextViewId)),
                            toolkitInstance(), nullptr);
    SendMessageW(view_, EM_SETLIMITTEXT, 0, 0);
    SendMessageW(view_, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
    open_.create(host, kOpenButtonId, RECT{0, 0, 10, 10}, L"Open in web browser");
    SendMessageW(open_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
  }
  bool html() const override { return false; }
  void navigate(const std::u16string& url) override {
    ++sequence_;
    PostMessageW(host_, kDocumentReady, WPARAM(sequence_), 0);
  }
  bool write(const std::u16string&) override {
    if (!refreshPosted_) {
      refreshPosted_ = true;
      PostMessageW(host_, kRefreshView, 0, 0);
    }
    return true;
  }
  void clear() override { write(u""); }
  void resize(int width, int height) override {
    width_ = width;
    height_ = height;
    int top = 0;
    if (!shownLinks_.empty()) {
      top = int(SendMessageW(links_, LB_GETITEMHEIGHT, 0, 0)) + 2 * GetSystemMetrics(SM_CYEDGE);
      SetWindowPos(links_, nullptr, 0, 0, width, top, SWP_NOZORDER | SWP_NOACTIVATE);
      top += 2;
    }
    int viewHeight = height - top - kOpenButtonHeight - 4;
    if (viewHeight < 0) viewHeight = 0;
    SetWindowPos(view_, nullptr, 0, top, width, viewHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(open_.hwnd(), nullptr, 0, top + viewHeight + 4, 160 < width ? 160 : width,
                 kOpenButtonHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  bool printPreview() override { return false; }
  bool saveAs(const std::u16string& name) override;
  void refresh() override {
    refreshPosted_ = false;
    SetWindowTextW(view_, wide(owner->shownText()));
    showLinks(documentLinks(owner->documentText()));
  }
  // The link chosen in the row, followed.
  void linkChosen() {
    LRESULT at = SendMessageW(links_, LB_GETCURSEL, 0, 0);
    if (at >= 0 && size_t(at) < shownLinks_.size()) owner->followLink(shownLinks_[size_t(at)].target);
  }
  unsigned sequence() const { return sequence_; }

 private:
  void showLinks(const std::vector<DocumentLink>& links) {
    bool sameRow = links.size() == shownLinks_.size();
    for (size_t i = 0; sameRow && i < links.size(); ++i) {
      sameRow = links[i].target == shownLinks_[i].target && links[i].text == shownLinks_[i].text;
    }
    bool hadLinks = !shownLinks_.empty();
    shownLinks_ = links;
    if (!sameRow) {
      SendMessageW(links_, WM_SETREDRAW, FALSE, 0);
      SendMessageW(links_, LB_RESETCONTENT, 0, 0);
      HDC dc = GetDC(links_);
      HGDIOBJ font = SelectObject(dc, guiFont());
      int widest = 0;
      for (const DocumentLink& l : links) {
        SendMessageW(links_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(l.text)));
        SIZE size = {};
        GetTextExtentPoint32W(dc, wide(l.text), int(l.text.size()), &size);
        if (size.cx > widest) widest = size.cx;
      }
      SelectObject(dc, font);
      ReleaseDC(links_, dc);
      SendMessageW(links_, LB_SETCOLUMNWIDTH, WPARAM(widest + 16), 0);
      SendMessageW(links_, WM_SETREDRAW, TRUE, 0);
      InvalidateRect(links_, nullptr, TRUE);
    }
    // Placed before the choice, so that the row scrolls only when the choice does not fit.
    if (hadLinks != !links.empty()) {
      ShowWindow(links_, links.empty() ? SW_HIDE : SW_SHOWNA);
      resize(width_, height_);
    }
    if (!sameRow) SendMessageW(links_, LB_SETTOPINDEX, 0, 0);
    int marked = -1;
    for (size_t i = 0; i < links.size() && marked < 0; ++i) {
      if (links[i].marked) marked = int(i);
    }
    SendMessageW(links_, LB_SETCURSEL, WPARAM(marked), 0);
  }

  HWND host_;
  HWND links_ = nullptr;
  HWND view_ = nullptr;
  CXButton open_;
  std::vector<DocumentLink> shownLinks_;
  int width_ = 0, height_ = 0;
  unsigned sequence_ = 0;
  bool refreshPosted_ = false;
};

bool writeUtf16File(const std::wstring& path, const std::u16string& text) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::u16string body = u"\uFEFF" + text;
  if (!text.empty() && text[0] == 0xFEFF) body = text;
  DWORD put = 0;
  bool ok = WriteFile(f, body.data(), DWORD(body.size() * 2), &put, nullptr) &&
            put == body.size() * 2;
  CloseHandle(f);
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

bool TextEngine::saveAs(const std::u16string& name) {
  wchar_t file[MAX_PATH] = {0};
  lstrcpynW(file, wide(name), MAX_PATH);
  wchar_t folder[MAX_PATH];
  DWORD kept = GetCurrentDirectoryW(MAX_PATH, folder);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = host_;
  ofn.lpstrFilter = L"HTML (*.htm)\0*.htm\0All files (*.*)\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrDefExt = L"htm";
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  bool chosen = GetSaveFileNameW(&ofn) != FALSE;
  if (kept > 0 && kept < MAX_PATH) SetCurrentDirectoryW(folder);
  if (!chosen) return false;
  return writeUtf16File(file, owner->documentText());
}

// ---- the hosted browser ----

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

bool envForcesText() {
  wchar_t v[8];
  DWORD n = GetEnvironmentVariableW(L"KELDRUN_TEXT_BROWSER", v, 8);
  return n > 0 && n < 8 && v[0] == L'1';
}

bool folderExists(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

LRESULT CALLBACK browserHostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<CXWebBrowser*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && message != WM_NCDESTROY) {
    if (message == WM_NCCREATE) self->host_ = window;
    return self->handle(message, wparam, lparam);
  }
  if (self && message == WM_NCDESTROY) {
    self->host_ = nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool registerBrowserHostClass(HINSTANCE instance) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = browserHostProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kHostClass;
  return RegisterClassW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// ---- CXWebBrowser ----

CXWebBrowser::CXWebBrowser() = default;

CXWebBrowser::~CXWebBrowser() {
  // The copy handed to the system's browser lives as long as this control.
  if (!externalCopy_.empty()) DeleteFileW(externalCopy_.c_str());
  engine_.reset();
  if (host_) {
    SetWindowLongPtrW(host_, GWLP_USERDATA, 0);
    DestroyWindow(host_);
  }
}

bool CXWebBrowser::htmlEngineAvailable() {
  static int known = -1;
  if (known >= 0) return known == 1;
  bool available = !envForcesText();
  if (available) {
    HMODULE mshtml = LoadLibraryW(L"mshtml.dll");
    available = mshtml != nullptr;
    if (mshtml) FreeLibrary(mshtml);
  }
  if (available && runningUnderWine()) {
    // Wine's engine needs its Gecko package; without it the first page would offer a download.
    wchar_t system[MAX_PATH], windows[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    GetWindowsDirectoryW(windows, MAX_PATH);
    available = folderExists(std::wstring(system) + L"\\gecko") ||
                folderExists(std::wstring(windows) + L"\\syswow64\\gecko") ||
                folderExists(L"Z:\\usr\\share\\wine\\gecko") ||
                folderExists(L"Z:\\opt\\wine\\gecko");
  }
  known = available ? 1 : 0;
  return available;
}

bool CXWebBrowser::create(const RECT& rect, DWORD style, int id, HWND parent) {
  if (host_) return false;
  // A control parent, so that Tab reaches the text view's link row and text.
  HWND w = CreateWindowExW(WS_EX_CONTROLPARENT, kHostClass, L"", WS_CHILD | WS_CLIPCHILDREN | style, rect.left,
                           rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                           reinterpret_cast<HMENU>(INT_PTR(id)), toolkitInstance(), this);
  if (!w) return false;
  if (htmlEngineAvailable()) {
    OleInitialize(nullptr);
    auto html = std::make_unique<HtmlEngine>(this, host_);
    if (html->start()) engine_ = std::move(html);
  }
  if (!engine_) engine_ = std::make_unique<TextEngine>(this, host_);
  RECT r;
  GetClientRect(host_, &r);
  engine_->resize(r.right, r.bottom);
  navigate(u"about:blank");
  return true;
}

bool CXWebBrowser::usesHtmlEngine() const { return engine_ && engine_->html(); }

void CXWebBrowser::navigate(const std::u16string& url) {
  if (!engine_) return;
  if (engine_->html()) {
    ready_ = false;
    engine_->navigate(url);
    return;
  }
  // The text view runs the same steps: ask, load, then complete on a posted message.
  if (!beforeNavigate(url)) return;
  ready_ = false;
  url_ = url;
  written_.clear();
  std::wstring path = localPathOf(url);
  if (!path.empty()) {
    std::u16string page;
    if (readPage(path, &page)) written_ = page;
  } else if (url != u"about:blank") {
    written_ = url;
  }
  engine_->navigate(url);
  engine_->write(u"");
}

void CXWebBrowser::clear() {
  pending_.take();
  written_.clear();
  if (engine_ && ready_) engine_->clear();
  if (engine_ && !engine_->html()) engine_->write(u"");
}

void CXWebBrowser::writeAnsi(const std::string& text) {
  if (text.empty()) return;
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &w[0], n);
  writeWide(fromWide(w.data(), w.size()));
}

void CXWebBrowser::writeWide(const std::u16string& text) {
  if (!ready_ || !engine_) {
    pending_.append(text);
    return;
  }
  writeNow(text);
}

void CXWebBrowser::writeNow(const std::u16string& text) {
  if (engine_->write(text)) {
    written_ += text;
  } else {
    pending_.append(text);
  }
}

void CXWebBrowser::flushPending() {
  std::u16string text = pending_.take();
  if (!text.empty()) writeNow(text);
}

void CXWebBrowser::setBeforeNavigate(BeforeNavigate callback, void* context) {
  before_ = callback;
  beforeContext_ = context;
}

void CXWebBrowser::setNavigateComplete(NavigateComplete callback, void* context) {
  complete_ = callback;
  completeContext_ = context;
}

bool CXWebBrowser::beforeNavigate(const std::u16string& url) {
  if (!before_) return true;
  return before_(navigationTarget(url), beforeContext_);
}

void CXWebBrowser::navigateComplete(const std::u16string& url) {
  url_ = url;
  errorPage_ = isBrowserErrorPage(url);
  if (complete_) complete_(url, completeContext_);
}

void CXWebBrowser::documentComplete() {
  ready_ = true;
  flushPending();
}

void CXWebBrowser::followLink(const std::u16string& target) {
  std::u16string address = linkAddress(url_, target);
  if (!target.empty() && target[0] == u'#') {
    // A place in this document: asked about like any navigation, and there is nothing to load.
    beforeNavigate(address);
    return;
  }
  navigate(address);
}

bool CXWebBrowser::printPreview() { return engine_ && engine_->printPreview(); }

bool CXWebBrowser::saveAs(const std::u16string& suggestedName) {
  return engine_ && engine_->saveAs(suggestedName);
}

std::u16string CXWebBrowser::shownText() const {
  if (usesHtmlEngine()) return std::u16string();
  return htmlToPlainText(written_);
}

void CXWebBrowser::openExternally() {
  std::wstring target;
  if (written_.empty() && url_ != u"about:blank" && !url_.empty()) {
    target.assign(url_.begin(), url_.end());
  } else {
    wchar_t folder[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, folder)) return;
    wchar_t name[MAX_PATH + 32];
    // One copy per control, so that two views' copies never overwrite each other.
    swprintf(name, MAX_PATH + 32, L"%lskeldrun_view_%lu_%lu.htm", folder, GetCurrentProcessId(),
             static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(host_) & 0xFFFFFFFFu));
    if (!writeUtf16File(name, written_)) return;
    target = name;
    externalCopy_ = name;
  }
  ShellExecuteW(host_, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CXWebBrowser::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      if (engine_) engine_->resize(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == kOpenButtonId) openExternally();
      if (LOWORD(wparam) == kLinkListId && HIWORD(wparam) == LBN_SELCHANGE && engine_ &&
          !engine_->html()) {
        static_cast<TextEngine*>(engine_.get())->linkChosen();
      }
      return 0;
    case kDocumentReady:
      if (engine_ && !engine_->html() &&
          static_cast<TextEngine*>(engine_.get())->sequence() == unsigned(wparam)) {
        navigateComplete(url_);
        documentComplete();
        engine_->write(u"");
      }
      return 0;
    case kRefreshView:
      if (engine_) engine_->refresh();
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only text view keeps a window background.
      SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    default:
      return DefWindowProcW(host_, message, wparam, lparam);
  }
}

}  // namespace keldrun
