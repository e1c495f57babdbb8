// Start-up of Keldrun.exe: the time from creating its process to the first paint of its main
// window with the snapshot list filled, measured from outside the program.
//   startup_bench.exe PATH\Keldrun.exe ROWS [RUNS]
// The peer is the floor of any window program under Wine: this program run as "--window", a
// process that starts OLE and the common controls and paints one window with an empty list in
// it. Runs of the two alternate, so both meet the same machine (Wine's times drift by a factor
// of two from one minute to the next). Prints each pair, both medians and their ratio.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/main_window_win.h"

namespace {

// Painted: visible, with no part of the window or of the list still waiting to be painted.
bool painted(HWND main, int rows) {
  HWND page = GetDlgItem(main, 131);
  HWND list = page ? GetDlgItem(page, 1001) : nullptr;
  if (!list || SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) != rows) return false;
  return !GetUpdateRect(main, nullptr, FALSE) && !GetUpdateRect(page, nullptr, FALSE) &&
         !GetUpdateRect(list, nullptr, FALSE);
}

LRESULT CALLBACK floorProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(w, msg, wp, lp);
}

int showFloorWindow() {
  OleInitialize(nullptr);
  HWND main = peerMainWindow(floorProc, L"KeldrunStartupFloor", L"Corvellan Software Keldrun (floor)");
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND page = CreateWindowW(L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 800, 600, main, HMENU(131), instance, nullptr);
  CreateWindowW(WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 780, 560, page, HMENU(1001), instance,
                nullptr);
  runPeerWindow(main);
  OleUninitialize();
  return 0;
}

std::wstring selfPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

double runOnce(const std::wstring& exe, int rows) {
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = exe == L"--floor" ? L"\"" + selfPath() + L"\" --window" : L"\"" + exe + L"\"";
  std::wstring folder = exe == L"--floor" ? std::wstring() : exe.substr(0, exe.find_last_of(L'\\') + 1);
  QueryPerformanceCounter(&t0);
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
    return -1;
  }
  double ms = -1;
  for (int i = 0; i < 200000; i++) {
    HWND main = programMainWindow(pi.dwProcessId);
    if (main && painted(main, rows)) {
      QueryPerformanceCounter(&t1);
      ms = double(t1.QuadPart - t0.QuadPart) * 1000.0 / double(freq.QuadPart);
      PostMessageW(main, WM_CLOSE, 0, 0);
      break;
    }
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) break;
    Sleep(1);  // leave the processor to the program being measured
  }
  if (WaitForSingleObject(pi.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ms;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--window") return showFloorWindow();
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_bench PATH\\Keldrun.exe ROWS [RUNS]\n");
    return 2;
  }
  std::string a = argv[1];
  std::wstring exe(a.begin(), a.end());
  int rows = std::atoi(argv[2]);
  int runs = argc > 3 ? std::atoi(argv[3]) : 7;
  std::vector<double> floors, programs;
  for (int r = 0; r < runs; r++) {
    double floor = runOnce(L"--floor", 0);
    double program = runOnce(exe, rows);
    if (floor < 0 || program < 0) {
      std::fprintf(stderr, "run %d: the %s never showed %d painted rows\n", r + 1,
                   floor < 0 ? "floor's window" : "main window", floor < 0 ? 0 : rows);
      return 1;
    }
    std::printf("run %d: floor %.1f ms, Keldrun.exe %.1f ms\n", r + 1, floor, program);
    floors.push_back(floor);
    programs.push_back(program);
  }
  double f = median(floors), k = median(programs);
  std::printf("start to first paint, medians of %d runs: floor %.1f ms, Keldrun.exe with %d snapshots "
              "%.1f ms (%.2f times the floor)\n",
              runs, f, rows, k, k / f);
  return 0;
}
