// keldrun_drive.exe: drives the windows of another process with window messages, for the
// end-to-end checks under Wine (which has no other way to press a button of a running program).
//
//   keldrun_drive.exe COMMAND ARGS [; COMMAND ARGS]...
//
// Windows are named by their caption (exact, visible, top-level, any process); controls by id
// anywhere below them (0: the window itself), as "page/id" below the child window `page`, and
// as "id:class" where a system dialog gives one id to several controls. Every command that waits gives up after 60 s.
//   wait CAPTION               until the window exists
//   gone CAPTION               until it no longer exists
//   click CAPTION ID           posts BM_CLICK
//   press CAPTION ID           sends BM_CLICK and returns once it has been handled (only for
//                              buttons that open no modal window)
//   settext CAPTION ID TEXT    WM_SETTEXT
//   expect CAPTION ID PREFIX   until the control's text begins with PREFIX
//   enabled CAPTION ID 0|1     until the control is disabled (0) or enabled (1)
//   keys CAPTION ID KEY...     posts key presses: Home End Up Down Left Right Space Escape Return
//   chars CAPTION ID TEXT      posts WM_CHAR for each character
//   select CAPTION ID TEXT     selects the first tree item with this text among those shown
//                              (every ancestor expanded), scrolled into view
//   selected CAPTION ID TEXT   until the tree's selected item has this text
//   check CAPTION ID N         until the tree's selected item has check state N (0, 1, 2)
//   close CAPTION              posts WM_CLOSE
//   shot CAPTION FILE          saves the window's picture as a BMP file (for the gallery)
//   lvselect CAPTION ID ROW... selects exactly these rows of a list view
//   cell CAPTION ID ROW COLUMN TEXT  until that cell of a list view holds exactly TEXT
//   windows                    prints the visible top-level windows and their controls
//   items CAPTION ID           prints the texts of the tree items shown
// Exit status 0 when every command succeeded, 1 at the first failure (named on stderr).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "toolkit/screenshot.h"

namespace {

constexpr DWORD kPatienceMs = 60000;
constexpr DWORD kPollMs = 50;

struct Found {
  const wchar_t* caption;
  HWND window;
};

// Window enumeration calls back with the stdcall convention, which a lambda cannot have on
// 32-bit x86: plain functions.
BOOL CALLBACK matchCaption(HWND w, LPARAM p) {
  auto* f = reinterpret_cast<Found*>(p);
  wchar_t text[512];
  if (!IsWindowVisible(w) || !GetWindowTextW(w, text, 512) || wcscmp(text, f->caption)) return TRUE;
  f->window = w;
  return FALSE;
}

HWND findTop(const std::wstring& caption) {
  Found f{caption.c_str(), nullptr};
  EnumWindows(matchCaption, reinterpret_cast<LPARAM>(&f));
  return f.window;
}

struct ById {
  int id;
  const wchar_t* className;
  HWND window;
};

BOOL CALLBACK matchControl(HWND w, LPARAM p) {
  auto* b = reinterpret_cast<ById*>(p);
  if (b->className) {
    wchar_t cls[64];
    GetClassNameW(w, cls, 64);
    if (_wcsicmp(cls, b->className)) return TRUE;
  }
  if (b->id && GetDlgCtrlID(w) != b->id) return TRUE;
  b->window = w;
  return FALSE;
}

HWND findChild(HWND top, int id, const wchar_t* className = nullptr) {
  if (!top) return nullptr;
  if (id == 0 && !className) return top;
  ById b{id, className, nullptr};
  EnumChildWindows(top, matchControl, reinterpret_cast<LPARAM>(&b));
  return b.window;
}

BOOL CALLBACK printControl(HWND c, LPARAM) {
  wchar_t t[256] = {}, k[128];
  GetClassNameW(c, k, 128);
  GetWindowTextW(c, t, 256);
  wprintf(L"  %d [%ls] %ls\n", GetDlgCtrlID(c), k, t);
  return TRUE;
}

BOOL CALLBACK printWindow(HWND w, LPARAM) {
  wchar_t text[512], cls[128];
  if (IsWindowVisible(w) && GetWindowTextW(w, text, 512)) {
    GetClassNameW(w, cls, 128);
    wprintf(L"%ls [%ls]\n", text, cls);
    EnumChildWindows(w, printControl, 0);
  }
  return TRUE;
}

// Polls `ready` until it is true or the patience runs out.
template <typename F>
bool until(F ready) {
  for (DWORD waited = 0; waited < kPatienceMs; waited += kPollMs) {
    if (ready()) return true;
    Sleep(kPollMs);
  }
  return ready();
}

std::wstring textOf(HWND w) {
  wchar_t buf[4096] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &n);
  return buf;
}

// Memory in the process that owns `window`, for the messages whose arguments point to memory.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  bool ok() const { return address_ != nullptr; }
  void* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool write(size_t offset, const void* data, size_t n) {
    return WriteProcessMemory(process_, at(offset), data, n, nullptr);
  }
  bool read(size_t offset, void* data, size_t n) {
    return ReadProcessMemory(process_, at(offset), data, n, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  size_t size_;
};

std::wstring treeItemText(HWND tree, HTREEITEM item) {
  if (!item) return L"";
  RemoteBuffer buf(tree, sizeof(TVITEMW) + 1024);
  if (!buf.ok()) return L"";
  TVITEMW it = {};
  it.mask = TVIF_TEXT;
  it.hItem = item;
  it.pszText = static_cast<wchar_t*>(buf.at(sizeof(TVITEMW)));
  it.cchTextMax = 500;
  wchar_t zero = 0;
  buf.write(sizeof(TVITEMW), &zero, sizeof zero);
  buf.write(0, &it, sizeof it);
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buf.at(0)));
  wchar_t text[512] = {};
  buf.read(sizeof(TVITEMW), text, 500 * sizeof(wchar_t));
  return text;
}

std::wstring selectedTreeText(HWND tree) {
  return treeItemText(tree, HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)));
}

bool selectTreeItem(HWND tree, const std::wstring& text) {
  for (HTREEITEM item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;
       item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, LPARAM(item)))) {
    if (treeItemText(tree, item) != text) continue;
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, LPARAM(item));
    return true;
  }
  return false;
}

int selectedTreeCheck(HWND tree) {
  HTREEITEM item = HTREEITEM(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item) return -1;
  LRESULT state = SendMessageW(tree, TVM_GETITEMSTATE, WPARAM(item), TVIS_STATEIMAGEMASK);
  return int(state >> 12) - 1;
}

std::wstring listCellText(HWND list, int row, int column) {
  constexpr int kChars = 1024;
  RemoteBuffer buf(list, sizeof(LVITEMW) + kChars * sizeof(wchar_t));
  if (!buf.ok()) return L"";
  LVITEMW it = {};
  it.iSubItem = column;
  it.pszText = static_cast<wchar_t*>(buf.at(sizeof(LVITEMW)));
  it.cchTextMax = kChars;
  wchar_t zero = 0;
  buf.write(sizeof(LVITEMW), &zero, sizeof zero);
  buf.write(0, &it, sizeof it);
  SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(buf.at(0)));
  std::vector<wchar_t> text(kChars + 1, 0);
  buf.read(sizeof(LVITEMW), text.data(), kChars * sizeof(wchar_t));
  return text.data();
}

bool selectListRows(HWND list, const std::vector<int>& rows) {
  RemoteBuffer buf(list, sizeof(LVITEMW));
  if (!buf.ok()) return false;
  auto set = [&](int row, UINT state) {
    LVITEMW it = {};
    it.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    it.state = state;
    buf.write(0, &it, sizeof it);
    SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(buf.at(0)));
  };
  set(-1, 0);  // -1: every row
  for (int r : rows) set(r, LVIS_SELECTED | LVIS_FOCUSED);
  return true;
}

UINT keyCode(const std::wstring& name) {
  struct Key {
    const wchar_t* name;
    UINT vk;
  } keys[] = {{L"Home", VK_HOME},   {L"End", VK_END},     {L"Up", VK_UP},
              {L"Down", VK_DOWN},   {L"Left", VK_LEFT},   {L"Right", VK_RIGHT},
              {L"Space", VK_SPACE}, {L"Escape", VK_ESCAPE}, {L"Return", VK_RETURN}};
  for (const Key& k : keys)
    if (name == k.name) return k.vk;
  return 0;
}

int fail(const std::wstring& what) {
  fwprintf(stderr, L"keldrun_drive: %ls\n", what.c_str());
  return 1;
}

// Runs one command; 0 on success.
int run(const std::vector<std::wstring>& a) {
  const std::wstring& cmd = a[0];
  auto need = [&](size_t n) { return a.size() >= n; };
  // "[PAGE/]ID[:Class]": the control below the child window PAGE, when given, and of that
  // class, when given (the pages of a window, and the controls of a system dialog, may share
  // ids).
  auto control = [&](HWND* out) {
    *out = nullptr;
    std::wstring spec = a[2];
    int page = 0;
    size_t slash = spec.find(L'/');
    if (slash != std::wstring::npos) {
      page = _wtoi(spec.c_str());
      spec = spec.substr(slash + 1);
    }
    size_t colon = spec.find(L':');
    std::wstring cls = colon == std::wstring::npos ? L"" : spec.substr(colon + 1);
    int id = _wtoi(spec.c_str());
    return until([&] {
      HWND top = findTop(a[1]);
      if (page) top = findChild(top, page);
      return (*out = findChild(top, id, cls.empty() ? nullptr : cls.c_str())) != nullptr;
    });
  };
  HWND w = nullptr;
  if (cmd == L"windows") {
    EnumWindows(printWindow, 0);
    return 0;
  }
  if (cmd == L"wait" && need(2)) {
    return until([&] { return findTop(a[1]) != nullptr; }) ? 0 : fail(L"no window \"" + a[1] + L"\"");
  }
  if (cmd == L"gone" && need(2)) {
    return until([&] { return findTop(a[1]) == nullptr; }) ? 0 : fail(L"still open: \"" + a[1] + L"\"");
  }
  if (cmd == L"shot" && need(3)) {
    // Lets the window finish painting first: a picture, not a check.
    if (!until([&] { return (w = findTop(a[1])) != nullptr; })) return fail(L"no window " + a[1]);
    Sleep(500);
    return keldrun::saveWindowImage(w, a[2]) ? 0 : fail(L"cannot save " + a[2]);
  }
  if (cmd == L"close" && need(2)) {
    if (!until([&] { return (w = findTop(a[1])) != nullptr; })) return fail(L"no window " + a[1]);
    PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
  }
  if (!need(3)) return fail(L"too few arguments for " + cmd);
  if (!control(&w)) return fail(L"no control " + a[2] + L" in \"" + a[1] + L"\"");
  if (cmd == L"click") {
    PostMessageW(w, BM_CLICK, 0, 0);
    return 0;
  }
  if (cmd == L"press") {
    DWORD_PTR r;
    return SendMessageTimeoutW(w, BM_CLICK, 0, 0, SMTO_NORMAL, kPatienceMs, &r) ? 0 : fail(L"no answer to a press");
  }
  if (cmd == L"keys") {
    for (size_t i = 3; i < a.size(); i++) {
      UINT vk = keyCode(a[i]);
      if (!vk) return fail(L"unknown key " + a[i]);
      PostMessageW(w, WM_KEYDOWN, vk, 1);
      PostMessageW(w, WM_KEYUP, vk, 1 | (1u << 30) | (1u << 31));
    }
    return 0;
  }
  if (cmd == L"items") {
    for (HTREEITEM item = HTREEITEM(SendMessageW(w, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;
         item = HTREEITEM(SendMessageW(w, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, LPARAM(item))))
      wprintf(L"%ls\n", treeItemText(w, item).c_str());
    return 0;
  }
  if (!need(4)) return fail(L"too few arguments for " + cmd);
  if (cmd == L"settext") {
    SendMessageW(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str()));
    return 0;
  }
  if (cmd == L"chars") {
    for (wchar_t c : a[3]) PostMessageW(w, WM_CHAR, c, 1);
    return 0;
  }
  if (cmd == L"expect") {
    std::wstring last;
    bool ok = until([&] { return (last = textOf(w)).compare(0, a[3].size(), a[3]) == 0; });
    return ok ? 0 : fail(L"text of " + a[2] + L" in \"" + a[1] + L"\" is \"" + last + L"\", not \"" + a[3] + L"\"");
  }
  if (cmd == L"enabled") {
    bool want = a[3] == L"1";
    return until([&] { return (IsWindowEnabled(w) != FALSE) == want; }) ? 0 : fail(L"control " + a[2] + L" enabled is not " + a[3]);
  }
  if (cmd == L"select") {
    return until([&] { return selectTreeItem(w, a[3]); }) ? 0 : fail(L"no tree item \"" + a[3] + L"\" shown");
  }
  if (cmd == L"selected") {
    std::wstring last;
    bool ok = until([&] { return (last = selectedTreeText(w)) == a[3]; });
    return ok ? 0 : fail(L"selected tree item is \"" + last + L"\", not \"" + a[3] + L"\"");
  }
  if (cmd == L"check") {
    int want = _wtoi(a[3].c_str()), last = -1;
    bool ok = until([&] { return (last = selectedTreeCheck(w)) == want; });
    return ok ? 0 : fail(L"selected tree item has check " + std::to_wstring(last) + L", not " + a[3]);
  }
  if (cmd == L"lvselect") {
    std::vector<int> rows;
    for (size_t i = 3; i < a.size(); i++) rows.push_back(_wtoi(a[i].c_str()));
    return selectListRows(w, rows) ? 0 : fail(L"cannot select rows");
  }
  if (cmd == L"cell" && need(6)) {
    std::wstring last;
    bool ok = until([&] { return (last = listCellText(w, _wtoi(a[3].c_str()), _wtoi(a[4].c_str()))) == a[5]; });
    return ok ? 0 : fail(L"cell " + a[3] + L"," + a[4] + L" of " + a[2] + L" is \"" + last + L"\", not \"" + a[5] + L"\"");
  }
  return fail(L"unknown command " + cmd);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> command;
  for (int i = 1; i <= argc; i++) {
    if (i == argc || !wcscmp(argv[i], L";")) {
      if (!command.empty()) {
        if (int r = run(command)) return r;
      }
      command.clear();
    } else {
      command.push_back(argv[i]);
    }
  }
  return 0;
}
