// What the browser control (toolkit/web_browser.cpp) shares with its two forms: the engine
// interface, the host window's private messages and child identifiers, and the helpers both
// sides use. Private to the control; nothing outside the toolkit includes it.
#ifndef KELDRUN_TOOLKIT_BROWSER_ENGINE_H_
#define KELDRUN_TOOLKIT_BROWSER_ENGINE_H_

#include <windows.h>

#include <memory>
#include <string>

#include "toolkit/web_browser.h"

namespace keldrun {

// Posted to the host window by the text view: a navigation has loaded (wparam: its sequence
// number), and the view is to show the document's text again.
constexpr UINT kDocumentReady = WM_APP + 0x4B0;
constexpr UINT kRefreshView = WM_APP + 0x4B1;
// The text view's children that report to the host window.
constexpr int kOpenButtonId = 101;
constexpr int kLinkListId = 102;

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
  // The text view alone: its link row's choice changed; the sequence number of its last
  // navigation.
  virtual void linkChosen() {}
  virtual unsigned sequence() const { return 0; }
  CXWebBrowser* owner;
};

// The plain-text view (browser_text_engine.cpp).
std::unique_ptr<CXWebBrowser::Engine> makeTextEngine(CXWebBrowser* owner, HWND host);
// The hosted browser (browser_html_engine.cpp), in place in host; null when it cannot start.
std::unique_ptr<CXWebBrowser::Engine> startHtmlEngine(CXWebBrowser* owner, HWND host);

inline std::u16string fromWide(const wchar_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// Writes text as a UTF-16LE file with a byte order mark (kept when text begins with one). A
// file that could not be written whole is deleted.
bool writeUtf16File(const std::wstring& path, const std::u16string& text);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_BROWSER_ENGINE_H_
