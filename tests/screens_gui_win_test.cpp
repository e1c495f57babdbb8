// The Registry, Files and Applications screens of the real Keldrun.exe on two snapshots taken by
// keldrun-cli.exe around an installer-like change of the Wine prefix: keys and values of several
// types added, changed and deleted, files added, changed and deleted, a Run entry and a service.
// Asserts on what the controls hold (item texts, colours, boldness, rows and their labels) and
// on the .reg files the key menu writes against those of `keldrun export-reg`.
//
// Run by tests/wine/program_check.sh (KELDRUN_PROGRAM set); skipped otherwise.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/program_driver_win.h"
#include "toolkit/list.h"
#include "toolkit/tree.h"

namespace keldrun {
namespace {

using namespace gui_driver;

const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kModified = RGB(30, 30, 200);
const COLORREF kAdded = RGB(0, 180, 0);
const COLORREF kDeleted = RGB(200, 30, 30);
const COLORREF kGrey = RGB(100, 100, 100);

const wchar_t kKey[] = L"Software\\KeldrunScreens";
const wchar_t kHostileKey[] = L"Software\\KeldrunHostile";
const wchar_t kMarkupName[] = L"<b>bold</b>\x01\t&amp;";
const wchar_t kData[] = L"C:\\KeldrunScreensData\\";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kService[] = L"KeldrunTestSvc";

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void setString(const std::wstring& key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), DWORD((value.size() + 1) * 2));
  RegCloseKey(k);
}

void setBytes(const std::wstring& key, const wchar_t* name, DWORD type, const std::string& bytes) {
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
  RegCloseKey(k);
}

std::string dword(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

HTREEITEM nextItem(HWND tree, HTREEITEM item, UINT flag) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, flag, LPARAM(item)));
}

struct TreeNode {
  HTREEITEM item;
  std::string text;
  int image;
  COLORREF colour;
  bool bold;
};

// The items below parent (the top level for null) as the program shows them.
std::vector<TreeNode> children(const Program& p, HWND tree, HTREEITEM parent) {
  std::vector<TreeNode> out;
  HTREEITEM i = parent ? nextItem(tree, parent, TVGN_CHILD) : nextItem(tree, nullptr, TVGN_ROOT);
  for (; i; i = nextItem(tree, i, TVGN_NEXT)) {
    TreeNode n;
    n.item = i;
    n.text = p.treeText(tree, i, &n.image);
    n.colour = COLORREF(SendMessageW(tree, kTreeItemColourQuery, 0, LPARAM(i)));
    n.bold = (SendMessageW(tree, TVM_GETITEMSTATE, WPARAM(i), TVIS_BOLD) & TVIS_BOLD) != 0;
    out.push_back(n);
  }
  return out;
}

const TreeNode* named(const std::vector<TreeNode>& nodes, const std::string& text) {
  for (const TreeNode& n : nodes) {
    if (lower(n.text) == lower(text)) return &n;
  }
  return nullptr;
}

std::vector<std::string> texts(const std::vector<TreeNode>& nodes) {
  std::vector<std::string> out;
  for (const TreeNode& n : nodes) out.push_back(lower(n.text));
  return out;
}

struct ListRow {
  std::vector<std::string> cells;
  COLORREF colour;
};

// Every row of a screen's list: the cells and the text colour.
std::vector<ListRow> listRows(const Program& p, HWND list, int columns) {
  std::vector<ListRow> out;
  for (int r = 0; r < Program::rowsIn(list); r++) {
    ListRow row;
    for (int c = 0; c < columns; c++) row.cells.push_back(p.cellIn(list, r, c));
    row.colour = COLORREF(SendMessageW(list, kListRowColourQuery, WPARAM(r), 0));
    out.push_back(row);
  }
  return out;
}

// "name label" for every row, sorted, for comparisons that do not depend on the row order.
std::vector<std::string> labelled(const std::vector<ListRow>& rows, int labelColumn) {
  std::vector<std::string> out;
  for (const ListRow& r : rows) out.push_back(r.cells[0] + " " + r.cells[size_t(labelColumn)]);
  std::sort(out.begin(), out.end());
  return out;
}

const ListRow* rowLabelled(const std::vector<ListRow>& rows, const std::string& name, const std::string& label,
                           int labelColumn) {
  for (const ListRow& r : rows) {
    if (r.cells[0] == name && r.cells[size_t(labelColumn)] == label) return &r;
  }
  return nullptr;
}

// Clicks along the tab row until the page shows.
bool showPage(Program& p, int pageId) {
  for (int x = 5; x < 500; x += 12) {
    if (p.visiblePage() == pageId) return true;
    p.clickTab(x);
  }
  return p.visiblePage() == pageId;
}

// Types a key path into the Registry screen's path box as the user does: the box has the focus.
void typeKeyPath(Program& p, const std::wstring& path) {
  HWND box = p.pageItem(IDD_REGISTRY_PAGE, IDC_PATH_BOX);
  Program::send(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  Program::send(box, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
  DWORD_PTR r;
  SendMessageTimeoutW(box, WM_SETTEXT, 0, LPARAM(path.c_str()), SMTO_NORMAL, 20000, &r);
}

void expand(HWND tree, HTREEITEM item) { Program::send(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(item)); }
void selectItem(HWND tree, HTREEITEM item) { Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item)); }

int heightOf(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  return r.bottom - r.top;
}

const wchar_t kEditorKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit";

std::string lastKey() {
  wchar_t value[512] = {0};
  DWORD size = sizeof value - sizeof(wchar_t);
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kEditorKey, 0, KEY_READ, &k) != 0) return "(no key)";
  LONG r = RegQueryValueExW(k, L"LastKey", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(k);
  return r == 0 ? narrow(value) : "(no value)";
}

BOOL CALLBACK findTreeProc(HWND w, LPARAM found) {
  wchar_t name[32] = {0};
  GetClassNameW(w, name, 32);
  if (lstrcmpiW(name, L"SysTreeView32") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = w;
  return FALSE;
}

// The path of the key selected in the registry editor, in lower case, without the computer
// item above the roots.
std::string editorSelection(HWND editor) {
  HWND tree = nullptr;
  EnumChildWindows(editor, findTreeProc, reinterpret_cast<LPARAM>(&tree));
  if (!tree) return "(no tree)";
  DWORD pid = 0;
  GetWindowThreadProcessId(tree, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return "(no process)";
  std::string path;
  {
    Remote mem(process, sizeof(TVITEMW) + 1024);
    for (HTREEITEM i = nextItem(tree, nullptr, TVGN_CARET); i; i = nextItem(tree, i, TVGN_PARENT)) {
      TVITEMW it = {};
      it.mask = TVIF_TEXT;
      it.hItem = i;
      it.pszText = reinterpret_cast<wchar_t*>(mem.address(sizeof(TVITEMW)));
      it.cchTextMax = 500;
      mem.write(&it, sizeof it);
      Program::send(tree, TVM_GETITEMW, 0, mem.address());
      wchar_t text[500] = {0};
      mem.read(text, sizeof text - sizeof(wchar_t), sizeof(TVITEMW));
      std::string t = lower(narrow(text));
      if (t.rfind("hkey_", 0) != 0 && !nextItem(tree, i, TVGN_PARENT)) break;  // the computer
      path = path.empty() ? t : t + "\\" + path;
    }
  }
  CloseHandle(process);
  return path;
}

class Workspace {
 public:
  // The prefix before the change, snapshot 1, the change, snapshot 2.
  Workspace() {
    folder = L"C:\\KeldrunScreens\\";
    std::wstring from = folderOf(programPath());
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t* f : {L"Keldrun.exe", L"keldrun-cli.exe"}) {
      EXPECT_TRUE(CopyFileW((from + f).c_str(), (folder + f).c_str(), FALSE));
    }
    CreateDirectoryW(kData, nullptr);
    CreateDirectoryW((std::wstring(kData) + L"sub").c_str(), nullptr);
    writeFile(std::wstring(kData) + L"readme.txt", "one");
    writeFile(std::wstring(kData) + L"old.txt", "old");
    writeFile(std::wstring(kData) + L"sub\\keep.txt", "keep");
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    setString(kKey, L"Version", L"1.0");
    setBytes(kKey, L"Count", REG_DWORD, dword(1));
    setString(kKey, L"Gone", L"bye");
    setBytes(kKey, L"Blob", REG_BINARY, std::string("\x01\x02", 2));
    setString(std::wstring(kKey) + L"\\Old", L"a", L"x");
    setString(std::wstring(kKey) + L"\\Same", L"k", L"v");
    RegDeleteTreeW(HKEY_CURRENT_USER, kHostileKey);
    setString(kHostileKey, L"plain", L"x");
    snapshot(L"before");

    // Names a report or a control could mistake for markup or cut short.
    setString(kHostileKey, kMarkupName, L"<script>alert(1)</script>");
    setString(kHostileKey, std::wstring(16000, L'L').c_str(), L"long");

    setString(kKey, L"Version", L"2.0");
    setBytes(kKey, L"Count", REG_DWORD, dword(2));
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &k) == 0) {
      RegDeleteValueW(k, L"Gone");
      RegCloseKey(k);
    }
    setBytes(kKey, L"List", REG_MULTI_SZ, std::string("a\0\0\0b\0\0\0\0\0", 10));
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kKey) + L"\\Old").c_str());
    setString(std::wstring(kKey) + L"\\Added", L"Path", L"%SystemRoot%\\tool", REG_EXPAND_SZ);
    writeFile(std::wstring(kData) + L"readme.txt", std::string(1234, 'x'));
    DeleteFileW((std::wstring(kData) + L"old.txt").c_str());
    writeFile(std::wstring(kData) + L"new.txt", "new");
    writeFile(std::wstring(kData) + L"tool.exe", "MZ");
    setString(kRunKey, L"KeldrunTestRun", std::wstring(kData) + L"tool.exe");
    // The service manager of a fresh prefix may still be starting: a few tries.
    waitFor([&] {
      SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
      if (!scm) {
        serviceError = GetLastError();
        return false;
      }
      SC_HANDLE s = CreateServiceW(scm, kService, L"Keldrun Test Service", SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                   (std::wstring(kData) + L"tool.exe").c_str(), nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
      serviceError = s ? 0 : GetLastError();
      serviceMade = s != nullptr || serviceError == ERROR_SERVICE_EXISTS;
      if (s) CloseServiceHandle(s);
      CloseServiceHandle(scm);
      return serviceMade;
    });
    snapshot(L"after");
  }
  ~Workspace() {
    HKEY run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &run) == 0) {
      RegDeleteValueW(run, L"KeldrunTestRun");
      RegCloseKey(run);
    }
    if (SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
      if (SC_HANDLE s = OpenServiceW(scm, kService, DELETE)) {
        DeleteService(s);
        CloseServiceHandle(s);
      }
      CloseServiceHandle(scm);
    }
  }
  std::string cli(const std::wstring& arguments) {
    std::wstring home = folder.substr(0, folder.size() - 1);
    return run(L"\"" + folder + L"keldrun-cli.exe\" --home \"" + home + L"\" " + arguments);
  }

  std::wstring folder;
  bool serviceMade = false;
  DWORD serviceError = 0;

 private:
  void snapshot(const std::wstring& name) {
    std::string out = cli(L"snapshot --name " + name + L" --registry HKEY_CURRENT_USER\\" + kKey +
                          L" --registry HKEY_CURRENT_USER\\" + kHostileKey + L" --files C:\\KeldrunScreensData --apps");
    EXPECT_NE(out.find("snap00"), std::string::npos) << out;
  }
};

TEST(ProgramGui, ScreensShowTheChangesAndExportWhatTheCommandLineExports) {
  REQUIRE_PROGRAM();
  Workspace w;
  ASSERT_TRUE(w.serviceMade) << "error " << w.serviceError;
  Program p;
  ASSERT_TRUE(p.start(w.folder + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 2);

  // Before anything is open the screens (made when one is first shown) are empty and their
  // controls disabled.
  ASSERT_TRUE(showPage(p, IDD_REGISTRY_PAGE));
  HWND regTree = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_TREE);
  HWND regList = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_LIST);
  HWND regBox = p.pageItem(IDD_REGISTRY_PAGE, IDC_PATH_BOX);
  EXPECT_EQ(nextItem(regTree, nullptr, TVGN_ROOT), nullptr);
  EXPECT_FALSE(IsWindowEnabled(regBox));
  EXPECT_FALSE(IsWindowEnabled(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL)));
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));

  // Compare in Full (the stored ViewMode): the recorded key blue and bold, the way to it grey.
  p.press(IDC_COMPARE);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  EXPECT_TRUE(IsWindowEnabled(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL)));
  EXPECT_EQ(SendMessageW(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL), BM_GETCHECK, 0, 0), BST_CHECKED);
  // Search is for one snapshot only.
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(p.pageItem(IDD_REGISTRY_PAGE, IDC_SEARCH_PANE), IDC_SEARCH_TEXT)));
  std::vector<TreeNode> roots = children(p, regTree, nullptr);
  ASSERT_EQ(texts(roots), std::vector<std::string>{"hkey_current_user"});
  EXPECT_EQ(roots[0].colour, kGrey);
  EXPECT_FALSE(roots[0].bold);

  // The typed path (any case) expands and selects the key; the box keeps what was typed.
  std::wstring typed = L"hkey_current_user\\software\\keldrunscreens";
  typeKeyPath(p, typed);
  HTREEITEM key = nextItem(regTree, nullptr, TVGN_CARET);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(lower(p.treeText(regTree, key)), "keldrunscreens");
  EXPECT_EQ(textOf(regBox), narrow(typed));
  EXPECT_TRUE(IsWindowEnabled(p.pageItem(IDD_REGISTRY_PAGE, IDC_JUMP_TO)));
  std::vector<TreeNode> parentLevel = children(p, regTree, nextItem(regTree, key, TVGN_PARENT));
  const TreeNode* keyNode = named(parentLevel, "KeldrunScreens");
  ASSERT_NE(keyNode, nullptr);
  EXPECT_EQ(keyNode->colour, kModified);
  EXPECT_TRUE(keyNode->bold);
  std::vector<ListRow> values = listRows(p, regList, 4);
  EXPECT_EQ(labelled(values, 3),
            (std::vector<std::string>{"Blob -", "Count new", "Count old", "Gone del", "List add",
                                      "Version new", "Version old"}));
  const ListRow* oldVersion = rowLabelled(values, "Version", "old", 3);
  const ListRow* newVersion = rowLabelled(values, "Version", "new", 3);
  ASSERT_TRUE(oldVersion && newVersion);
  EXPECT_EQ(oldVersion->cells[2], "1.0");
  EXPECT_EQ(newVersion->cells[2], "2.0");
  EXPECT_EQ(oldVersion->colour, kModified);
  EXPECT_EQ(rowLabelled(values, "Gone", "del", 3)->colour, kDeleted);
  EXPECT_EQ(rowLabelled(values, "List", "add", 3)->colour, kAdded);
  EXPECT_EQ(rowLabelled(values, "Blob", "-", 3)->colour, kBlack);
  EXPECT_EQ(rowLabelled(values, "Count", "new", 3)->cells[1], "REG_DWORD");

  // Hostile value names show as they are: markup and control characters as text, a name of
  // 16,000 characters whole in the row.
  typeKeyPath(p, L"hkey_current_user\\software\\keldrunhostile");
  std::vector<ListRow> hostile = listRows(p, regList, 4);
  EXPECT_EQ(labelled(hostile, 3).size(), 3u);
  EXPECT_NE(rowLabelled(hostile, "<b>bold</b>\x01\t&amp;", "add", 3), nullptr);
  EXPECT_NE(rowLabelled(hostile, std::string(16000, 'L'), "add", 3), nullptr);
  EXPECT_NE(rowLabelled(hostile, "plain", "-", 3), nullptr);
  typeKeyPath(p, typed);
  key = nextItem(regTree, nullptr, TVGN_CARET);

  // Its subkeys: added green and bold, deleted red and bold, unchanged black.
  expand(regTree, key);
  std::vector<TreeNode> subkeys = children(p, regTree, key);
  EXPECT_EQ(texts(subkeys), (std::vector<std::string>{"added", "old", "same"}));
  ASSERT_EQ(subkeys.size(), 3u);
  EXPECT_EQ(subkeys[0].colour, kAdded);
  EXPECT_TRUE(subkeys[0].bold);
  EXPECT_EQ(subkeys[1].colour, kDeleted);
  EXPECT_TRUE(subkeys[1].bold);
  EXPECT_EQ(subkeys[2].colour, kBlack);
  EXPECT_FALSE(subkeys[2].bold);
  selectItem(regTree, subkeys[0].item);
  EXPECT_EQ(labelled(listRows(p, regList, 4), 3), std::vector<std::string>{"Path add"});
  EXPECT_EQ(lower(textOf(regBox)), "hkey_current_user\\software\\keldrunscreens\\added");
  selectItem(regTree, key);
  shot(p.main(), "registry_compare_full");

  // Differences: the unchanged key and value are gone from all three screens.
  Program::send(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_DIFFERENCES), BM_CLICK, 0, 0);
  EXPECT_EQ(SendMessageW(p.pageItem(IDD_FILES_PAGE, IDC_VIEW_DIFFERENCES), BM_GETCHECK, 0, 0), BST_CHECKED);
  typeKeyPath(p, typed);
  key = nextItem(regTree, nullptr, TVGN_CARET);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(labelled(listRows(p, regList, 4), 3),
            (std::vector<std::string>{"Count new", "Count old", "Gone del", "List add", "Version new",
                                      "Version old"}));
  expand(regTree, key);
  EXPECT_EQ(texts(children(p, regTree, key)), (std::vector<std::string>{"added", "old"}));
  shot(p.main(), "registry_compare_differences");

  // The screen's differences list: the report options for its section and the key the tree
  // shows, in the tree's spelling (the box keeps the typed one); with the key as range the
  // report holds the differences below it and no other section.
  PostMessageW(p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_DIFFERENCES), BM_CLICK, 0, 0);
  HWND options = nullptr;
  ASSERT_TRUE(waitFor([&] { return (options = p.findTop("Report options")) != nullptr; }));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(options, IDC_REPORT_REGISTRY)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(options, IDC_REPORT_LIMIT_BINARY)));
  EXPECT_EQ(lower(textOf(GetDlgItem(options, IDC_REPORT_PATH))), lower(textOf(regBox)));
  Program::send(GetDlgItem(options, IDC_REPORT_RANGE_PATH), BM_CLICK, 0, 0);
  shot(options, "report_options_program");
  PostMessageW(GetDlgItem(options, IDC_REPORT_VIEW), BM_CLICK, 0, 0);
  HWND viewer = nullptr;
  ASSERT_TRUE(waitFor([&] { return (viewer = p.findTop("Differences report")) != nullptr; }));
  std::string report;
  EXPECT_TRUE(waitFor([&] {
    report = textOf(FindWindowExW(GetDlgItem(viewer, IDC_VIEWER_BROWSER), nullptr, L"Edit", nullptr));
    return report.find("Gone") != std::string::npos;
  })) << report;
  EXPECT_NE(lower(report).find("keldrunscreens\\added"), std::string::npos) << report;
  EXPECT_EQ(report.find("Files and folders differences"), std::string::npos) << report;
  PostMessageW(GetDlgItem(viewer, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return !IsWindow(viewer) && !IsWindow(options); }));
  EXPECT_FALSE(fileExists(w.folder + L"tmp\\export.htm"));

  // The three exports of the key menu write what `keldrun export-reg` writes.
  std::string keyPath = textOf(regBox);
  std::wstring keyArg = L"\"" + std::wstring(keyPath.begin(), keyPath.end()) + L"\"";
  for (int mode : {3, 4}) {
    std::wstring mine = w.folder + (mode == 3 ? L"restore.reg" : L"change.reg");
    std::wstring theirs = w.folder + (mode == 3 ? L"restore-cli.reg" : L"change-cli.reg");
    keyMenuCommand(p, mode);
    ASSERT_TRUE(saveAs(p, mine)) << mode;
    EXPECT_EQ(p.answer(20003, mode == 3 ? "message_key_exported" : nullptr), "Key exported");
    w.cli(L"export-reg 1 2 " + keyArg + L" --out \"" + theirs + L"\" --mode " +
          (mode == 3 ? L"restore" : L"change"));
    std::string bytes = readFile(mine);
    EXPECT_GT(bytes.size(), 100u);
    EXPECT_EQ(bytes, readFile(theirs)) << mode;
  }

  // Files: the scanned folder blue and bold; its files added, changed, deleted.
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  HWND fileTree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  HWND fileList = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  std::vector<TreeNode> drives = children(p, fileTree, nullptr);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(lower(drives[0].text), "c:\\");
  EXPECT_EQ(drives[0].colour, kGrey);
  expand(fileTree, drives[0].item);
  std::vector<TreeNode> folders = children(p, fileTree, drives[0].item);
  ASSERT_EQ(texts(folders), std::vector<std::string>{"keldrunscreensdata"});
  EXPECT_EQ(folders[0].colour, kModified);
  EXPECT_TRUE(folders[0].bold);
  selectItem(fileTree, folders[0].item);
  std::vector<ListRow> files = listRows(p, fileList, 4);
  EXPECT_EQ(labelled(files, 3), (std::vector<std::string>{"new.txt add", "old.txt del", "readme.txt new",
                                                         "readme.txt old", "tool.exe add"}));
  EXPECT_EQ(rowLabelled(files, "readme.txt", "new", 3)->cells[1], "1,234");
  EXPECT_EQ(rowLabelled(files, "readme.txt", "old", 3)->cells[1], "3");
  EXPECT_EQ(rowLabelled(files, "old.txt", "del", 3)->colour, kDeleted);
  EXPECT_EQ(rowLabelled(files, "new.txt", "add", 3)->colour, kAdded);
  EXPECT_EQ(lower(textOf(p.pageItem(IDD_FILES_PAGE, IDC_PATH_BOX))), "c:\\keldrunscreensdata");
  // The unchanged subfolder is not shown in differences.
  expand(fileTree, folders[0].item);
  EXPECT_TRUE(children(p, fileTree, folders[0].item).empty());
  shot(p.main(), "files_compare_differences");

  // Applications: only the groups that changed, with the new Run entry and service.
  ASSERT_TRUE(showPage(p, IDD_APPLICATIONS_PAGE));
  HWND appTree = p.pageItem(IDD_APPLICATIONS_PAGE, IDC_SCREEN_TREE);
  HWND appList = p.pageItem(IDD_APPLICATIONS_PAGE, IDC_SCREEN_LIST);
  std::vector<TreeNode> groups = children(p, appTree, nullptr);
  const TreeNode* startup = named(groups, "Startup");
  const TreeNode* services = named(groups, "Services");
  ASSERT_TRUE(startup && services);
  EXPECT_EQ(startup->colour, kModified);
  EXPECT_TRUE(startup->bold);
  selectItem(appTree, startup->item);
  std::vector<ListRow> apps = listRows(p, appList, 9);
  // Other services of the prefix may start or stop between the snapshots; ours are added.
  const ListRow* runEntry = rowLabelled(apps, "KeldrunTestRun", "add", 8);
  ASSERT_NE(runEntry, nullptr);
  EXPECT_EQ(runEntry->colour, kAdded);
  EXPECT_EQ(lower(runEntry->cells[5]), "c:\\keldrunscreensdata\\tool.exe");
  EXPECT_EQ(runEntry->cells[6], "2");
  selectItem(appTree, services->item);
  apps = listRows(p, appList, 9);
  const ListRow* service = rowLabelled(apps, "Keldrun Test Service", "add", 8);
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service->cells[4], "Manual");
  EXPECT_EQ(service->colour, kAdded);
  shot(p.main(), "applications_compare_differences");

  // Viewing the first snapshot: everything black, every row "-", the content export as the
  // command line writes it.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({0});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  EXPECT_FALSE(IsWindowEnabled(p.pageItem(IDD_REGISTRY_PAGE, IDC_VIEW_FULL)));
  typeKeyPath(p, typed);
  key = nextItem(regTree, nullptr, TVGN_CARET);
  ASSERT_NE(key, nullptr);
  values = listRows(p, regList, 4);
  EXPECT_EQ(labelled(values, 3), (std::vector<std::string>{"Blob -", "Count -", "Gone -", "Version -"}));
  for (const ListRow& r : values) EXPECT_EQ(r.colour, kBlack) << r.cells[0];
  expand(regTree, key);
  for (const TreeNode& n : children(p, regTree, key)) {
    EXPECT_EQ(n.colour, kBlack) << n.text;
    EXPECT_FALSE(n.bold) << n.text;
  }
  shot(p.main(), "registry_view");
  keyMenuCommand(p, 2);
  ASSERT_TRUE(saveAs(p, w.folder + L"content.reg"));
  EXPECT_EQ(p.answer(20003), "Key exported");
  w.cli(L"export-reg 1 " + keyArg + L" --out \"" + w.folder + L"content-cli.reg\" --mode content");
  EXPECT_EQ(readFile(w.folder + L"content.reg"), readFile(w.folder + L"content-cli.reg"));
  EXPECT_NE(readFile(w.folder + L"content.reg").find(std::string("G\0o\0n\0e", 7)), std::string::npos);

  // The Registry search pane finds the value by its data; a double click selects key and value.
  HWND regPane = p.pageItem(IDD_REGISTRY_PAGE, IDC_SEARCH_PANE);
  HWND regResults = GetDlgItem(regPane, IDC_SEARCH_RESULTS);
  ASSERT_TRUE(IsWindowEnabled(GetDlgItem(regPane, IDC_SEARCH_TEXT)));
  EXPECT_EQ(search(regPane, L""), "Enter text");
  EXPECT_EQ(heightOf(regPane), 50);
  std::string status = search(regPane, L"1.0");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  ASSERT_EQ(Program::rowsIn(regResults), 1);
  EXPECT_EQ(lower(p.cellIn(regResults, 0, 0)), "hkey_current_user\\software\\keldrunscreens");
  EXPECT_EQ(p.cellIn(regResults, 0, 1), "Version");
  EXPECT_EQ(p.cellIn(regResults, 0, 2), "1.0");
  EXPECT_EQ(heightOf(regPane), 200);
  selectItem(regTree, nextItem(regTree, nullptr, TVGN_ROOT));  // somewhere else first
  doubleClickRow(p, regResults, 0);
  key = nextItem(regTree, nullptr, TVGN_CARET);
  EXPECT_EQ(lower(p.treeText(regTree, key)), "keldrunscreens");
  int selected = selectedRowIn(regList);
  ASSERT_GE(selected, 0);
  EXPECT_EQ(p.cellIn(regList, selected, 0), "Version");
  shot(p.main(), "registry_search");
  // Only key paths: one row with "*" per matching key.
  Program::send(GetDlgItem(regPane, IDC_SEARCH_NAMES), BM_CLICK, 0, 0);
  Program::send(GetDlgItem(regPane, IDC_SEARCH_DATA), BM_CLICK, 0, 0);
  status = search(regPane, L"KELDRUNSCREENS\\SAME");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  EXPECT_EQ(p.cellIn(regResults, 0, 1), "*");
  Program::send(GetDlgItem(regPane, IDC_SEARCH_PATHS), BM_CLICK, 0, 0);
  EXPECT_EQ(search(regPane, L"x"), "Select include options");

  // "Jump to" with the registry editor closed: LastKey is written, the editor starts and its
  // tree reaches the key.
  HKEY applets;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kEditorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &applets, nullptr), 0);
  RegCloseKey(applets);
  ASSERT_EQ(FindWindowW(nullptr, L"Registry Editor"), nullptr);
  std::string jumpPath = textOf(regBox);
  PostMessageW(p.pageItem(IDD_REGISTRY_PAGE, IDC_JUMP_TO), BM_CLICK, 0, 0);
  HWND editor = nullptr;
  ASSERT_TRUE(waitFor([&] { return (editor = FindWindowW(nullptr, L"Registry Editor")) != nullptr; }));
  EXPECT_TRUE(waitFor([&] { return editorSelection(editor) == lower(jumpPath); })) << editorSelection(editor);
  EXPECT_EQ(lastKey(), "My computer\\" + jumpPath);
  shot(editor, "registry_editor_jump");
  // With the editor open: LastKey stays as it is; the editor's selection moves.
  setString(kEditorKey, L"LastKey", L"untouched");
  typeKeyPath(p, typed + L"\\same");
  PostMessageW(p.pageItem(IDD_REGISTRY_PAGE, IDC_JUMP_TO), BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return editorSelection(editor) == lower(jumpPath) + "\\same"; }))
      << editorSelection(editor);
  EXPECT_EQ(lastKey(), "untouched");
  PostMessageW(editor, WM_CLOSE, 0, 0);
  waitFor([&] { return FindWindowW(nullptr, L"Registry Editor") == nullptr; });

  // The Files search pane: names without case; a double click selects folder and file.
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  HWND filePane = p.pageItem(IDD_FILES_PAGE, IDC_SEARCH_PANE);
  HWND fileResults = GetDlgItem(filePane, IDC_SEARCH_RESULTS);
  EXPECT_EQ(search(filePane, L"no such name"), "Not found");
  status = search(filePane, L"README");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  ASSERT_EQ(Program::rowsIn(fileResults), 1);
  EXPECT_EQ(p.cellIn(fileResults, 0, 1), "readme.txt");
  doubleClickRow(p, fileResults, 0);
  HTREEITEM folder = nextItem(fileTree, nullptr, TVGN_CARET);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(lower(p.treeText(fileTree, folder)), "keldrunscreensdata");
  selected = selectedRowIn(fileList);
  ASSERT_GE(selected, 0);
  EXPECT_EQ(p.cellIn(fileList, selected, 0), "readme.txt");
  EXPECT_EQ(lower(textOf(p.pageItem(IDD_FILES_PAGE, IDC_PATH_BOX))), "c:\\keldrunscreensdata");
  shot(p.main(), "files_search");

  // Deleting the snapshots closes the comparison: the screens go back to empty.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({0, 1});
  p.click(IDC_DELETE_SNAPSHOTS);
  EXPECT_EQ(p.answer(20003), "Delete selected snapshots?");
  EXPECT_TRUE(waitFor([&] { return p.rowCount() == 0; }));
  EXPECT_EQ(nextItem(regTree, nullptr, TVGN_ROOT), nullptr);
  EXPECT_EQ(Program::rowsIn(regList), 0);
  EXPECT_EQ(textOf(regBox), "");
  EXPECT_FALSE(IsWindowEnabled(regBox));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(regPane, IDC_SEARCH_TEXT)));
  EXPECT_EQ(Program::rowsIn(regResults), 0);
  EXPECT_EQ(Program::rowsIn(fileResults), 0);
  EXPECT_EQ(p.close(), 0u);
}

}  // namespace
}  // namespace keldrun
