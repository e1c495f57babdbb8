// The main window of a Keldrun.exe process started by a bench: visible and titled as the
// program titles it. Null while the program has not shown it yet.
#ifndef KELDRUN_BENCH_MAIN_WINDOW_WIN_H_
#define KELDRUN_BENCH_MAIN_WINDOW_WIN_H_

#include <windows.h>

#include <string>

inline HWND programMainWindow(DWORD processId) {
  struct Search {
    DWORD pid;
    HWND found;
  } search = {processId, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != s->pid || !IsWindowVisible(w)) return TRUE;
        wchar_t title[64] = {0};
        GetWindowTextW(w, title, 64);
        if (std::wstring(title).rfind(L"Corvellan Software Keldrun", 0) != 0) return TRUE;
        s->found = w;
        return FALSE;
      },
      LPARAM(&search));
  return search.found;
}

#endif  // KELDRUN_BENCH_MAIN_WINDOW_WIN_H_
