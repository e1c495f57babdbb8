#include "engine/compare.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/file_entry.h"
#include "engine/section_filter.h"
#include "engine/value_entry.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::DirSpec;
using testing_support::FileSpec;
using testing_support::readTreeEntries;
using testing_support::TempFolder;
using testing_support::writeFilesSnapshot;

// ---- section filter ----

struct FilterCase {
  const char* what;
  FilterList a, b;
  std::vector<std::u16string> items;
  bool all, noneInCommon;
};

TEST(SectionFilter, BuildFilterIntersectsTheTwoLists) {
  const FilterCase cases[] = {
      {"both everything", {u"*"}, {u"*"}, {}, true, false},
      {"empty list counts as everything", {}, {u"*"}, {}, true, false},
      {"A everything takes B", {u"*"}, {u"c:\\windows\\"}, {u"c:\\windows\\"}, false, false},
      {"B everything takes A", {u"c:\\a\\"}, {u"*"}, {u"c:\\a\\"}, false, false},
      {"more specific item wins", {u"c:\\a\\"}, {u"c:\\a\\b\\"}, {u"c:\\a\\b\\"}, false, false},
      {"more specific item wins either side", {u"c:\\a\\b\\"}, {u"c:\\a\\"}, {u"c:\\a\\b\\"}, false, false},
      {"disjoint", {u"c:\\a\\"}, {u"d:\\x\\"}, {}, false, true},
      {"equal taken once", {u"c:\\a\\", u"d:\\"}, {u"c:\\a\\", u"e:\\"}, {u"c:\\a\\"}, false, false},
      {"shorter item covers several",
       {u"c:\\a\\"},
       {u"c:\\a\\b\\", u"c:\\a\\c\\", u"c:\\ab\\"},
       {u"c:\\a\\b\\", u"c:\\a\\c\\"},
       false,
       false},
      {"a name that merely starts alike is not inside", {u"c:\\a\\"}, {u"c:\\ab\\"}, {}, false, true},
      {"unsorted, upper case and missing backslash are normalised",
       {u"D:\\Y", u"C:\\Program Files"},
       {u"c:\\program files\\x\\", u"d:\\y\\"},
       {u"c:\\program files\\x\\", u"d:\\y\\"},
       false,
       false},
      {"space sorts before backslash", {u"c:\\a b\\", u"c:\\a\\"}, {u"c:\\a\\x\\"}, {u"c:\\a\\x\\"}, false, false},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.what);
    SectionFilter f = buildFilter(c.a, c.b);
    EXPECT_EQ(f.items, c.items);
    EXPECT_EQ(f.all, c.all);
    EXPECT_EQ(f.noneInCommon, c.noneInCommon);
  }
}

TEST(SectionFilter, CopyFilterAndTestPath) {
  SectionFilter all = copyFilter({u"*"});
  EXPECT_TRUE(all.all);
  EXPECT_EQ(testPath(all, u"anything"), kPathInside);

  SectionFilter f = buildFilter({u"c:\\windows\\"}, {u"c:\\windows\\"});
  const struct {
    const char16_t* path;
    int result;
  } cases[] = {
      {u"c:\\", kPathOnTheWay},
      {u"C:", kPathOnTheWay},
      {u"c:\\windows", kPathInside},
      {u"C:\\WINDOWS\\System32", kPathInside},
      {u"c:\\program files", kPathOutside},
      {u"c:\\windowsx", kPathOutside},
      {u"d:\\", kPathOutside},
  };
  for (const auto& c : cases) EXPECT_EQ(testPath(f, c.path), c.result) << toUtf8(c.path);

  // An item inside another is covered by the outer one, whatever the order of the list.
  SectionFilter nested = copyFilter({u"c:\\a\\b\\", u"c:\\a\\"});
  EXPECT_EQ(nested.items, std::vector<std::u16string>{u"c:\\a\\"});
  EXPECT_EQ(testPath(nested, u"c:\\a"), kPathInside);

  // Letters beyond ASCII meet whichever way each side was lower-cased.
  SectionFilter accented = copyFilter({u"c:\\\u00e4nderung\\"});
  EXPECT_EQ(testPath(accented, u"C:\\\u00c4nderung\\x"), kPathInside);
}

// ---- node state ----

TreeEntry entry(uint32_t child, uint32_t content, uint32_t childTable) {
  TreeEntry e;
  e.childHash = child;
  e.contentHash = content;
  e.childTable = childTable;
  e.contentTable = content ? 100 : 0;
  return e;
}

TEST(NodeState, FollowsDigestsSidesModeAndFilter) {
  TreeEntry same = entry(1, 2, 50), childChanged = entry(9, 2, 50), contentChanged = entry(1, 7, 50);
  TreeEntry leaf = entry(0, 2, 0);
  const struct {
    const char* what;
    const TreeEntry *a, *b;
    int f, mode;
    bool full;
    int state;
    bool own, expandable;
  } cases[] = {
      {"equal", &same, &same, 2, kModeCompare, false, kUnchanged, false, false},
      {"equal, full shows children", &same, &same, 2, kModeCompare, true, kUnchanged, false, true},
      {"equal leaf in full", &leaf, &leaf, 2, kModeCompare, true, kUnchanged, false, false},
      {"children changed", &same, &childChanged, 2, kModeCompare, false, kModified, false, true},
      {"own content changed", &same, &contentChanged, 2, kModeCompare, false, kModified, true, false},
      {"only in A", &same, nullptr, 2, kModeCompare, false, kDeleted, true, true},
      {"only in B", nullptr, &same, 2, kModeCompare, false, kAdded, true, true},
      {"only in B without children", nullptr, &leaf, 2, kModeCompare, false, kAdded, true, false},
      {"viewing one snapshot", &same, nullptr, 2, kModeView, true, kUnchanged, false, true},
      {"on the way, changed below", &same, &childChanged, 1, kModeCompare, false, kExcluded, false, true},
      {"on the way, own change hidden", &same, &contentChanged, 1, kModeCompare, false, kExcluded, false, false},
      {"on the way, only in B", nullptr, &same, 1, kModeCompare, false, kExcluded, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NodeState s = nodeState(c.a, c.b, c.f, c.mode, c.full);
    EXPECT_EQ(s.state, c.state);
    EXPECT_EQ(s.ownChanged, c.own);
    EXPECT_EQ(s.expandable, c.expandable);
  }
}

// ---- walks over hand-built files ----

struct Visit {
  std::u16string path;
  int state;
  bool own;
  bool expandable;
  int f;
};

// Walks everything the differences view would show, descending where a node is expandable.
class Recorder : public TreeVisitor {
 public:
  Recorder(int mode, bool full) : mode_(mode), full_(full) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    NodeState s = nodeState(a, b, f, mode_, full_);
    if (s.state == kUnchanged && !full_) return false;
    visits.push_back({path, s.state, s.ownChanged, s.expandable, f});
    return s.expandable;
  }
  std::vector<Visit> visits;
  const Visit* find(const std::u16string& path) const {
    for (const Visit& v : visits)
      if (v.path == path) return &v;
    return nullptr;
  }

 private:
  int mode_;
  bool full_;
};

DirSpec baseTree() {
  DirSpec c{u"c:\\", {}, {{u"boot.ini", 10, 100}}};
  DirSpec windows{u"Windows", {}, {{u"win.ini", 11, 200}}};
  DirSpec system32{u"System32", {}, {{u"kernel32.dll", 12, 300}, {u"user32.dll", 13, 400}}};
  system32.dirs.push_back({u"drivers", {}, {{u"null.sys", 14, 50}}});
  windows.dirs.push_back(system32);
  c.dirs.push_back(windows);
  c.dirs.push_back({u"Program Files", {{u"App", {}, {{u"app.exe", 15, 999}}}}, {}});
  return c;
}

// Snapshots A and B of files trees, written to a temporary folder and open for reading.
struct OpenPair {
  TempFolder dir;
  SnapshotFile a, b;
  SnapshotInfo ia, ib;
  // Writes A from `older` and B from `newer`, both with the files filter list `filter`.
  bool write(const DirSpec& older, const DirSpec& newer, const FilterList& filter = {u"*"}) {
    return writeFilesSnapshot(dir / "a.snp", {older}, filter) && writeFilesSnapshot(dir / "b.snp", {newer}, filter) &&
           a.open(dir / "a.snp", &ia) && b.open(dir / "b.snp", &ib);
  }
  // Writes one snapshot of `tree` and opens that same file as A and as B.
  bool writeOne(const DirSpec& tree) {
    return writeFilesSnapshot(dir / "a.snp", {tree}, {u"*"}) && a.open(dir / "a.snp", &ia) &&
           b.open(dir / "a.snp", &ib);
  }
  SectionFilter filesFilter() const { return buildFilter(ia.filterList[1], ib.filterList[1]); }
};

TEST(TreeWalk, SameSnapshotHasNoDifferencesAndReadsOnlyTheRoots) {
  OpenPair p;
  ASSERT_TRUE(p.writeOne(baseTree()));
  SectionFilter f = p.filesFilter();
  TreeWalker w(&p.a, &p.b, &f);
  Recorder diff(kModeCompare, false);
  w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &diff);
  EXPECT_TRUE(diff.visits.empty());
  EXPECT_EQ(p.a.blockReads(), 1u);
  EXPECT_EQ(p.b.blockReads(), 1u);

  Recorder full(kModeCompare, true);
  w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &full);
  std::vector<std::u16string> paths;
  for (const Visit& v : full.visits) {
    EXPECT_EQ(v.state, kUnchanged);
    paths.push_back(v.path);
  }
  // Depth-first, parents before children, siblings in name order.
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"c:\\", u"c:\\Program Files", u"c:\\Program Files\\App",
                                                u"c:\\Windows", u"c:\\Windows\\System32",
                                                u"c:\\Windows\\System32\\drivers"}));
}

TEST(TreeWalk, DeepChangeMarksThePathAndSkipsEqualSubtrees) {
  DirSpec changed = baseTree();
  changed.dirs[0].dirs[0].dirs[0].files[0].time = 99;  // drivers\null.sys
  OpenPair p;
  ASSERT_TRUE(p.write(baseTree(), changed));
  SectionFilter f = p.filesFilter();
  TreeWalker w(&p.a, &p.b, &f);
  Recorder diff(kModeCompare, false);
  w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &diff);
  ASSERT_EQ(diff.visits.size(), 4u);
  for (const Visit& v : diff.visits) EXPECT_EQ(v.state, kModified) << toUtf8(v.path);
  EXPECT_FALSE(diff.find(u"c:\\")->own);
  EXPECT_FALSE(diff.find(u"c:\\Windows")->own);
  EXPECT_FALSE(diff.find(u"c:\\Windows\\System32")->own);
  EXPECT_TRUE(diff.find(u"c:\\Windows\\System32\\drivers")->own);
  EXPECT_EQ(diff.find(u"c:\\Program Files"), nullptr);
  // Root table, c:\'s children, Windows' children, System32's children: "Program Files" and
  // everything below it is never read.
  EXPECT_EQ(p.a.blockReads(), 4u);
  EXPECT_EQ(p.b.blockReads(), 4u);
}

TEST(TreeWalk, FolderOnlyInBIsAddedWithAddedChildren) {
  DirSpec newer = baseTree();
  newer.dirs.push_back({u"Games", {{u"Chess", {}, {{u"chess.exe", 1, 2}}}}, {{u"readme", 3, 4}}});
  OpenPair p;
  ASSERT_TRUE(p.write(baseTree(), newer));
  SectionFilter f = p.filesFilter();
  TreeWalker w(&p.a, &p.b, &f);
  Recorder diff(kModeCompare, false);
  w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &diff);
  const Visit* games = diff.find(u"c:\\Games");
  ASSERT_NE(games, nullptr);
  EXPECT_EQ(games->state, kAdded);
  EXPECT_TRUE(games->own);
  EXPECT_TRUE(games->expandable);
  ASSERT_NE(diff.find(u"c:\\Games\\Chess"), nullptr);
  EXPECT_EQ(diff.find(u"c:\\Games\\Chess")->state, kAdded);
  EXPECT_EQ(diff.find(u"c:\\")->state, kModified);
  EXPECT_FALSE(diff.find(u"c:\\")->own);

  // The other way round the same folders are deleted.
  TreeWalker back(&p.b, &p.a, &f);
  Recorder rev(kModeCompare, false);
  back.walkTree(p.ib.sectionOffset[1], p.ia.sectionOffset[1], u"", &rev);
  ASSERT_NE(rev.find(u"c:\\Games\\Chess"), nullptr);
  EXPECT_EQ(rev.find(u"c:\\Games\\Chess")->state, kDeleted);
}

TEST(TreeWalk, FilterShowsExcludedAncestorsAndSkipsOutside) {
  DirSpec newer = baseTree();
  newer.dirs[0].files[0].size = 1;        // Windows\win.ini
  newer.dirs[1].dirs[0].files[0].size = 1;  // Program Files\App\app.exe, outside the filter
  OpenPair p;
  ASSERT_TRUE(p.write(baseTree(), newer, {u"c:\\windows\\"}));
  SectionFilter f = p.filesFilter();
  EXPECT_EQ(f.items, std::vector<std::u16string>{u"c:\\windows\\"});
  TreeWalker w(&p.a, &p.b, &f);
  Recorder full(kModeCompare, true);
  w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &full);
  ASSERT_NE(full.find(u"c:\\"), nullptr);
  EXPECT_EQ(full.find(u"c:\\")->state, kExcluded);
  EXPECT_EQ(full.find(u"c:\\")->f, kPathOnTheWay);
  EXPECT_EQ(full.find(u"c:\\Windows")->state, kModified);
  EXPECT_EQ(full.find(u"c:\\Windows\\System32")->f, kPathInside);
  EXPECT_EQ(full.find(u"c:\\Program Files"), nullptr);
  EXPECT_EQ(full.find(u"c:\\Program Files\\App"), nullptr);
}

// Names equal but for case pair only where neither side holds the other's identical twin; such
// a pair is one folder whose name changed case (shown with the newer name, modified).
TEST(TreeWalk, NamesEqualButForCasePairOnlyWithoutAnIdenticalTwin) {
  const struct {
    const char* what;
    std::vector<std::u16string> a, b;
    std::vector<std::string> visits;  // name:sides:state, in walk order
  } cases[] = {
      {"identical twins pair exactly", {u"A", u"a"}, {u"A", u"a"}, {"A:AB:0", "a:AB:0"}},
      {"a lone pair is one folder", {u"software"}, {u"Software"}, {"Software:AB:1"}},
      {"siblings keep their order", {u"b", u"myvendor", u"z"}, {u"b", u"MyVendor", u"z"},
       {"b:AB:0", "MyVendor:AB:1", "z:AB:0"}},
      {"a twin kept in B", {u"A", u"a"}, {u"a"}, {"A:A-:3", "a:AB:0"}},
      {"a twin kept in A", {u"a"}, {u"A", u"a"}, {"A:-B:2", "a:AB:0"}},
      {"two against one pair with none", {u"aB", u"ab"}, {u"AB"}, {"AB:-B:2", "aB:A-:3", "ab:A-:3"}},
      {"the one left on each side after twins", {u"AB", u"ab"}, {u"AB", u"Ab"},
       {"AB:AB:0", "Ab:AB:1"}},
      {"left ones on either side of a twin", {u"AB", u"aB"}, {u"aB", u"ab"},
       {"ab:AB:1", "aB:AB:0"}},
      {"other names stay apart", {u"x"}, {u"y"}, {"x:A-:3", "y:-B:2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DirSpec older{u"c:\\", {}, {}}, newer{u"c:\\", {}, {}};
    for (const std::u16string& n : c.a) older.dirs.push_back({n, {}, {}});
    for (const std::u16string& n : c.b) newer.dirs.push_back({n, {}, {}});
    OpenPair p;
    ASSERT_TRUE(p.write(older, newer));
    SectionFilter f = p.filesFilter();
    struct Names : TreeVisitor {
      bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
                 const TreeEntry* b, int filter) override {
        if (path == u"c:\\") return true;
        int state = nodeState(a, b, filter, kModeCompare, true).state;
        got.push_back(toUtf8(name) + ":" + (a ? "A" : "-") + (b ? "B" : "-") + ":" +
                      std::to_string(state));
        return false;
      }
      std::vector<std::string> got;
    } names;
    TreeWalker w(&p.a, &p.b, &f);
    w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &names);
    EXPECT_EQ(names.got, c.visits);
  }
}

// A selected folder or key that was gone when B was taken is recorded by the filter item's lower
// case and empty; the pair keeps A's name, so a script that restores it names it as it was.
TEST(TreeWalk, AnEmptyEntryInAnotherCaseTakesTheNameOfTheSideThatHoldsSomething) {
  for (bool goneInB : {true, false}) {
    SCOPED_TRACE(goneInB ? "gone in B" : "gone in A");
    DirSpec full{u"c:\\", {{u"MyVendor", {}, {{u"app.ini", 1, 1}}}}, {}};
    DirSpec gone{u"c:\\", {{u"myvendor", {}, {}}}, {}};
    OpenPair p;
    ASSERT_TRUE(goneInB ? p.write(full, gone) : p.write(gone, full));
    SectionFilter f = p.filesFilter();
    Recorder all(kModeCompare, true);
    TreeWalker w(&p.a, &p.b, &f);
    w.walkTree(p.ia.sectionOffset[1], p.ib.sectionOffset[1], u"", &all);
    ASSERT_EQ(all.visits.size(), 2u);
    EXPECT_EQ(all.visits[1].path, u"c:\\MyVendor");
    EXPECT_EQ(all.visits[1].state, kModified);
  }
}

// ---- hostile tables ----

// A file whose folder table holds entries pointing back at that same table, or all at one
// shared table: a walk that descends everywhere must end and visit each table once.
TEST(TreeWalk, TablesPointingBackOrSharedEndTheWalk) {
  TempFolder dir;
  std::string path = dir / "loop.snp";
  {
    SnapshotFile file;
    ASSERT_TRUE(file.create(path));
    // The table that will be written next starts at the current end of the file; its first
    // entry points at the table itself and its second at the header (offset 4: no block).
    TableBuilder inner;
    size_t x = inner.addTreeEntry(u"x");
    inner.setTreeFields(x, 1, 0, 0, 0);
    uint32_t digest = 0;
    uint32_t innerAt = file.writeTable(&inner, true, &digest);
    ASSERT_NE(innerAt, 0u);
    // A table of 30 entries that all point at the same child table, written after it, and a
    // second level pointing 30 times at that one: a naive walk would visit 900 + nodes.
    TableBuilder mid;
    for (int i = 0; i < 30; i++) {
      size_t k = mid.addTreeEntry(u"m" + widen(std::to_string(100 + i)));
      mid.setTreeFields(k, 2, 0, innerAt, 0);
    }
    uint32_t midAt = file.writeTable(&mid, true, &digest);
    TableBuilder top;
    for (int i = 0; i < 30; i++) {
      size_t k = top.addTreeEntry(u"t" + widen(std::to_string(100 + i)));
      top.setTreeFields(k, 3, 0, midAt, 0);
    }
    uint32_t topAt = file.writeTable(&top, true, &digest);
    // A self-referencing root: its child table is the root table itself, written last.
    file.addRoot(kSectionFiles, u"c:\\", 4, 0, topAt, 0);
    SnapshotInfo info;
    FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
    info.fillNew("loop", 1, lists);
    ASSERT_TRUE(file.finish(&info));
    file.close();
  }
  // Point one entry of the inner table at the root table, which is an ancestor.
  SnapshotFile check;
  SnapshotInfo info;
  ASSERT_TRUE(check.open(path, &info));
  uint32_t root = info.sectionOffset[1];
  check.close();
  {
    FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    // The inner table is the first block after the 20-byte header: length word, then the
    // entry whose childTable field is at entry offset 8.
    uint8_t word[4];
    putU32(word, root);
    std::fseek(f, 20 + 4 + 8, SEEK_SET);
    std::fwrite(word, 1, 4, f);
    std::fclose(f);
  }
  SnapshotFile a;
  ASSERT_TRUE(a.open(path, &info));
  SectionFilter all = copyFilter({u"*"});
  TreeWalker w(&a, nullptr, &all);
  Recorder everything(kModeView, true);
  w.walkTree(info.sectionOffset[1], 0, u"", &everything);
  // c:\, 30 top entries, 30 mid entries under the first top entry only, one x under the first
  // mid entry; x's pointer back at the root table is not followed.
  EXPECT_EQ(everything.visits.size(), 1u + 30u + 30u + 1u);
  EXPECT_LE(a.blockReads(), 4u);
}

// 200 folders that all point at one content table of 50 files: the table is read for the
// first folder only, each other use counts as damage, and neither a report-like walk nor the
// check reads it 200 times.
TEST(TreeWalk, SharedContentTableIsReadOnceAndCountedAsDamage) {
  TempFolder dir;
  std::string path = dir / "shared.snp";
  {
    SnapshotFile file;
    ASSERT_TRUE(file.create(path));
    std::vector<uint8_t> files;
    for (int i = 0; i < 50; i++) {
      std::u16string name = u"f" + widen(std::to_string(100 + i));
      appendFileEntry(&files, name.data(), name.size(), 1, 2);
    }
    uint32_t content = file.appendTable(files.data(), files.size());
    uint32_t digest = uint32_t(crc32(0, files.data(), uInt(files.size())));
    TableBuilder folders;
    for (int i = 0; i < 200; i++) {
      size_t k = folders.addTreeEntry(u"d" + widen(std::to_string(1000 + i)));
      folders.setTreeFields(k, 0, digest, 0, content);
    }
    uint32_t childDigest = 0;
    uint32_t table = file.writeTable(&folders, true, &childDigest);
    file.addRoot(kSectionFiles, u"c:\\", childDigest, 0, table, 0);
    SnapshotInfo info;
    FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
    info.fillNew("shared", 1, lists);
    ASSERT_TRUE(file.finish(&info));
    file.close();
  }
  SnapshotFile a;
  SnapshotInfo info;
  ASSERT_TRUE(a.open(path, &info));
  SectionFilter all = copyFilter({u"*"});
  struct Rows : TreeVisitor {
    SnapshotFile* file;
    size_t rows = 0;
    bool visit(const std::u16string&, const std::u16string&, const TreeEntry* e, const TreeEntry*,
               int) override {
      ContentComparison c;
      if (e->contentTable && c.run(kSectionFiles, file, e->contentTable, nullptr, 0, kModeView, true))
        rows += c.rows().size();
      return true;
    }
  } rows;
  rows.file = &a;
  TreeWalker(&a, nullptr, &all).walkTree(info.sectionOffset[1], 0, u"", &rows);
  EXPECT_EQ(rows.rows, 50u);
  EXPECT_EQ(a.damagedTables(), 199u);
  EXPECT_EQ(a.damageTally(), 199u);
  // A second walk, as a view opening the same level again, finds no new damage; the tally
  // restarted before it counts what it met again.
  a.restartDamageTally();
  EXPECT_EQ(a.damageTally(), 0u);
  TreeWalker(&a, nullptr, &all).walkTree(info.sectionOffset[1], 0, u"", &rows);
  EXPECT_EQ(rows.rows, 100u);
  EXPECT_EQ(a.damagedTables(), 199u);
  EXPECT_EQ(a.damageTally(), 199u);
  EXPECT_EQ(checkSnapshot(&a, info), 199u);
}

// Bytes zeroed in the middle of a snapshot: tables of the region read as empty or with other
// bytes than their digests say. The check finds them though the root digests are intact, and
// a comparison with another snapshot counts what it meets instead of showing it as added.
TEST(TreeWalk, ZeroedRegionIsDamageForTheCheckAndTheWalk) {
  DirSpec big{u"c:\\", {}, {}};
  for (int d = 0; d < 40; d++) {
    DirSpec folder{u"d" + widen(std::to_string(100 + d)), {}, {}};
    for (int f = 0; f < 30; f++) folder.files.push_back({u"file_" + widen(std::to_string(f)), uint64_t(f), 7});
    big.dirs.push_back(folder);
  }
  TempFolder dir;
  std::string path = dir / "a.snp", damaged = dir / "b.snp";
  ASSERT_TRUE(writeFilesSnapshot(path, {big}, {u"*"}));
  std::vector<uint8_t> bytes = testing_support::readBytes(path);
  ASSERT_GT(bytes.size(), 20000u);
  size_t from = bytes.size() / 2 - 4096;
  std::fill(bytes.begin() + long(from), bytes.begin() + long(from + 8192), uint8_t(0));
  ASSERT_TRUE(testing_support::writeBytes(damaged, bytes));

  SnapshotFile sound, broken;
  SnapshotInfo si, bi;
  ASSERT_TRUE(sound.open(path, &si));
  ASSERT_TRUE(broken.open(damaged, &bi));
  EXPECT_EQ(checkSnapshot(&sound, si), 0u);
  size_t found = checkSnapshot(&broken, bi);
  EXPECT_GE(found, 2u);
  EXPECT_GE(broken.firstDamage(), from - 2000);  // a table that began a little before
  EXPECT_LT(broken.firstDamage(), from + 8192);

  DirSpec other = big;
  for (DirSpec& d : other.dirs) d.files[0].size = 8;  // every folder changed
  ASSERT_TRUE(writeFilesSnapshot(dir / "c.snp", {other}, {u"*"}));
  SnapshotFile fresh, c;
  SnapshotInfo fi, ci;
  ASSERT_TRUE(fresh.open(damaged, &fi));
  ASSERT_TRUE(c.open(dir / "c.snp", &ci));
  SectionFilter all = copyFilter({u"*"});
  struct Rows : TreeVisitor {
    SnapshotFile *a, *b;
    bool visit(const std::u16string&, const std::u16string&, const TreeEntry* x, const TreeEntry* y,
               int) override {
      ContentComparison rows;
      rows.run(kSectionFiles, a, x ? x->contentTable : 0, b, y ? y->contentTable : 0, kModeCompare, false);
      return true;
    }
  } walk;
  walk.a = &fresh;
  walk.b = &c;
  TreeWalker(&fresh, &c, &all).walkTree(fi.sectionOffset[1], ci.sectionOffset[1], u"", &walk);
  EXPECT_GE(fresh.damagedTables(), 1u);
  EXPECT_EQ(c.damagedTables(), 0u);
}

TEST(TreeWalk, UnreadableTableMakesTheLevelEmpty) {
  OpenPair p;
  ASSERT_TRUE(p.writeOne(baseTree()));
  SectionFilter all = copyFilter({u"*"});
  TreeWalker w(&p.a, &p.b, &all);
  Recorder full(kModeCompare, true);
  // An offset past the end of file B: nothing at all, not A's side shown as deleted.
  w.walkTree(p.ia.sectionOffset[1], 0x7FFFFFF0u, u"", &full);
  EXPECT_TRUE(full.visits.empty());
  w.walkTree(p.ia.sectionOffset[1], 2, u"", &full);  // inside the header
  EXPECT_TRUE(full.visits.empty());
}

// ---- content ----

TEST(ContentComparison, FileRowsCarryStatesAndLabels) {
  DirSpec older{u"c:\\", {}, {{u"same", 1, 1}, {u"gone", 1, 1}, {u"Touched", 1, 1}, {u"grown", 1, 1}}};
  DirSpec newer{u"c:\\", {}, {{u"same", 1, 1}, {u"touched", 2, 1}, {u"grown", 1, 2}, {u"new", 1, 1}}};
  OpenPair p;
  ASSERT_TRUE(p.write(older, newer));
  std::vector<uint8_t> blockA, blockB;
  std::vector<TreeEntry> rootsA = readTreeEntries(&p.a, p.ia.sectionOffset[1], &blockA);
  std::vector<TreeEntry> rootsB = readTreeEntries(&p.b, p.ib.sectionOffset[1], &blockB);
  ASSERT_EQ(rootsA.size(), 1u);
  ASSERT_EQ(rootsB.size(), 1u);
  const TreeEntry& ra = rootsA[0];
  const TreeEntry& rb = rootsB[0];

  auto rowsOf = [](const ContentComparison& c) {
    std::vector<std::string> out;
    for (const ContentRow& r : c.rows()) {
      FileEntry f;
      EXPECT_TRUE(FileEntry::parse(r.item.p, r.item.size, &f));
      out.push_back(std::string(r.label) + ":" + toUtf8(f.name.str()) + ":" + std::to_string(r.state));
    }
    return out;
  };
  ContentComparison cmp;
  ASSERT_TRUE(cmp.run(kSectionFiles, &p.a, ra.contentTable, &p.b, rb.contentTable, kModeCompare, false));
  // Names that differ only in case are two names: one deleted, one added.
  EXPECT_EQ(rowsOf(cmp), (std::vector<std::string>{"del:gone:3", "old:grown:1", "new:grown:1", "add:new:2",
                                                   "del:Touched:3", "add:touched:2"}));
  EXPECT_TRUE(cmp.hasDifferences());
  ASSERT_TRUE(cmp.run(kSectionFiles, &p.a, ra.contentTable, &p.b, rb.contentTable, kModeCompare, true));
  EXPECT_EQ(rowsOf(cmp).size(), 7u);
  ASSERT_TRUE(cmp.run(kSectionFiles, &p.a, ra.contentTable, nullptr, 0, kModeView, true));
  EXPECT_EQ(rowsOf(cmp), (std::vector<std::string>{"-:gone:0", "-:grown:0", "-:same:0", "-:Touched:0"}));
  // A table that cannot be read gives no rows, not every row of the other side as added.
  EXPECT_FALSE(cmp.run(kSectionFiles, &p.a, 0x7FFFFFF0u, &p.b, rb.contentTable, kModeCompare, true));
  EXPECT_TRUE(cmp.rows().empty());
}

}  // namespace
}  // namespace keldrun
