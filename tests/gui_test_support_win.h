// What the in-process window tests share: whether a display was asked for, screenshots, and a
// script of steps run from a thread timer inside a modal window's message loop.
//
// These tests need a display: tests/wine/gui_check.sh runs them with KELDRUN_GUI_TESTS=1; with
// KELDRUN_SHOTS set they save their screenshots there.
#ifndef KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_
#define KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/screenshot.h"
#include "toolkit/toolkit.h"

namespace keldrun {

inline bool guiEnabled() {
  const char* v = std::getenv("KELDRUN_GUI_TESTS");
  return v && v[0] == '1';
}

#define REQUIRE_GUI()                                                           \
  do {                                                                          \
    if (!guiEnabled()) GTEST_SKIP() << "set KELDRUN_GUI_TESTS=1 with a display"; \
    ASSERT_TRUE(initToolkit());                                                 \
  } while (0)

// The window's picture as NAME.bmp in $KELDRUN_SHOTS, when it is set.
inline void shot(HWND window, const char* name) {
  const char* dir = std::getenv("KELDRUN_SHOTS");
  if (!dir || !*dir || !window) return;
  std::string path = std::string(dir) + "\\" + name + ".bmp";
  EXPECT_TRUE(saveWindowImage(window, std::wstring(path.begin(), path.end()))) << path;
}

// Each step is tried on every tick until it returns true; then the next one runs. Actions post
// their messages, so that a window the program opens in answer never runs inside a step.
class Script {
 public:
  using Step = std::function<bool()>;
  void add(Step s) { steps_.push_back(std::move(s)); }
  // Runs `body` (which opens a modal window) while the steps run; true when every step ran.
  bool run(const std::function<void()>& body) {
    current() = this;
    next_ = 0;
    busy_ = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 30, tick);
    body();
    KillTimer(nullptr, timer);
    current() = nullptr;
    return next_ == steps_.size();
  }
  size_t reached() const { return next_; }

 private:
  static Script*& current() {
    static Script* s = nullptr;
    return s;
  }
  static VOID CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    Script* s = current();
    if (!s || s->busy_ || s->next_ >= s->steps_.size()) return;
    s->busy_ = true;
    if (s->steps_[s->next_]()) s->next_++;
    s->busy_ = false;
  }
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool busy_ = false;
};

struct CaptionSearch {
  std::u16string caption;
  HWND found = nullptr;
};

// Enumeration calls back with the stdcall convention, which a lambda cannot have on 32-bit x86.
inline BOOL CALLBACK matchCaption(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<CaptionSearch*>(p);
  if (!IsWindowVisible(w) || windowText(w) != f->caption) return TRUE;
  f->found = w;
  return FALSE;
}

// The visible top-level window of this thread with this caption.
inline HWND threadWindow(const std::u16string& caption) {
  CaptionSearch find{caption};
  EnumThreadWindows(GetCurrentThreadId(), matchCaption, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

namespace geometry_detail {

inline std::string describe(HWND w) {
  wchar_t cls[64] = {0};
  GetClassNameW(w, cls, 64);
  std::u16string text = windowText(w);
  std::string out;
  for (const wchar_t* c = cls; *c; c++) out.push_back(char(*c));
  out += " " + std::to_string(GetDlgCtrlID(w)) + " \"";
  for (char16_t c : text) out.push_back(c < 128 ? char(c) : '?');
  return out + "\"";
}

inline std::string rectText(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

inline bool isClass(HWND w, const wchar_t* name) {
  wchar_t cls[64] = {0};
  GetClassNameW(w, cls, 64);
  return lstrcmpiW(cls, name) == 0;
}

// A group box, an etched frame or a tab control: a control that frames its siblings.
inline bool isFrame(HWND w) {
  if (isClass(w, WC_TABCONTROLW)) return true;
  LONG style = GetWindowLongW(w, GWL_STYLE);
  if (isClass(w, L"Button")) return (style & BS_TYPEMASK) == BS_GROUPBOX;
  if (!isClass(w, L"Static")) return false;
  LONG type = style & SS_TYPEMASK;
  return type == SS_ETCHEDFRAME || type == SS_BLACKFRAME || type == SS_GRAYFRAME || type == SS_WHITEFRAME;
}

inline bool inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

// The control's font, as a font of this process: a font handle of another process names some
// other object here, so a control of the program is measured in the font its dialog templates
// name, "MS Shell Dlg" at 8 points at the display's DPI.
inline HFONT fontCopy(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HFONT f = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
  LOGFONTW lf = {};
  if (pid == GetCurrentProcessId() && f && GetObjectW(f, sizeof lf, &lf) == sizeof lf) return CreateFontIndirectW(&lf);
  HDC screen = GetDC(nullptr);
  lf = LOGFONTW{};
  lf.lfHeight = -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

// The room the text needs beside it in a button of this type: the check mark of a check box or
// radio button, the edges of a push button, the icon strip of a program-drawn button (which the
// check cannot see from outside, so every program-drawn button is given room for one).
inline int buttonFrameWidth(LONG type) {
  switch (type) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
    case BS_3STATE: case BS_AUTO3STATE:
      return GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE) * 2;
    case BS_GROUPBOX:
      return GetSystemMetrics(SM_CXEDGE) * 8;
    case BS_OWNERDRAW:
      return 22 + GetSystemMetrics(SM_CXEDGE) * 2;  // icon at 6, text 16 further (toolkit/layout_model.h)
    default:
      return GetSystemMetrics(SM_CXEDGE) * 4;
  }
}

// Whether the control's text fits it; an empty text always fits.
inline std::string textFault(HWND w) {
  std::u16string text = windowText(w);
  // A line break at the end starts no line that shows.
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  if (text.empty()) return "";
  LONG style = GetWindowLongW(w, GWL_STYLE);
  bool statik = isClass(w, L"Static");
  int frame = 0;
  UINT format = DT_CALCRECT | DT_EXPANDTABS;
  if (statik) {
    LONG type = style & SS_TYPEMASK;
    if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP)
      return "";
    if (type != SS_SIMPLE && type != SS_LEFTNOWORDWRAP) format |= DT_WORDBREAK;
    if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  } else if (isClass(w, L"Button")) {
    frame = buttonFrameWidth(style & BS_TYPEMASK);
    format |= DT_SINGLELINE;
  } else {
    return "";
  }
  RECT client;
  GetClientRect(w, &client);
  int room = client.right - frame;
  HFONT font = fontCopy(w);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT need = {0, 0, room > 0 ? room : 1, 0};
  std::wstring wtext(text.begin(), text.end());
  DrawTextW(dc, wtext.c_str(), int(wtext.size()), &need, format);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  if (font) DeleteObject(font);
  if (need.right <= room && need.bottom <= client.bottom) return "";
  return "text needs " + std::to_string(need.right + frame) + "x" + std::to_string(need.bottom) + ", has " +
         std::to_string(client.right) + "x" + std::to_string(client.bottom);
}

struct Walk {
  std::vector<HWND> shown;
};

inline BOOL CALLBACK collect(HWND w, LPARAM p) {
  if (IsWindowVisible(w)) reinterpret_cast<Walk*>(p)->shown.push_back(w);
  return TRUE;
}

}  // namespace geometry_detail

// The geometry check of a laid-out window, for every scale the program runs at: each visible
// descendant lies inside its parent's client area and overlaps no visible sibling, and the text
// of each static, check box, radio button and push button fits its control in the control's own
// font. Works on windows of other processes too. Returns one line per fault, empty when none.
//
// Two overlaps are allowed, both of a frame and what it frames: a group box and an etched frame
// (a static drawn as a frame) may hold siblings that lie wholly inside them, since that is what
// they are for. Nothing else may overlap: the program's own tab strip and its pages sit one above
// the other, never on top.
inline std::vector<std::string> layoutFaults(HWND window) {
  using namespace geometry_detail;
  std::vector<std::string> faults;
  Walk walk;
  EnumChildWindows(window, collect, reinterpret_cast<LPARAM>(&walk));
  for (HWND w : walk.shown) {
    RECT own;
    GetWindowRect(w, &own);
    if (own.right <= own.left || own.bottom <= own.top) continue;  // nothing to see, nothing to hide
    HWND parent = GetParent(w);
    RECT area;
    GetClientRect(parent, &area);
    MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&area), 2);
    if (!inside(own, area))
      faults.push_back(describe(w) + " " + rectText(own) + " sticks out of " + describe(parent) + " " + rectText(area));
    std::string text = textFault(w);
    if (!text.empty()) faults.push_back(describe(w) + ": " + text);
    for (HWND other : walk.shown) {
      if (other <= w || GetParent(other) != parent) continue;
      RECT theirs, both;
      GetWindowRect(other, &theirs);
      if (!IntersectRect(&both, &own, &theirs)) continue;
      if ((isFrame(w) && inside(theirs, own)) || (isFrame(other) && inside(own, theirs))) continue;
      faults.push_back(describe(w) + " " + rectText(own) + " overlaps " + describe(other) + " " + rectText(theirs));
    }
  }
  return faults;
}

}  // namespace keldrun

#endif  // KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_
