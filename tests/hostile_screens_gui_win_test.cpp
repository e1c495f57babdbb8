// Hostile snapshots in the real Keldrun.exe: key, value, folder and file names of 32,000
// characters, names with markup and control characters, and snapshot files whose tables are
// damaged (entries overwritten behind a table's length word, a length past the end of the file).
// The program must show every name whole and as text, never crash or hang, and show damage as
// an empty level or list, or the tree's error message, never as "no differences found".
//
// Run by tests/wine/program_check.sh (KELDRUN_PROGRAM set); skipped otherwise.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/compare_support.h"
#include "tests/program_driver_win.h"
#include "views/screen_commands.h"
#include "workspace/settings.h"

namespace keldrun {
namespace {

using namespace gui_driver;
using testing_support::DirSpec;
using testing_support::KeySpec;
using testing_support::ValueSpec;
using testing_support::Written;

const size_t kLong = 32000;
const std::u16string kLongKey(kLong, u'K');
const std::u16string kLongValue(kLong, u'V');
const std::u16string kLongFolder(kLong, u'D');
const std::u16string kLongFile(kLong, u'F');
const std::u16string kMarkupKey = u"<b>key</b>\x01\x07&amp;\"'";
const std::u16string kMarkupValue = u"<script>alert(1)</script>\x02\t";
const std::u16string kMarkupFile = u"<i>file</i>\x01\x1b&lt;.txt";

std::string ascii(const std::u16string& s) { return std::string(s.begin(), s.end()); }

ValueSpec textValue(const std::u16string& name, const std::u16string& text) {
  ValueSpec v;
  v.name = name;
  v.type = REG_SZ;
  for (char16_t c : text + u'\0') {
    v.data.push_back(uint8_t(c & 0xFF));
    v.data.push_back(uint8_t(c >> 8));
  }
  return v;
}

// HKEY_CURRENT_USER\Software and C:\data; the hostile snapshot adds the long and markup names.
bool writeSnapshot(Settings* settings, const std::string& name, bool hostile) {
  KeySpec software{u"Software", {{u"Plain", {}, {textValue(u"a", u"x")}}}, {}};
  DirSpec data{u"data", {}, {{u"a.txt", 132000000000000000ull, 3}}};
  if (hostile) {
    software.keys.push_back({kLongKey, {{u"inner", {}, {textValue(u"b", u"y")}}}, {textValue(kLongValue, u"long")}});
    software.keys.push_back({kMarkupKey, {}, {textValue(kMarkupValue, u"<b>data</b>\x03")}});
    data.files.push_back({kLongFile, 132000000000000000ull, 1234567});
    data.files.push_back({kMarkupFile, 0, 1});
    data.dirs.push_back({kLongFolder, {}, {{u"inside.txt", 132000000000000000ull, 5}}});
  }
  int32_t number = settings->catalog().nextNumber();
  std::string path = settings->catalog().snapshotPath(number).path;
  SnapshotFile file;
  if (!file.create(path)) return false;
  KeySpec hive{u"HKEY_CURRENT_USER", {software}, {}};
  Written r = testing_support::writeKeyTree(&file, hive);
  file.addRoot(kSectionRegistry, hive.name, r.childHash, r.contentHash, r.childTable, r.contentTable);
  DirSpec drive{u"C:\\", {data}, {}};
  Written f = testing_support::writeDir(&file, drive);
  file.addRoot(kSectionFiles, drive.name, f.childHash, f.contentHash, f.childTable, f.contentTable);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {u"*"}, {}};
  info.fillNew(name, number, lists);
  if (!file.finish(&info) || !file.close()) return false;
  SnapshotInfo stored;
  SnapshotFile check;
  if (!check.open(path, &stored)) return false;
  check.close();
  settings->catalog().addSnapshot(stored);
  return true;
}

size_t find(const std::string& bytes, const std::u16string& name) { return bytes.find(ascii(name)); }

uint32_t u32At(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; i--) v = v << 8 | uint8_t(bytes[at + size_t(i)]);
  return v;
}

void putU32(std::string* bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*bytes)[at + size_t(i)] = char(v >> (8 * i));
}

HTREEITEM nextItem(HWND tree, HTREEITEM item, UINT flag) {
  return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, flag, LPARAM(item)));
}

std::vector<HTREEITEM> childrenOf(HWND tree, HTREEITEM parent) {
  std::vector<HTREEITEM> out;
  HTREEITEM i = parent ? nextItem(tree, parent, TVGN_CHILD) : nextItem(tree, nullptr, TVGN_ROOT);
  for (; i; i = nextItem(tree, i, TVGN_NEXT)) out.push_back(i);
  return out;
}

std::vector<std::string> childTexts(const Program& p, HWND tree, HTREEITEM parent) {
  std::vector<std::string> out;
  for (HTREEITEM i : childrenOf(tree, parent)) out.push_back(p.treeText(tree, i));
  return out;
}

HTREEITEM childNamed(const Program& p, HWND tree, HTREEITEM parent, const std::string& text) {
  for (HTREEITEM i : childrenOf(tree, parent)) {
    if (p.treeText(tree, i) == text) return i;
  }
  return nullptr;
}

void expand(HWND tree, HTREEITEM item) { Program::send(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(item)); }
void selectItem(HWND tree, HTREEITEM item) { Program::send(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item)); }

std::vector<std::string> column(const Program& p, HWND list, int c) {
  std::vector<std::string> out;
  for (int r = 0; r < Program::rowsIn(list); r++) out.push_back(p.cellIn(list, r, c));
  return out;
}

bool showPage(Program& p, int pageId) {
  for (int x = 5; x < 500; x += 12) {
    if (p.visiblePage() == pageId) return true;
    p.clickTab(x);
  }
  return p.visiblePage() == pageId;
}

// The program still answers: a message it must handle comes back.
bool answers(const Program& p) {
  DWORD_PTR r = 0;
  return SendMessageTimeoutW(p.main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 20000, &r) != 0;
}

// The UTF-16LE bytes of ASCII text, as report and .reg files hold it.
std::string utf16le(const std::string& text) {
  std::string out;
  for (char c : text) out += std::string{c, '\0'};
  return out;
}

// Answers the program's message box, which must be a warning; its text with "\r\n" as "\n".
std::string warning(Program& p, const char* picture) {
  HWND box = p.messageBox();
  EXPECT_TRUE(box && textOf(box) == "Warning") << (box ? textOf(box) : std::string("no message box"));
  std::string text = p.answer(20003, picture);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

class HostileWorkspace {
 public:
  HostileWorkspace() : folder(L"C:\\KeldrunHostile\\"), settings("C:\\KeldrunHostile\\") {
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"data").c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((folderOf(programPath()) + L"Keldrun.exe").c_str(), (folder + L"Keldrun.exe").c_str(), FALSE));
    settings.ensureLoaded();
    ok = writeSnapshot(&settings, "plain", false) && writeSnapshot(&settings, "hostile", true) &&
         writeSnapshot(&settings, "overwritten", true) && writeSnapshot(&settings, "cut short", true) &&
         writeSnapshot(&settings, "root cut short", true);
    // Snapshot 3: the long value's entry says its name and data run far past its table.
    std::wstring third = folder + L"data\\snap003.snp";
    std::string bytes = readFile(third);
    size_t name = find(bytes, kLongValue);
    EXPECT_NE(name, std::string::npos);
    if (name != std::string::npos) {
      bytes[name - 5] = char(0xFF);
      bytes[name - 4] = char(0x7F);
      bytes[name - 3] = char(0xFE);
      bytes[name - 2] = char(0xFF);
      EXPECT_TRUE(writeFile(third, bytes));
    }
    // Snapshot 4: the length word of the same table, and of the folder table that holds the
    // long file name, point past the end of the file.
    std::wstring fourth = folder + L"data\\snap004.snp";
    bytes = readFile(fourth);
    name = find(bytes, kLongValue);
    size_t file = find(bytes, kLongFile);
    EXPECT_TRUE(name != std::string::npos && file != std::string::npos);
    if (name != std::string::npos && file != std::string::npos) {
      // The value is its table's only entry: the length word sits right before the entry.
      EXPECT_GT(u32At(bytes, name - 9), kLong);
      EXPECT_LT(u32At(bytes, name - 9), kLong + 64);
      putU32(&bytes, name - 9, 0x7FFFFFF0);
      // The files of C:\data: a.txt, then the long name.
      size_t table = bytes.rfind(std::string("a.txt"), file);
      EXPECT_NE(table, std::string::npos);
      for (size_t at = table; at >= 4 && at + 200 > table; at--) {
        uint32_t n = u32At(bytes, at - 4);
        if (n > kLong && n < kLong + 200) {
          putU32(&bytes, at - 4, uint32_t(bytes.size()) * 2);
          damagedFolder = true;
          break;
        }
      }
      EXPECT_TRUE(writeFile(fourth, bytes));
    }
    // Snapshot 5: the registry's root table runs past the end of the file.
    std::wstring fifth = folder + L"data\\snap005.snp";
    SnapshotInfo info;
    SnapshotFile check;
    if (check.open("C:\\KeldrunHostile\\data\\snap005.snp", &info)) {
      check.close();
      bytes = readFile(fifth);
      uint32_t root = info.sectionOffset[kSectionRegistry];
      EXPECT_TRUE(root != 0 && root + 4 <= bytes.size());
      if (root != 0 && root + 4 <= bytes.size()) {
        putU32(&bytes, root, 0x7FFFFFF0);
        damagedRoot = writeFile(fifth, bytes);
      }
    }
    ok = ok && settings.save();
  }

  std::wstring folder;
  Settings settings;
  bool ok = false;
  bool damagedFolder = false;
  bool damagedRoot = false;
};

TEST(ProgramGui, HostileNamesShowWholeAsTextAndDamagedTablesShowAsDamage) {
  REQUIRE_PROGRAM();
  HostileWorkspace w;
  ASSERT_TRUE(w.ok);
  ASSERT_TRUE(w.damagedFolder && w.damagedRoot);
  Program p;
  ASSERT_TRUE(p.start(w.folder + L"Keldrun.exe"));
  ASSERT_EQ(p.rowCount(), 5);

  // Compare plain with hostile: the long and markup keys added, whole and as text.
  p.select({0, 1});
  p.press(IDC_COMPARE);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  // The screens are made by the first comparison.
  HWND regTree = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_TREE);
  HWND regList = p.pageItem(IDD_REGISTRY_PAGE, IDC_SCREEN_LIST);
  HWND regBox = p.pageItem(IDD_REGISTRY_PAGE, IDC_PATH_BOX);
  HWND fileTree = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_TREE);
  HWND fileList = p.pageItem(IDD_FILES_PAGE, IDC_SCREEN_LIST);
  HWND fileBox = p.pageItem(IDD_FILES_PAGE, IDC_PATH_BOX);
  std::vector<HTREEITEM> roots = childrenOf(regTree, nullptr);
  ASSERT_EQ(roots.size(), 1u);
  expand(regTree, roots[0]);
  HTREEITEM software = childNamed(p, regTree, roots[0], "Software");
  ASSERT_NE(software, nullptr);
  expand(regTree, software);
  std::vector<std::string> keys = childTexts(p, regTree, software);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], ascii(kMarkupKey));
  EXPECT_EQ(keys[1].size(), kLong);
  EXPECT_TRUE(keys[1] == ascii(kLongKey));
  EXPECT_EQ(keys[2], "Plain");

  HTREEITEM longKey = childNamed(p, regTree, software, ascii(kLongKey));
  ASSERT_NE(longKey, nullptr);
  selectItem(regTree, longKey);
  ASSERT_EQ(Program::rowsIn(regList), 1);
  EXPECT_EQ(p.cellIn(regList, 0, 0).size(), kLong);
  EXPECT_TRUE(p.cellIn(regList, 0, 0) == ascii(kLongValue));
  EXPECT_EQ(p.cellIn(regList, 0, 2), "long");
  EXPECT_EQ(p.cellIn(regList, 0, 3), "add");
  EXPECT_EQ(textOf(regBox).size(), 27 + kLong);
  EXPECT_TRUE(textOf(regBox) == "HKEY_CURRENT_USER\\Software\\" + ascii(kLongKey));
  // Below the long key: the path of its child is longer than any buffer of a fixed size.
  expand(regTree, longKey);
  HTREEITEM inner = childNamed(p, regTree, longKey, "inner");
  ASSERT_NE(inner, nullptr);
  selectItem(regTree, inner);
  EXPECT_EQ(column(p, regList, 0), std::vector<std::string>{"b"});
  EXPECT_EQ(textOf(regBox).size(), 33 + kLong);
  EXPECT_TRUE(textOf(regBox) == "HKEY_CURRENT_USER\\Software\\" + ascii(kLongKey) + "\\inner");

  HTREEITEM markupKey = childNamed(p, regTree, software, ascii(kMarkupKey));
  ASSERT_NE(markupKey, nullptr);
  selectItem(regTree, markupKey);
  ASSERT_EQ(Program::rowsIn(regList), 1);
  EXPECT_EQ(p.cellIn(regList, 0, 0), ascii(kMarkupValue));
  EXPECT_EQ(p.cellIn(regList, 0, 2), "<b>data</b>\x03");
  EXPECT_EQ(textOf(regBox), "HKEY_CURRENT_USER\\Software\\" + ascii(kMarkupKey));
  shot(p.main(), "hostile_registry");

  // Files: the long folder and file names whole; the sizes as numbers.
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  roots = childrenOf(fileTree, nullptr);
  ASSERT_EQ(roots.size(), 1u);
  expand(fileTree, roots[0]);
  HTREEITEM data = childNamed(p, fileTree, roots[0], "data");
  ASSERT_NE(data, nullptr);
  selectItem(fileTree, data);
  std::vector<std::string> files = column(p, fileList, 0);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_NE(std::find(files.begin(), files.end(), ascii(kLongFile)), files.end());
  EXPECT_NE(std::find(files.begin(), files.end(), ascii(kMarkupFile)), files.end());
  expand(fileTree, data);
  HTREEITEM longFolder = childNamed(p, fileTree, data, ascii(kLongFolder));
  ASSERT_NE(longFolder, nullptr);
  selectItem(fileTree, longFolder);
  EXPECT_EQ(column(p, fileList, 0), std::vector<std::string>{"inside.txt"});
  EXPECT_EQ(textOf(fileBox).size(), 8 + kLong);
  EXPECT_TRUE(textOf(fileBox) == "C:\\data\\" + ascii(kLongFolder));
  shot(p.main(), "hostile_files");
  ASSERT_TRUE(answers(p));

  // View the hostile snapshot alone: search finds the long names, a double click on a result
  // selects the key with its 32,000-character name.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({1});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  HWND regPane = p.pageItem(IDD_REGISTRY_PAGE, IDC_SEARCH_PANE);
  HWND regResults = GetDlgItem(regPane, IDC_SEARCH_RESULTS);
  std::string status = search(regPane, L"VVVVVVVVVV");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  ASSERT_EQ(Program::rowsIn(regResults), 1);
  EXPECT_TRUE(p.cellIn(regResults, 0, 0) == "HKEY_CURRENT_USER\\Software\\" + ascii(kLongKey));
  EXPECT_TRUE(p.cellIn(regResults, 0, 1) == ascii(kLongValue));
  selectItem(regTree, nextItem(regTree, nullptr, TVGN_ROOT));
  doubleClickRow(p, regResults, 0);
  HTREEITEM found = nextItem(regTree, nullptr, TVGN_CARET);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(p.treeText(regTree, found) == ascii(kLongKey));
  ASSERT_EQ(Program::rowsIn(regList), 1);
  EXPECT_EQ(SendMessageW(regList, LVM_GETITEMSTATE, 0, LVIS_SELECTED) & LVIS_SELECTED, LVIS_SELECTED);
  status = search(regPane, L"<script>");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  HWND filePane = p.pageItem(IDD_FILES_PAGE, IDC_SEARCH_PANE);
  HWND fileResults = GetDlgItem(filePane, IDC_SEARCH_RESULTS);
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  status = search(filePane, L"FFFFFFFFFF");
  EXPECT_EQ(status.rfind("Found 1 in ", 0), 0u) << status;
  ASSERT_EQ(Program::rowsIn(fileResults), 1);
  EXPECT_TRUE(p.cellIn(fileResults, 0, 1) == ascii(kLongFile));
  ASSERT_TRUE(answers(p));

  // Snapshot 3: the damaged table lists nothing rather than what its bytes happen to say; the
  // rest of the snapshot shows as before.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({2});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  roots = childrenOf(regTree, nullptr);
  ASSERT_EQ(roots.size(), 1u);
  expand(regTree, roots[0]);
  software = childNamed(p, regTree, roots[0], "Software");
  ASSERT_NE(software, nullptr);
  expand(regTree, software);
  longKey = childNamed(p, regTree, software, ascii(kLongKey));
  ASSERT_NE(longKey, nullptr);
  selectItem(regTree, longKey);
  EXPECT_EQ(Program::rowsIn(regList), 0);
  selectItem(regTree, childNamed(p, regTree, software, "Plain"));
  EXPECT_EQ(column(p, regList, 0), std::vector<std::string>{"a"});
  ASSERT_TRUE(answers(p));

  // Snapshot 4: lengths past the end of the file; the damaged list is empty, the damaged
  // folder has no children and no files, and the program goes on.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({3});
  p.press(IDC_VIEW_SNAPSHOT);
  roots = childrenOf(regTree, nullptr);
  ASSERT_EQ(roots.size(), 1u);
  expand(regTree, roots[0]);
  software = childNamed(p, regTree, roots[0], "Software");
  ASSERT_NE(software, nullptr);
  expand(regTree, software);
  longKey = childNamed(p, regTree, software, ascii(kLongKey));
  ASSERT_NE(longKey, nullptr);
  selectItem(regTree, longKey);
  EXPECT_EQ(Program::rowsIn(regList), 0);
  // Its .reg export is not called done though the screen met the damage first: a warning names
  // the snapshot and the table left out, and the rest of the key is written.
  keyMenuCommand(p, kRegistryExportContent);
  ASSERT_TRUE(saveAs(p, w.folder + L"cut.reg"));
  EXPECT_EQ(warning(p, "message_export_incomplete"),
            "Export incomplete.\nSnapshot [cut short] is damaged: 1 table could not be read and was left out.");
  EXPECT_NE(readFile(w.folder + L"cut.reg").find(utf16le("\\inner]\r\n\"b\"=\"y\"")),
            std::string::npos);
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  roots = childrenOf(fileTree, nullptr);
  ASSERT_EQ(roots.size(), 1u);
  expand(fileTree, roots[0]);
  data = childNamed(p, fileTree, roots[0], "data");
  ASSERT_NE(data, nullptr);
  selectItem(fileTree, data);
  EXPECT_EQ(Program::rowsIn(fileList), 0);
  shot(p.main(), "hostile_damaged");
  ASSERT_TRUE(answers(p));

  // Snapshot 5: the Registry screen says the file is damaged, not that nothing differs; the
  // files of the same snapshot still show.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({4});
  p.press(IDC_VIEW_SNAPSHOT);
  ASSERT_EQ(p.visiblePage(), IDD_REGISTRY_PAGE);
  EXPECT_EQ(childTexts(p, regTree, nullptr), std::vector<std::string>{"the snapshot file is damaged"});
  EXPECT_FALSE(IsWindowEnabled(regBox));
  ASSERT_TRUE(showPage(p, IDD_FILES_PAGE));
  EXPECT_EQ(childTexts(p, fileTree, nullptr), std::vector<std::string>{"C:\\"});
  ASSERT_TRUE(answers(p));

  // Export to HTML of snapshots 4 and 5: warnings naming each and its tables left out, not
  // "Export done"; the report of snapshot 5 says in its registry section that it is damaged.
  auto exportHtml = [&](int row, const std::wstring& name) {
    if (!showPage(p, IDD_SNAPSHOTS_PAGE)) return std::string("(no Snapshots screen)");
    p.select({row});
    p.click(IDC_EXPORT_HTML);
    HWND d = nullptr;
    if (!waitFor([&] { return (d = p.findTop("Export to HTML")) != nullptr; })) return std::string("(no dialog)");
    Program::send(GetDlgItem(d, IDC_EXPORT_FOLDER), WM_SETTEXT, 0, LPARAM(w.folder.c_str()));
    Program::send(GetDlgItem(d, IDC_EXPORT_NAME), WM_SETTEXT, 0, LPARAM(name.c_str()));
    Program::send(GetDlgItem(d, IDC_EXPORT_SPLIT), BM_SETCHECK, BST_UNCHECKED, 0);
    Program::send(GetDlgItem(d, IDC_EXPORT_OPEN), BM_SETCHECK, BST_UNCHECKED, 0);
    PostMessageW(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    return warning(p, nullptr);
  };
  EXPECT_EQ(exportHtml(3, L"cut"),
            "Export incomplete.\nSnapshot [cut short] is damaged: 2 tables could not be read and were left out.");
  EXPECT_EQ(exportHtml(4, L"root"),
            "Export incomplete.\nSnapshot [root cut short] is damaged: 1 table could not be read and was left out.");
  std::string report = readFile(w.folder + L"root.htm");
  EXPECT_NE(report.find(utf16le("Registry data - root cut short</div><br>")), std::string::npos);
  EXPECT_NE(report.find(utf16le("Name<td id=h>Type<td id=h>Value<tr><td colspan=3>the snapshot file is damaged")),
            std::string::npos);
  EXPECT_NE(report.find(utf16le("C:\\data")), std::string::npos) << "the files are in the report";

  // The differences of snapshots 1 and 4 viewed: the warning comes before the viewer.
  ASSERT_TRUE(showPage(p, IDD_SNAPSHOTS_PAGE));
  p.select({0, 3});
  p.click(IDC_DIFFERENCES_LIST);
  HWND options = nullptr;
  ASSERT_TRUE(waitFor([&] { return (options = p.findTop("Report options")) != nullptr; }));
  PostMessageW(GetDlgItem(options, IDC_REPORT_VIEW), BM_CLICK, 0, 0);
  EXPECT_EQ(warning(p, nullptr),
            "The report is incomplete.\nSnapshot [cut short] is damaged: 2 tables could not be read and were left out.");
  HWND viewer = nullptr;
  ASSERT_TRUE(waitFor([&] { return (viewer = p.findTop("Differences report")) != nullptr; }));
  // A click that reaches the viewer while its browser is still loading the page can be lost:
  // close it once the page is shown, and click again every half second until it closes.
  HWND view = FindWindowExW(GetDlgItem(viewer, IDC_VIEWER_BROWSER), nullptr, L"Edit", nullptr);
  EXPECT_TRUE(waitFor([&] { return view && !textOf(view).empty(); })) << "the report page never showed";
  int tries = 0;
  EXPECT_TRUE(waitFor([&] {
    if (IsWindow(viewer) && tries++ % 25 == 0) PostMessageW(GetDlgItem(viewer, IDCANCEL), BM_CLICK, 0, 0);
    return !IsWindow(viewer) && !IsWindow(options);
  })) << "still open:" << (IsWindow(viewer) ? " the viewer" : "") << (IsWindow(options) ? " the options" : "");
  EXPECT_EQ(p.close(), 0u);
}

}  // namespace
}  // namespace keldrun
