#include "workspace/snapshot_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/files.h"
#include "tests/test_support.h"
#include "workspace/catalog_commands.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::TempFolder;

TEST(SnapshotListTexts, SizesAndStates) {
  const std::pair<uint32_t, const char*> sizes[] = {
      {0, "0.00M"}, {1572864, "1.50M"}, {1048576, "1.00M"}, {5242, "0.00M"}, {10485760, "10.00M"},
      {4294967295u, "4096.00M"}};
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(sizeText(bytes), text) << bytes;
  EXPECT_EQ(stateText(SectionState::NotScanned), "-");
  EXPECT_EQ(stateText(SectionState::Partial), "partial");
  EXPECT_EQ(stateText(SectionState::Full), "full");
  EXPECT_EQ(stateText(SectionState(7)), "");
}

class SnapshotListTest : public ::testing::Test {
 protected:
  SnapshotListTest() : settings(dir.str()), list(&settings) {}
  void add(int n, const std::string& name) { addSnapshotTo(&settings, n, name); }
  TempFolder dir;
  Settings settings;
  SnapshotList list;
};

TEST_F(SnapshotListTest, EmptyCatalogEnablesOnlyTakeAndImport) {
  list.refresh();
  EXPECT_TRUE(list.rows().empty());
  EXPECT_TRUE(list.box(SnapshotList::kFirstBox).empty());
  SnapshotList::EnabledStates e = list.enabled();
  EXPECT_TRUE(e.takeSnapshot);
  EXPECT_TRUE(e.importSnapshots);
  EXPECT_FALSE(e.view || e.properties || e.exportHtml || e.deleteSnapshots || e.exportSnapshots ||
               e.firstBox || e.secondBox || e.compare || e.differences);
  EXPECT_EQ(list.selectedSnapshot(), -1);
  int32_t n;
  EXPECT_FALSE(list.chosenSnapshot(&n));
  for (int c = 1; c <= 4; c++) EXPECT_FALSE(list.menuItemEnabled(c)) << c;
  EXPECT_TRUE(list.menuItemEnabled(5));
}

TEST_F(SnapshotListTest, RefreshLoadsTheSettingsWhenTheCatalogIsEmpty) {
  add(1, "saved");
  ASSERT_TRUE(settings.save());
  Settings fresh(dir.str());
  SnapshotList l(&fresh);
  l.refresh();
  ASSERT_EQ(l.rows().size(), 1u);
  EXPECT_EQ(l.rows()[0].cells[SnapshotList::kName], "saved");
}

TEST_F(SnapshotListTest, OneSnapshotFillsBoxesWithoutSelection) {
  add(1, "only");
  list.refresh();
  ASSERT_EQ(list.rows().size(), 1u);
  const SnapshotList::Row& r = list.rows()[0];
  EXPECT_EQ(r.number, 1);
  EXPECT_EQ(r.cells[SnapshotList::kName], "only");
  EXPECT_EQ(r.cells[SnapshotList::kDate], settings.catalog().record(0).date);
  EXPECT_EQ(r.cells[SnapshotList::kComputer], settings.catalog().record(0).computer);
  EXPECT_EQ(r.cells[SnapshotList::kSize], sizeText(settings.catalog().record(0).size));
  EXPECT_EQ(r.cells[SnapshotList::kRegs], "full");
  EXPECT_EQ(r.cells[SnapshotList::kFiles], "partial");
  EXPECT_EQ(r.cells[SnapshotList::kApps], "-");
  ASSERT_EQ(list.box(SnapshotList::kSecondBox).size(), 1u);
  EXPECT_EQ(list.box(SnapshotList::kSecondBox)[0].text, "only (" + settings.catalog().record(0).date + ")");
  EXPECT_EQ(list.boxSelection(SnapshotList::kFirstBox), -1);
  EXPECT_EQ(list.boxSelection(SnapshotList::kSecondBox), -1);
  SnapshotList::EnabledStates e = list.enabled();
  EXPECT_TRUE(e.firstBox && e.secondBox);
  EXPECT_FALSE(e.compare || e.differences);
}

TEST_F(SnapshotListTest, ThreeSnapshotsPreselectTheLastTwo) {
  add(1, "a");
  add(2, "b");
  add(3, "c");
  list.refresh();
  EXPECT_EQ(list.boxSelection(SnapshotList::kFirstBox), 1);
  EXPECT_EQ(list.boxSelection(SnapshotList::kSecondBox), 2);
  EXPECT_TRUE(list.enabled().compare);
  int32_t older, newer;
  ASSERT_TRUE(list.chosenPair(&older, &newer));
  EXPECT_EQ(older, 2);
  EXPECT_EQ(newer, 3);
  // Newer in the first box, older in the second: still opened older first.
  list.selectBox(SnapshotList::kFirstBox, 2);
  list.selectBox(SnapshotList::kSecondBox, 0);
  ASSERT_TRUE(list.chosenPair(&older, &newer));
  EXPECT_EQ(older, 1);
  EXPECT_EQ(newer, 3);
  // The same snapshot in both boxes.
  list.selectBox(SnapshotList::kSecondBox, 2);
  EXPECT_FALSE(list.enabled().compare);
  EXPECT_FALSE(list.enabled().differences);
  EXPECT_FALSE(list.chosenPair(&older, &newer));
}

TEST_F(SnapshotListTest, SelectionRulesAndTwoRowsSetTheBoxes) {
  for (int n = 1; n <= 4; n++) add(n, "s" + std::to_string(n));
  list.refresh();
  list.setSelection({2});
  SnapshotList::EnabledStates e = list.enabled();
  EXPECT_TRUE(e.view && e.properties && e.exportHtml && e.deleteSnapshots && e.exportSnapshots);
  int32_t n;
  ASSERT_TRUE(list.chosenSnapshot(&n));
  EXPECT_EQ(n, 3);
  list.setSelection({3, 0});
  e = list.enabled();
  EXPECT_FALSE(e.view || e.properties || e.exportHtml);
  EXPECT_TRUE(e.deleteSnapshots && e.exportSnapshots);
  EXPECT_EQ(list.selectedSnapshot(), 1);  // first from the top
  EXPECT_EQ(list.selectedSnapshots(), (std::vector<int32_t>{4, 1}));  // bottom upwards
  EXPECT_EQ(list.box(SnapshotList::kFirstBox)[size_t(list.boxSelection(SnapshotList::kFirstBox))].number, 1);
  EXPECT_EQ(list.box(SnapshotList::kSecondBox)[size_t(list.boxSelection(SnapshotList::kSecondBox))].number, 4);
  EXPECT_FALSE(list.menuItemEnabled(1));
  EXPECT_TRUE(list.menuItemEnabled(3));
  list.setSelection({0, 1, 2});  // three rows leave the boxes alone
  EXPECT_EQ(list.box(SnapshotList::kFirstBox)[size_t(list.boxSelection(SnapshotList::kFirstBox))].number, 1);
  // A selected number no longer in the catalog is not acted on.
  list.setSelection({1});
  settings.catalog().removeAt(1);
  EXPECT_FALSE(list.chosenSnapshot(&n));
}

TEST_F(SnapshotListTest, SortingByColumnsAndSelectionKeptOverRefresh) {
  add(1, "beta");
  add(2, "Alpha");
  add(3, "gamma");
  // Sizes of different lengths of text: 9.00M sorts before 10.00M.
  settings.catalog().record(0).size = 10u << 20;
  settings.catalog().record(1).size = 9u << 20;
  settings.catalog().record(2).size = 100u << 20;
  list.refresh();
  list.setSelection({2});  // gamma
  list.sortBy(SnapshotList::kName);
  auto names = [&] {
    std::vector<std::string> v;
    for (const auto& r : list.rows()) v.push_back(r.cells[SnapshotList::kName]);
    return v;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(list.selectedSnapshot(), 3);
  list.sortBy(SnapshotList::kName);
  EXPECT_FALSE(list.sortAscending());
  EXPECT_EQ(names(), (std::vector<std::string>{"gamma", "beta", "Alpha"}));
  list.sortBy(SnapshotList::kSize);
  EXPECT_TRUE(list.sortAscending());
  EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  // A refresh keeps the order and the selected row.
  add(4, "delta");
  list.refresh();
  EXPECT_EQ(list.sortColumn(), SnapshotList::kSize);
  EXPECT_EQ(list.rows().size(), 4u);
  EXPECT_EQ(list.selectedSnapshot(), 3);
  EXPECT_EQ(list.selectedCount(), 1u);
  EXPECT_TRUE(list.isSelected(3));  // gamma, 100M, is last
  // Boxes stay in catalog order.
  EXPECT_EQ(list.box(SnapshotList::kFirstBox)[0].number, 1);
}

TEST_F(SnapshotListTest, DeleteThenRefresh) {
  for (int n = 1; n <= 3; n++) add(n, "s");
  list.refresh();
  list.setSelection({0, 2});
  ASSERT_TRUE(deleteSnapshots(&settings, list.selectedSnapshots()));
  list.refresh();
  ASSERT_EQ(list.rows().size(), 1u);
  EXPECT_EQ(list.rows()[0].number, 2);
  EXPECT_EQ(list.selectedCount(), 0u);
  EXPECT_FALSE(list.enabled().deleteSnapshots);
}

// File times move on with the clock's tick: a save within the tick of the one before could
// leave the settings file's stamp as it was, which no user can do between two processes.
void nextTick() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// Another process changes the catalog while the list is shown (deletes, renames, adds): the list
// follows once the settings file says so, keeping the selected snapshots that are left, and
// does nothing while the file stays as it was.
TEST_F(SnapshotListTest, FollowsTheCatalogAnotherProcessSaved) {
  for (int n = 1; n <= 3; n++) add(n, "snapshot " + std::to_string(n));
  ASSERT_TRUE(settings.save());
  list.refresh();
  EXPECT_FALSE(list.followCatalog());
  list.setSelection({0, 2});

  Settings other(dir.str());
  other.ensureLoaded();
  ASSERT_EQ(other.catalog().count(), 3u);
  ASSERT_TRUE(deleteSnapshots(&other, {1}));
  SnapshotProperties rename(&other, 3);
  ASSERT_TRUE(rename.open().empty());
  ASSERT_TRUE(rename.ok("renamed elsewhere") && rename.renamed());
  addSnapshotTo(&other, 4, "added elsewhere");
  nextTick();
  ASSERT_TRUE(other.save());

  ASSERT_TRUE(list.followCatalog());
  std::vector<std::string> names;
  for (const auto& r : list.rows()) names.push_back(r.cells[SnapshotList::kName]);
  EXPECT_EQ(names, (std::vector<std::string>{"snapshot 2", "renamed elsewhere", "added elsewhere"}));
  EXPECT_EQ(list.selectedSnapshots(), std::vector<int32_t>{3});
  EXPECT_EQ(list.box(SnapshotList::kSecondBox).back().number, 4);
  EXPECT_EQ(settings.catalog().find(1), -1);
  EXPECT_EQ(settings.catalog().lastNo, 4);
  EXPECT_FALSE(list.followCatalog());

  // This process's own save reads nothing again; a catalog read afresh elsewhere in this process
  // (as the workspace lock does) still reaches the rows.
  nextTick();
  ASSERT_TRUE(deleteSnapshots(&other, {2}));
  ASSERT_TRUE(settings.reloadCatalog());
  ASSERT_TRUE(list.followCatalog());
  EXPECT_EQ(list.rows().size(), 2u);
  EXPECT_EQ(list.selectedSnapshots(), std::vector<int32_t>{3});
  // A save of the options alone keeps the rows and the boxes as the user chose them.
  list.selectBox(SnapshotList::kSecondBox, 0);
  settings.viewMode = 1;
  nextTick();
  ASSERT_TRUE(settings.save());
  EXPECT_FALSE(list.followCatalog());
  EXPECT_EQ(list.boxSelection(SnapshotList::kSecondBox), 0);
  EXPECT_EQ(list.selectedSnapshots(), std::vector<int32_t>{3});
}

// A settings file that cannot be read while it is looked at (damaged, or gone) leaves the rows
// as they are; once it reads again, the list follows it.
TEST_F(SnapshotListTest, AnUnreadableCatalogKeepsTheRowsUntilItReadsAgain) {
  add(1, "one");
  add(2, "two");
  ASSERT_TRUE(settings.save());
  list.refresh();
  list.setSelection({1});
  std::string path = settings.settingsPath();
  ASSERT_TRUE(replaceFile(path, path + ".kept"));
  EXPECT_FALSE(list.followCatalog());
  {
    FILE* f = openFile(path, "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a settings file", f);
    std::fclose(f);
  }
  EXPECT_FALSE(list.followCatalog());
  EXPECT_EQ(list.rows().size(), 2u);
  EXPECT_EQ(settings.catalog().count(), 2u);
  ASSERT_TRUE(replaceFile(path + ".kept", path));
  Settings other(dir.str());
  other.ensureLoaded();
  nextTick();
  ASSERT_TRUE(deleteSnapshots(&other, {1}));
  ASSERT_TRUE(list.followCatalog());
  ASSERT_EQ(list.rows().size(), 1u);
  EXPECT_EQ(list.selectedSnapshots(), std::vector<int32_t>{2});
}

}  // namespace
}  // namespace keldrun
