// The take-snapshot dialog and the progress dialog of import and export as real windows over a
// real registry and real folders, driven by window messages from a timer inside their modal
// loops.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "platform/own_files.h"
#include "resources/resource_ids.h"
#include "shell/take_snapshot_dialog_win.h"
#include "shell/transfer_dialog_win.h"
#include "tests/gui_test_support_win.h"
#include "tests/test_support.h"
#include "toolkit/message_box.h"
#include "toolkit/screenshot.h"
#include "toolkit/toolkit.h"
#include "workspace/settings.h"
#include "workspace/transfer_job.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::writeText;

HWND takeSnapshotWindow() { return threadWindow(u"Take snapshot"); }
HWND selectionTree(HWND dialog) {
  HWND page = FindWindowExW(dialog, nullptr, L"#32770", nullptr);
  return page ? GetDlgItem(page, IDC_SELECTION_TREE) : nullptr;
}

std::u16string itemText(HWND tree, HTREEITEM item) {
  wchar_t buf[512] = {};
  TVITEMW it = {};
  it.mask = TVIF_TEXT;
  it.hItem = item;
  it.pszText = buf;
  it.cchTextMax = 512;
  TreeView_GetItem(tree, &it);
  return u16(buf);
}

// The item reached through these texts from the root ("My Computer"); null when missing.
HTREEITEM findItem(HWND tree, const std::vector<std::u16string>& texts) {
  HTREEITEM item = TreeView_GetRoot(tree);
  if (!item || itemText(tree, item) != texts.front()) return nullptr;
  for (size_t i = 1; i < texts.size() && item; i++) {
    HTREEITEM c = TreeView_GetChild(tree, item);
    while (c && itemText(tree, c) != texts[i]) c = TreeView_GetNextSibling(tree, c);
    item = c;
  }
  return item;
}

int checkOf(HWND tree, HTREEITEM item) {
  return int(TreeView_GetItemState(tree, item, TVIS_STATEIMAGEMASK) >> 12) - 1;
}

std::vector<std::u16string> childTexts(HWND tree, HTREEITEM item) {
  std::vector<std::u16string> out;
  for (HTREEITEM c = TreeView_GetChild(tree, item); c; c = TreeView_GetNextSibling(tree, c))
    out.push_back(itemText(tree, c));
  return out;
}

// A click on the item's check box, as the mouse does it.
bool clickCheck(HWND tree, HTREEITEM item) {
  TreeView_EnsureVisible(tree, item);
  RECT label;
  if (!TreeView_GetItemRect(tree, item, &label, TRUE)) return false;
  int y = (label.top + label.bottom) / 2;
  for (int x = 0; x < label.left; ++x) {
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    if (TreeView_HitTest(tree, &hit) == item && (hit.flags & TVHT_ONITEMSTATEICON)) {
      SendMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x + 3, y));
      SendMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(x + 3, y));
      return true;
    }
  }
  return false;
}

void press(HWND window, int id) { PostMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0); }

// A step that waits for a message box holding `text` (its start when prefix is set), keeps
// what it says in *seen and answers with button `id`.
Script::Step answerBox(const std::u16string& text, int id, std::u16string* seen = nullptr,
                       bool prefix = false, const char* shotName = nullptr) {
  return [=] {
    HWND box = openMessageBox();
    if (!box) return false;
    std::u16string t = windowText(GetDlgItem(box, 10001));
    if (seen) *seen = t;
    EXPECT_EQ(prefix ? t.substr(0, text.size()) : t, text);
    if (shotName) shot(box, shotName);
    press(box, id);
    return true;
  };
}

std::u16string wideOf(const std::string& s) { return fromUtf8(s); }

// ---- take-snapshot dialog ----

class TakeSnapshotGui : public ::testing::Test {
 protected:
  TakeSnapshotGui() : settings(home.str()) { settings.ensureLoaded(); }
  TempFolder home, scanned;
  Settings settings;
};

TEST_F(TakeSnapshotGui, SelectedItemsFromTheFilterFileThroughTheTreeIntoTheCatalog) {
  REQUIRE_GUI();
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) writeText(scanned / name, name);
  // The folder as the tree shows it: lower case, with a backslash.
  std::u16string folder = wideOf(scanned.str());
  for (char16_t& c : folder) c = c >= u'A' && c <= u'Z' ? c + 32 : c;
  writeText(home / "scan_filter.txt",
            "Registry:\nhkey_current_user\\software\n\nFiles:\n" + toUtf8(folder) +
                "\n\nApplications:\n\n");
  settings.fullScan = 0;

  bool added = false;
  std::u16string done;
  Script s;
  HWND dialog = nullptr, tree = nullptr;
  s.add([&] {
    dialog = takeSnapshotWindow();
    tree = dialog ? selectionTree(dialog) : nullptr;
    if (!tree) return false;
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_SNAPSHOT_NAME)), u"Snapshot #1");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_SELECTED_ITEMS, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(IsWindowEnabled(tree));
    HTREEITEM hkcu = findItem(tree, {u"My Computer", u"Registry", u"HKEY_CURRENT_USER"});
    EXPECT_NE(hkcu, nullptr);
    if (!hkcu) return true;
    EXPECT_EQ(childTexts(tree, findItem(tree, {u"My Computer"})),
              (std::vector<std::u16string>{u"Registry", u"Files", u"Applications"}));
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer"})), 2);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Registry"})), 2);
    EXPECT_EQ(checkOf(tree, hkcu), 2);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Registry", u"HKEY_USERS"})), 0);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Files"})), 2);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Applications"})), 0);
    // Not listed until first expanded: a placeholder.
    EXPECT_EQ(childTexts(tree, hkcu), std::vector<std::u16string>{u"-"});
    TreeView_Expand(tree, hkcu, TVE_EXPAND);
    std::vector<std::u16string> keys = childTexts(tree, hkcu);
    EXPECT_GT(keys.size(), 1u);
    HTREEITEM software = findItem(tree, {u"My Computer", u"Registry", u"HKEY_CURRENT_USER", u"Software"});
    EXPECT_NE(software, nullptr);
    if (software) {
      EXPECT_EQ(checkOf(tree, software), 1);
    }
    // Checking Applications leaves the root partly checked.
    EXPECT_TRUE(clickCheck(tree, findItem(tree, {u"My Computer", u"Applications"})));
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Applications"})), 1);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer"})), 2);
    // Checking HKEY_USERS and unchecking it again restores the Registry's state.
    HTREEITEM users = findItem(tree, {u"My Computer", u"Registry", u"HKEY_USERS"});
    EXPECT_TRUE(clickCheck(tree, users));
    EXPECT_EQ(checkOf(tree, users), 1);
    EXPECT_TRUE(clickCheck(tree, users));
    EXPECT_EQ(checkOf(tree, users), 0);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Registry"})), 2);
    shot(dialog, "take_snapshot_selected");
    press(dialog, IDOK);
    return true;
  });
  s.add([&] {
    if (windowText(GetDlgItem(dialog, IDOK)) != u"Stop" && !openMessageBox()) return false;
    if (!openMessageBox()) {
      // Scanning: only Stop is usable; Escape and the close box do nothing.
      EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
      EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SNAPSHOT_NAME)));
      EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_FULL_SCAN)));
      EXPECT_FALSE(IsWindowEnabled(tree));
      PostMessageW(tree, WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    return true;
  });
  s.add(answerBox(u"Snapshot done in ", 20003, &done, true, "take_snapshot_done"));
  ASSERT_TRUE(s.run([&] { added = runTakeSnapshotDialog(nullptr, &settings); })) << s.reached();
  EXPECT_TRUE(added);

  ASSERT_EQ(settings.catalog().count(), 1u);
  const SnapshotInfo& info = settings.catalog().record(0);
  EXPECT_EQ(info.number, 1);
  EXPECT_EQ(info.name, "Snapshot #1");
  EXPECT_EQ(info.filterList[0], FilterList{u"hkey_current_user\\software\\"});
  EXPECT_EQ(info.filterList[1], FilterList{folder});
  EXPECT_EQ(info.filterList[2], FilterList{u"*"});
  EXPECT_EQ(settings.fullScan, 0);
  // The three files of the folder were recorded, and the catalog reached the disk.
  EXPECT_NE(done.find(u" 3 files"), std::u16string::npos) << toUtf8(done);
  Settings saved(home.str());
  ASSERT_TRUE(saved.load());
  EXPECT_EQ(saved.catalog().count(), 1u);
  EXPECT_EQ(saved.catalog().lastNo, 1);
  // The log holds the completion text; the filter file what the tree chose.
  std::string log = readText(home / "KeldrunLog.txt");
  EXPECT_NE(log.find("Snapshot done in"), std::string::npos);
  std::string filter;
  for (char c : readText(home / "scan_filter.txt"))
    if (c != '\r') filter += c;  // a text file: CR LF on Windows
  EXPECT_NE(filter.find("Applications:\n*\n"), std::string::npos) << filter;
  EXPECT_NE(filter.find("Registry:\nhkey_current_user\\software\\\n"), std::string::npos) << filter;
}

TEST_F(TakeSnapshotGui, RefusalsKeepTheDialogIdleAndCancelEndsIt) {
  REQUIRE_GUI();
  addSnapshotTo(&settings, 4, "earlier");
  settings.catalog().lastNo = 4;
  settings.save();
  bool added = true;
  Script s;
  HWND dialog = nullptr;
  s.add([&] {
    dialog = takeSnapshotWindow();
    if (!dialog || !selectionTree(dialog)) return false;
    // No filter file: everything is checked; a full scan is the saved choice.
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_SNAPSHOT_NAME)), u"Snapshot #5");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_FULL_SCAN, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(selectionTree(dialog)));
    shot(dialog, "take_snapshot_full");
    SetDlgItemTextW(dialog, IDC_SNAPSHOT_NAME, L"");
    press(dialog, IDOK);
    return true;
  });
  s.add(answerBox(u"Invalid name", 20003));
  s.add([&] {
    if (openMessageBox()) return false;
    SetDlgItemTextW(dialog, IDC_SNAPSHOT_NAME, L" ");
    press(dialog, IDC_SELECTED_ITEMS);
    return true;
  });
  s.add([&] {
    HWND tree = selectionTree(dialog);
    if (!IsWindowEnabled(tree)) return false;
    HTREEITEM root = findItem(tree, {u"My Computer"});
    EXPECT_EQ(checkOf(tree, root), 1);
    EXPECT_TRUE(clickCheck(tree, root));
    EXPECT_EQ(checkOf(tree, root), 0);
    EXPECT_EQ(checkOf(tree, findItem(tree, {u"My Computer", u"Registry", u"HKEY_LOCAL_MACHINE"})), 0);
    shot(dialog, "take_snapshot_nothing");
    press(dialog, IDOK);
    return true;
  });
  s.add(answerBox(u"Select at least one item", 20003));
  s.add([&] {
    if (openMessageBox()) return false;
    // Escape reaches the enabled Cancel.
    PostMessageW(selectionTree(dialog), WM_KEYDOWN, VK_ESCAPE, 0);
    return true;
  });
  ASSERT_TRUE(s.run([&] { added = runTakeSnapshotDialog(nullptr, &settings); })) << s.reached();
  EXPECT_FALSE(added);
  EXPECT_EQ(settings.catalog().count(), 1u);
  // Nothing was selected, so the filter file was not written; no snapshot file either.
  EXPECT_FALSE(fileExists(home / "scan_filter.txt"));
  EXPECT_FALSE(fileExists(settings.catalog().snapshotPath(5).path));
}

TEST_F(TakeSnapshotGui, StopDeletesTheFileAndLeavesTheCatalogAlone) {
  REQUIRE_GUI();
  addSnapshotTo(&settings, 1, "kept");
  settings.save();
  std::string cfgBefore = readText(settings.settingsPath());
  // A scan far too long to end before the Stop posted right behind Start is taken.
  writeText(home / "scan_filter.txt", "Registry:\n*\n\nFiles:\nc:\\windows\\\n\nApplications:\n*\n\n");
  settings.fullScan = 0;
  bool added = true;
  bool sawFile = false;
  Script s;
  HWND dialog = nullptr;
  s.add([&] {
    dialog = takeSnapshotWindow();
    if (!dialog || !selectionTree(dialog)) return false;
    press(dialog, IDOK);
    return true;
  });
  s.add([&] {
    if (windowText(GetDlgItem(dialog, IDOK)) != u"Stop") return false;
    sawFile = fileExists(settings.catalog().snapshotPath(2).path);
    shot(dialog, "take_snapshot_scanning");
    press(dialog, IDOK);
    return true;
  });
  std::u16string said;
  s.add([&] {
    HWND box = openMessageBox();
    if (!box) return false;
    said = windowText(GetDlgItem(box, 10001));
    press(box, 20003);
    return true;
  });
  ASSERT_TRUE(s.run([&] { added = runTakeSnapshotDialog(nullptr, &settings); })) << s.reached();
  EXPECT_FALSE(added);
  EXPECT_TRUE(sawFile);
  EXPECT_EQ(toUtf8(said), "Snapshot stopped; " + settings.catalog().snapshotPath(2).path + " deleted");
  EXPECT_FALSE(fileExists(settings.catalog().snapshotPath(2).path));
  EXPECT_EQ(settings.catalog().count(), 1u);
  EXPECT_EQ(settings.catalog().lastNo, 1);
  EXPECT_EQ(settings.fullScan, 0);
  EXPECT_EQ(readText(settings.settingsPath()), cfgBefore);
  EXPECT_EQ(settings.catalog().nextNumber(), 2);
}

// ---- progress dialog of import and export ----

class TransferGui : public ::testing::Test {
 protected:
  TransferGui() : source(home.str()), target(other.str()) {
    for (int n = 1; n <= 3; n++) addSnapshotTo(&source, n, "snap " + std::to_string(n));
    source.save();
    target.ensureLoaded();
  }
  TempFolder home, other, out;
  Settings source, target;
};

TEST_F(TransferGui, ProgressDialogClosesByItselfWhenTheWorkerEnds) {
  REQUIRE_GUI();
  auto exporting = TransferJob::exporting(&source, {3, 1}, out.str());
  EXPECT_EQ(runProgress(nullptr, exporting.get()), IDOK);
  EXPECT_TRUE(exporting->ended());
  EXPECT_EQ(exporting->result().text, "Snapshots exported");
  EXPECT_EQ(out.names(), (std::vector<std::string>{"snap001.snp", "snap003.snp"}));

  writeText(out / "damaged.snp", "C1.4 and then garbage");
  target.catalog().lastNo = 9;
  auto importing = TransferJob::importing(&target, {out / "damaged.snp", out / "snap003.snp"});
  EXPECT_EQ(runProgress(nullptr, importing.get()), IDOK);
  EXPECT_EQ(importing->result().text, "Import error");
  ASSERT_EQ(target.catalog().count(), 1u);
  EXPECT_EQ(target.catalog().record(0).number, 10);
  EXPECT_EQ(target.catalog().record(0).name, "snap 3");
}

TEST_F(TransferGui, CancelAsksAbortingNoGoesOnYesEndsTheWorker) {
  REQUIRE_GUI();
  // Large files, so that the questions come while the worker still has work.
  SnapshotFile big;
  ASSERT_TRUE(big.create(source.catalog().snapshotPath(4).path));
  std::vector<uint8_t> block(1 << 16);
  for (size_t i = 0; i < block.size(); i++) block[i] = uint8_t(i * 2654435761u >> 11);
  for (int i = 0; i < 64; i++) big.appendBlock(block.data(), block.size());
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  SnapshotInfo info;
  info.fillNew("big", 4, lists);
  ASSERT_TRUE(big.finish(&info));
  ASSERT_TRUE(big.close());
  source.catalog().addSnapshot(info);
  auto exporting = TransferJob::exporting(&source, {4}, out.str());
  ASSERT_EQ(runProgress(nullptr, exporting.get()), IDOK);
  const size_t kFiles = 12;
  std::vector<std::string> files(kFiles, out / "snap004.snp");

  auto importing = TransferJob::importing(&target, files);
  Script s;
  HWND dialog = nullptr;
  s.add([&] {
    dialog = threadWindow(u"Import");
    if (!dialog) return false;
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_PROGRESS_TEXT)), u"Importing snapshots...");
    shot(dialog, "progress_import");
    PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    return true;
  });
  s.add(answerBox(u"Aborting?", 20004, nullptr, false, "progress_aborting"));
  s.add([&] {
    if (openMessageBox()) return false;
    // Escape asks again; this time the answer is Yes.
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    return true;
  });
  s.add(answerBox(u"Aborting?", 20003));
  INT_PTR r = 0;
  bool answeredYes = s.run([&] { r = runProgress(nullptr, importing.get()); });
  EXPECT_GE(s.reached(), 1u) << "the progress dialog never showed";
  EXPECT_TRUE(importing->ended());
  if (answeredYes) {
    EXPECT_EQ(r, IDCANCEL);
    EXPECT_TRUE(importing->result().empty());
  } else {
    // The worker was quicker than the questions: it ran to its end.
    EXPECT_EQ(r, IDOK);
    EXPECT_EQ(target.catalog().count(), kFiles);
  }
  // Whatever got imported is registered whole and saved; numbers run without gaps.
  Settings saved(other.str());
  ASSERT_TRUE(saved.load());
  EXPECT_EQ(saved.catalog().count(), target.catalog().count());
  for (size_t i = 0; i < target.catalog().count(); i++) EXPECT_EQ(target.catalog().record(i).number, int32_t(i + 1));
  std::vector<std::string> names;
  listFileNames(target.catalog().dataFolder(), &names);
  EXPECT_EQ(names.size(), target.catalog().count());
}

}  // namespace
}  // namespace keldrun
