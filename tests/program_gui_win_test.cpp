// The real Keldrun.exe, started from a program folder and driven from this process with window
// messages: what its controls hold after each step, and what its workspace holds afterwards.
//
// tests/wine/program_check.sh prepares the workspace under Wine and Xvfb and sets
// KELDRUN_PROGRAM to the program's path; without it these tests are skipped. With KELDRUN_SHOTS
// set to a folder they also save pictures of every window they reach.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "resources/resource_ids.h"
#include "toolkit/screenshot.h"

namespace keldrun {
namespace {

constexpr int kTabHeight = 20;
const char kPlainTitle[] = "Corvellan Software Keldrun v1.6";

std::wstring programPath() {
  const char* p = std::getenv("KELDRUN_PROGRAM");
  return p && *p ? std::wstring(p, p + std::strlen(p)) : std::wstring();
}

#define REQUIRE_PROGRAM()                                                          \
  do {                                                                             \
    if (programPath().empty()) GTEST_SKIP() << "set KELDRUN_PROGRAM (program_check.sh)"; \
  } while (0)

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\') + 1); }

std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(c < 128 ? char(c) : '?');
  return s;
}

// Polls until cond holds; false after ten seconds (a failure, not a measurement).
bool waitFor(const std::function<bool()>& cond) {
  for (int i = 0; i < 500; i++) {
    if (cond()) return true;
    Sleep(20);
  }
  return cond();
}

// The text of a window of any process (GetWindowText would read only the caption that another
// process's edit control never updates).
std::string textOf(HWND w) {
  wchar_t buf[1024] = {0};
  DWORD_PTR r;
  SendMessageTimeoutW(w, WM_GETTEXT, 1024, LPARAM(buf), SMTO_NORMAL, 10000, &r);
  return narrow(buf);
}

void shot(HWND window, const char* name) {
  const char* dir = std::getenv("KELDRUN_SHOTS");
  if (!dir || !*dir || !window) return;
  std::string path = std::string(dir) + "\\" + name + ".bmp";
  Sleep(150);  // let the program finish painting
  EXPECT_TRUE(saveWindowImage(window, std::wstring(path.begin(), path.end()))) << path;
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string readFile(const std::wstring& path) {
  std::string out;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  char buf[4096];
  DWORD n;
  while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n) out.append(buf, n);
  CloseHandle(f);
  return out;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  bool ok = WriteFile(f, bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
  return CloseHandle(f) && ok;
}

// Runs a command line and returns what it printed.
std::string run(const std::wstring& commandLine) {
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
std::string cliList(const std::wstring& folder) {
  // Without its last backslash, which would escape the closing quote.
  std::wstring home = folder.substr(0, folder.size() - 1);
  return run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + home + L"\" list --json");
}

size_t count(const std::string& text, const std::string& piece) {
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

  int rowCount() const { return int(SendMessageW(list(), LVM_GETITEMCOUNT, 0, 0)); }
  std::string cell(int row, int column) const {
    Remote mem(pi_.hProcess, sizeof(LVITEMW) + 1024);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(mem.address(sizeof(LVITEMW)));
    item.cchTextMax = 500;
    mem.write(&item, sizeof item);
    SendMessageW(list(), LVM_GETITEMTEXTW, WPARAM(row), mem.address());
    wchar_t text[500] = {0};
    mem.read(text, sizeof text - sizeof(wchar_t), sizeof(LVITEMW));
    return narrow(text);
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

// A second program folder holding a copy of the prepared workspace, for the failure cases.
std::wstring copyWorkspace(const std::wstring& name) {
  std::wstring from = folderOf(programPath());
  std::wstring to = L"C:\\" + name + L"\\";
  CreateDirectoryW(to.c_str(), nullptr);
  CreateDirectoryW((to + L"data").c_str(), nullptr);
  for (const wchar_t* f : {L"Keldrun.exe", L"keldrun-cli.exe", L"Keldrun.cfg", L"data\\snap001.snp",
                           L"data\\snap002.snp"}) {
    EXPECT_TRUE(CopyFileW((from + f).c_str(), (to + f).c_str(), FALSE)) << narrow(f);
  }
  return to;
}

// The failure cases run first, on copies, while the prepared workspace is untouched.
TEST(ProgramGui, AnUnreadableSnapshotEndsInTheMessageBoxesAndNothingElse) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"KeldrunBroken");
  Program p;
  ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 2);
  ASSERT_TRUE(writeFile(folder + L"data\\snap001.snp", "damaged after the list was read"));
  p.select({0});
  p.click(IDC_VIEW_SNAPSHOT);
  EXPECT_EQ(p.answer(20003, "message_cannot_open"), "Cannot open snapshot");
  EXPECT_EQ(p.title(), kPlainTitle);
  EXPECT_EQ(p.visiblePage(), IDD_SNAPSHOTS_PAGE);
  p.click(IDC_PROPERTIES);
  EXPECT_EQ(p.answer(20003), "Cannot open snapshot");
  EXPECT_TRUE(waitFor([&] { return p.findTop("Snapshot properties") == nullptr; }));
  p.click(IDC_EXPORT_HTML);
  EXPECT_EQ(p.answer(20003), "Cannot open snapshot");
  ASSERT_TRUE(p.enabled(IDC_COMPARE));
  p.click(IDC_COMPARE);
  EXPECT_EQ(p.answer(20003), "Cannot open snapshots");
  p.click(IDC_DIFFERENCES_LIST);
  EXPECT_EQ(p.answer(20003), "Cannot open snapshots");
  EXPECT_EQ(p.title(), kPlainTitle);
  EXPECT_EQ(p.close(), 0u);
}

TEST(ProgramGui, ADamagedSettingsFileIsReportedAndKeptAside) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"KeldrunDamaged");
  const std::string garbage(300, '\x17');
  ASSERT_TRUE(writeFile(folder + L"Keldrun.cfg", garbage));
  Program p;
  ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
  std::string text = p.answer(20003, "message_damaged_settings");
  EXPECT_NE(text.find("is damaged"), std::string::npos) << text;
  EXPECT_NE(text.find("Keldrun.cfg.damaged"), std::string::npos) << text;
  // An empty catalog: only Take snapshot and Import snapshots can be used.
  EXPECT_EQ(p.rowCount(), 0);
  EXPECT_EQ(p.boxCount(IDC_FIRST_SNAPSHOT), 0);
  for (int id : {IDC_TAKE_SNAPSHOT, IDC_IMPORT_SNAPSHOTS}) EXPECT_TRUE(p.enabled(id)) << id;
  for (int id : {IDC_VIEW_SNAPSHOT, IDC_PROPERTIES, IDC_EXPORT_HTML, IDC_DELETE_SNAPSHOTS,
                 IDC_EXPORT_SNAPSHOTS, IDC_FIRST_SNAPSHOT, IDC_SECOND_SNAPSHOT, IDC_COMPARE,
                 IDC_DIFFERENCES_LIST}) {
    EXPECT_FALSE(p.enabled(id)) << id;
  }
  shot(p.main(), "main_empty");
  EXPECT_EQ(p.close(), 0u);
  EXPECT_EQ(readFile(folder + L"Keldrun.cfg.damaged"), garbage);
  std::string listed = cliList(folder);
  EXPECT_NE(listed.find("\"snapshots\":[]"), std::string::npos) << listed;
}

TEST(ProgramGui, SettingsThatCannotBeWrittenAreReported) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"KeldrunStuck");
  Program p;
  ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
  // Once the program has read its settings, a folder takes the file's place: a folder is never
  // replaced, so every save fails.
  ASSERT_TRUE(MoveFileW((folder + L"Keldrun.cfg").c_str(), (folder + L"Keldrun.cfg.kept").c_str()));
  ASSERT_TRUE(CreateDirectoryW((folder + L"Keldrun.cfg").c_str(), nullptr));
  p.select({1});
  p.click(IDC_DELETE_SNAPSHOTS);
  EXPECT_EQ(p.answer(20003), "Delete selected snapshots?");
  std::string text = p.answer(20003, "message_cannot_save");
  EXPECT_EQ(text.rfind("Cannot save the settings file [", 0), 0u) << text;
  EXPECT_EQ(p.rowCount(), 1);
  PostMessageW(p.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(p.answer(20003).rfind("Cannot save the settings file [", 0), 0u);
  EXPECT_EQ(p.close(), 0u);
}

// The prepared workspace: snapshot 1 written by the native command line, snapshot 2 by
// keldrun-cli.exe after the prefix changed.
TEST(ProgramGui, SnapshotsScreenDrivesTheWorkspace) {
  REQUIRE_PROGRAM();
  std::wstring folder = folderOf(programPath());
  const std::string first = "first (native)", second = "second (cli)";
  Program p;
  ASSERT_TRUE(p.start(programPath()));

  // Start-up: the snapshot list, both snapshots, the last two chosen in the boxes.
  EXPECT_EQ(p.title(), kPlainTitle);
  EXPECT_EQ(p.visiblePage(), IDD_SNAPSHOTS_PAGE);
  ASSERT_EQ(p.names(), (std::vector<std::string>{first, second}));
  EXPECT_EQ(p.cell(0, 4), "partial");
  EXPECT_EQ(p.cell(0, 5), "partial");
  EXPECT_EQ(p.cell(0, 6), "-");
  EXPECT_EQ(p.cell(0, 3).back(), 'M');
  EXPECT_EQ(p.boxCount(IDC_FIRST_SNAPSHOT), 2);
  EXPECT_EQ(p.boxNumber(IDC_FIRST_SNAPSHOT), 1);
  EXPECT_EQ(p.boxNumber(IDC_SECOND_SNAPSHOT), 2);
  for (int id : {IDC_TAKE_SNAPSHOT, IDC_IMPORT_SNAPSHOTS, IDC_COMPARE, IDC_DIFFERENCES_LIST}) {
    EXPECT_TRUE(p.enabled(id)) << id;
  }
  for (int id : {IDC_VIEW_SNAPSHOT, IDC_PROPERTIES, IDC_EXPORT_HTML, IDC_DELETE_SNAPSHOTS, IDC_EXPORT_SNAPSHOTS}) {
    EXPECT_FALSE(p.enabled(id)) << id;
  }
  shot(p.main(), "main_snapshots");

  // Sorting by Name keeps the selected row selected; descending puts the second first.
  p.select({0});
  EXPECT_TRUE(p.enabled(IDC_VIEW_SNAPSHOT) && p.enabled(IDC_PROPERTIES) && p.enabled(IDC_EXPORT_HTML));
  p.clickHeader(0);
  p.clickHeader(0);
  ASSERT_EQ(p.names(), (std::vector<std::string>{second, first}));
  EXPECT_EQ(p.selectedRows(), std::vector<int>{1});
  shot(p.main(), "main_sorted");
  // Two rows selected: the upper one goes into the first box.
  p.select({0, 1});
  EXPECT_EQ(p.boxNumber(IDC_FIRST_SNAPSHOT), 2);
  EXPECT_EQ(p.boxNumber(IDC_SECOND_SNAPSHOT), 1);
  EXPECT_FALSE(p.enabled(IDC_VIEW_SNAPSHOT));
  EXPECT_TRUE(p.enabled(IDC_DELETE_SNAPSHOTS) && p.enabled(IDC_EXPORT_SNAPSHOTS));
  shot(p.main(), "main_two_selected");

  // Compare opens the older first whatever the boxes' order, on the Registry tab.
  p.press(IDC_COMPARE);
  EXPECT_EQ(p.title(), std::string(kPlainTitle) + " - " + first + " vs " + second);
  EXPECT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  // About from the system menu: the help page, the comparison stays.
  Program::send(p.main(), WM_SYSCOMMAND, 16, 0);
  EXPECT_EQ(p.visiblePage(), IDD_HELP_PAGE);
  EXPECT_EQ(p.title(), std::string(kPlainTitle) + " - " + first + " vs " + second);
  p.clickTab(5);
  EXPECT_EQ(p.visiblePage(), IDD_SNAPSHOTS_PAGE);
  // F1 pressed on the list: the help page.
  SetForegroundWindow(p.main());
  Program::send(p.list(), WM_SETFOCUS, 0, 0);
  SetFocus(p.list());
  INPUT keys[2] = {};
  keys[0].type = keys[1].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, keys, sizeof(INPUT));
  EXPECT_TRUE(waitFor([&] { return p.visiblePage() == IDD_HELP_PAGE; }));
  p.clickTab(5);

  // Resizing: the tab row and every page follow the client area; the list grows downwards and
  // the comparison boxes move with the bottom edge.
  RECT before, boxBefore, client, page;
  GetWindowRect(p.list(), &before);
  GetWindowRect(p.control(IDC_COMPARE), &boxBefore);
  SetWindowPos(p.main(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_TRUE(waitFor([&] {
    GetClientRect(p.main(), &client);
    return client.right > 800;
  }));
  for (int id : {IDD_SNAPSHOTS_PAGE, IDD_REGISTRY_PAGE, IDD_HELP_PAGE}) {
    GetWindowRect(p.page(id), &page);
    MapWindowPoints(nullptr, p.main(), reinterpret_cast<POINT*>(&page), 2);
    EXPECT_EQ(page.left, 0);
    EXPECT_EQ(page.top, kTabHeight);
    EXPECT_EQ(page.right, client.right) << id;
    EXPECT_EQ(page.bottom, client.bottom) << id;
  }
  RECT after, boxAfter;
  GetWindowRect(p.list(), &after);
  GetWindowRect(p.control(IDC_COMPARE), &boxAfter);
  EXPECT_GT(after.bottom - after.top, before.bottom - before.top);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(boxAfter.top - boxBefore.top, (after.bottom - before.bottom) - (after.top - before.top));
  shot(p.main(), "main_large");

  // View one snapshot.
  p.select({p.rowOf(first)});
  p.press(IDC_VIEW_SNAPSHOT);
  EXPECT_EQ(p.title(), std::string(kPlainTitle) + " - view " + first);
  EXPECT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  p.clickTab(5);

  // Properties: an empty name does nothing, a new one is written into the file.
  p.click(IDC_PROPERTIES);
  HWND dialog = nullptr;
  ASSERT_TRUE(waitFor([&] { return (dialog = p.findTop("Snapshot properties")) != nullptr; }));
  EXPECT_EQ(textOf(GetDlgItem(dialog, IDC_PROPERTIES_NAME)), first);
  EXPECT_FALSE(textOf(GetDlgItem(dialog, IDC_PROPERTIES_DATE)).empty());
  HWND summary = FindWindowExW(GetDlgItem(dialog, IDC_PROPERTIES_BROWSER), nullptr, L"Edit", nullptr);
  std::string scanned = textOf(summary);
  EXPECT_NE(scanned.find("Registry:"), std::string::npos) << scanned;
  EXPECT_NE(scanned.find("keldruntest"), std::string::npos) << scanned;
  EXPECT_NE(scanned.find("Applications:"), std::string::npos) << scanned;
  shot(dialog, "properties");
  SetWindowTextW(GetDlgItem(dialog, IDC_PROPERTIES_NAME), L"");
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(dialog));
  SetWindowTextW(GetDlgItem(dialog, IDC_PROPERTIES_NAME), L"renamed in the program");
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
  EXPECT_TRUE(waitFor([&] { return p.rowOf("renamed in the program") >= 0; }));
  std::string listed = cliList(folder);
  EXPECT_NE(listed.find("renamed in the program"), std::string::npos) << listed;
  EXPECT_EQ(listed.find(first), std::string::npos) << listed;

  // Export to HTML with the stored options: the documents folder, "export.htm".
  wchar_t documents[MAX_PATH] = {0};
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents), S_OK);
  std::wstring exported = std::wstring(documents) + L"\\export.htm";
  DeleteFileW(exported.c_str());
  p.select({p.rowOf("renamed in the program")});
  p.click(IDC_EXPORT_HTML);
  EXPECT_EQ(p.answer(20003, "message_export_done"), "Export done.");
  EXPECT_NE(readFile(exported).find(std::string("k\0e\0l\0d\0r\0u\0n\0t\0e\0s\0t", 21)), std::string::npos);

  // Differences list: the report of the two boxes' snapshots in the program's tmp folder.
  std::wstring report = folder + L"tmp\\export.htm";
  DeleteFileW(report.c_str());
  p.press(IDC_DIFFERENCES_LIST);
  EXPECT_TRUE(p.noMessageBox());
  EXPECT_NE(readFile(report).find(std::string("a\0d\0d\0e\0d\0.\0t\0x\0t", 17)), std::string::npos);

  // Delete while a comparison is shown: No keeps everything; Yes deletes, closes the
  // comparison and leaves the tab where it is.
  p.press(IDC_COMPARE);
  p.clickTab(5);
  p.select({p.rowOf(second)});
  p.click(IDC_DELETE_SNAPSHOTS);
  EXPECT_EQ(p.answer(20004, "message_delete_question"), "Delete selected snapshots?");
  EXPECT_EQ(p.rowCount(), 2);
  p.click(IDC_DELETE_SNAPSHOTS);
  EXPECT_EQ(p.answer(20003), "Delete selected snapshots?");
  EXPECT_TRUE(waitFor([&] { return p.rowCount() == 1; }));
  EXPECT_EQ(p.title(), kPlainTitle);
  EXPECT_EQ(p.visiblePage(), IDD_SNAPSHOTS_PAGE);
  EXPECT_FALSE(fileExists(folder + L"data\\snap002.snp"));
  EXPECT_FALSE(p.enabled(IDC_COMPARE));
  listed = cliList(folder);
  EXPECT_EQ(count(listed, "\"number\""), 1u) << listed;
  EXPECT_EQ(listed.find(second), std::string::npos) << listed;

  EXPECT_EQ(p.close(), 0u);
}

}  // namespace
}  // namespace keldrun
