// What the in-process window tests share: whether a display was asked for, screenshots, and a
// script of steps run from a thread timer inside a modal window's message loop.
//
// These tests need a display: tests/wine/gui_check.sh runs them with KELDRUN_GUI_TESTS=1; with
// KELDRUN_SHOTS set they save their screenshots there.
#ifndef KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_
#define KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_

#include <windows.h>

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

}  // namespace keldrun

#endif  // KELDRUN_TESTS_GUI_TEST_SUPPORT_WIN_H_
