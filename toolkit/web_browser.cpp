#include "toolkit/web_browser.h"

#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "toolkit/browser_engine.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

const wchar_t kHostClass[] = L"CXBrowserHost";
constexpr uint64_t kMaxFileBytes = 64u << 20;

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
    engine_ = startHtmlEngine(this, host_);
  }
  if (!engine_) engine_ = makeTextEngine(this, host_);
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
        engine_->linkChosen();
      }
      return 0;
    case kDocumentReady:
      if (engine_ && !engine_->html() &&
          engine_->sequence() == unsigned(wparam)) {
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
