// The comparison context and the screen logic, on snapshots made by the real files scan.
#include "base/date_text.h"
#include "views/comparison_context.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/section_filter.h"
#include "reports/report_generation.h"
#include "reports/report_writer.h"
#include "tests/compare_support.h"
#include "tests/report_support.h"
#include "tests/test_support.h"
#include "views/list_columns.h"
#include "views/screen_model.h"
#include "views/tree_fill.h"

namespace keldrun {
namespace {

using testing_support::DirSpec;
using testing_support::scanFolders;
using testing_support::writeFilesSnapshot;

void writeFile(const std::string& path, size_t size, long mtime) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), tv);
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = newPosixEnv("");
    tree_ = folder_ / "t";
    mk("");
    mk("/windows");
    mk("/windows/system32");
    mk("/windows/system32/drivers");
    mk("/apps");
    writeFile(tree_ + "/windows/win.ini", 10, 1600000000);
    writeFile(tree_ + "/windows/system32/kernel32.dll", 1234567, 1600000000);
    writeFile(tree_ + "/windows/system32/drivers/null.sys", 5, 1600000000);
    writeFile(tree_ + "/apps/a.exe", 7, 1600000000);
    model_.reset(new SnapshotScreenModel(kSectionFiles, &context_, &tree_view_));
    tree_view_.setEvents(model_.get());
  }
  void mk(const std::string& rel) { mkdir((tree_ + rel).c_str(), 0755); }
  std::u16string win(const std::string& rel = "") {
    std::u16string w = u"z:";
    for (char c : tree_ + rel) w.push_back(c == '/' ? u'\\' : char16_t(uint8_t(c)));
    if (w.back() != u'\\') w.push_back(u'\\');
    return w;
  }
  std::string snap(const std::string& name) { return folder_ / name; }
  void scan(const std::string& name, const FilterList& items) {
    ASSERT_TRUE(scanFolders(snap(name), env_.get(), items, name));
  }
  // The item for the scanned folder t: z:\ and the folders on the way are opened first.
  TreeItem locate(const std::string& rel) {
    return locateItem(&tree_view_, win(rel).substr(0, win(rel).size() - 1));
  }
  const MemoryTree::Node& node(TreeItem item) { return tree_view_.node(item); }
  bool hasPlaceholder(TreeItem item) {
    TreeItem first = tree_view_.firstChild(item);
    return first && tree_view_.data(first) == kPlaceholder;
  }

  testing_support::TempFolder folder_;
  std::string tree_;
  std::unique_ptr<Env> env_;
  ComparisonContext context_;
  MemoryTree tree_view_;
  std::unique_ptr<SnapshotScreenModel> model_;
};

TEST_F(ScreenTest, IdenticalSnapshotsShowOnlyNoDifferencesFound) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("a.snp"), kModeCompare, fullFor(kModeCompare, kViewDifferences)));
  model_->refresh(kViewDifferences);
  const auto& roots = tree_view_.children(tree_view_.root());
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(node(roots[0]).text, kMessageNoDifferences);
  EXPECT_EQ(node(roots[0]).look.icon, kIconMessageNone);
  EXPECT_EQ(node(roots[0]).data, kNoRecord);
  EXPECT_EQ(model_->mode(), kModeNone);
  EXPECT_FALSE(model_->controls().radioEnabled);
  EXPECT_FALSE(model_->controls().diffListEnabled);
  EXPECT_FALSE(model_->controls().jumpEnabled);
}

TEST_F(ScreenTest, ViewModeShowsEverythingBlackWithDashRows) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  model_->refresh(kViewDifferences);
  EXPECT_EQ(model_->mode(), kModeView);
  EXPECT_TRUE(model_->controls().searchEnabled);
  EXPECT_FALSE(model_->controls().radioEnabled);
  TreeItem sys = locate("/windows/system32");
  ASSERT_NE(sys, 0u);
  EXPECT_EQ(tree_view_.selected(), sys);
  // Black from the scanned folder down; the folders on the way to it were not recorded whole
  // and stay grey.
  TreeItem scanned = tree_view_.parent(tree_view_.parent(sys));
  EXPECT_EQ(node(scanned).text, u"t");
  for (TreeItem i = sys; i != tree_view_.root(); i = tree_view_.parent(i)) {
    EXPECT_FALSE(node(i).look.bold);
  }
  for (TreeItem i = sys; i != tree_view_.parent(scanned); i = tree_view_.parent(i)) {
    EXPECT_EQ(node(i).look.color, 0u) << toUtf8(node(i).text);
    EXPECT_EQ(node(i).look.icon, stateTreeIcon(kUnchanged));
  }
  for (TreeItem i = tree_view_.parent(scanned); i != tree_view_.root(); i = tree_view_.parent(i))
    EXPECT_EQ(node(i).look.color, stateColor(kExcluded)) << toUtf8(node(i).text);
  ASSERT_EQ(model_->rows().size(), 1u);
  EXPECT_EQ(model_->rows()[0].columns,
            (std::vector<std::u16string>{u"kernel32.dll", u"1,234,567", widen(fileTimeText(116444736000000000ULL + 1600000000ULL * 10000000ULL)), u"-"}));
  // The folders on the way carry the lower-case names of the filter item.
  EXPECT_EQ(model_->controls().pathText, foldPath(win("/windows/system32").substr(0, win("/windows/system32").size() - 1)));
  EXPECT_TRUE(model_->controls().jumpEnabled);
}

// Closing a comparison empties the screen before the context closes: no message item, no rows,
// no records left to point into the closed files, and the controls of mode 0.
TEST_F(ScreenTest, ClearLeavesAnEmptyScreenInModeZero) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  model_->refresh(kViewFull);
  ASSERT_NE(locate("/windows/system32"), 0u);
  ASSERT_FALSE(model_->rows().empty());
  ASSERT_GT(model_->records().size(), 0u);
  model_->clear();
  context_.close();
  EXPECT_TRUE(tree_view_.children(tree_view_.root()).empty());
  EXPECT_TRUE(model_->rows().empty());
  EXPECT_EQ(model_->records().size(), 0u);
  EXPECT_TRUE(model_->message().empty());
  EXPECT_EQ(model_->mode(), kModeNone);
  EXPECT_FALSE(model_->controls().searchEnabled);
  EXPECT_TRUE(model_->controls().pathText.empty());
  EXPECT_EQ(tree_view_.selected(), 0u);
}

TEST_F(ScreenTest, ChangedFilesOnlyIsBoldWithoutExpandButtonInDifferences) {
  scan("a.snp", {win()});
  writeFile(tree_ + "/windows/win.ini", 11, 1600000000);
  scan("b.snp", {win()});
  for (int viewMode : {kViewDifferences, kViewFull}) {
    SCOPED_TRACE(viewMode);
    ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, fullFor(kModeCompare, viewMode)));
    model_->refresh(viewMode);
    TreeItem windows = locate("/windows");
    ASSERT_NE(windows, 0u);
    EXPECT_EQ(node(windows).look.color, stateColor(kModified));
    EXPECT_TRUE(node(windows).look.bold);
    // Its subfolders did not change: only the full view offers to open it.
    TreeItem other = tree_view_.child(tree_view_.parent(windows), u"apps");
    if (viewMode == kViewDifferences) {
      EXPECT_TRUE(tree_view_.children(windows).empty());
      EXPECT_EQ(other, 0u);
    } else {
      EXPECT_EQ(tree_view_.children(windows).size(), 1u);  // system32, filled on the way here
      ASSERT_NE(other, 0u);
      EXPECT_EQ(node(other).look.color, 0u);
    }
    std::vector<std::string> labels;
    for (const ListRow& r : model_->rows()) labels.push_back(r.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"old", "new"}));
    EXPECT_EQ(model_->rows()[0].columns[1], u"10");
    EXPECT_EQ(model_->rows()[1].columns[1], u"11");
    EXPECT_EQ(model_->rows()[1].color, stateColor(kModified));
  }
}

// New content under the old size and date: the Files screen marks the pair and shows each
// side's recorded digest (values from sha256sum) after the label; without digests, the marks only.
TEST_F(ScreenTest, ContentChangedBehindTheDateShowsMarksAndDigests) {
  const std::string file = tree_ + "/windows/win.ini";
  for (bool digests : {true, false}) {
    SCOPED_TRACE(digests);
    writeFile(file, 10, 1600000000);
    ASSERT_TRUE(scanFolders(snap("a.snp"), env_.get(), {win()}, "a", false, false, digests));
    std::ofstream(file, std::ios::binary) << "yyyyyyyyyy";
    struct timeval tv[2] = {{1600000000, 0}, {1600000000, 0}};
    utimes(file.c_str(), tv);
    ASSERT_TRUE(scanFolders(snap("b.snp"), env_.get(), {win()}, "b", false, false, digests));
    ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, fullFor(kModeCompare, kViewDifferences)));
    model_->refresh(kViewDifferences);
    ASSERT_NE(locate("/windows"), 0u);
    std::vector<std::u16string> info;
    for (const ListRow& r : model_->rows()) info.push_back(r.columns.back());
    std::u16string mark = digests ? u"old [content or attributes changed, date kept; content digest changed]"
                                  : u"old [content or attributes changed, date kept]";
    std::u16string markNew = u"new" + mark.substr(3);
    if (digests) {
      mark += u"  sha256 fc11d6f28e59d3cc33c0b14ceb644bf0902ebd63d61218dffe9e7dac7c254542";
      markNew += u"  sha256 371c535439341f5d05a05e3207e8cb70cfb9741ce8cf8794ecaec70c2eef1b09";
    }
    EXPECT_EQ(info, (std::vector<std::u16string>{mark, markNew}));
    // The differences report gives both rows the same marks and digests.
    ReportWriter writer;
    std::string message;
    ASSERT_TRUE(generateDifferencesReport(&context_, DifferencesReportOptions(), snap("d.htm"), &writer, &message)) << message;
    std::string page = report_testing::readUtf16(snap("d.htm"));
    for (const std::u16string& text : {mark, markNew})
      EXPECT_NE(page.find(toUtf8(text)), std::string::npos) << toUtf8(text) << "\n" << page;
    model_->clear();
    context_.close();
  }
}

TEST_F(ScreenTest, FolderOnlyInBIsGreenBoldExpandableWithAddRows) {
  scan("a.snp", {win()});
  mk("/games");
  mk("/games/chess");
  writeFile(tree_ + "/games/readme", 1, 1600000000);
  writeFile(tree_ + "/games/chess/chess.exe", 1, 1600000000);
  scan("b.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  model_->refresh(kViewDifferences);
  TreeItem games = locate("/games");
  ASSERT_NE(games, 0u);
  EXPECT_EQ(node(games).look.color, stateColor(kAdded));
  EXPECT_EQ(node(games).look.icon, stateTreeIcon(kAdded));
  EXPECT_TRUE(node(games).look.bold);
  ASSERT_EQ(model_->rows().size(), 1u);
  EXPECT_STREQ(model_->rows()[0].label, "add");
  // The window takes the rows over whole: the name, size, date and label of the one file.
  std::vector<ListRow> taken = model_->takeRows();
  EXPECT_TRUE(model_->rows().empty());
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].columns, (std::vector<std::u16string>{u"readme", u"1", widen(fileTimeText(fileTimeFromUnix(1600000000, 0))), u"add"}));
  ASSERT_EQ(tree_view_.children(games).size(), 1u);
  EXPECT_EQ(node(tree_view_.children(games)[0]).look.color, stateColor(kAdded));
}

// The noise list hides a folder from the lazy tree and a file from a shown folder's list, the
// model counts both, and showing noise brings them back.
TEST_F(ScreenTest, NoiseLeavesTheTreeAndTheListAndIsCounted) {
  scan("a.snp", {win()});
  writeFile(tree_ + "/windows/win.ini", 11, 1600000000);
  writeFile(tree_ + "/windows/boot.log", 1, 1600000000);
  writeFile(tree_ + "/apps/a.exe", 8, 1600000000);
  scan("b.snp", {win()});
  std::u16string apps = win("/apps"), log = win("/windows") + u"*.LOG";
  apps.pop_back();
  context_.setNoise(std::make_shared<NoiseMatcher>(std::vector<std::u16string>{apps, log}));
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  for (bool show : {false, true}) {
    SCOPED_TRACE(show);
    context_.setShowNoise(show);
    model_->refresh(kViewDifferences);
    TreeItem windows = locate("/windows");
    ASSERT_NE(windows, 0u);
    EXPECT_EQ(tree_view_.child(tree_view_.parent(windows), u"apps") != 0, show);
    std::vector<std::u16string> names;
    for (const ListRow& r : model_->rows()) names.push_back(r.columns[0]);
    if (show) {
      EXPECT_EQ(names, (std::vector<std::u16string>{u"boot.log", u"win.ini", u"win.ini"}));
    } else {
      EXPECT_EQ(names, (std::vector<std::u16string>{u"win.ini", u"win.ini"}));
    }
    EXPECT_EQ(model_->hiddenNoiseLine(), show ? u"" : u"2 differences hidden as noise");
  }
}

// A View or Compare whose files cannot be opened (deleted or damaged by another process since
// the list was shown) leaves the comparison on screen whole: its nodes still expand and its
// lists still fill.
TEST_F(ScreenTest, FailedOpenKeepsTheShownComparisonUsable) {
  scan("a.snp", {win()});
  mk("/games");
  writeFile(tree_ + "/games/readme", 1, 1600000000);
  scan("b.snp", {win()});
  std::ofstream(snap("damaged.snp"), std::ios::binary) << "not a snapshot";
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  model_->refresh(kViewDifferences);
  const std::string title = context_.title();
  for (const auto& [pathA, pathB, mode] : std::vector<std::tuple<std::string, std::string, int>>{
           {snap("gone.snp"), "", kModeView},
           {snap("a.snp"), snap("gone.snp"), kModeCompare},
           {snap("damaged.snp"), snap("b.snp"), kModeCompare},
           {snap("b.snp"), snap("damaged.snp"), kModeCompare}}) {
    SCOPED_TRACE(pathA + " " + pathB);
    EXPECT_FALSE(context_.openFiles(pathA, pathB, mode, true));
    EXPECT_EQ(context_.mode(), kModeCompare);
    EXPECT_FALSE(context_.full());
    EXPECT_EQ(context_.title(), title);
    EXPECT_NE(context_.fileB(), nullptr);
  }
  model_->refresh(kViewDifferences);
  TreeItem games = locate("/games");
  ASSERT_NE(games, 0u);
  EXPECT_EQ(node(games).look.color, stateColor(kAdded));
  ASSERT_EQ(model_->rows().size(), 1u);
  EXPECT_STREQ(model_->rows()[0].label, "add");
}

TEST_F(ScreenTest, LazyFillingReadsOneLevelPerExpansionAndOnlyOnce) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  uint64_t reads = context_.fileA()->blockReads();
  model_->refresh(kViewFull);
  EXPECT_EQ(context_.fileA()->blockReads() - reads, 1u);  // the root table alone
  TreeItem root = tree_view_.firstChild(tree_view_.root());
  ASSERT_TRUE(hasPlaceholder(root));
  reads = context_.fileA()->blockReads();
  tree_view_.expand(root);
  EXPECT_EQ(context_.fileA()->blockReads() - reads, 1u);
  size_t children = tree_view_.children(root).size();
  EXPECT_EQ(children, 1u);  // tmp
  model_->itemExpanding(root);  // collapsing and expanding again
  EXPECT_EQ(tree_view_.children(root).size(), children);
  EXPECT_EQ(context_.fileA()->blockReads() - reads, 1u);
}

TEST_F(ScreenTest, DifferentFiltersShowExcludedAncestorsInGrey) {
  scan("a.snp", {win("/windows")});
  writeFile(tree_ + "/windows/system32/kernel32.dll", 7, 1600000000);
  scan("b.snp", {win("/windows/system32")});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, true));
  model_->refresh(kViewFull);
  TreeItem sys = locate("/windows/system32");
  ASSERT_NE(sys, 0u);
  EXPECT_EQ(node(sys).look.color, stateColor(kModified));
  TreeItem windows = tree_view_.parent(sys);
  EXPECT_EQ(node(windows).look.color, stateColor(kExcluded));
  EXPECT_EQ(node(windows).look.icon, stateTreeIcon(kExcluded));
  for (TreeItem i = windows; i != tree_view_.root(); i = tree_view_.parent(i)) {
    EXPECT_EQ(node(i).look.color, stateColor(kExcluded)) << toUtf8(node(i).text);
    // Nothing outside the common paths: the windows folder holds only system32, t only windows.
    EXPECT_LE(tree_view_.children(i).size(), 1u) << toUtf8(node(i).text);
  }
  // An excluded node has no list of its own.
  tree_view_.select(windows);
  EXPECT_TRUE(model_->rows().empty());
}

TEST_F(ScreenTest, EmptyResultMessages) {
  scan("a.snp", {win("/windows")});
  scan("b.snp", {win("/apps")});
  ASSERT_TRUE(writeFilesSnapshot(snap("none.snp"), {}, {}));
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, true));
  model_->refresh(kViewFull);
  EXPECT_EQ(model_->message(), kMessageNoCommonPaths);
  EXPECT_EQ(model_->messageIcon(), kIconMessageError);
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("none.snp"), kModeCompare, true));
  model_->refresh(kViewFull);
  EXPECT_EQ(model_->message(), kMessageNoSnapshot);
  EXPECT_TRUE(context_.emptyReason(kSectionFiles).noSnapshot);
  EXPECT_TRUE(context_.emptyReason(kSectionRegistry).noSnapshot);
}

// A root table whose length runs past the end of the file is damage, not an empty result:
// neither "no differences found" nor an empty tree, on every refresh and in both modes.
TEST_F(ScreenTest, UnreadableRootTableSaysTheFileIsDamaged) {
  scan("a.snp", {win()});
  SnapshotInfo info;
  {
    SnapshotFile file;
    ASSERT_TRUE(file.open(snap("a.snp"), &info));
  }
  uint32_t root = info.sectionOffset[kSectionFiles];
  ASSERT_NE(root, 0u);
  std::fstream f(snap("a.snp"), std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(root);
  const char pastTheEnd[4] = {char(0xF0), char(0xFF), char(0xFF), char(0x7F)};
  f.write(pastTheEnd, 4);
  f.close();
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  for (int refresh = 0; refresh < 2; refresh++) {
    model_->refresh(kViewFull);
    EXPECT_EQ(model_->message(), kMessageDamaged) << refresh;
    EXPECT_EQ(model_->messageIcon(), kIconMessageError);
    EXPECT_EQ(tree_view_.children(tree_view_.root()).size(), 1u);
  }
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), snap("a.snp"), kModeCompare, false));
  model_->refresh(kViewDifferences);
  EXPECT_EQ(model_->message(), kMessageDamaged);
  EXPECT_EQ(model_->mode(), kModeNone);
}

TEST_F(ScreenTest, TypedPathsMatchWithoutCaseAndMissesKeepTheSelection) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  model_->refresh(kViewFull);
  std::u16string upper;
  for (char16_t c : win("/windows/system32")) upper.push_back(c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
  ASSERT_TRUE(model_->locatePath(upper, u"kernel32.dll"));
  TreeItem sys = tree_view_.selected();
  EXPECT_EQ(node(sys).text, u"system32");
  EXPECT_EQ(model_->selectedRow(), 0);
  EXPECT_FALSE(model_->locatePath(win("/windows/nothing"), u""));
  EXPECT_FALSE(model_->locatePath(win("/window"), u""));
  EXPECT_EQ(tree_view_.selected(), sys);
  // Typed by the user: the text stays as typed.
  EXPECT_EQ(model_->pathTextChanged(u"Z:\\TMP", true), u"Z:\\TMP");
  EXPECT_EQ(node(tree_view_.selected()).text, u"tmp");
}

// The commands act on the node the tree shows: a typed path that names no node leaves them on
// the selected one, a located path moves them, a new mode leaves them nothing.
TEST_F(ScreenTest, CommandsActOnTheShownNodeWhateverTheBoxHolds) {
  scan("a.snp", {win()});
  ASSERT_TRUE(context_.openFiles(snap("a.snp"), "", kModeView, true));
  model_->refresh(kViewFull);
  EXPECT_TRUE(model_->nodePath().empty());
  ASSERT_NE(locate("/windows/system32"), 0u);
  const std::u16string sys = model_->controls().pathText;
  ASSERT_FALSE(sys.empty());
  EXPECT_EQ(model_->nodePath(), sys);
  EXPECT_EQ(model_->pathTextChanged(sys + u"\\nothing", true), sys + u"\\nothing");
  EXPECT_EQ(model_->nodePath(), sys);
  ASSERT_TRUE(model_->locatePath(win("/apps"), u""));
  EXPECT_EQ(foldPath(model_->nodePath()), foldPath(win("/apps").substr(0, win("/apps").size() - 1)));
  EXPECT_NE(model_->nodePath(), sys);
  model_->setMode(kModeView);
  EXPECT_TRUE(model_->nodePath().empty());
}

TEST_F(ScreenTest, ModesAndViewModeRules) {
  SnapshotScreenModel registry(kSectionRegistry, &context_, &tree_view_);
  registry.setMode(kModeNone);
  EXPECT_FALSE(registry.controls().pathBoxEnabled);
  registry.setMode(kModeCompare);
  EXPECT_TRUE(registry.controls().pathBoxEnabled);
  EXPECT_TRUE(registry.controls().radioEnabled);
  EXPECT_TRUE(registry.controls().diffListEnabled);
  EXPECT_FALSE(registry.controls().searchEnabled);
  registry.setMode(kModeView);
  EXPECT_FALSE(registry.controls().radioEnabled);
  EXPECT_TRUE(registry.controls().searchEnabled);
  model_->setMode(kModeNone);
  EXPECT_TRUE(model_->controls().pathBoxEnabled);

  int viewMode = kViewFull;
  EXPECT_FALSE(model_->setViewMode(kViewFull, &viewMode));
  EXPECT_TRUE(model_->setViewMode(kViewDifferences, &viewMode));
  EXPECT_EQ(viewMode, kViewDifferences);
  EXPECT_TRUE(fullFor(kModeView, kViewDifferences));
  EXPECT_FALSE(fullFor(kModeCompare, kViewDifferences));
  EXPECT_TRUE(fullFor(kModeCompare, kViewFull));
}

TEST(ComparisonContextText, PlaceholdersAndOpenFailures) {
  testing_support::TempFolder folder;
  std::string dir = folder.str();
  dir.pop_back();
  ASSERT_TRUE(writeFilesSnapshot(dir + "/a.snp", {}, {u"*"}, "before"));
  ASSERT_TRUE(writeFilesSnapshot(dir + "/b.snp", {}, {u"*"}, "after $snap_name$"));
  ComparisonContext c;
  ASSERT_TRUE(c.openFiles(dir + "/a.snp", dir + "/b.snp", kModeCompare, true));
  EXPECT_EQ(c.expandPlaceholders("$pg_title$: $snap_name$/$snap2_name$ $snap_name$"),
            "before vs after $snap_name$: before/after $snap_name$ before");
  ASSERT_TRUE(c.openFiles(dir + "/a.snp", "", kModeView, true));
  EXPECT_EQ(c.expandPlaceholders("[$pg_title$]"), "[view before]");
  // A missing second file leaves nothing half open: the view before stays as it was.
  EXPECT_FALSE(c.openFiles(dir + "/a.snp", dir + "/missing.snp", kModeCompare, true));
  EXPECT_EQ(c.mode(), kModeView);
  EXPECT_TRUE(c.fileA()->isOpen());
  EXPECT_EQ(c.fileB(), nullptr);
  EXPECT_EQ(c.expandPlaceholders("[$pg_title$]"), "[view before]");
  c.close();
  EXPECT_EQ(c.mode(), kModeNone);
  EXPECT_FALSE(c.fileA()->isOpen());
  EXPECT_TRUE(c.emptyReason(kSectionFiles).noSnapshot);
  c.setDataFolder(dir + "/");
  EXPECT_EQ(c.snapshotPath(7), dir + "/snap007.snp");
}

TEST(ListColumns, SizesAreGroupedByThousands) {
  const struct {
    uint64_t n;
    const char* text;
  } cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {123456, "123,456"}, {1234567, "1,234,567"},
               {18446744073709551615ULL, "18,446,744,073,709,551,615"}};
  for (const auto& c : cases) EXPECT_EQ(groupedSize(c.n), c.text);
}

}  // namespace
}  // namespace keldrun
