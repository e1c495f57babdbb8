// Start-up of Keldrun.exe: the time from creating its process to the first paint of its main
// window with the snapshot list filled, measured from outside the program.
//   startup_bench.exe PATH\Keldrun.exe ROWS [RUNS [SAME]]
// Three peers are measured beside it:
// - the floor of any window program under Wine: this program run as "--window", a process that
//   starts OLE and the common controls and paints one window with an empty list in it;
// - the same floor with the program's common controls: SAME (below) run as "--window", the
//   empty window again, but with version 6 of the common controls and their visual styles, as
//   the manifest asks for them;
// - the same window made bare: SAME (a copy of this program beside Keldrun.exe's manifest, so
//   that it gets the program's common controls) run as "--same-window", which makes the
//   program's main window and Snapshots page from Keldrun.exe's own dialog templates, a tab row, the list's columns and ROWS rows and both snapshot
//   boxes filled, and nothing else: no workspace, no settings, no drawn buttons. What Keldrun.exe
//   takes beyond it is the program's own start.
// Runs of the three alternate, so all meet the same machine (Wine's times drift by a factor of
// two from one minute to the next). Prints each run, the medians and the ratios.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/main_window_win.h"
#include "resources/resource_ids.h"

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

// ---- the same window, bare ----

int sameRows = 0;

// The text of a cell of the bare list: what the program shows, in length and kind.
void cellText(int row, int column, wchar_t* out, int size) {
  switch (column) {
    case 0: _snwprintf(out, size_t(size), L"Snapshot #%d", row + 1); break;
    case 1: _snwprintf(out, size_t(size), L"BENCH-PC"); break;
    case 2: _snwprintf(out, size_t(size), L"2026-12-09 20:%02d:%02d", row / 60 % 60, row % 60); break;
    case 3: _snwprintf(out, size_t(size), L"%d KB", 12 + row); break;
    default: _snwprintf(out, size_t(size), L"%d", (row * 7 + column) % 100); break;
  }
  out[size - 1] = 0;
}

INT_PTR CALLBACK samePageProc(HWND page, UINT msg, WPARAM, LPARAM lp) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == LVN_GETDISPINFOW) {
    LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lp)->item;
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
      cellText(item.iItem, item.iSubItem, item.pszText, item.cchTextMax);
    SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
    return TRUE;
  }
  return FALSE;
}

void fillSamePage(HWND page, int width, int height) {
  HWND list = GetDlgItem(page, IDC_SNAPSHOT_LIST);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
  const wchar_t* titles[] = {L"Name", L"Computer", L"Date", L"Size", L"Regs", L"Files", L"Apps"};
  const int widths[] = {200, 100, 100, 70, 40, 40, 40};
  const int formats[] = {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_CENTER, LVCFMT_CENTER, LVCFMT_CENTER};
  for (int c = 0; c < 7; c++) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = const_cast<wchar_t*>(titles[c]);
    column.cx = widths[c];
    column.fmt = formats[c];
    ListView_InsertColumn(list, c, &column);
  }
  ListView_SetItemCountEx(list, sameRows, LVSICF_NOINVALIDATEALL);
  for (int box : {IDC_FIRST_SNAPSHOT, IDC_SECOND_SNAPSHOT}) {
    SendDlgItemMessageW(page, box, WM_SETREDRAW, FALSE, 0);
    for (int r = 0; r < sameRows; r++) {
      wchar_t name[64];
      cellText(r, 0, name, 64);
      SendDlgItemMessageW(page, box, CB_ADDSTRING, 0, LPARAM(name));
    }
    SendDlgItemMessageW(page, box, WM_SETREDRAW, TRUE, 0);
    SendDlgItemMessageW(page, box, CB_SETCURSEL, 0, 0);
  }
  MoveWindow(page, 0, 20, width, height - 20, FALSE);
}

INT_PTR CALLBACK sameMainProc(HWND main, UINT msg, WPARAM, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto resources = reinterpret_cast<HINSTANCE>(lp);
    RECT client;
    GetClientRect(main, &client);
    HWND tabs = CreateWindowW(WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, client.right, 20,
                              main, HMENU(1), GetModuleHandleW(nullptr), nullptr);
    const wchar_t* names[] = {L"Snapshots", L"Registry", L"Files", L"Applications", L"Help"};
    for (int t = 0; t < 5; t++) {
      TCITEMW item = {};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<wchar_t*>(names[t]);
      TabCtrl_InsertItem(tabs, t, &item);
    }
    HWND page = CreateDialogParamW(resources, MAKEINTRESOURCEW(IDD_SNAPSHOTS_PAGE), main, samePageProc, 0);
    SetWindowLongPtrW(page, GWLP_ID, IDD_SNAPSHOTS_PAGE);
    fillSamePage(page, client.right, client.bottom);
    ShowWindow(page, SW_SHOW);
    return TRUE;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(main);
    return TRUE;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return FALSE;
}

int showSameWindow(const wchar_t* program, int rows) {
  sameRows = rows;
  HMODULE resources = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!resources) return 1;
  OleInitialize(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  HWND main = CreateDialogParamW(resources, MAKEINTRESOURCEW(IDD_MAIN_WINDOW), nullptr, sameMainProc,
                                 LPARAM(resources));
  if (!main) return 1;
  ShowWindow(main, SW_SHOW);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(main, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  OleUninitialize();
  return 0;
}

// ---- the measure ----

std::wstring selfPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// One start of exe ("--floor", "--floor6" and "--same" for the peers) to the first paint of a main window
// with rows rows; -1 when it never came.
double runOnce(const std::wstring& exe, int rows, const std::wstring& program, const std::wstring& same) {
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = L"\"" + exe + L"\"";
  if (exe == L"--floor") cmd = L"\"" + selfPath() + L"\" --window";
  if (exe == L"--floor6") cmd = L"\"" + same + L"\" --window";
  if (exe == L"--same") cmd = L"\"" + same + L"\" --same-window " + std::to_wstring(rows) + L" \"" + program + L"\"";
  std::wstring folder = exe.rfind(L"--", 0) == 0 ? std::wstring() : exe.substr(0, exe.find_last_of(L'\\') + 1);
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
  if (argc == 4 && std::string(argv[1]) == "--same-window") {
    std::string p = argv[3];
    return showSameWindow(std::wstring(p.begin(), p.end()).c_str(), std::atoi(argv[2]));
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_bench PATH\\Keldrun.exe ROWS [RUNS [SAME]]\n");
    return 2;
  }
  std::string a = argv[1];
  std::wstring exe(a.begin(), a.end());
  int rows = std::atoi(argv[2]);
  int runs = argc > 3 ? std::atoi(argv[3]) : 7;
  std::string samePath = argc > 4 ? argv[4] : "";
  std::wstring sameExe = samePath.empty() ? selfPath() : std::wstring(samePath.begin(), samePath.end());
  std::vector<double> floors, floors6, sames, programs;
  for (int r = 0; r < runs; r++) {
    double floor = runOnce(L"--floor", 0, exe, sameExe);
    double floor6 = runOnce(L"--floor6", 0, exe, sameExe);
    double same = runOnce(L"--same", rows, exe, sameExe);
    double program = runOnce(exe, rows, exe, sameExe);
    if (floor < 0 || floor6 < 0 || same < 0 || program < 0) {
      std::fprintf(stderr, "run %d: the %s never showed %d painted rows\n", r + 1,
                   floor < 0    ? "floor's window"
                   : floor6 < 0 ? "floor's window with the program's common controls"
                   : same < 0   ? "bare same window"
                                : "main window",
                   floor < 0 || floor6 < 0 ? 0 : rows);
      return 1;
    }
    std::printf("run %d: floor %.1f ms, floor with the program's common controls %.1f ms, same window bare "
                "%.1f ms, Keldrun.exe %.1f ms\n",
                r + 1, floor, floor6, same, program);
    floors.push_back(floor);
    floors6.push_back(floor6);
    sames.push_back(same);
    programs.push_back(program);
  }
  double f = median(floors), f6 = median(floors6), b = median(sames), k = median(programs);
  std::printf("start to first paint, medians of %d runs: floor %.1f ms, the floor with the program's "
              "common controls %.1f ms (%.2f times the floor), the same window bare %.1f ms (%.2f times "
              "the floor), Keldrun.exe with %d snapshots %.1f ms (%.2f times the floor, %.2f times the "
              "floor with the program's common controls, %.2f times the same window bare)\n",
              runs, f, f6, f6 / f, b, b / f, rows, k, k / f, k / f6, k / b);
  return 0;
}
