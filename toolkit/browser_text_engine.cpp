#include "toolkit/browser_engine.h"

#include <algorithm>
#include <vector>

#include "toolkit/browser_model.h"
#include "toolkit/button.h"
#include "toolkit/file_dialog.h"
#include "toolkit/toolkit.h"

namespace keldrun {

namespace {

constexpr int kTextViewId = 100;
constexpr int kOpenButtonHeight = 24;

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
    // The button is as wide as its text needs, at least 160 pixels at 100 % scale.
    const int buttonHeight = dpiScale(kOpenButtonHeight), gap = dpiScale(4);
    int buttonWidth = std::max(dpiScale(160), textWidth(guiFont(), windowText(open_.hwnd())) + dpiScale(16));
    int viewHeight = height - top - buttonHeight - gap;
    if (viewHeight < 0) viewHeight = 0;
    SetWindowPos(view_, nullptr, 0, top, width, viewHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(open_.hwnd(), nullptr, 0, top + viewHeight + gap, std::min(buttonWidth, width), buttonHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  bool printPreview() override { return false; }
  bool saveAs(const std::u16string& name) override;
  void refresh() override {
    refreshPosted_ = false;
    SetWindowTextW(view_, wide(owner->shownText()));
    showLinks(documentLinks(owner->documentText()));
  }
  // The link chosen in the row, followed.
  void linkChosen() override {
    LRESULT at = SendMessageW(links_, LB_GETCURSEL, 0, 0);
    if (at >= 0 && size_t(at) < shownLinks_.size()) owner->followLink(shownLinks_[size_t(at)].target);
  }
  unsigned sequence() const override { return sequence_; }

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
  bool chosen = showSaveFileDialog(&ofn) != FALSE;
  if (kept > 0 && kept < MAX_PATH) SetCurrentDirectoryW(folder);
  if (!chosen) return false;
  return writeUtf16File(file, owner->documentText());
}

}  // namespace

std::unique_ptr<CXWebBrowser::Engine> makeTextEngine(CXWebBrowser* owner, HWND host) {
  return std::make_unique<TextEngine>(owner, host);
}

}  // namespace keldrun
