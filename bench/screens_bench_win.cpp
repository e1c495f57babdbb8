// The comparison screens of Keldrun.exe on a large workspace, measured from outside the program:
//   screens_bench.exe PATH\Keldrun.exe FOLDER_ROWS
// Starts the program on the workspace of bench/screens.sh (two snapshots in the catalog), then
// times, each up to the moment nothing of the screen waits to be painted:
//   - Compare: opening the comparison and refreshing the three screens until the Registry
//     screen is painted;
//   - the Files tab: until the Files screen is painted;
//   - selecting the folder C:\big until its list holds FOLDER_ROWS rows and is painted;
//   - expanding the drive C:\ until its level is in the tree and painted.
// Then prints the program's peak memory (the peak working set, which Wine reports as the
// process's VmHWM) and closes it.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/main_window_win.h"
#include "resources/resource_ids.h"

namespace {

// Nothing of these windows waits to be painted.
bool painted(std::initializer_list<HWND> windows) {
  for (HWND w : windows) {
    if (!w || !IsWindowVisible(w) || GetUpdateRect(w, nullptr, FALSE)) return false;
  }
  return true;
}

HTREEITEM next(HWND tree, HTREEITEM item, UINT flag) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, flag, LPARAM(item)));
}

// The text of a tree item of another process, through memory inside it.
std::wstring itemText(HANDLE process, HWND tree, HTREEITEM item) {
  void* at = VirtualAllocEx(process, nullptr, sizeof(TVITEMW) + 512, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!at) return L"";
  TVITEMW it = {};
  it.mask = TVIF_TEXT;
  it.hItem = item;
  it.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(at) + sizeof(TVITEMW));
  it.cchTextMax = 255;
  WriteProcessMemory(process, at, &it, sizeof it, nullptr);
  SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(at));
  wchar_t text[256] = {0};
  ReadProcessMemory(process, static_cast<char*>(at) + sizeof(TVITEMW), text, 255 * sizeof(wchar_t), nullptr);
  VirtualFreeEx(process, at, 0, MEM_RELEASE);
  return text;
}

// The middle of tab `index` of a tab strip of another process, in its client pixels; 0 when
// there is none.
int tabCentre(HANDLE process, HWND tabs, int index) {
  void* at = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!at) return 0;
  RECT r = {};
  bool found = SendMessageW(tabs, TCM_GETITEMRECT, WPARAM(index), LPARAM(at)) &&
               ReadProcessMemory(process, at, &r, sizeof r, nullptr);
  VirtualFreeEx(process, at, 0, MEM_RELEASE);
  return found ? (r.left + r.right) / 2 : 0;
}

// Clicks the tab strip of the main window at x, as the user does.
void clickTab(HWND tabs, int x) {
  send(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, 10));
  send(tabs, WM_LBUTTONUP, 0, MAKELPARAM(x, 10));
}

int fail(const char* what) {
  std::printf("screens_bench: %s\n", what);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::printf("usage: screens_bench.exe PATH\\Keldrun.exe FOLDER_ROWS\n");
    return 2;
  }
  std::wstring exe = argv[1];
  int folderRows = _wtoi(argv[2]);
  std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
  std::wstring cmd = L"\"" + exe + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
    return fail("cannot start the program");
  }
  HWND main = nullptr;
  if (!until([&] { return (main = programMainWindow(pi.dwProcessId)) != nullptr; })) return fail("no main window");
  HWND snapshots = GetDlgItem(main, IDD_SNAPSHOTS_PAGE);
  HWND list = GetDlgItem(snapshots, IDC_SNAPSHOT_LIST);
  if (!until([&] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 2; })) return fail("the catalog is not two snapshots");
  HWND tabs = GetDlgItem(main, IDC_MAIN_TABS);
  // Where the Files tab is (the program's own tab strip), asked before anything is open: the
  // program makes its screens when they are first shown, and that is part of Compare.
  int filesX = tabCentre(pi.hProcess, tabs, 2);
  if (!filesX) return fail("cannot find the Files tab");

  double t = now();
  send(GetDlgItem(snapshots, IDC_COMPARE), BM_CLICK, 0, 0);
  HWND registry = GetDlgItem(main, IDD_REGISTRY_PAGE);
  HWND regTree = GetDlgItem(registry, IDC_SCREEN_TREE);
  if (!until([&] { return next(regTree, nullptr, TVGN_ROOT) != nullptr && painted({main, registry, regTree}); })) {
    return fail("the Registry screen was never painted");
  }
  double compare = now() - t;
  HWND files = GetDlgItem(main, IDD_FILES_PAGE);
  HWND fileTree = GetDlgItem(files, IDC_SCREEN_TREE);
  HWND fileList = GetDlgItem(files, IDC_SCREEN_LIST);

  t = now();
  clickTab(tabs, filesX);
  if (!until([&] { return painted({files, fileTree, fileList}); })) return fail("the Files screen was never painted");
  double filesTab = now() - t;

  HTREEITEM drive = next(fileTree, nullptr, TVGN_ROOT);
  if (!drive) return fail("no drive in the Files tree");
  t = now();
  send(fileTree, TVM_EXPAND, TVE_EXPAND, LPARAM(drive));
  if (!until([&] { return next(fileTree, drive, TVGN_CHILD) != nullptr && painted({fileTree}); })) {
    return fail("the drive never expanded");
  }
  double expandDrive = now() - t;
  HTREEITEM big = next(fileTree, drive, TVGN_CHILD);
  while (big && itemText(pi.hProcess, fileTree, big) != L"big") big = next(fileTree, big, TVGN_NEXT);
  if (!big) return fail("no folder big");
  t = now();
  send(fileTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(big));
  if (!until([&] { return SendMessageW(fileList, LVM_GETITEMCOUNT, 0, 0) == folderRows && painted({fileList}); })) {
    return fail("the folder's list was never filled");
  }
  double bigFolder = now() - t;

  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(pi.hProcess, &memory, sizeof memory);

  std::printf("compare, Registry screen painted: %.1f ms (goal < 100)\n", compare);
  std::printf("Files screen painted:             %.1f ms (goal < 100)\n", filesTab);
  std::printf("drive C:\\ expanded:               %.1f ms\n", expandDrive);
  std::printf("folder of %d files listed:     %.1f ms (goal < 300)\n", folderRows, bigFolder);
  std::printf("peak memory (VmHWM):              %.1f MB (goal < 100)\n", double(memory.PeakWorkingSetSize) / 1048576.0);
  PostMessageW(main, WM_CLOSE, 0, 0);
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
