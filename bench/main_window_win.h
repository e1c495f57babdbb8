// What the window benches share: finding the main window of the program they started, waiting
// for it, sending to it, and the window of a bench's own peer program.
#ifndef KELDRUN_BENCH_MAIN_WINDOW_WIN_H_
#define KELDRUN_BENCH_MAIN_WINDOW_WIN_H_

#include <windows.h>
#include <commctrl.h>

#include <string>

// The main window of a Keldrun.exe process started by a bench: visible and titled as the
// program titles it. Null while the program has not shown it yet.
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

// The high-resolution counter in milliseconds.
inline double now() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// Polls until cond holds (1 ms steps, leaving the processor to the program measured); false
// after about limitMs.
template <typename Cond>
bool until(Cond cond, int limitMs = 60000) {
  for (int i = 0; i < limitMs; i++) {
    if (cond()) return true;
    Sleep(1);
  }
  return cond();
}

// A message to a window of another process; 0 when it did not answer within two minutes.
inline LRESULT send(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR r = 0;
  SendMessageTimeoutW(w, message, wparam, lparam, SMTO_NORMAL, 120000, &r);
  return LRESULT(r);
}

// The top-level window of a bench's peer program, with the common controls ready, titled as
// the program's main window begins so that programMainWindow finds it; proc gets its messages.
inline HWND peerMainWindow(WNDPROC proc, const wchar_t* className, const wchar_t* title) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = HBRUSH(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  RegisterClassW(&wc);
  return CreateWindowW(className, title, WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr, wc.hInstance,
                       nullptr);
}

// Shows the peer's window and runs its messages until it is closed.
inline void runPeerWindow(HWND main) {
  ShowWindow(main, SW_SHOW);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

#endif  // KELDRUN_BENCH_MAIN_WINDOW_WIN_H_
