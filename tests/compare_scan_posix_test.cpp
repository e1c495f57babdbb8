// Comparisons of snapshots made by real scans: of folders generated on disk, and of registries
// built from .reg files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <dirent.h>

#include "engine/compare.h"
#include "engine/file_entry.h"
#include "engine/registry_scan.h"
#include "engine/section_filter.h"
#include "engine/value_entry.h"
#include "platform/memory_registry.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"
#include "views/comparison_context.h"

namespace keldrun {
namespace {

using testing_support::scanFolders;

std::u16string windowsPath(const std::string& native) {
  std::u16string w = u"z:";
  for (char c : native) w.push_back(c == '/' ? u'\\' : char16_t(uint8_t(c)));
  if (w.back() != u'\\') w.push_back(u'\\');
  return w;
}

void writeFile(const std::string& path, size_t size, long mtime) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
  struct timeval tv[2] = {{mtime, 0}, {mtime, 0}};
  utimes(path.c_str(), tv);
}

void removeTree(const std::string& path) { std::filesystem::remove_all(path); }

class ScanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = folder_ / "tree";
    mkdir(tree_.c_str(), 0755);
    env_ = newPosixEnv("");
  }
  std::string snap(const std::string& name) { return folder_ / name; }
  bool scan(const std::string& name, const FilterList& items, bool oldDigests = false) {
    return scanFolders(snap(name), env_.get(), items, name, oldDigests);
  }
  std::u16string root() const { return windowsPath(tree_); }

  testing_support::TempFolder folder_;
  std::string tree_;
  std::unique_ptr<Env> env_;
};

// ---- an independent diff of two folder trees held in memory ----

struct DiskDir {
  std::map<std::string, std::pair<long, long>> files;  // name -> (mtime seconds, size)
  std::map<std::string, DiskDir> dirs;
};

DiskDir readDisk(const std::string& path) {
  DiskDir d;
  DIR* dir = opendir(path.c_str());
  if (!dir) return d;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = path + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      d.dirs[name] = readDisk(full);
    } else {
      d.files[name] = {long(st.st_mtime), long(st.st_size)};
    }
  }
  closedir(dir);
  return d;
}

using Report = std::set<std::tuple<std::string, int, bool>>;

void allAs(const DiskDir& d, const std::string& path, int state, Report* out) {
  for (const auto& [name, sub] : d.dirs) {
    out->insert({path + "\\" + name, state, true});
    allAs(sub, path + "\\" + name, state, out);
  }
}

// Returns whether anything at or below differs.
bool plainDiff(const DiskDir& a, const DiskDir& b, const std::string& path, Report* out) {
  bool changed = a.files != b.files;
  for (const auto& [name, sub] : a.dirs) {
    auto other = b.dirs.find(name);
    std::string p = path + "\\" + name;
    if (other == b.dirs.end()) {
      out->insert({p, kDeleted, true});
      allAs(sub, p, kDeleted, out);
      changed = true;
    } else {
      bool own = sub.files != other->second.files;
      if (plainDiff(sub, other->second, p, out)) {
        out->insert({p, kModified, own});
        changed = true;
      }
    }
  }
  for (const auto& [name, sub] : b.dirs) {
    if (a.dirs.count(name)) continue;
    std::string p = path + "\\" + name;
    out->insert({p, kAdded, true});
    allAs(sub, p, kAdded, out);
    changed = true;
  }
  return changed;
}

// What the comparison reports: every node inside the recorded paths whose state is not
// unchanged, descending wherever a node is expandable.
class DiffCollector : public TreeVisitor {
 public:
  explicit DiffCollector(ComparisonContext* c) : context_(c) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (f == kPathInside && s.state != kUnchanged) report.insert({toUtf8(path), s.state, s.ownChanged});
    if (f == kPathOnTheWay) excluded.push_back(toUtf8(path));
    return s.expandable;
  }
  Report report;
  std::vector<std::string> excluded;

 private:
  ComparisonContext* context_;
};

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}

std::string lowerPath(const std::string& native) {
  std::string w = "z:";
  for (char c : lower(native)) w.push_back(c == '/' ? '\\' : c);
  return w;
}

class TreeMaker {
 public:
  explicit TreeMaker(uint32_t seed) : rng_(seed) {}

  void fill(const std::string& dir, int depth) {
    int files = pick(0, 5);
    for (int i = 0; i < files; i++) newFile(dir);
    if (depth >= 4) return;
    int dirs = pick(0, depth == 0 ? 5 : 3);
    for (int i = 0; i < dirs; i++) {
      std::string sub = dir + "/" + freshName("d");
      mkdir(sub.c_str(), 0755);
      fill(sub, depth + 1);
    }
  }

  // One random change somewhere in the tree.
  void mutate(const std::string& top) {
    std::vector<std::string> dirs{top};
    std::vector<std::string> files;
    collect(top, &dirs, &files);
    int kind = pick(0, 5);
    if (files.empty() && kind < 3) kind = 3;
    std::string file = files.empty() ? std::string() : files[size_t(pick(0, int(files.size()) - 1))];
    std::string dir = dirs[size_t(pick(0, int(dirs.size()) - 1))];
    switch (kind) {
      case 0: {  // touch
        struct stat st;
        stat(file.c_str(), &st);
        writeFile(file, size_t(st.st_size), long(st.st_mtime) + 1 + pick(0, 1000));
        break;
      }
      case 1: {  // grow, same time
        struct stat st;
        stat(file.c_str(), &st);
        writeFile(file, size_t(st.st_size) + 1 + size_t(pick(0, 9)), long(st.st_mtime));
        break;
      }
      case 2:
        unlink(file.c_str());
        break;
      case 3:
        newFile(dir);
        break;
      case 4: {  // a new folder, never empty, so that it cannot look like a renamed one
        std::string sub = dir + "/" + freshName("n");
        mkdir(sub.c_str(), 0755);
        newFile(sub);
        if (pick(0, 1)) {
          std::string deeper = sub + "/" + freshName("n");
          mkdir(deeper.c_str(), 0755);
          newFile(deeper);
        }
        break;
      }
      default:
        if (dir != top) removeTree(dir);
        break;
    }
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::string freshName(const char* prefix) { return prefix + std::to_string(counter_++); }
  void newFile(const std::string& dir) {
    writeFile(dir + "/" + freshName("f") + ".txt", size_t(pick(0, 64)), 1500000000L + pick(0, 100000));
  }
  void collect(const std::string& dir, std::vector<std::string>* dirs, std::vector<std::string>* files) {
    DiskDir d = readDisk(dir);
    for (const auto& f : d.files) files->push_back(dir + "/" + f.first);
    for (const auto& s : d.dirs) {
      dirs->push_back(dir + "/" + s.first);
      collect(dir + "/" + s.first, dirs, files);
    }
  }

  std::mt19937 rng_;
  int counter_ = 0;
};

TEST_F(ScanFixture, ComparisonAgreesWithAPlainRecursiveDiff) {
  for (uint32_t seed = 1; seed <= 12; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    removeTree(tree_);
    mkdir(tree_.c_str(), 0755);
    TreeMaker maker(seed);
    maker.fill(tree_, 0);
    DiskDir before = readDisk(tree_);
    ASSERT_TRUE(scan("a.snp", {root()}));
    int changes = 1 + int(seed % 6);
    for (int i = 0; i < changes; i++) maker.mutate(tree_);
    DiskDir after = readDisk(tree_);
    ASSERT_TRUE(scan("b.snp", {root()}));

    Report expected;
    std::string top = lowerPath(tree_);
    bool rootChanged = plainDiff(before, after, top, &expected);
    if (rootChanged) expected.insert({top, kModified, before.files != after.files});

    ComparisonContext context;
    ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
    DiffCollector collector(&context);
    context.walkSection(kSectionFiles, &collector);
    // Names are as the scan recorded them; the generated names are all lower case.
    Report got;
    for (const auto& [path, state, own] : collector.report) got.insert({lower(path), state, own});
    EXPECT_EQ(got, expected);
    // Every ancestor of the scanned folder is on the way, never a difference of its own.
    EXPECT_FALSE(collector.excluded.empty());
  }
}

TEST_F(ScanFixture, UnchangedSubtreesAreNeverRead) {
  TreeMaker maker(7);
  for (int i = 0; i < 6; i++) {
    std::string d = tree_ + "/big" + std::to_string(i);
    mkdir(d.c_str(), 0755);
    maker.fill(d, 1);
  }
  std::string deep = tree_ + "/big0/x/y";
  std::filesystem::create_directories(deep);
  writeFile(deep + "/f.txt", 5, 1600000000);
  ASSERT_TRUE(scan("a.snp", {root()}));
  writeFile(deep + "/f.txt", 5, 1600000001);
  ASSERT_TRUE(scan("b.snp", {root()}));

  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  uint64_t readsA = context.fileA()->blockReads(), readsB = context.fileB()->blockReads();
  DiffCollector collector(&context);
  context.walkSection(kSectionFiles, &collector);
  // One table per level on the way: the root table, then the children of z:\, of each folder
  // down to the scanned one, of tree, big0, x; nothing of big1..big5 nor below y.
  size_t levels = 0;
  for (char c : tree_) levels += c == '/';
  uint64_t expected = 1 + levels + 3;
  EXPECT_EQ(context.fileA()->blockReads() - readsA, expected);
  EXPECT_EQ(context.fileB()->blockReads() - readsB, expected);
  std::string top = lowerPath(tree_);
  EXPECT_EQ(collector.report, (Report{{top, kModified, false},
                                      {top + "\\big0", kModified, false},
                                      {top + "\\big0\\x", kModified, false},
                                      {top + "\\big0\\x\\y", kModified, true}}));
}

TEST_F(ScanFixture, DifferentFiltersCompareOnlyCommonPaths) {
  std::filesystem::create_directories(tree_ + "/windows/system32");
  std::filesystem::create_directories(tree_ + "/program files/app");
  writeFile(tree_ + "/windows/win.ini", 3, 1600000000);
  writeFile(tree_ + "/windows/system32/k.dll", 3, 1600000000);
  writeFile(tree_ + "/program files/app/a.exe", 3, 1600000000);
  std::u16string windows = root() + u"windows\\", system32 = windows + u"system32\\";
  ASSERT_TRUE(scan("a.snp", {windows}));
  writeFile(tree_ + "/windows/win.ini", 4, 1600000000);         // outside B's filter
  writeFile(tree_ + "/windows/system32/k.dll", 4, 1600000000);  // inside both
  ASSERT_TRUE(scan("b.snp", {system32}));
  ASSERT_TRUE(scan("c.snp", {root() + u"program files\\"}));

  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, true));
  EXPECT_EQ(context.filter(kSectionFiles).items, std::vector<std::u16string>{foldPath(system32)});
  DiffCollector collector(&context);
  context.walkSection(kSectionFiles, &collector);
  std::string top = lowerPath(tree_);
  // The windows folder is only on the way, its changed win.ini is not compared, and nothing
  // that only A recorded (win.ini, the rest of windows) is reported deleted.
  EXPECT_EQ(collector.report, (Report{{top + "\\windows\\system32", kModified, true}}));
  std::string windowsFolder = top + "\\windows";  // named from the lower-case filter item
  EXPECT_NE(std::find(collector.excluded.begin(), collector.excluded.end(), windowsFolder),
            collector.excluded.end())
      << windowsFolder << " in " << ::testing::PrintToString(collector.excluded);

  ASSERT_TRUE(context.openFiles(snap("b.snp"), snap("c.snp"), kModeCompare, true));
  EXPECT_TRUE(context.emptyReason(kSectionFiles).noCommonPaths);
  DiffCollector none(&context);
  context.walkSection(kSectionFiles, &none);
  EXPECT_TRUE(none.report.empty());
  EXPECT_TRUE(none.excluded.empty());
}

// A folder renamed with everything below it unchanged, two levels down, keeping its place in
// name order and moving: seen for every pair of snapshots written with and without names in
// the digests, while the same pairs without a change show nothing.
TEST_F(ScanFixture, RenamedFolderIsSeenWhateverTheDigestsCover) {
  const struct {
    const char *from, *to;
  } renames[] = {{"b1", "b2"}, {"b1", "z9"}};
  for (const auto& rename : renames) {
    for (int pair = 0; pair < 4; pair++) {
      bool oldA = pair & 1, oldB = pair & 2;
      SCOPED_TRACE(std::string(rename.to) + (oldA ? " old" : " new") + (oldB ? "/old" : "/new"));
      removeTree(tree_);
      std::string from = tree_ + "/p/" + rename.from;
      std::system(("mkdir -p '" + from + "/deep' '" + tree_ + "/p/a' '" + tree_ + "/q'").c_str());
      writeFile(from + "/deep/y.txt", 3, 1600000000);
      writeFile(tree_ + "/p/a/x.txt", 3, 1600000000);
      writeFile(tree_ + "/q/z.txt", 3, 1600000000);
      ASSERT_TRUE(scan("a.snp", {root()}, oldA));
      ASSERT_TRUE(scan("same.snp", {root()}, oldB));
      ASSERT_EQ(std::rename(from.c_str(), (tree_ + "/p/" + rename.to).c_str()), 0);
      ASSERT_TRUE(scan("b.snp", {root()}, oldB));

      ComparisonContext context;
      ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("same.snp"), kModeCompare, false));
      DiffCollector same(&context);
      context.walkSection(kSectionFiles, &same);
      EXPECT_TRUE(same.report.empty()) << ::testing::PrintToString(same.report);

      ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
      DiffCollector collector(&context);
      context.walkSection(kSectionFiles, &collector);
      std::string top = lowerPath(tree_), p = top + "\\p\\";
      EXPECT_EQ(collector.report, (Report{{top, kModified, false},
                                          {top + "\\p", kModified, false},
                                          {p + rename.from, kDeleted, true},
                                          {p + rename.from + "\\deep", kDeleted, true},
                                          {p + rename.to, kAdded, true},
                                          {p + rename.to + "\\deep", kAdded, true}}));
    }
  }
}

// The file rows of every changed folder of the files section: "path|label|marks".
class FileRowCollector : public TreeVisitor {
 public:
  explicit FileRowCollector(ComparisonContext* c) : context_(c) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (f == kPathInside && s.ownChanged) {
      ContentComparison rows;
      EXPECT_TRUE(context_->compareContent(kSectionFiles, a ? a->contentTable : 0,
                                           b ? b->contentTable : 0, &rows));
      for (const ContentRow& r : rows.rows()) {
        std::string name = toUtf8(fileEntryName(r.item.p).str());
        got.insert(lower(toUtf8(path)) + "\\" + name + "|" + r.label + "|" + std::to_string(r.marks));
      }
    }
    return s.expandable;
  }
  std::set<std::string> got;

 private:
  ComparisonContext* context_;
};

std::set<std::string> fileRows(const std::string& a, const std::string& b) {
  ComparisonContext context;
  EXPECT_TRUE(context.openFiles(a, b, kModeCompare, false));
  FileRowCollector collector(&context);
  context.walkSection(kSectionFiles, &collector);
  EXPECT_EQ(context.fileA()->damagedTables() + context.fileB()->damagedTables(), 0u);
  return collector.got;
}

// Rewrites a file with content of the same size and puts its times back, as `touch -r` does.
void rewriteKeepingDate(const std::string& path, const std::string& reference) {
  std::ofstream(path, std::ios::binary | std::ios::in) << "Y";
  ASSERT_EQ(std::system(("touch -r '" + reference + "' '" + path + "'").c_str()), 0);
}

// A file's content changed behind its old size and date, and a file replaced by a same-size,
// same-time copy (a new inode): both seen, each with its own mark, beside the untouched file and
// an ordinary modification, which keep their usual rows.
TEST_F(ScanFixture, ChangeBehindAKeptDateAndAReplacedFileAreMarked) {
  std::string dir = tree_ + "/d";
  mkdir(dir.c_str(), 0755);
  for (const char* n : {"kept", "replaced", "plain", "touched"}) writeFile(dir + "/" + n, 8, 1600000000);
  ASSERT_EQ(std::system(("cp -p '" + dir + "/kept' '" + tree_ + "/ref'").c_str()), 0);
  ASSERT_TRUE(scan("a.snp", {root()}));
  // The change time has the file system's clock resolution: step past it.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  rewriteKeepingDate(dir + "/kept", tree_ + "/ref");
  ASSERT_EQ(std::system(("cp -p '" + dir + "/replaced' '" + dir + "/copy' && mv '" + dir + "/copy' '" +
                         dir + "/replaced'").c_str()),
            0);
  writeFile(dir + "/touched", 8, 1600000100);
  ASSERT_TRUE(scan("b.snp", {root()}));
  std::string d = lowerPath(dir);
  const std::string dateKept = std::to_string(kMarkDateKept);
  const std::string replaced = std::to_string(kMarkDateKept | kMarkReplaced);
  EXPECT_EQ(fileRows(snap("a.snp"), snap("b.snp")),
            (std::set<std::string>{d + "\\kept|old|" + dateKept, d + "\\kept|new|" + dateKept,
                                   d + "\\replaced|old|" + replaced, d + "\\replaced|new|" + replaced,
                                   d + "\\touched|old|0", d + "\\touched|new|0"}));
}

// Snapshots written without the extension compare with those that have one exactly as before:
// the change behind a kept date is seen only when both sides recorded change times.
TEST_F(ScanFixture, SnapshotsWithoutTheExtensionCompareAsBefore) {
  for (int pair = 0; pair < 4; pair++) {
    bool plainA = pair & 1, plainB = pair & 2;
    SCOPED_TRACE(std::string(plainA ? "plain" : "ext") + (plainB ? "/plain" : "/ext"));
    removeTree(tree_);
    std::system(("mkdir -p '" + tree_ + "/d/e'").c_str());
    writeFile(tree_ + "/d/e/f.txt", 4, 1600000000);
    writeFile(tree_ + "/d/g.txt", 4, 1600000000);
    writeFile(tree_ + "/ref", 4, 1600000000);
    ASSERT_TRUE(scanFolders(snap("a.snp"), env_.get(), {root()}, "a", false, plainA));
    ASSERT_TRUE(scanFolders(snap("same.snp"), env_.get(), {root()}, "same", false, plainB));
    EXPECT_TRUE(fileRows(snap("a.snp"), snap("same.snp")).empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rewriteKeepingDate(tree_ + "/d/e/f.txt", tree_ + "/ref");
    ASSERT_TRUE(scanFolders(snap("b.snp"), env_.get(), {root()}, "b", false, plainB));
    std::string f = lowerPath(tree_) + "\\d\\e\\f.txt|";
    std::set<std::string> expected;
    if (!plainA && !plainB) expected = {f + "old|1", f + "new|1"};
    EXPECT_EQ(fileRows(snap("a.snp"), snap("b.snp")), expected);
    // The files that carry no extension read as files of older versions do.
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(snap("b.snp"), &info));
    EXPECT_EQ(file.hasExtension(), !plainB);
  }
}

// Names that differ only in case are two names: the merges pair exactly the names the sorted
// tables hold, so deleting one of two twins is one deletion, never a rename of the other.
TEST_F(ScanFixture, CaseTwinsMergeInTheOrderTheTablesAreSorted) {
  for (const char* name : {"Twins", "twins", "TWINS"}) writeFile(tree_ + "/" + name, 1, 1600000000);
  for (const char* name : {"Dir", "dir"}) {
    std::string d = tree_ + "/" + name;
    mkdir(d.c_str(), 0755);
    writeFile(d + "/same.txt", 2, 1600000000);
  }
  ASSERT_TRUE(scan("a.snp", {root()}));
  unlink((tree_ + "/Twins").c_str());
  removeTree(tree_ + "/Dir");
  ASSERT_TRUE(scan("b.snp", {root()}));

  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  class Rows : public DiffCollector {
   public:
    using DiffCollector::DiffCollector;
    bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
               const TreeEntry* b, int f) override {
      if (f == kPathInside && a && b && a->contentTable) {
        ContentComparison c;
        if (c.run(kSectionFiles, fa, a->contentTable, fb, b->contentTable, kModeCompare, false))
          for (const ContentRow& r : c.rows())
            rows.push_back(std::string(r.label) + " " + toUtf8(fileEntryName(r.item.p).str()));
      }
      return DiffCollector::visit(path, name, a, b, f);
    }
    SnapshotFile *fa = nullptr, *fb = nullptr;
    std::vector<std::string> rows;
  } collector(&context);
  collector.fa = context.fileA();
  collector.fb = context.fileB();
  context.walkSection(kSectionFiles, &collector);
  std::string top = lowerPath(tree_);
  // The scanned folder is named from the lower-case filter item, what lies below as recorded.
  EXPECT_EQ(collector.report, (Report{{top, kModified, true}, {top + "\\Dir", kDeleted, true}}));
  EXPECT_EQ(collector.rows, std::vector<std::string>{"del Twins"});
}

// Scans the whole registry into a snapshot file.
bool scanRegistry(const std::string& path, Env* env) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  RegistryStore store(env);
  store.scan(&file, {u"*"});
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {}, {}};
  info.fillNew("registry", 1, lists);
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// The differences, with the changed rows of every node ("label name") by lower-case path.
class RowCollector : public DiffCollector {
 public:
  explicit RowCollector(ComparisonContext* c) : DiffCollector(c), context_(c) {}
  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    bool descend = DiffCollector::visit(path, name, a, b, f);
    ContentComparison rows;
    if (f == kPathInside && context_->compareContent(kSectionRegistry, a ? a->contentTable : 0,
                                                     b ? b->contentTable : 0, &rows)) {
      for (const ContentRow& r : rows.rows()) {
        ValueEntry v;
        if (r.state != kUnchanged && parseValueEntry(r.item.p, r.item.size, &v))
          this->rows[lower(toUtf8(path))].push_back(std::string(r.label) + " " + toUtf8(v.name.str()));
      }
    }
    return descend;
  }
  std::map<std::string, std::vector<std::string>> rows;

 private:
  ComparisonContext* context_;
};

TEST_F(ScanFixture, RegistryChangesFromRegFilesCompareKeyByKey) {
  auto registry = MemoryRegistry::create();
  MemoryRegistryEnv env(registry);
  std::string error;
  ASSERT_TRUE(registry->applyReg(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Deep\\Settings]\n"
      "\"Level\"=dword:00000001\n\"Keep\"=\"same\"\n\"Gone\"=hex:01,02\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"x\"=\"y\"\n"
      "[HKEY_CURRENT_USER\\Software\\Stable]\n\"a\"=\"b\"\n",
      &error)) << error;
  ASSERT_TRUE(scanRegistry(snap("a.snp"), &env));
  ASSERT_TRUE(registry->applyReg(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\App\\Deep\\Settings]\n"
      "\"Level\"=dword:00000002\n\"Gone\"=-\n\"New\"=\"v\"\n"
      "[HKEY_CURRENT_USER\\Software\\NewApp\\Sub]\n\"s\"=\"t\"\n",
      &error)) << error;
  ASSERT_TRUE(scanRegistry(snap("b.snp"), &env));

  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(snap("a.snp"), snap("b.snp"), kModeCompare, false));
  RowCollector collector(&context);
  context.walkSection(kSectionRegistry, &collector);
  // HKEY_USERS holds the current user's hive under its SID, and changes with it: left out.
  std::map<std::string, std::pair<int, bool>> got;
  for (const auto& [path, state, own] : collector.report)
    if (lower(path).rfind("hkey_users", 0) != 0) got[lower(path)] = {state, own};
  // Every key on the way up is modified; only the key holding the values changed its own content.
  const std::string lm = "hkey_local_machine\\software", cu = "hkey_current_user\\software";
  std::map<std::string, std::pair<int, bool>> expected = {
      {"hkey_local_machine", {kModified, false}},
      {lm, {kModified, false}},
      {lm + "\\vendor", {kModified, false}},
      {lm + "\\vendor\\app", {kModified, false}},
      {lm + "\\vendor\\app\\deep", {kModified, false}},
      {lm + "\\vendor\\app\\deep\\settings", {kModified, true}},
      {"hkey_current_user", {kModified, false}},
      {cu, {kModified, false}},
      {cu + "\\newapp", {kAdded, true}},
      {cu + "\\newapp\\sub", {kAdded, true}},
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(collector.rows[lm + "\\vendor\\app\\deep\\settings"],
            (std::vector<std::string>{"del Gone", "old Level", "new Level", "add New"}));

  // A snapshot against itself: nothing at all.
  ASSERT_TRUE(context.openFiles(snap("b.snp"), snap("b.snp"), kModeCompare, false));
  DiffCollector same(&context);
  context.walkSection(kSectionRegistry, &same);
  EXPECT_TRUE(same.report.empty());
}

}  // namespace
}  // namespace keldrun
