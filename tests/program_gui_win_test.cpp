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

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "resources/resource_ids.h"
#include "toolkit/screenshot.h"
#include "tests/program_driver_win.h"
#include "views/screen_commands.h"
#include "views/tree_fill.h"

namespace keldrun {
namespace {

using namespace gui_driver;

// The file name field of a save-file dialog: its first visible edit control.
BOOL CALLBACK firstEdit(HWND w, LPARAM p) {
  wchar_t cls[32] = {0};
  GetClassNameW(w, cls, 32);
  if (!IsWindowVisible(w) || _wcsicmp(cls, L"Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(p) = w;
  return FALSE;
}
HWND fileNameField(HWND dialog) {
  HWND found = nullptr;
  EnumChildWindows(dialog, firstEdit, reinterpret_cast<LPARAM>(&found));
  return found;
}
BOOL CALLBACK listChild(HWND w, LPARAM p) {
  wchar_t cls[64] = {0};
  GetClassNameW(w, cls, 64);
  *reinterpret_cast<std::string*>(p) += narrow(cls) + "#" + std::to_string(GetDlgCtrlID(w)) + " ";
  return TRUE;
}
std::string childList(HWND dialog) {
  std::string out;
  EnumChildWindows(dialog, listChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

// The text of another process's edit control, however long.
std::string wholeTextOf(HWND w) {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(w, WM_GETTEXT, WPARAM(text.size()), LPARAM(&text[0]), SMTO_NORMAL, 10000, &got);
  text.resize(got);
  return narrow(text);
}
// The items of another process's list box, and its chosen one.
std::vector<std::string> listTexts(HWND list) {
  std::vector<std::string> out;
  int n = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n && i < 100; i++) {
    wchar_t text[256] = {0};
    if (SendMessageW(list, LB_GETTEXTLEN, WPARAM(i), 0) < 256) SendMessageW(list, LB_GETTEXT, WPARAM(i), LPARAM(text));
    out.push_back(narrow(text));
  }
  return out;
}
int chosenIn(HWND list) { return int(SendMessageW(list, LB_GETCURSEL, 0, 0)); }
// The names of the files in a folder, sorted.
std::vector<std::wstring> filesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((folder + L"*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

// The default value of a key under HKEY_CLASSES_ROOT, and setting it (the key made if need be).
std::wstring classValue(const std::wstring& key) {
  wchar_t value[256] = {0};
  LONG size = sizeof value - sizeof(wchar_t);
  RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size);
  return value;
}
bool setClassValue(const std::wstring& key, const std::wstring& value) {
  HKEY k;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) != 0) return false;
  LONG r = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return r == 0;
}

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

// The user goes to another window and comes back to the program's, as after running the
// command line in a console: a window of this process takes the foreground, then the program's
// main window does. False when the program's window did not become the foreground one.
bool leaveAndComeBack(Program& p) {
  HWND elsewhere = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  auto pumpUntil = [](const std::function<bool()>& cond) {
    return waitFor([&] {
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
      return cond();
    });
  };
  SetForegroundWindow(elsewhere);
  bool left = pumpUntil([&] { return GetForegroundWindow() == elsewhere; });
  SetForegroundWindow(p.main());
  bool back = pumpUntil([&] { return GetForegroundWindow() == p.main(); });
  DestroyWindow(elsewhere);
  return left && back;
}

// The command line changes the catalog while the program shows it: a deleted, a renamed and a
// new snapshot reach the Snapshots list when the user comes back to the window, with the
// selected snapshot still selected; deleting the selected one leaves nothing selected.
TEST(ProgramGui, TheSnapshotsListFollowsWhatTheCommandLineChanged) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"KeldrunFollow");
  std::wstring files = L"C:\\KeldrunFollowData";
  CreateDirectoryW(files.c_str(), nullptr);
  ASSERT_TRUE(writeFile(files + L"\\a.txt", "a"));
  auto cli = [&](const std::wstring& arguments) {
    return run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + folder.substr(0, folder.size() - 1) + L"\" " + arguments);
  };
  Program p;
  ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
  ASSERT_EQ(p.names(), (std::vector<std::string>{"first (native)", "second (cli)"}));
  p.select({1});

  cli(L"delete 1");
  cli(L"rename 2 \"renamed by the command line\"");
  std::string out = cli(L"snapshot --name \"third (cli)\" --files " + files);
  ASSERT_NE(out.find("snap003"), std::string::npos) << out;
  EXPECT_TRUE(leaveAndComeBack(p));
  EXPECT_TRUE(waitFor([&] { return p.rowCount() == 2; }));
  EXPECT_EQ(p.names(), (std::vector<std::string>{"renamed by the command line", "third (cli)"}));
  EXPECT_EQ(p.selectedRows(), std::vector<int>{0});
  EXPECT_EQ(p.boxCount(IDC_FIRST_SNAPSHOT), 2);
  EXPECT_EQ(p.boxNumber(IDC_SECOND_SNAPSHOT), 3);
  EXPECT_TRUE(p.enabled(IDC_VIEW_SNAPSHOT));
  p.press(IDC_VIEW_SNAPSHOT);
  EXPECT_TRUE(p.noMessageBox());
  EXPECT_EQ(p.title(), std::string(kPlainTitle) + " - view renamed by the command line");
  p.clickTab(5);
  ASSERT_EQ(p.visiblePage(), IDD_SNAPSHOTS_PAGE);

  // The selected snapshot deleted elsewhere: its row goes, nothing is selected, View is off.
  cli(L"delete 2");
  EXPECT_TRUE(leaveAndComeBack(p));
  EXPECT_TRUE(waitFor([&] { return p.rowCount() == 1; }));
  EXPECT_EQ(p.names(), std::vector<std::string>{"third (cli)"});
  EXPECT_EQ(p.selectedRows(), std::vector<int>{});
  EXPECT_FALSE(p.enabled(IDC_VIEW_SNAPSHOT));
  EXPECT_EQ(p.close(), 0u);
  std::string listed = cliList(folder);
  EXPECT_EQ(count(listed, "\"number\""), 1u) << listed;
}

// ---- noise ----

// keldrun-cli's answer in the workspace of the program folder `folder`.
std::string cliIn(const std::wstring& folder, const std::wstring& arguments) {
  return run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + folder.substr(0, folder.size() - 1) + L"\" " + arguments);
}
// The entries `keldrun noise list` prints, one a line, without comments.
std::vector<std::string> noiseEntries(const std::wstring& folder) {
  std::vector<std::string> out;
  std::string text = cliIn(folder, L"noise list"), line;
  for (char c : text + "\n") {
    if (c == '\r') continue;
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    if (!line.empty() && line[0] != '#') out.push_back(line);
    line.clear();
  }
  return out;
}
bool listsEntry(const std::wstring& folder, const std::string& entry) {
  std::vector<std::string> e = noiseEntries(folder);
  return std::find(e.begin(), e.end(), entry) != e.end();
}

// The item of the program's tree named `name` below the top items (expanded on the way).
HTREEITEM treeItemNamed(Program& p, HWND tree, const std::string& name) {
  for (HTREEITEM top = TreeView_GetRoot(tree); top; top = TreeView_GetNextSibling(tree, top)) {
    Program::send(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(top));
    for (HTREEITEM item = TreeView_GetChild(tree, top); item; item = TreeView_GetNextSibling(tree, item)) {
      if (_stricmp(p.treeText(tree, item).c_str(), name.c_str()) == 0) return item;
    }
  }
  return nullptr;
}

// Starts the program in a copy of the prepared workspace and compares its two snapshots, the
// screens showing differences only.
bool startComparison(Program& p, const std::wstring& folder) {
  if (!p.start(folder + L"Keldrun.exe") || p.rowCount() != 2) return false;
  p.press(IDC_COMPARE);
  Program::send(p.pageItem(IDD_FILES_PAGE, IDC_VIEW_DIFFERENCES), BM_CLICK, 0, 0);
  if (p.visiblePage() != IDD_REGISTRY_PAGE) return false;
  for (int x = 5; x < 500 && p.visiblePage() != IDD_FILES_PAGE; x += 12) p.clickTab(x);
  return p.visiblePage() == IDD_FILES_PAGE &&
         IsDlgButtonChecked(p.page(IDD_FILES_PAGE), IDC_VIEW_DIFFERENCES) == BST_CHECKED;
}

// The work folder hidden from its menu: the count line, the list as the command line reads it,
// "Show noise" bringing it back marked, "Show again" and "Undo noise change" from the same menu.
TEST(ProgramGui, NoiseHiddenFromTheFolderMenuIsCountedShownMarkedAndUndone) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"noisemenu");
  Program p;
  ASSERT_TRUE(startComparison(p, folder));
  HWND files = p.page(IDD_FILES_PAGE), tree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  HWND line = p.pageItem(IDD_FILES_PAGE, IDC_NOISE_LINE), box = p.pageItem(IDD_FILES_PAGE, IDC_SHOW_NOISE);
  HWND list = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  EXPECT_EQ(textOf(line), "");
  EXPECT_TRUE(IsWindowEnabled(box));
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_SHOW_NOISE), BST_UNCHECKED);
  EXPECT_FALSE(IsWindow(p.pageItem(IDD_APPLICATIONS_PAGE, IDC_SHOW_NOISE)));  // never hidden
  std::vector<std::string> before = noiseEntries(folder);  // the default list
  ASSERT_FALSE(listsEntry(folder, "c:\\work"));

  HTREEITEM work = treeItemNamed(p, tree, "work");
  ASSERT_TRUE(work);
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(work));
  std::string workPath = textOf(p.pageItem(IDD_FILES_PAGE, IDC_PATH_BOX));
  ASSERT_EQ(_stricmp(workPath.c_str(), "c:\\work"), 0) << workPath;
  // Jump, Differences list, Hide as noise (3); nothing to show again or undo yet.
  ASSERT_TRUE(menuOf(p, tree, itemPoint(p, tree, work), "menu_folder_noise", 3));
  ASSERT_TRUE(waitFor([&] { return listsEntry(folder, workPath); })) << cliIn(folder, L"noise list");
  EXPECT_EQ(noiseEntries(folder).size(), before.size() + 1);
  EXPECT_EQ(textOf(line), "1 difference hidden as noise");
  EXPECT_EQ(treeItemNamed(p, tree, "work"), nullptr);  // hidden with all below it
  shot(p.main(), "noise_hidden_line");

  // Show noise: the folder is back, its files marked; the Registry screen's box follows.
  Program::send(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_SHOW_NOISE), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(p.page(IDD_REGISTRY_PAGE), IDC_SHOW_NOISE), BST_CHECKED);
  EXPECT_EQ(textOf(line), "Noise shown, marked (noise)");
  work = treeItemNamed(p, tree, "work");
  ASSERT_TRUE(work);
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(work));
  int added = -1;
  for (int r = 0; r < Program::rowsIn(list); r++) {
    if (p.cellIn(list, r, 0) == "added.txt") added = r;
  }
  ASSERT_GE(added, 0);
  EXPECT_EQ(p.cellIn(list, added, 3), "add (noise)");

  // Listed: Show again (3) takes the entry out; then Undo noise change (4, after Hide as noise)
  // puts it back.
  ASSERT_TRUE(menuOf(p, tree, itemPoint(p, tree, work), nullptr, 3));
  ASSERT_TRUE(waitFor([&] { return !listsEntry(folder, workPath); }));
  EXPECT_EQ(noiseEntries(folder), before);
  Program::send(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_SHOW_NOISE), BST_UNCHECKED);
  EXPECT_EQ(textOf(line), "");
  work = treeItemNamed(p, tree, "work");
  ASSERT_TRUE(work);
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(work));
  ASSERT_TRUE(menuOf(p, tree, itemPoint(p, tree, work), nullptr, 4));
  ASSERT_TRUE(waitFor([&] { return listsEntry(folder, workPath); }));
  EXPECT_EQ(textOf(line), "1 difference hidden as noise");

  // Show again of a node not listed, sent past the disabled entry: refused in a message box.
  HWND regTree = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_TREE);
  HTREEITEM hive = TreeView_GetRoot(regTree);
  ASSERT_TRUE(hive);
  Program::send(regTree, TVM_SELECTITEM, TVGN_CARET, LPARAM(hive));
  keyMenuCommand(p, kNoiseShowAgain);
  std::string refusal = p.answer(20003);
  EXPECT_NE(refusal.find("HKEY_CURRENT_USER"), std::string::npos) << refusal;
  EXPECT_TRUE(listsEntry(folder, workPath));
  EXPECT_EQ(p.close(), 0u);
}

// Learn noise: offered for exactly two rows; the dialog's check boxes are the command line's
// proposals, all checked; Cancel writes nothing, OK only the checked ones.
TEST(ProgramGui, NoiseLearnedInTheDialogWritesOnlyTheCheckedProposals) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"noiselearn");
  std::vector<std::string> proposed;  // "ENTRY  (N differences)"
  std::string dryRun = cliIn(folder, L"noise learn 1 2 --dry-run");
  for (size_t at = dryRun.find("propose "); at != std::string::npos; at = dryRun.find("propose ", at + 1)) {
    size_t end = dryRun.find_first_of("\r\n", at);
    proposed.push_back(dryRun.substr(at + 8, end - at - 8));
  }
  ASSERT_GE(proposed.size(), 2u) << dryRun;
  Program p;
  ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 2);
  p.select({0});
  EXPECT_FALSE(p.enabled(IDC_LEARN_NOISE));
  p.select({0, 1});
  EXPECT_TRUE(p.enabled(IDC_LEARN_NOISE));

  auto openDialog = [&]() -> HWND {
    p.click(IDC_LEARN_NOISE);
    HWND dialog = nullptr;
    waitFor([&] { return (dialog = p.findTop("Learn noise from these two snapshots")) != nullptr; });
    return dialog;
  };
  auto checked = [&](HWND rows, int row) {
    LRESULT state = SendMessageW(rows, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK);
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
  };
  HWND dialog = openDialog();
  ASSERT_TRUE(dialog);
  HWND rows = GetDlgItem(dialog, IDC_NOISE_PROPOSALS);
  ASSERT_EQ(Program::rowsIn(rows), int(proposed.size()));
  for (int r = 0; r < int(proposed.size()); r++) {
    // The same entry and count in the same words: "ENTRY  (1 difference)", "(2 differences)".
    EXPECT_EQ(p.cellIn(rows, r, 0), proposed[size_t(r)]) << r;
    EXPECT_TRUE(checked(rows, r)) << r;
  }
  EXPECT_EQ(textOf(GetDlgItem(dialog, IDC_NOISE_SKIPPED)).empty(), dryRun.find("skipped") == std::string::npos);
  Program::send(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }));
  EXPECT_FALSE(fileExists(folder + L"noise.txt"));
  EXPECT_NE(cliIn(folder, L"noise list").find("# the default list"), std::string::npos);

  dialog = openDialog();
  ASSERT_TRUE(dialog);
  rows = GetDlgItem(dialog, IDC_NOISE_PROPOSALS);
  {
    Remote mem(p.process(), sizeof(LVITEMW));
    LVITEMW item = {};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(1);
    mem.write(&item, sizeof item);
    Program::send(rows, LVM_SETITEMSTATE, 0, mem.address());
  }
  EXPECT_FALSE(checked(rows, 0));
  EXPECT_TRUE(checked(rows, 1));
  shot(dialog, "learn_noise_dialog");
  Program::send(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }));
  auto entryOf = [](const std::string& shown) { return shown.substr(0, shown.find("  (")); };
  EXPECT_FALSE(listsEntry(folder, entryOf(proposed[0])));
  for (size_t i = 1; i < proposed.size(); i++) EXPECT_TRUE(listsEntry(folder, entryOf(proposed[i]))) << proposed[i];
  EXPECT_NE(readFile(folder + L"noise.txt").find("# learned from first (native) and second (cli)"), std::string::npos);
  EXPECT_EQ(p.close(), 0u);
}

// The tree of a screen, every level expanded: "NAME STATE" a line, indented two spaces a level,
// the state read from the item's icon (a message item: "icon N").
std::vector<std::string> shownTree(Program& p, HWND tree, HTREEITEM parent = nullptr, const std::string& indent = "") {
  static const char* const words[kDiffStateCount] = {"unchanged", "modified", "added", "deleted", "excluded"};
  std::vector<std::string> out;
  HTREEITEM item = parent ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree);
  for (; item; item = TreeView_GetNextSibling(tree, item)) {
    Program::send(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(item));
    int image = -1;
    std::string line = indent + p.treeText(tree, item, &image) + " ";
    int state = 0;
    while (state < kDiffStateCount && stateTreeIcon(state) != image) state++;
    out.push_back(line + (state < kDiffStateCount ? words[state] : "icon " + std::to_string(image)));
    for (std::string& below : shownTree(p, tree, item, indent + "  ")) out.push_back(below);
  }
  return out;
}

// A folder whose only change is on the noise list is no difference: the Files screen says that
// nothing differs, and in the full view shows the folder unchanged.
TEST(ProgramGui, AFolderWhoseOnlyChangeIsHiddenNoiseShowsUnchanged) {
  REQUIRE_PROGRAM();
  std::wstring folder = copyWorkspace(L"noisequiet");
  cliIn(folder, L"noise add c:\\work\\added.txt");
  ASSERT_TRUE(listsEntry(folder, "c:\\work\\added.txt")) << cliIn(folder, L"noise list");
  Program p;
  ASSERT_TRUE(startComparison(p, folder));
  HWND tree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  EXPECT_EQ(textOf(p.pageItem(IDD_FILES_PAGE, IDC_NOISE_LINE)), "1 difference hidden as noise");
  EXPECT_EQ(shownTree(p, tree), std::vector<std::string>{"no differences found icon 0"});
  // The Files screen's pair is disabled with nothing to show; the view is the three screens'.
  ASSERT_TRUE(IsWindowEnabled(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL)));
  Program::send(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL), BM_CLICK, 0, 0);
  EXPECT_EQ(shownTree(p, tree), (std::vector<std::string>{"c:\\ excluded", "  work unchanged"}));
  Program::send(p.pageItem(IDD_FILES_PAGE, IDC_SHOW_NOISE), BM_CLICK, 0, 0);
  EXPECT_EQ(shownTree(p, tree), (std::vector<std::string>{"c:\\ excluded", "  work modified"}));
  EXPECT_EQ(p.close(), 0u);
}

// Two machines' profiles (tests/wine/program_check.sh snapshots the users folder as alice's
// machine holds it, then as bob's, whose Desktop holds note.txt): as recorded, one profile
// deleted and another added; with "Normalise machine differences" one profile, %USERPROFILE%,
// whose Desktop gained note.txt. The Registry screen's box follows; unticked, all is as recorded.
TEST(ProgramGui, NormalisedComparisonShowsTwoMachinesProfilesAsOne) {
  REQUIRE_PROGRAM();
  std::wstring folder = L"C:\\normalise\\";
  ASSERT_TRUE(fileExists(folder + L"data\\snap002.snp"));
  Program p;
  ASSERT_TRUE(startComparison(p, folder));
  HWND files = p.page(IDD_FILES_PAGE), tree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  HWND box = p.pageItem(IDD_FILES_PAGE, IDC_NORMALISE), list = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  EXPECT_TRUE(IsWindowEnabled(box));
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_NORMALISE), BST_UNCHECKED);
  const std::vector<std::string> recorded = {"c:\\ excluded",        "  users modified",  "    alice deleted",
                                             "      Desktop deleted", "    bob added",     "      Desktop added"};
  EXPECT_EQ(shownTree(p, tree), recorded);

  Program::send(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_NORMALISE), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(p.page(IDD_REGISTRY_PAGE), IDC_NORMALISE), BST_CHECKED);
  EXPECT_EQ(shownTree(p, tree), (std::vector<std::string>{"c:\\ excluded", "  users modified",
                                                          "    %USERPROFILE% modified", "      Desktop modified"}));
  HTREEITEM desktop = treeItemNamed(p, tree, "users");
  ASSERT_TRUE(desktop);
  desktop = TreeView_GetChild(tree, desktop);
  ASSERT_TRUE(desktop);
  desktop = TreeView_GetChild(tree, desktop);
  ASSERT_TRUE(desktop);
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(desktop));
  ASSERT_EQ(Program::rowsIn(list), 1);
  EXPECT_EQ(p.cellIn(list, 0, 0), "note.txt");
  EXPECT_EQ(p.cellIn(list, 0, 3), "add");
  shot(p.main(), "normalise_choice");

  Program::send(box, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(files, IDC_NORMALISE), BST_UNCHECKED);
  EXPECT_EQ(shownTree(p, tree), recorded);
  EXPECT_EQ(p.close(), 0u);
}

// C:\digests holds one snapshot of c:\digestwork taken with digests by keldrun-cli.exe, after
// which kept.txt got new content of the same size under its old last-write time. Snapshot 2 is
// taken through the dialog with "Record content digests" ticked; the Files screen then shows
// both digests (sha256sum's) and the marks of the change, and the next dialog offers the
// choice as stored. The script checks the setting through the command line.
TEST(ProgramGui, DigestsTickedInTheDialogShowTheChangeBehindAKeptDate) {
  REQUIRE_PROGRAM();
  std::wstring folder = L"C:\\digests\\";
  ASSERT_TRUE(fileExists(folder + L"data\\snap001.snp"));
  {
    Program p;
    ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
    ASSERT_TRUE(waitFor([&] { return p.rowCount() == 1; }));
    p.click(IDC_TAKE_SNAPSHOT);
    HWND take = nullptr;
    ASSERT_TRUE(waitFor([&] { return (take = p.findTop("Take snapshot")) != nullptr; }));
    HWND box = GetDlgItem(take, IDC_RECORD_DIGESTS);
    ASSERT_TRUE(box);
    EXPECT_EQ(textOf(box), "Record content digests");
    EXPECT_TRUE(IsWindowEnabled(box));
    EXPECT_EQ(IsDlgButtonChecked(take, IDC_RECORD_DIGESTS), BST_UNCHECKED);  // the setting is off
    Program::send(GetDlgItem(take, IDC_SELECTED_ITEMS), BM_CLICK, 0, 0);
    Program::send(box, BM_CLICK, 0, 0);
    EXPECT_EQ(IsDlgButtonChecked(take, IDC_RECORD_DIGESTS), BST_CHECKED);
    // The box lies inside the dialog and overlaps none of its other controls.
    RECT client, boxRect;
    GetClientRect(take, &client);
    GetWindowRect(box, &boxRect);
    MapWindowPoints(nullptr, take, reinterpret_cast<POINT*>(&boxRect), 2);
    RECT in;
    EXPECT_TRUE(IntersectRect(&in, &boxRect, &client) && EqualRect(&in, &boxRect));
    int others = 0;
    for (HWND c = GetWindow(take, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      if (c == box || !IsWindowVisible(c)) continue;
      RECT r;
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, take, reinterpret_cast<POINT*>(&r), 2);
      EXPECT_FALSE(IntersectRect(&in, &boxRect, &r)) << "control " << GetDlgCtrlID(c);
      others++;
    }
    EXPECT_GE(others, 7);  // name label and box, two radios, progress text, page, Start, Cancel
    shot(take, "take_snapshot_digests");
    PostMessageW(GetDlgItem(take, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(p.answer(20003).rfind("Snapshot done in ", 0), 0u);
    ASSERT_TRUE(waitFor([&] { return p.findTop("Take snapshot") == nullptr && p.rowCount() == 2; }));
    EXPECT_EQ(p.close(), 0u);
  }
  {
    // A new process offers the choice as stored.
    Program p;
    ASSERT_TRUE(p.start(folder + L"Keldrun.exe"));
    p.click(IDC_TAKE_SNAPSHOT);
    HWND take = nullptr;
    ASSERT_TRUE(waitFor([&] { return (take = p.findTop("Take snapshot")) != nullptr; }));
    EXPECT_EQ(IsDlgButtonChecked(take, IDC_RECORD_DIGESTS), BST_CHECKED);
    PostMessageW(GetDlgItem(take, IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(waitFor([&] { return p.findTop("Take snapshot") == nullptr; }));
    EXPECT_EQ(p.close(), 0u);
  }
  Program p;
  ASSERT_TRUE(startComparison(p, folder));
  HWND tree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE), list = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  HTREEITEM work = treeItemNamed(p, tree, "digestwork");
  ASSERT_TRUE(work);
  Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(work));
  ASSERT_EQ(Program::rowsIn(list), 2);
  for (int row = 0; row < 2; row++) EXPECT_EQ(p.cellIn(list, row, 0), "kept.txt");
  EXPECT_EQ(p.cellIn(list, 0, 1), "6");
  EXPECT_EQ(p.cellIn(list, 0, 2), p.cellIn(list, 1, 2));
  // A changed digest under an equal size and date is a date kept, whatever the change time did.
  const std::string marks = " [content or attributes changed, date kept; content digest changed]  sha256 ";
  EXPECT_EQ(p.cellIn(list, 0, 3), "old" + marks + "6db7d803e74f1ffa7d8f5adc0bf95b3e15bf4c8373fffadf546227cc6c6742cb");
  EXPECT_EQ(p.cellIn(list, 1, 3), "new" + marks + "f778dacc09a326990d63568063853fdffb39d070ee6049054e23b1a666d1bf63");
  shot(p.main(), "files_digests");
  EXPECT_EQ(p.close(), 0u);
}

// Only the Snapshots page is made at start-up; the first comparison tab shown makes the three
// comparison screens, each filling the client area below the tab row and showing nothing open.
// Then "*" on the root of the Full-mode Registry tree expands everything below it: every key of
// the comparison is in the tree, in name order on each level, with no placeholder left, and the
// six thousand keys under Big are all there. Nothing is changed in the prepared workspace.
TEST(ProgramGui, ComparisonScreensAreMadeWhenFirstShownAndStarExpandsAWholeTree) {
  REQUIRE_PROGRAM();
  Program p;
  ASSERT_TRUE(p.start(programPath()));
  ASSERT_TRUE(p.page(IDD_SNAPSHOTS_PAGE));
  for (int id : {IDD_REGISTRY_PAGE, IDD_FILES_PAGE, IDD_APPLICATIONS_PAGE, IDD_HELP_PAGE}) {
    EXPECT_EQ(p.page(id), nullptr) << id;
  }
  for (int x = 5; x < 500 && p.visiblePage() != IDD_FILES_PAGE; x += 12) p.clickTab(x);
  ASSERT_EQ(p.visiblePage(), IDD_FILES_PAGE);
  EXPECT_EQ(p.page(IDD_HELP_PAGE), nullptr);
  RECT client, page;
  GetClientRect(p.main(), &client);
  for (int id : {IDD_REGISTRY_PAGE, IDD_FILES_PAGE, IDD_APPLICATIONS_PAGE}) {
    ASSERT_TRUE(p.page(id)) << id;
    GetWindowRect(p.page(id), &page);
    MapWindowPoints(nullptr, p.main(), reinterpret_cast<POINT*>(&page), 2);
    EXPECT_EQ(page.top, kTabHeight) << id;
    EXPECT_EQ(page.right, client.right) << id;
    EXPECT_EQ(page.bottom, client.bottom) << id;
    EXPECT_EQ(SendMessageW(p.pageItem(id, IDC_SCREEN_TREE), TVM_GETCOUNT, 0, 0), 0) << id;
    EXPECT_FALSE(IsWindowEnabled(p.pageItem(id, IDC_SCREEN_DIFFERENCES))) << id;
  }
  p.clickTab(5);
  ASSERT_EQ(p.rowCount(), 2);
  p.press(IDC_COMPARE);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  EXPECT_GT(SendMessageW(p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE), TVM_GETCOUNT, 0, 0), 0);

  HWND tree = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_TREE);
  HTREEITEM root = TreeView_GetRoot(tree);
  ASSERT_TRUE(root);
  ASSERT_EQ(p.treeText(tree, root), "HKEY_CURRENT_USER");
  SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(root));
  // Sent, not posted: it returns once the whole tree is expanded.
  Program::send(tree, WM_KEYDOWN, VK_MULTIPLY, 0);
  auto folded = [](std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  size_t walked = 1;
  std::vector<std::string> big;
  std::function<void(HTREEITEM, const std::string&)> walk = [&](HTREEITEM parent, const std::string& path) {
    std::string before;
    for (HTREEITEM item = TreeView_GetChild(tree, parent); item; item = TreeView_GetNextSibling(tree, item)) {
      walked++;
      std::string name = p.treeText(tree, item);
      EXPECT_NE(name, "-") << "a placeholder is left under " << path;
      EXPECT_LT(folded(before), folded(name)) << "out of order under " << path;
      before = name;
      if (path == "HKEY_CURRENT_USER\\Software\\KeldrunTest\\Big") big.push_back(name);
      if (TreeView_GetChild(tree, item)) {
        EXPECT_TRUE(TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) << path << "\\" << name;
        walk(item, path + "\\" + name);
      }
    }
  };
  walk(root, "HKEY_CURRENT_USER");
  EXPECT_EQ(size_t(SendMessageW(tree, TVM_GETCOUNT, 0, 0)), walked);
  ASSERT_EQ(big.size(), 6000u);
  for (size_t i = 0; i < big.size(); i++) ASSERT_EQ(big[i], "K" + std::to_string(100000 + i)) << i;
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
  HWND help = p.page(IDD_HELP_PAGE);
  ASSERT_TRUE(GetDlgItem(help, IDC_HELP_TABS));
  EXPECT_EQ(SendMessageW(GetDlgItem(help, IDC_HELP_TABS), TCM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(help, IDC_HELP_ABOUT)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(help, IDC_HELP_HOW_TO)));
  std::string about;
  EXPECT_TRUE(waitFor([&] {
    about = textOf(FindWindowExW(GetDlgItem(help, IDC_HELP_ABOUT), nullptr, L"Edit", nullptr));
    return about.find("Version 1.6") != std::string::npos;
  })) << about;
  shot(p.main(), "help_about");
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
  // The tab shows before the page is chosen: wait for the choice too.
  EXPECT_TRUE(waitFor([&] {
    return IsWindowVisible(GetDlgItem(help, IDC_HELP_HOW_TO)) && !IsWindowVisible(GetDlgItem(help, IDC_HELP_ABOUT));
  }));
  std::string howTo = textOf(FindWindowExW(GetDlgItem(help, IDC_HELP_HOW_TO), nullptr, L"Edit", nullptr));
  EXPECT_NE(howTo.find("Taking a snapshot"), std::string::npos) << howTo;
  shot(p.main(), "help_how_to");
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
  // The text browser fills its box from a posted message: wait for the summary's last section.
  HWND summary = nullptr;
  std::string scanned;
  waitFor([&] {
    summary = FindWindowExW(GetDlgItem(dialog, IDC_PROPERTIES_BROWSER), nullptr, L"Edit", nullptr);
    scanned = summary ? textOf(summary) : std::string();
    return scanned.find("Applications:") != std::string::npos;
  });
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
  HWND exportDialog = nullptr;
  ASSERT_TRUE(waitFor([&] { return (exportDialog = p.findTop("Export to HTML")) != nullptr; }));
  EXPECT_EQ(textOf(GetDlgItem(exportDialog, IDC_EXPORT_NAME)), "export");
  EXPECT_EQ(textOf(GetDlgItem(exportDialog, IDC_EXPORT_FOLDER)), narrow(documents) + "\\");
  PostMessageW(GetDlgItem(exportDialog, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(p.answer(20003, "message_export_done"), "Export done: " + narrow(exported));
  // The key as the registry spells it, though the scan selected it in lower case.
  EXPECT_NE(readFile(exported).find(std::string("K\0e\0l\0d\0r\0u\0n\0T\0e\0s\0t", 21)), std::string::npos);

  // Export to HTML of the second snapshot in pages of 10000 lines, opened afterwards: the pages
  // and the index page are written and the index page is handed to the shell, here a handler for
  // ".htm" that logs the file it is given. With no handler for ".htm" the export is still done
  // and the error says so and where the report is.
  std::wstring log = folder + L"shell_open.log";
  std::wstring handler = L"C:\\windows\\system32\\cmd.exe /c echo \"%1\">>\"" + log + L"\"";
  std::wstring keptType = classValue(L".htm");
  ASSERT_TRUE(setClassValue(L"KeldrunTest.Page\\shell\\open\\command", handler));
  ASSERT_TRUE(setClassValue(L".htm", L"KeldrunTest.Page"));
  auto exportSecond = [&](const wchar_t* name) {
    p.select({p.rowOf(second)});
    p.click(IDC_EXPORT_HTML);
    HWND d = nullptr;
    if (!waitFor([&] { return (d = p.findTop("Export to HTML")) != nullptr; })) return false;
    Program::send(GetDlgItem(d, IDC_EXPORT_NAME), WM_SETTEXT, 0, LPARAM(name));
    Program::send(GetDlgItem(d, IDC_EXPORT_LINES), WM_SETTEXT, 0, LPARAM(L"10000"));
    Program::send(GetDlgItem(d, IDC_EXPORT_SPLIT), BM_SETCHECK, BST_CHECKED, 0);
    Program::send(GetDlgItem(d, IDC_EXPORT_OPEN), BM_SETCHECK, BST_CHECKED, 0);
    PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    return true;
  };
  ASSERT_TRUE(exportSecond(L"opened"));
  std::wstring index = std::wstring(documents) + L"\\opened.htm";
  std::string logged;
  EXPECT_TRUE(waitFor([&] {
    logged = readFile(log);
    return logged.find(narrow(index)) != std::string::npos;
  })) << "the shell was handed: " << logged;
  EXPECT_TRUE(waitFor([&] { return p.findTop("Export to HTML") == nullptr; }));
  EXPECT_TRUE(p.noMessageBox());
  std::vector<std::wstring> written = filesIn(std::wstring(documents) + L"\\");
  for (const wchar_t* page : {L"opened.htm", L"opened_000.htm", L"opened_001.htm"}) {
    EXPECT_NE(std::find(written.begin(), written.end(), page), written.end()) << narrow(page);
  }
  EXPECT_TRUE(readFile(index).rfind("<html", 0) == 0) << "the index page is single-byte text";
  ASSERT_TRUE(setClassValue(L".htm", L"KeldrunTest.NoSuchType"));
  ASSERT_TRUE(exportSecond(L"unopened"));
  std::string error = p.answer(20003, "message_export_not_opened");
  error.erase(std::remove(error.begin(), error.end(), '\r'), error.end());
  EXPECT_EQ(error, "Export done: " + narrow(documents) + "\\unopened.htm\nCannot open file.\n"
                   "There is no application associated with this file extension.");
  EXPECT_TRUE(waitFor([&] { return p.findTop("Export to HTML") == nullptr; }));
  EXPECT_TRUE(fileExists(std::wstring(documents) + L"\\unopened.htm"));
  EXPECT_TRUE(setClassValue(L".htm", keptType));

  // Differences list: the report options without the applications and with 500 lines per page
  // typed, raised to 10000, so that the six thousand new keys fill two pages and the files a
  // third. View opens the viewer
  // on page 1, its link chosen in the link row; typing "3" there, as a user at the keyboard
  // would, shows page 3 with its link chosen; closing the viewer leaves tmp\ empty.
  std::wstring tmp = folder + L"tmp\\";
  p.click(IDC_DIFFERENCES_LIST);
  HWND options = nullptr;
  ASSERT_TRUE(waitFor([&] { return (options = p.findTop("Report options")) != nullptr; }));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(options, IDC_REPORT_REGISTRY)));
  EXPECT_EQ(SendMessageW(GetDlgItem(options, IDC_REPORT_SPLIT), BM_GETCHECK, 0, 0), BST_CHECKED);
  Program::send(GetDlgItem(options, IDC_REPORT_LINES), WM_SETTEXT, 0, LPARAM(L"500"));
  Program::send(GetDlgItem(options, IDC_REPORT_APPLICATIONS), BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageW(GetDlgItem(options, IDC_REPORT_APPLICATIONS), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  PostMessageW(GetDlgItem(options, IDC_REPORT_VIEW), BM_CLICK, 0, 0);
  HWND viewer = nullptr;
  ASSERT_TRUE(waitFor([&] { return (viewer = p.findTop("Differences report")) != nullptr; }));
  HWND browser = GetDlgItem(viewer, IDC_VIEWER_BROWSER);
  HWND links = FindWindowExW(browser, nullptr, L"ListBox", nullptr);
  HWND view = FindWindowExW(browser, nullptr, L"Edit", nullptr);
  ASSERT_TRUE(links && view) << childList(viewer);
  std::string shown;
  EXPECT_TRUE(waitFor([&] {
    shown = wholeTextOf(view);
    return listTexts(links) == std::vector<std::string>{"1", "2", "3"} && chosenIn(links) == 0 &&
           shown.find("K100000") != std::string::npos;
  })) << listTexts(links).size() << " links, chosen " << chosenIn(links) << "\n" << shown.substr(0, 500);
  EXPECT_EQ(shown.find("added.txt"), std::string::npos) << "the files are on page 3";
  EXPECT_EQ(filesIn(tmp).size(), 4u) << "three pages and the index page while they are shown";
  shot(viewer, "report_viewer_program");
  PostMessageW(links, WM_CHAR, L'3', 0);
  EXPECT_TRUE(waitFor([&] {
    shown = wholeTextOf(view);
    return chosenIn(links) == 2 && shown.find("added.txt") != std::string::npos;
  })) << "chosen " << chosenIn(links) << "\n" << shown.substr(0, 500);
  EXPECT_EQ(shown.find("K100000"), std::string::npos) << "page 3 holds the files alone";
  shot(viewer, "report_viewer_page3");
  PostMessageW(GetDlgItem(viewer, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return !IsWindow(viewer) && !IsWindow(options); }));
  EXPECT_EQ(filesIn(tmp), std::vector<std::wstring>{}) << "the viewed report outlived its viewer";

  // Export: the same pages as the command line's report with the same options (the sections and
  // the 10000 lines the View above stored), page by page and the index page, byte for byte.
  std::wstring mine = folder + L"gui\\", theirs = folder + L"cli\\";
  CreateDirectoryW(mine.c_str(), nullptr);
  CreateDirectoryW(theirs.c_str(), nullptr);
  p.click(IDC_DIFFERENCES_LIST);
  ASSERT_TRUE(waitFor([&] { return (options = p.findTop("Report options")) != nullptr; }));
  EXPECT_EQ(textOf(GetDlgItem(options, IDC_REPORT_LINES)), "10000");
  PostMessageW(GetDlgItem(options, IDC_REPORT_EXPORT), BM_CLICK, 0, 0);
  HWND save = nullptr;
  ASSERT_TRUE(waitFor([&] { return (save = p.findTop("Save As")) != nullptr; }));
  HWND name = nullptr;
  ASSERT_TRUE(waitFor([&] { return (name = fileNameField(save)) != nullptr; })) << childList(save);
  std::wstring minePath = mine + L"diff.htm";
  Program::send(name, WM_SETTEXT, 0, LPARAM(minePath.c_str()));
  PostMessageW(GetDlgItem(save, IDOK), BM_CLICK, 0, 0);
  EXPECT_EQ(p.answer(20003), "Export done. 3 files saved.");
  std::wstring home = folder.substr(0, folder.size() - 1);
  run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + home + L"\" report 1 2 --sections registry,files --split 10000 --out \"" + theirs +
      L"diff.htm\"");
  std::vector<std::wstring> pages = {L"diff.htm", L"diff_000.htm", L"diff_001.htm", L"diff_002.htm"};
  EXPECT_EQ(filesIn(mine), pages);
  EXPECT_EQ(filesIn(theirs), pages);
  for (const std::wstring& page : pages) {
    std::string gui = readFile(mine + page), cli = readFile(theirs + page);
    EXPECT_GT(gui.size(), 200u) << narrow(page);
    EXPECT_TRUE(gui == cli) << narrow(page) << ": " << gui.size() << " and " << cli.size() << " bytes";
  }

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
