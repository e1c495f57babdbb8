// Drives the real Keldrun.exe from a test process with window messages: starting it, finding its
// windows, reading its controls through memory inside its process, answering its message boxes.
// Shared by the window tests that program_check.sh runs.
#ifndef KELDRUN_TESTS_PROGRAM_DRIVER_WIN_H_
#define KELDRUN_TESTS_PROGRAM_DRIVER_WIN_H_

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "toolkit/screenshot.h"

namespace keldrun {
namespace gui_driver {

inline constexpr int kTabHeight = 20;
inline constexpr char kPlainTitle[] = "Corvellan Software Keldrun v1.6";

inline std::wstring programPath() {
  const char* p = std::getenv("KELDRUN_PROGRAM");
  return p && *p ? std::wstring(p, p + std::strlen(p)) : std::wstring();
}

#define REQUIRE_PROGRAM()                                                          \
  do {                                                                             \
    if (programPath().empty()) GTEST_SKIP() << "set KELDRUN_PROGRAM (program_check.sh)"; \
  } while (0)

inline std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

inline std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(c < 128 ? char(c) : '?');
  return s;
}

// Polls until cond holds; false after ten seconds (a failure, not a measurement).
inline bool waitFor(const std::function<bool()>& cond) {
  for (int i = 0; i < 500; i++) {
    if (cond()) return true;
    Sleep(20);
  }
  return cond();
}

// The text of a window of any process (GetWindowText would read only the caption that another
// process's edit control never updates).
// Texts are read whole up to this many characters: more than the longest name a snapshot may
// hold, so that a control that cut a name short shows in the comparison.
inline constexpr size_t kLongestText = 40000;

inline std::string textOf(HWND w) {
  std::vector<wchar_t> buf(kLongestText + 1, 0);
  DWORD_PTR r;
  SendMessageTimeoutW(w, WM_GETTEXT, WPARAM(kLongestText), LPARAM(buf.data()), SMTO_NORMAL, 10000, &r);
  return narrow(buf.data());
}

inline void shot(HWND window, const char* name) {
  const char* dir = std::getenv("KELDRUN_SHOTS");
  if (!dir || !*dir || !window) return;
  std::string path = std::string(dir) + "\\" + name + ".bmp";
  Sleep(150);  // let the program finish painting
  EXPECT_TRUE(saveWindowImage(window, std::wstring(path.begin(), path.end()))) << path;
}

inline bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string readFile(const std::wstring& path) {
  std::string out;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  char buf[4096];
  DWORD n;
  while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  CloseHandle(f);
  return out;
}

inline bool writeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
  return CloseHandle(f) && ok;
}

// Runs a command line and returns what it printed.
inline std::string run(const std::wstring& commandLine) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return "";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = commandLine;
  std::string out;
  if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    CloseHandle(writeEnd);
    char buf[4096];
    DWORD n;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    CloseHandle(writeEnd);
  }
  CloseHandle(readEnd);
  return out;
}

// The workspace as the command line sees it.
inline std::string cliList(const std::wstring& folder) {
  // Without its last backslash, which would escape the closing quote.
  std::wstring home = folder.substr(0, folder.size() - 1);
  return run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + home + L"\" list --json");
}

inline size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
  return n;
}

// Memory inside the program's process, for the messages whose arguments point to memory.
class Remote {
 public:
  Remote(HANDLE process, size_t size) : process_(process), size_(size) {
    at_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (at_) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
  }
  LPARAM address(size_t offset = 0) const { return LPARAM(static_cast<char*>(at_) + offset); }
  bool write(const void* data, size_t n, size_t offset = 0) {
    return WriteProcessMemory(process_, static_cast<char*>(at_) + offset, data, n, nullptr);
  }
  bool read(void* data, size_t n, size_t offset = 0) const {
    return ReadProcessMemory(process_, static_cast<char*>(at_) + offset, data, n, nullptr);
  }

 private:
  HANDLE process_;
  size_t size_;
  void* at_ = nullptr;
};

// One run of the program.
class Program {
 public:
  // Starts exe with its own folder as the current folder and waits for the main window.
  bool start(const std::wstring& exe) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    std::wstring cmd = L"\"" + exe + L"\"";
    std::wstring folder = folderOf(exe);
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi_)) {
      return false;
    }
    WaitForInputIdle(pi_.hProcess, 10000);
    return waitFor([&] { return (main_ = findTop(kPlainTitle, true)) != nullptr; });
  }
  ~Program() {
    if (!pi_.hProcess) return;
    if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  HANDLE process() const { return pi_.hProcess; }
  HWND main() const { return main_; }
  HWND page(int id) const { return GetDlgItem(main_, id); }
  HWND control(int id) const { return GetDlgItem(page(IDD_SNAPSHOTS_PAGE), id); }
  HWND list() const { return control(IDC_SNAPSHOT_LIST); }
  std::string title() const { return textOf(main_); }
  bool enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }

  // A visible top-level window of the program whose title begins with `title` (any title when
  // null); the main window itself only when `allowMain`.
  HWND findTop(const char* title, bool allowMain = false) const {
    TopSearch s = {pi_.dwProcessId, title, main_, allowMain, nullptr};
    EnumWindows(&findTopProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
  }
  struct TopSearch {
    DWORD pid;
    const char* title;
    HWND main;
    bool allowMain;
    HWND found;
  };
  // A named function: a lambda cannot take the stdcall convention on 32-bit Windows.
  static BOOL CALLBACK findTopProc(HWND w, LPARAM p) {
          using Search = TopSearch;
          auto* s = reinterpret_cast<Search*>(p);
          DWORD pid = 0;
          GetWindowThreadProcessId(w, &pid);
          if (pid != s->pid || !IsWindowVisible(w) || (w == s->main && !s->allowMain)) return TRUE;
          if (s->title && textOf(w).rfind(s->title, 0) != 0) return TRUE;
          s->found = w;
          return FALSE;
  }
  // The program's message box, once one is open.
  HWND messageBox() const {
    HWND box = nullptr;
    waitFor([&] {
      box = findTop(nullptr);
      return box && GetDlgItem(box, 10001);
    });
    return box && GetDlgItem(box, 10001) ? box : nullptr;
  }
  // Answers the open message box with button 20003 ("Ok", "Yes") or 20004 ("No"); returns its
  // text, empty when none opened.
  std::string answer(int button, const char* picture = nullptr) {
    HWND box = messageBox();
    if (!box) return "";
    std::string text = textOf(GetDlgItem(box, 10001));
    if (picture) shot(box, picture);
    PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
    waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return text;
  }
  bool noMessageBox() const {
    Sleep(200);
    HWND box = findTop(nullptr);
    return !box || !GetDlgItem(box, 10001);
  }

  // A click on a button whose command opens a modal window: the click is posted, and the
  // caller waits for the window.
  void click(int id) { PostMessageW(control(id), BM_CLICK, 0, 0); }
  // A click on a button whose command runs to its end: returns once it has.
  void press(int id) { send(control(id), BM_CLICK, 0, 0); }
  static void send(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR r;
    SendMessageTimeoutW(w, message, wparam, lparam, SMTO_NORMAL, 20000, &r);
  }

  int rowCount() const { return rowsIn(list()); }
  std::string cell(int row, int column) const { return cellIn(list(), row, column); }
  static int rowsIn(HWND list) { return int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }
  std::string cellIn(HWND list, int row, int column) const {
    const size_t bytes = (kLongestText + 1) * sizeof(wchar_t);
    Remote mem(pi_.hProcess, sizeof(LVITEMW) + bytes);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(mem.address(sizeof(LVITEMW)));
    item.cchTextMax = int(kLongestText + 1);
    mem.write(&item, sizeof item);
    std::vector<wchar_t> text(kLongestText + 1, 0);
    mem.write(text.data(), bytes, sizeof(LVITEMW));
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), mem.address());
    mem.read(text.data(), bytes - sizeof(wchar_t), sizeof(LVITEMW));
    return narrow(text.data());
  }
  // A control of one of the main window's pages.
  HWND pageItem(int pageId, int id) const { return GetDlgItem(page(pageId), id); }
  // The text and image of a tree item of the program.
  std::string treeText(HWND tree, HTREEITEM item, int* image = nullptr) const {
    const size_t bytes = (kLongestText + 1) * sizeof(wchar_t);
    Remote mem(pi_.hProcess, sizeof(TVITEMW) + bytes);
    TVITEMW it = {};
    it.mask = TVIF_TEXT | TVIF_IMAGE;
    it.hItem = item;
    it.pszText = reinterpret_cast<wchar_t*>(mem.address(sizeof(TVITEMW)));
    it.cchTextMax = int(kLongestText + 1);
    mem.write(&it, sizeof it);
    std::vector<wchar_t> text(kLongestText + 1, 0);
    mem.write(text.data(), bytes, sizeof(TVITEMW));
    SendMessageW(tree, TVM_GETITEMW, 0, mem.address());
    mem.read(text.data(), bytes - sizeof(wchar_t), sizeof(TVITEMW));
    if (image) {
      mem.read(&it, sizeof it);
      *image = it.iImage;
    }
    return narrow(text.data());
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (int r = 0; r < rowCount(); r++) out.push_back(cell(r, 0));
    return out;
  }
  int rowOf(const std::string& name) const {
    for (int r = 0; r < rowCount(); r++) if (cell(r, 0) == name) return r;
    return -1;
  }
  std::vector<int> selectedRows() const {
    std::vector<int> out;
    for (int r = 0; r < rowCount(); r++) {
      if (SendMessageW(list(), LVM_GETITEMSTATE, WPARAM(r), LVIS_SELECTED) & LVIS_SELECTED) out.push_back(r);
    }
    return out;
  }
  // Selects exactly these rows, as the user's clicks would.
  void select(const std::vector<int>& rows) {
    Remote mem(pi_.hProcess, sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    mem.write(&item, sizeof item);
    SendMessageW(list(), LVM_SETITEMSTATE, WPARAM(-1), mem.address());
    item.state = LVIS_SELECTED;
    mem.write(&item, sizeof item);
    for (int r : rows) SendMessageW(list(), LVM_SETITEMSTATE, WPARAM(r), mem.address());
  }
  void clickHeader(int column) {
    HWND header = reinterpret_cast<HWND>(SendMessageW(list(), LVM_GETHEADER, 0, 0));
    Remote mem(pi_.hProcess, sizeof(RECT));
    SendMessageW(header, HDM_GETITEMRECT, WPARAM(column), mem.address());
    RECT r = {};
    mem.read(&r, sizeof r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    send(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    send(header, WM_LBUTTONUP, 0, at);
  }
  // The snapshot number the box has chosen; -1 for none.
  int boxNumber(int id) const {
    LRESULT sel = SendMessageW(control(id), CB_GETCURSEL, 0, 0);
    if (sel < 0) return -1;
    return int(SendMessageW(control(id), CB_GETITEMDATA, WPARAM(sel), 0));
  }
  int boxCount(int id) const { return int(SendMessageW(control(id), CB_GETCOUNT, 0, 0)); }
  // The visible page, by its dialog number.
  int visiblePage() const {
    for (int id : {IDD_SNAPSHOTS_PAGE, IDD_REGISTRY_PAGE, IDD_FILES_PAGE, IDD_APPLICATIONS_PAGE, IDD_HELP_PAGE}) {
      if (IsWindowVisible(page(id))) return id;
    }
    return 0;
  }
  void clickTab(int x) {
    HWND tabs = GetDlgItem(main_, IDC_MAIN_TABS);
    send(tabs, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, kTabHeight / 2));
    send(tabs, WM_LBUTTONUP, 0, MAKELPARAM(x, kTabHeight / 2));
  }
  // Closes the main window and waits for the process to end; its exit code.
  DWORD close() {
    PostMessageW(main_, WM_CLOSE, 0, 0);
    DWORD code = 259;
    if (WaitForSingleObject(pi_.hProcess, 15000) == WAIT_OBJECT_0) GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION pi_ = {};
  HWND main_ = nullptr;
};

// A row's label rectangle in a list of the program, in the list's client pixels.
inline RECT rowRect(Program& p, HWND list, int row) {
  Remote mem(p.process(), sizeof(RECT));
  RECT r = {};
  r.left = LVIR_LABEL;
  mem.write(&r, sizeof r);
  Program::send(list, LVM_GETITEMRECT, WPARAM(row), mem.address());
  mem.read(&r, sizeof r);
  return r;
}

// Selects and focuses a row of a list of the program.
inline void selectRow(Program& p, HWND list, int row) {
  Remote mem(p.process(), sizeof(LVITEMW));
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  mem.write(&item, sizeof item);
  Program::send(list, LVM_SETITEMSTATE, WPARAM(row), mem.address());
}

// Selects a row and double-clicks its label, as the user does.
inline void doubleClickRow(Program& p, HWND list, int row) {
  selectRow(p, list, row);
  RECT r = rowRect(p, list, row);
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  Program::send(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  Program::send(list, WM_LBUTTONUP, 0, at);
}

// Answers the save-file dialog of an export with a file name.
inline bool saveAs(Program& p, const std::wstring& file) {
  HWND dialog = nullptr;
  if (!waitFor([&] { return (dialog = p.findTop("Export as regedit file")) != nullptr; })) {
    HWND any = p.findTop(nullptr);
    ADD_FAILURE() << "no save dialog; a window titled " << (any ? textOf(any) : std::string("(none)"));
    return false;
  }
  HWND name = nullptr;
  // The file name box: an edit inside the combo box 0x47c (an extended combo box on Wine).
  if (HWND combo = GetDlgItem(dialog, 0x47c)) {
    name = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETEDITCONTROL, 0, 0));
    if (!name) name = FindWindowExW(combo, nullptr, L"Edit", nullptr);
  }
  if (!name) name = GetDlgItem(dialog, 0x480);
  if (!name) {
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[64] = {0};
      GetClassNameW(c, cls, 64);
      ADD_FAILURE() << "child " << narrow(cls) << " id " << GetDlgCtrlID(c) << " " << textOf(c);
    }
    return false;
  }
  DWORD_PTR r;
  SendMessageTimeoutW(name, WM_SETTEXT, 0, LPARAM(file.c_str()), SMTO_NORMAL, 20000, &r);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  return waitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
}

// A key menu command as the menu delivers it to the Registry screen.
inline void keyMenuCommand(Program& p, int command) {
  PostMessageW(p.page(IDD_REGISTRY_PAGE), WM_COMMAND, WPARAM(command), 0);
}

inline int selectedRowIn(HWND list) {
  for (int r = 0; r < Program::rowsIn(list); r++) {
    if (SendMessageW(list, LVM_GETITEMSTATE, WPARAM(r), LVIS_SELECTED) & LVIS_SELECTED) return r;
  }
  return -1;
}

// Types into a search pane and presses its button; returns the status line.
inline std::string search(HWND pane, const std::wstring& text) {
  DWORD_PTR r;
  SendMessageTimeoutW(GetDlgItem(pane, IDC_SEARCH_TEXT), WM_SETTEXT, 0, LPARAM(text.c_str()), SMTO_NORMAL, 20000, &r);
  Program::send(GetDlgItem(pane, IDC_SEARCH_RUN), BM_CLICK, 0, 0);
  return textOf(GetDlgItem(pane, IDC_SEARCH_STATUS));
}

// ---- the program's popup menus, opened with a right click and driven with keys ----

inline HWND openMenu() {
  HWND m = FindWindowW(L"#32768", nullptr);
  return m && IsWindowVisible(m) ? m : nullptr;
}

// A right click at a point of a control of the program, with the mouse there, so that the menu
// opens where the user would see it. The click is posted: the menu runs its own loop. The
// pointer's move reaches the program later, through the X server: it is given time to land on
// the control, as a move that landed on the open menu would change what the menu's keys choose.
inline void rightClick(HWND control, POINT at) {
  POINT screen = at;
  ClientToScreen(control, &screen);
  SetCursorPos(screen.x, screen.y);
  Sleep(50);
  LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageW(control, WM_RBUTTONDOWN, MK_RBUTTON, where);
  PostMessageW(control, WM_RBUTTONUP, 0, where);
}

// Chooses the menu's entry at `position` (1 for the first below the title) with the keys, or
// closes the menu with Escape for 0. Home takes the title row, whatever the pointer chose.
inline void choose(HWND menu, int position) {
  if (position == 0) {
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  } else {
    PostMessageW(menu, WM_KEYDOWN, VK_HOME, 0);
    for (int i = 0; i < position; i++) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  }
  waitFor([] { return openMenu() == nullptr; });
}

// Opens the menu of a control with a right click, takes its picture with the main window
// behind it and closes it again (or chooses `position`). False when no menu opened.
inline bool menuOf(Program& p, HWND control, POINT at, const char* picture, int position = 0) {
  rightClick(control, at);
  HWND menu = nullptr;
  if (!waitFor([&] { return (menu = openMenu()) != nullptr; })) return false;
  if (picture) shot(p.main(), picture);
  choose(menu, position);
  return true;
}

inline POINT middle(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// The point of a tree item's label.
inline POINT itemPoint(Program& p, HWND tree, HTREEITEM item) {
  Remote mem(p.process(), sizeof(RECT));
  // The message takes the item in the rectangle's place.
  mem.write(&item, sizeof item);
  Program::send(tree, TVM_GETITEMRECT, TRUE, mem.address());
  RECT r = {};
  mem.read(&r, sizeof r);
  return middle(r);
}

}  // namespace gui_driver
}  // namespace keldrun

#endif  // KELDRUN_TESTS_PROGRAM_DRIVER_WIN_H_
