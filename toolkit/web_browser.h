// CXWebBrowser: the system's web browser control hosted in a child window, for the report
// viewer and the help pages.
//
// Where the system has no HTML engine (Wine without its Gecko package, or KELDRUN_TEXT_BROWSER=1
// in the environment) the control shows a plain-text view of what was written or loaded, the
// document's links as a row of list items (a list box another process can read and set with
// plain window messages, and the keyboard can reach), and a button that opens the page in the
// system's browser; it never prompts and never waits. The interface and the order of callbacks
// are the same in both forms.
#ifndef KELDRUN_TOOLKIT_WEB_BROWSER_H_
#define KELDRUN_TOOLKIT_WEB_BROWSER_H_

#include <windows.h>

#include <memory>
#include <string>

#include "toolkit/browser_model.h"

namespace keldrun {

class CXWebBrowser {
 public:
  // Before any navigation: return true to allow it. Receives the target URL (see
  // navigationTarget in browser_model.h).
  using BeforeNavigate = bool (*)(const std::u16string& url, void* context);
  // After each navigation, with its URL.
  using NavigateComplete = void (*)(const std::u16string& url, void* context);

  CXWebBrowser();
  ~CXWebBrowser();
  CXWebBrowser(const CXWebBrowser&) = delete;
  CXWebBrowser& operator=(const CXWebBrowser&) = delete;

  // Creates the control and navigates to "about:blank". False when no host window could be made.
  bool create(const RECT& rect, DWORD style, int id, HWND parent);
  HWND hwnd() const { return host_; }

  void navigate(const std::u16string& url);
  // Writes an empty text into the document and closes it; the next write starts a new document.
  void clear();
  // Converts from the ANSI code page and writes into the document.
  void writeAnsi(const std::string& text);
  // Writes UTF-16 text. Until the document is available the text is kept pending and written,
  // then forgotten, when it becomes available.
  void writeWide(const std::u16string& text);

  // What a click on a link of the document does: a "#..." target is asked about (the
  // before-navigate callback) as a place in this document; any other is navigated to, relative
  // to the current address.
  void followLink(const std::u16string& target);

  void setBeforeNavigate(BeforeNavigate callback, void* context);
  void setNavigateComplete(NavigateComplete callback, void* context);
  // True when the last navigation ended on the browser's own error page.
  bool onErrorPage() const { return errorPage_; }

  // The browser's print preview with default options; false without an HTML engine.
  bool printPreview();
  // The document's "SaveAs" command with its user interface.
  bool saveAs(const std::u16string& suggestedName);

  // False when the control is the plain-text view.
  bool usesHtmlEngine() const;
  bool documentReady() const { return ready_; }
  // What the plain-text view shows (empty with an HTML engine).
  std::u16string shownText() const;
  // The text written into the current document (both forms).
  const std::u16string& documentText() const { return written_; }

  // Whether this system has an HTML engine for the control.
  static bool htmlEngineAvailable();

  struct Engine;  // the hosted browser or the text view

  // Events from either form (called by the engines).
  bool beforeNavigate(const std::u16string& url);
  void navigateComplete(const std::u16string& url);
  void documentComplete();

 private:
  friend LRESULT CALLBACK browserHostProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  void flushPending();
  void writeNow(const std::u16string& text);
  void openExternally();

  HWND host_ = nullptr;
  std::unique_ptr<Engine> engine_;
  PendingText pending_;
  std::u16string written_;  // the current document's text
  std::u16string url_;      // the last URL navigated to
  std::wstring externalCopy_;  // the written document as handed to the system's browser
  bool ready_ = false;
  bool errorPage_ = false;
  BeforeNavigate before_ = nullptr;
  void* beforeContext_ = nullptr;
  NavigateComplete complete_ = nullptr;
  void* completeContext_ = nullptr;
};

// The window class of the browser host; initToolkit registers it.
bool registerBrowserHostClass(HINSTANCE instance);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_WEB_BROWSER_H_
