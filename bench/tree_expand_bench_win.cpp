// Expanding everything (numeric-keypad "*") on the root of a Full-mode tree, measured from
// outside: in Keldrun.exe viewing the snapshot of bench/tree_shape.h, and beside it in the same
// run in the least program that does the same: a bare tree view that fills each level as it is
// expanded, with the same placeholder child under every key that has keys below it.
//   tree_expand_bench.exe PATH\Keldrun.exe [RUNS]
// Prints each run of both, their medians and the ratio. bench/screens.sh --expand prepares the
// workspace. "tree_expand_bench.exe --bare" is the bare program's window.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/main_window_win.h"
#include "bench/tree_shape.h"
#include "resources/resource_ids.h"

namespace {

// ---- the bare program ----

constexpr LPARAM kPlaceholder = -1;

HTREEITEM insert(HWND tree, HTREEITEM parent, const std::string& name, LPARAM depth) {
  std::wstring text(name.begin(), name.end());
  TVINSERTSTRUCTW ins = {};
  ins.hParent = parent;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  ins.item.pszText = &text[0];
  ins.item.iImage = ins.item.iSelectedImage = 6;
  ins.item.lParam = depth;
  HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, LPARAM(&ins)));
  if (depth >= 0 && tree_shape::kChildren[depth] > 0) insert(tree, item, "-", kPlaceholder);
  return item;
}

LPARAM itemParam(HWND tree, HTREEITEM item) {
  TVITEMW it = {};
  it.mask = TVIF_PARAM;
  it.hItem = item;
  SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&it));
  return it.lParam;
}

void expanding(HWND tree, const NMTREEVIEWW& change) {
  if (!(change.action & TVE_EXPAND)) return;
  HTREEITEM item = change.itemNew.hItem;
  HTREEITEM first = TreeView_GetChild(tree, item);
  if (!first || itemParam(tree, first) != kPlaceholder) return;
  TreeView_DeleteItem(tree, first);
  int depth = int(itemParam(tree, item)) + 1;
  for (int i = 0; i < tree_shape::kChildren[depth - 1]; i++) insert(tree, item, tree_shape::name(depth, i), depth);
}

LRESULT CALLBACK bareProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NOTIFY) {
    auto* n = reinterpret_cast<NMHDR*>(lp);
    if (n->code == TVN_ITEMEXPANDINGW) expanding(n->hwndFrom, *reinterpret_cast<NMTREEVIEWW*>(lp));
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(w, msg, wp, lp);
}

int showBareWindow() {
  HWND main = peerMainWindow(bareProc, L"KeldrunBareTree", L"Corvellan Software Keldrun (bare tree)");
  HWND tree = CreateWindowW(WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                            0, 53, 200, 500, main, HMENU(IDC_SCREEN_TREE), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tree, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  // Keldrun.exe's tree has an image list of 16-pixel icons: the same number of blank ones.
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 21, 0);
  HDC screen = GetDC(nullptr);
  HBITMAP blank = CreateCompatibleBitmap(screen, 16, 16);
  ReleaseDC(nullptr, screen);
  for (int i = 0; i < 21; i++) ImageList_Add(images, blank, nullptr);
  TreeView_SetImageList(tree, images, TVSIL_NORMAL);
  insert(tree, TVI_ROOT, tree_shape::name(0, 0), 0);
  runPeerWindow(main);
  return 0;
}

// ---- the measurement ----

bool painted(HWND w) { return w && IsWindowVisible(w) && !GetUpdateRect(w, nullptr, FALSE); }

constexpr int kExpandLimitMs = 600000;

struct Started {
  PROCESS_INFORMATION pi = {};
  HWND main = nullptr;
};

bool start(const std::wstring& exe, const std::wstring& arguments, Started* s) {
  std::wstring cmd = L"\"" + exe + L"\"" + arguments;
  std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &s->pi)) {
    return false;
  }
  return until([&] { return (s->main = programMainWindow(s->pi.dwProcessId)) != nullptr; });
}

void stop(Started* s) {
  if (s->main) PostMessageW(s->main, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(s->pi.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(s->pi.hProcess, 1);
  CloseHandle(s->pi.hThread);
  CloseHandle(s->pi.hProcess);
}

// Keldrun.exe: the one snapshot of the list selected and viewed; its Registry tree.
HWND viewSnapshot(Started* s) {
  HWND page = GetDlgItem(s->main, IDD_SNAPSHOTS_PAGE);
  HWND list = GetDlgItem(page, IDC_SNAPSHOT_LIST);
  if (!until([&] { return send(list, LVM_GETITEMCOUNT, 0, 0) == 1; })) return nullptr;
  void* at = VirtualAllocEx(s->pi.hProcess, nullptr, sizeof(LVITEMW), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  LVITEMW item = {};
  item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
  WriteProcessMemory(s->pi.hProcess, at, &item, sizeof item, nullptr);
  send(list, LVM_SETITEMSTATE, 0, LPARAM(at));
  VirtualFreeEx(s->pi.hProcess, at, 0, MEM_RELEASE);
  send(GetDlgItem(page, IDC_VIEW_SNAPSHOT), BM_CLICK, 0, 0);
  HWND tree = nullptr;
  until([&] { return (tree = GetDlgItem(GetDlgItem(s->main, IDD_REGISTRY_PAGE), IDC_SCREEN_TREE)) != nullptr; });
  return tree;
}

// Milliseconds from "*" on the root item to every key in the tree, painted; -1 on failure.
double expandAll(HWND tree) {
  HTREEITEM root = nullptr;
  if (!until([&] { return (root = HTREEITEM(send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0))) != nullptr; })) return -1;
  send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(root));
  if (!until([&] { return painted(tree); })) return -1;
  double t = now();
  PostMessageW(tree, WM_KEYDOWN, VK_MULTIPLY, 0);
  if (!until([&] { return send(tree, TVM_GETCOUNT, 0, 0) == tree_shape::kKeys && painted(tree); }, kExpandLimitMs)) {
    return -1;
  }
  return now() - t;
}

double runBare() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  Started s;
  if (!start(self, L" --bare", &s)) return -1;
  double ms = expandAll(GetDlgItem(s.main, IDC_SCREEN_TREE));
  stop(&s);
  return ms;
}

double runProgram(const std::wstring& exe) {
  Started s;
  if (!start(exe, L"", &s)) return -1;
  HWND tree = viewSnapshot(&s);
  double ms = tree ? expandAll(tree) : -1;
  stop(&s);
  return ms;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string program = argc > 1 ? argv[1] : "";
  if (program == "--bare") return showBareWindow();
  int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  if (program.empty() || runs < 1) {
    std::fprintf(stderr, "usage: tree_expand_bench PATH\\Keldrun.exe [RUNS]\n");
    return 2;
  }
  std::wstring exe(program.begin(), program.end());
  std::vector<double> bare, keldrun;
  for (int r = 0; r < runs; r++) {
    double b = runBare(), p = runProgram(exe);
    if (b < 0 || p < 0) {
      std::fprintf(stderr, "run %d: the tree never held its %d keys (bare %.0f, Keldrun.exe %.0f)\n", r + 1,
                   tree_shape::kKeys, b, p);
      return 1;
    }
    std::printf("run %d: bare tree view %.1f ms, Keldrun.exe %.1f ms\n", r + 1, b, p);
    std::fflush(stdout);
    bare.push_back(b);
    keldrun.push_back(p);
  }
  double b = median(bare), p = median(keldrun);
  std::printf("expand all, %d keys: bare tree view median %.1f ms, Keldrun.exe median %.1f ms (%.2f times it)\n",
              tree_shape::kKeys, b, p, p / b);
  return 0;
}
