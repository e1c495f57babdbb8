// The file scan, through real folders of a Wine-prefix-like tree and real snapshot files: every
// table is read back and checked against what the file system reports.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/text.h"
#include "engine/file_entry.h"
#include "engine/file_scan.h"
#include "engine/log.h"
#include "engine/scan.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "platform/thread.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

// ---------------------------------------------------------------------------------------------
// Reading a snapshot back.

struct Rec {
  bool folder = false;
  bool empty = false;  // folder: all four fields 0
  uint64_t time = 0;
  uint64_t size = 0;
  bool operator==(const Rec& o) const {
    return folder == o.folder && empty == o.empty && time == o.time && size == o.size;
  }
};

std::ostream& operator<<(std::ostream& os, const Rec& r) {
  return os << (r.folder ? "folder" : "file") << (r.empty ? " empty" : "") << " t=" << r.time
            << " s=" << r.size;
}

struct Digest {
  uint32_t child = 0, content = 0;
  bool operator==(const Digest& o) const { return child == o.child && content == o.content; }
  bool operator!=(const Digest& o) const { return !(*this == o); }
};

// Walks the files section of a snapshot file: every table is read, its order and its digest
// checked, and every folder and file recorded by its full Windows path (UTF-8).
class SectionWalk {
 public:
  explicit SectionWalk(const std::string& path) {
    opened = file.open(path, &info);
    if (!opened) return;
    std::vector<TreeEntry> roots;
    if (info.sectionOffset[kSectionFiles] != 0) readTreeTable(info.sectionOffset[kSectionFiles], &roots, nullptr);
    for (const TreeEntry& r : roots) {
      std::string name = toUtf8(r.name.str());
      rootNames.push_back(name);
      visit(r, name);
    }
  }

  // The entries of a TreeEntry table, in stored order; checks the order and, when digest is
  // given, that it is the CRC-32 over the first 8 bytes and the name of each entry.
  void readTreeTable(uint32_t offset, std::vector<TreeEntry>* out, const uint32_t* digest) {
    std::vector<uint8_t> block;
    size_t n = 0;
    ASSERT_TRUE(file.readBlock(offset, &block, 0, &n));
    Slice s(block.data(), n);
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!s.empty()) {
      const uint8_t* at = s.data();
      TreeEntry e;
      ASSERT_TRUE(TreeEntry::parse(&s, &e));
      crc = crc32(crc, at, 8);
      crc = crc32(crc, at + 16, uInt(e.size - 16));  // the name and its length word
      if (!out->empty()) {
        EXPECT_LT(compareStored(out->back().name, e.name), 0) << "tree table order";
      }
      out->push_back(e);
    }
    if (digest) {
      EXPECT_EQ(uint32_t(crc), *digest);
    }
    // Names point into block, which dies here: keep copies.
    names.emplace_back(std::move(block));
  }

  void visit(const TreeEntry& e, const std::string& path) {
    digests[path] = Digest{e.childHash, e.contentHash};
    Rec folder;
    folder.folder = true;
    folder.empty = e.childHash == 0 && e.contentHash == 0 && e.childTable == 0 && e.contentTable == 0;
    items[path] = folder;
    if (e.contentTable != 0) {
      FileItemReader reader;
      ASSERT_TRUE(reader.open(&file, e.contentTable));
      Item item, previous;
      bool first = true;
      uLong crc = crc32(0L, Z_NULL, 0);
      while (reader.next(&item)) {
        if (!first) {
          EXPECT_LT(reader.order(previous, item), 0) << "file table order in " << path;
        }
        FileEntry fe;
        ASSERT_TRUE(FileEntry::parse(item.p, item.size, &fe));
        EXPECT_EQ(fe.entrySize, item.size);
        crc = crc32(crc, item.p, uInt(item.size));
        Rec r;
        r.time = fe.lastWrite;
        r.size = fe.size;
        items[path + toUtf8(fe.name.str())] = r;
        files++;
        previous = item;
        first = false;
      }
      EXPECT_FALSE(first) << "an empty file table was written for " << path;
      EXPECT_EQ(uint32_t(crc), e.contentHash) << path;
    } else {
      EXPECT_EQ(e.contentHash, 0u) << path;
    }
    if (e.childTable != 0) {
      std::vector<TreeEntry> children;
      readTreeTable(e.childTable, &children, &e.childHash);
      for (const TreeEntry& c : children) visit(c, path + toUtf8(c.name.str()) + "\\");
    } else {
      EXPECT_EQ(e.childHash, 0u) << path;
    }
  }

  SnapshotFile file;
  SnapshotInfo info;
  bool opened = false;
  std::vector<std::string> rootNames;
  std::map<std::string, Rec> items;
  std::map<std::string, Digest> digests;
  size_t files = 0;
  std::vector<std::vector<uint8_t>> names;
};

// ---------------------------------------------------------------------------------------------
// The tree on disk.

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

void setTime(const std::string& path, int64_t sec, long nsec) {
  struct timespec ts[2];
  ts[0].tv_sec = time_t(sec);
  ts[0].tv_nsec = nsec;
  ts[1] = ts[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW), 0) << path;
}

uint64_t expectedFileTime(const struct stat& st) {
  return uint64_t((int64_t(st.st_mtim.tv_sec) + 11644473600LL) * 10000000LL + st.st_mtim.tv_nsec / 100);
}

// An Env that passes everything to another one, except that one folder cannot be listed.
class DenyingEnv : public Env {
 public:
  DenyingEnv(Env* base, std::u16string denied) : base_(base), denied_(std::move(denied)) {}
  uint32_t logicalDrives() override { return base_->logicalDrives(); }
  int driveType(char16_t letter) override { return base_->driveType(letter); }
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    if (compareNames(folder, denied_) == 0) return nullptr;
    return base_->listFolder(folder);
  }
  std::unique_ptr<RegistryKey> openHive(int hive) override { return base_->openHive(hive); }
  std::u16string computerName() override { return base_->computerName(); }

 private:
  Env* base_;
  std::u16string denied_;
};

class FileScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = folder_ / "prefix";
    home_ = folder_ / "home";
    ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(home_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((prefix_ + "/dosdevices").c_str(), 0755), 0);
  }

  // Adds drive letter `letter` pointing at a new folder of the prefix; returns that folder.
  std::string addDrive(char letter) {
    std::string folder = prefix_ + "/drive_" + letter;
    EXPECT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string link = prefix_ + "/dosdevices/" + letter + ":";
    EXPECT_EQ(symlink(("../drive_" + std::string(1, letter)).c_str(), link.c_str()), 0);
    return folder;
  }

  void mk(const std::string& rel) { ASSERT_EQ(mkdir((root_ + "/" + rel).c_str(), 0755), 0) << rel; }
  void put(const std::string& rel, const std::string& bytes, int64_t sec, long nsec) {
    writeFile(root_ + "/" + rel, bytes);
    setTime(root_ + "/" + rel, sec, nsec);
  }

  // The test tree under c:\tree\ (every odd case of a real drive).
  void buildTree() {
    root_ = addDrive('c');
    mk("tree");
    put("tree/plain.txt", "hello", 1234567891, 123456789);
    put("tree/UPPER.TXT", "u", 1600000000, 0);
    put("tree/lower.txt", "", 1600000001, 999999999);
    put("tree/old.txt", "1900", -2208988800LL, 0);                 // before 1970
    put("tree/.dotfile", "dot", 1500000000, 0);                    // recorded
    put("tree/\xc3\x9cn\xc3\xaf" "c\xc3\xb6" "d\xc3\xa9.txt", "latin", 1500000001, 0);  // narrow
    put("tree/emoji \xf0\x9f\x98\x80.txt", "smile", 1500000002, 0);  // outside the BMP
    put("tree/bad\xff name.txt", "not utf-8", 1500000003, 0);        // escaped losslessly
    mk("tree/Caf\xc3\xa9");
    put("tree/Caf\xc3\xa9/menu.txt", "coffee", 1500000004, 0);
    mk("tree/Caf\xc3\xa9/sub");
    put("tree/Caf\xc3\xa9/sub/deep.txt", "deeper", 1500000005, 0);
    mk("tree/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e");  // wide folder name
    put("tree/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e/\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab.txt",
        "wide", 1500000006, 0);
    mk("tree/.hidden");  // never recorded, nor anything in it
    put("tree/.hidden/secret.txt", "s", 1500000007, 0);
    mk("tree/empty");
    mk("tree/locked");  // the Env refuses to list it
    put("tree/locked/inside.txt", "i", 1500000008, 0);
    ASSERT_EQ(symlink("Caf\xc3\xa9", (root_ + "/tree/link_dir").c_str()), 0);
    ASSERT_EQ(symlink("plain.txt", (root_ + "/tree/link_file").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (root_ + "/tree/link_dangling").c_str()), 0);
    // A large sparse file: the size needs both 32-bit halves.
    int fd = open((root_ + "/tree/big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (5LL << 30) + 7), 0);
    close(fd);
    setTime(root_ + "/tree/big.bin", 1700000000, 500);
    std::string deep = "tree/deep";
    mk(deep);
    for (int i = 0; i < 60; i++) {
      deep += "/l" + std::to_string(i);
      mk(deep);
    }
    deepFile_ = deep + "/bottom.bin";
    put(deepFile_, "bottom", 1500000009, 0);
    put("tree/deep/l0/l1/side.txt", "side", 1500000010, 0);
  }

  // What the scan must record for the native folder `native` at Windows path `path`, by the
  // file system's own account; returns whether anything below was recorded.
  bool expectFolder(const std::string& native, const std::string& path, const std::string& denied,
                    std::map<std::string, Rec>* out, uint32_t* folders, uint32_t* files) {
    Rec self;
    self.folder = true;
    if (native == denied) {
      self.empty = true;
      (*out)[path] = self;
      return false;
    }
    DIR* d = opendir(native.c_str());
    EXPECT_NE(d, nullptr) << native;
    if (!d) return false;
    bool any = false;
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      std::string child = native + "/" + name;
      struct stat lst, st;
      EXPECT_EQ(lstat(child.c_str(), &lst), 0);
      bool followed = stat(child.c_str(), &st) == 0;
      std::string winName = toUtf8(fromUtf8(name));
      EXPECT_EQ(winName, name);  // the escape is lossless
      if (followed && S_ISDIR(st.st_mode)) {
        if (name[0] == '.') continue;
        any = true;
        if (S_ISLNK(lst.st_mode)) {
          Rec j;
          j.folder = true;
          j.empty = true;
          (*out)[path + name + "\\"] = j;
          continue;
        }
        if (child != denied) ++*folders;
        expectFolder(child, path + name + "\\", denied, out, folders, files);
      } else {
        any = true;
        ++*files;
        const struct stat& s = followed ? st : lst;
        Rec f;
        f.time = expectedFileTime(s);
        f.size = uint64_t(s.st_size);
        (*out)[path + name] = f;
      }
    }
    closedir(d);
    self.empty = !any;
    (*out)[path] = self;
    return any;
  }

  // Takes a snapshot of the lists through SnapshotScan into home/data/<name>; returns its path.
  std::string snapshot(Env* env, const FilterList& files, const std::string& name,
                       ScanCounts* counts = nullptr) {
    FilterList lists[kSectionCount];
    lists[kSectionFiles] = files;
    std::string path = home_ + "/" + name;
    SnapshotScan scan(env);
    EXPECT_TRUE(scan.start(path, lists)) << scan.error();
    while (!scan.complete()) sleepMilliseconds(1);
    SnapshotInfo info;
    EXPECT_TRUE(scan.finish(name, 1, &info)) << scan.error();
    if (counts) *counts = scan.counts();
    return path;
  }

  testing_support::TempFolder folder_;
  std::string prefix_, home_, root_, deepFile_;
};

TEST_F(FileScanTest, FullScanRecordsEveryNameTimeAndSizeAsTheFileSystemReports) {
  buildTree();
  std::unique_ptr<Env> posix = newPosixEnv(prefix_);
  DenyingEnv env(posix.get(), u"c:\\tree\\locked\\");
  ScanCounts counts;
  std::string path = snapshot(&env, {u"*"}, "full.snp", &counts);

  SectionWalk walk(path);
  ASSERT_TRUE(walk.opened);
  EXPECT_EQ(walk.rootNames, std::vector<std::string>{"c:\\"});
  EXPECT_EQ(walk.info.sectionState[kSectionFiles], SectionState::Full);
  EXPECT_EQ(walk.info.sectionOffset[kSectionRegistry], 0u);
  EXPECT_EQ(walk.info.sectionOffset[kSectionApps], 0u);

  std::map<std::string, Rec> expected;
  uint32_t folders = 0, files = 0;
  expectFolder(root_, "c:\\", root_ + "/tree/locked", &expected, &folders, &files);
  EXPECT_EQ(walk.items, expected);
  EXPECT_EQ(counts.folders, folders);
  EXPECT_EQ(counts.files, files);
  EXPECT_EQ(walk.files, files);

  // The odd cases, spelled out.
  EXPECT_EQ(walk.items.count("c:\\tree\\.hidden\\"), 0u);
  EXPECT_EQ(walk.items.count("c:\\tree\\.dotfile"), 1u);
  EXPECT_TRUE(walk.items["c:\\tree\\link_dir\\"].empty);
  EXPECT_TRUE(walk.items["c:\\tree\\locked\\"].empty);
  EXPECT_EQ(walk.items.count("c:\\tree\\locked\\inside.txt"), 0u);
  EXPECT_EQ(walk.items["c:\\tree\\big.bin"].size, (5ull << 30) + 7);
  EXPECT_EQ(walk.items["c:\\tree\\link_file"].size, 5u);
  EXPECT_EQ(walk.items.count("c:\\tree\\bad\xff name.txt"), 1u);
  EXPECT_EQ(walk.items.count("c:\\tree\\deep\\l0\\l1\\side.txt"), 1u);
  // Counted: tree, Café, sub, 日本語, empty, deep and l0..l59; not counted: locked (it cannot be
  // listed), link_dir (a junction), .hidden (skipped).
  EXPECT_EQ(counts.folders, 5u + 1 + 60);
}

TEST_F(FileScanTest, WideNamesAreStoredWideAndNarrowOnesNarrow) {
  buildTree();
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  std::string path = snapshot(env.get(), {u"c:\\tree\\"}, "names.snp");
  SnapshotFile f;
  SnapshotInfo info;
  ASSERT_TRUE(f.open(path, &info));
  std::string bytes = slurp(path);
  // Latin-1 names are one byte a character, CJK and astral names UTF-16LE.
  EXPECT_NE(bytes.find(std::string("\xdcn\xef" "c\xf6" "d\xe9.txt")), std::string::npos);
  std::u16string wide = u"\U0001F600.txt";
  std::string le;
  for (char16_t c : wide) {
    le.push_back(char(c & 0xFF));
    le.push_back(char(c >> 8));
  }
  EXPECT_NE(bytes.find(le), std::string::npos);
}

TEST_F(FileScanTest, AnUnchangedTreeGivesIdenticalDigestsAndOneSizeChangeAltersOnlyItsAncestors) {
  buildTree();
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  SectionWalk a(snapshot(env.get(), {u"*"}, "a.snp"));
  SectionWalk b(snapshot(env.get(), {u"*"}, "b.snp"));
  ASSERT_TRUE(a.opened && b.opened);
  EXPECT_EQ(a.digests, b.digests);
  EXPECT_EQ(a.items, b.items);

  std::string file = root_ + "/" + deepFile_;
  struct stat before;
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  ASSERT_EQ(truncate(file.c_str(), before.st_size + 1), 0);
  setTime(file, before.st_mtim.tv_sec, before.st_mtim.tv_nsec);
  SectionWalk c(snapshot(env.get(), {u"*"}, "c.snp"));
  ASSERT_TRUE(c.opened);

  std::set<std::string> ancestors;
  std::string winPath = "c:\\";
  ancestors.insert(winPath);
  std::string rel = deepFile_.substr(0, deepFile_.rfind('/'));
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    winPath += rel.substr(start, end - start) + "\\";
    ancestors.insert(winPath);
    start = end + 1;
  }
  ASSERT_EQ(ancestors.size(), 63u);  // c:\, tree, deep, l0..l59
  std::set<std::string> changed;
  ASSERT_EQ(a.digests.size(), c.digests.size());
  for (const auto& [path, digest] : a.digests)
    if (c.digests[path] != digest) changed.insert(path);
  EXPECT_EQ(changed, ancestors);
  // The file's own folder changes its content digest only; every other ancestor its child
  // digest only.
  std::string leaf = winPath;
  EXPECT_NE(a.digests[leaf].content, c.digests[leaf].content);
  EXPECT_EQ(a.digests[leaf].child, c.digests[leaf].child);
  EXPECT_NE(a.digests["c:\\tree\\"].child, c.digests["c:\\tree\\"].child);
  EXPECT_EQ(a.digests["c:\\tree\\"].content, c.digests["c:\\tree\\"].content);
}

TEST_F(FileScanTest, TwoFilterItemsUnderOneRootGiveOneRootWithJustThosePaths) {
  buildTree();
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  // An upper-case drive, a name in another case than the folder's ("caf\u00e9" for "Caf\u00e9",
  // found as the only folder of that name, and recorded by the folder's own name) and no
  // trailing '\' on purpose.
  FilterList items = {u"C:\\tree\\\u65E5\u672C\u8A9E", u"c:\\tree\\caf\u00e9\\"};
  SectionWalk w(snapshot(env.get(), items, "two.snp"));
  ASSERT_TRUE(w.opened);
  EXPECT_EQ(w.rootNames, std::vector<std::string>{"c:\\"});
  EXPECT_EQ(w.info.sectionState[kSectionFiles], SectionState::Partial);
  EXPECT_EQ(w.info.filterList[kSectionFiles],
            (FilterList{u"c:\\tree\\caf\u00e9\\", u"c:\\tree\\\u65E5\u672C\u8A9E\\"}));

  std::vector<std::string> folders;
  for (const auto& [path, rec] : w.items)
    if (rec.folder) folders.push_back(path);
  EXPECT_EQ(folders, (std::vector<std::string>{
                         "c:\\", "c:\\tree\\", "c:\\tree\\Caf\xc3\xa9\\", "c:\\tree\\Caf\xc3\xa9\\sub\\",
                         "c:\\tree\\\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\\"}));
  // Folders on the way to an item carry no files.
  EXPECT_EQ(w.digests["c:\\"].content, 0u);
  EXPECT_EQ(w.digests["c:\\tree\\"].content, 0u);
  EXPECT_EQ(w.items.count("c:\\tree\\plain.txt"), 0u);
  EXPECT_EQ(w.items.count("c:\\tree\\Caf\xc3\xa9\\menu.txt"), 1u);
  EXPECT_EQ(w.items.count("c:\\tree\\Caf\xc3\xa9\\sub\\deep.txt"), 1u);

  // An item inside another, or a repeated one, changes nothing.
  FilterList nested = {u"c:\\tree\\caf\u00e9\\sub\\", u"c:\\tree\\caf\u00e9\\",
                       u"c:\\tree\\\u65E5\u672C\u8A9E\\", u"c:\\tree\\caf\u00e9\\"};
  SectionWalk n(snapshot(env.get(), nested, "nested.snp"));
  ASSERT_TRUE(n.opened);
  EXPECT_EQ(n.digests, w.digests);
  EXPECT_EQ(n.items, w.items);
}

TEST_F(FileScanTest, ItemsReachTheCaseTwinTheyNameAndNeverItsSibling) {
  root_ = addDrive('c');
  for (const char* rel : {"Dir", "dir", "Dir/a", "Dir/c", "dir/b", "dir/a"}) mk(rel);
  put("Dir/a/upper.txt", "U", 1500000000, 0);
  put("dir/a/lower.txt", "l", 1500000001, 0);
  put("Dir/c/c.txt", "c", 1500000002, 0);
  put("dir/b/b.txt", "b", 1500000003, 0);
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  // Interleaved in plain name order; each twin must be walked once, with only its own items.
  SectionWalk w(snapshot(env.get(), {u"c:\\Dir\\a\\", u"c:\\dir\\b\\", u"c:\\Dir\\c\\"}, "twins.snp"));
  ASSERT_TRUE(w.opened);
  std::vector<std::string> got;
  for (const auto& [path, rec] : w.items) got.push_back(path);
  EXPECT_EQ(got, (std::vector<std::string>{"c:\\", "c:\\Dir\\", "c:\\Dir\\a\\", "c:\\Dir\\a\\upper.txt",
                                           "c:\\Dir\\c\\", "c:\\Dir\\c\\c.txt", "c:\\dir\\",
                                           "c:\\dir\\b\\", "c:\\dir\\b\\b.txt"}));
  EXPECT_EQ(w.info.filterList[kSectionFiles],
            (FilterList{u"c:\\dir\\a\\", u"c:\\dir\\b\\", u"c:\\dir\\c\\"}));
  // A name that matches both twins but for case is neither: recorded empty.
  SectionWalk none(snapshot(env.get(), {u"c:\\DIR\\"}, "ambiguous.snp"));
  ASSERT_TRUE(none.opened);
  EXPECT_TRUE(none.items["c:\\DIR\\"].empty);
  EXPECT_EQ(none.files, 0u);
}

TEST_F(FileScanTest, AFolderWhoseNameHoldsABackslashIsRecordedWholeFromItsOwnPlace) {
  root_ = addDrive('c');
  for (const char* rel : {"a\\b", "a\\b/inner", "a", "a/b"}) mk(rel);
  put("a\\b/in.txt", "in", 1500000000, 0);
  put("a/b/wrong.txt", "wrong", 1500000001, 0);
  put("x\\y.txt", "xy", 1500000002, 0);
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  const std::string ab = "c:\\" + toUtf8(std::u16string(u"a") + kEscapedBackslash + u"b") + "\\";
  const std::string xy = "c:\\" + toUtf8(std::u16string(u"x") + kEscapedBackslash + u"y.txt");
  const std::vector<std::string> all = {"c:\\", "c:\\a\\", "c:\\a\\b\\", "c:\\a\\b\\wrong.txt",
                                        ab, ab + "in.txt", ab + "inner\\", xy};
  ScanCounts counts;
  SectionWalk w(snapshot(env.get(), {u"*"}, "full.snp", &counts));
  ASSERT_TRUE(w.opened);
  std::vector<std::string> got;
  for (const auto& [path, rec] : w.items) got.push_back(path);
  std::vector<std::string> want = all;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
  EXPECT_EQ(counts.folders, 4u);
  EXPECT_EQ(counts.files, 3u);
  // Named by a filter item, the folder is found by its own name too.
  SectionWalk one(snapshot(env.get(), {fromUtf8(ab.substr(0, 3)) + std::u16string(u"a") + kEscapedBackslash + u"b\\"},
                           "one.snp"));
  ASSERT_TRUE(one.opened);
  got.clear();
  for (const auto& [path, rec] : one.items) got.push_back(path);
  EXPECT_EQ(got, (std::vector<std::string>{"c:\\", ab, ab + "in.txt", ab + "inner\\"}));
}

TEST_F(FileScanTest, ItemsOnSeveralDrivesScanInParallelIntoOneFile) {
  // Several drive workers write one snapshot file at the same time; every drive's tree must
  // come back whole, and the roots in name order.
  std::vector<std::pair<char, std::string>> drives;
  for (char letter : {'c', 'd', 'f', 'g'}) drives.emplace_back(letter, addDrive(letter));
  for (auto& [letter, folder] : drives) {
    root_ = folder;
    for (int i = 0; i < 20; i++) {
      std::string sub = "dir" + std::to_string(i);
      mk(sub);
      for (int k = 0; k < 40; k++)
        put(sub + "/file" + std::to_string(k), std::string(size_t(k), letter), 1500000000 + k, 0);
    }
  }
  // A CD drive: a drive folder with its raw device beside it. Not fixed, so not scanned.
  std::string cd = addDrive('e');
  writeFile(cd + "/disc.txt", "cd");
  ASSERT_EQ(symlink("/dev/null", (prefix_ + "/dosdevices/e::").c_str()), 0);

  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  ScanCounts counts;
  SectionWalk w(snapshot(env.get(), {u"*"}, "multi.snp", &counts));
  ASSERT_TRUE(w.opened);
  EXPECT_EQ(w.rootNames, (std::vector<std::string>{"c:\\", "d:\\", "f:\\", "g:\\"}));
  EXPECT_EQ(counts.folders, 4u * 20);
  EXPECT_EQ(counts.files, 4u * 20 * 40);
  EXPECT_EQ(w.files, 4u * 20 * 40);
  EXPECT_EQ(w.items["g:\\dir19\\file39"].size, 39u);

  SectionWalk two(snapshot(env.get(), {u"d:\\dir3\\", u"f:\\dir4\\", u"c:\\dir0\\"}, "three.snp"));
  ASSERT_TRUE(two.opened);
  EXPECT_EQ(two.rootNames, (std::vector<std::string>{"c:\\", "d:\\", "f:\\"}));
  EXPECT_EQ(two.files, 3u * 40);
  EXPECT_EQ(two.digests["d:\\dir3\\"], w.digests["d:\\dir3\\"]);
}

// An endless tree held in memory: every folder holds one file and `fanout` subfolders named
// by `folderName`.
class EndlessEnv : public Env {
 public:
  EndlessEnv(std::u16string folderName, int fanout) : folderName_(std::move(folderName)), fanout_(fanout) {}
  uint32_t logicalDrives() override { return 1u << 2; }
  int driveType(char16_t) override { return kDriveFixed; }
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    listed++;
    longest = std::max(longest.load(), folder.size());
    return std::unique_ptr<FolderListing>(new Listing(this));
  }
  std::unique_ptr<RegistryKey> openHive(int) override { return nullptr; }
  std::u16string computerName() override { return u"TEST"; }

  std::atomic<size_t> listed{0};
  std::atomic<size_t> longest{0};

 private:
  class Listing : public FolderListing {
   public:
    explicit Listing(EndlessEnv* env) : env_(env) {}
    bool next(DirEntry* e) override {
      if (i_ > env_->fanout_) return false;
      if (i_ == 0) {
        e->name = u"file";
        e->isFolder = false;
        e->lastWrite = 1;
        e->size = 2;
      } else {
        e->name = env_->folderName_;
        if (env_->fanout_ > 1) e->name += char16_t(u'a' + i_);
        e->isFolder = true;
        e->isJunction = false;
      }
      i_++;
      return true;
    }

   private:
    EndlessEnv* env_;
    int i_ = 0;
  };
  std::u16string folderName_;
  int fanout_;
};

// Follows the single chain of an endless tree; returns the number of folders that were listed
// (a file table) and whether the chain ends in an empty entry.
void followChain(SectionWalk* w, size_t* listedFolders, bool* endsEmpty) {
  *listedFolders = 0;
  *endsEmpty = false;
  for (const auto& [path, rec] : w->items) {
    if (!rec.folder) continue;
    if (rec.empty)
      *endsEmpty = true;
    else
      ++*listedFolders;
  }
}

TEST_F(FileScanTest, TheWalkStopsAtTheDepthLimitAndRecordsTheFolderBeyondItEmpty) {
  EndlessEnv env(u"d", 1);
  ScanCounts counts;
  SectionWalk w(snapshot(&env, {u"*"}, "deep.snp", &counts));
  ASSERT_TRUE(w.opened);
  size_t listed;
  bool endsEmpty;
  followChain(&w, &listed, &endsEmpty);
  EXPECT_EQ(listed, kMaxFolderDepth - 1);  // depths 1..1023: the root and 1022 below it
  EXPECT_TRUE(endsEmpty);
  EXPECT_EQ(env.listed, kMaxFolderDepth - 1);
  EXPECT_EQ(counts.folders, kMaxFolderDepth - 2);  // the root is not counted
  EXPECT_EQ(counts.files, kMaxFolderDepth - 1);
  EXPECT_EQ(counts.cutFolders, 1u);
}

TEST_F(FileScanTest, ThePathBufferNeverOverflowsAndTheFolderThatWouldNotFitIsRecordedEmpty) {
  const size_t nameLength = 250;
  EndlessEnv env(std::u16string(nameLength, u'n'), 1);
  SectionWalk w(snapshot(&env, {u"*"}, "long.snp"));
  ASSERT_TRUE(w.opened);
  size_t listed;
  bool endsEmpty;
  followChain(&w, &listed, &endsEmpty);
  // The folder at depth k has a path of 3 + (k - 1) * 251 characters, and "*.*" must still fit.
  size_t expected = (kMaxPathChars - 6) / (nameLength + 1) + 1;
  EXPECT_EQ(listed, expected);
  EXPECT_TRUE(endsEmpty);
  EXPECT_LE(env.longest + 3, kMaxPathChars);
}

TEST_F(FileScanTest, StopEndsEveryWorkerAndLeavesAReadableFile) {
  EndlessEnv env(u"x", 8);  // 8^depth folders: it would never end by itself
  SnapshotFile file;
  std::string path = home_ + "/stopped.snp";
  ASSERT_TRUE(file.create(path));
  FileStore store(&env);
  ASSERT_TRUE(store.startFileScan(&file, {u"c:\\", u"c:\\x\\"}));
  EXPECT_EQ(store.workerCount(), 1u);
  while (store.folders().get() < 1000) sleepMilliseconds(1);
  store.stopFileScan();
  EXPECT_EQ(file.runningScans(), 0);
  EXPECT_EQ(store.workerCount(), 0u);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{}, {u"c:\\"}, {}};
  info.fillNew("stopped", 1, lists);
  ASSERT_TRUE(file.finish(&info));
  file.close();
  SectionWalk w(path);
  ASSERT_TRUE(w.opened);
  EXPECT_EQ(w.rootNames, std::vector<std::string>{"c:\\"});
  EXPECT_GT(w.files, 0u);
}

TEST_F(FileScanTest, AFullScanWithoutDrivesFailsToStart) {
  class NoDrives : public EndlessEnv {
   public:
    NoDrives() : EndlessEnv(u"d", 1) {}
    uint32_t logicalDrives() override { return 0; }
  } env;
  SnapshotFile file;
  ASSERT_TRUE(file.create(home_ + "/none.snp"));
  FileStore store(&env);
  EXPECT_FALSE(store.startFileScan(&file, {u"*"}));
  EXPECT_EQ(file.runningScans(), 0);
}

TEST_F(FileScanTest, FinishAppendsTheCompletionTextAndAnUnwritableLogStopsNothing) {
  buildTree();
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  FilterList lists[kSectionCount] = {{}, {u"c:\\tree\\caf\u00e9\\"}, {}};
  std::string path = home_ + "/logged.snp";
  SnapshotScan scan(env.get());
  ASSERT_TRUE(scan.start(path, lists));
  while (!scan.complete()) sleepMilliseconds(1);
  SnapshotInfo info;
  ASSERT_TRUE(scan.finish("logged", 7, &info));
  EXPECT_EQ(scan.completionText().substr(0, 17), "Snapshot done in ");
  EXPECT_NE(scan.completionText().find("\n0 reg keys, 0 values\n1 folders, 2 files\n0 applications"),
            std::string::npos)
      << scan.completionText();
  std::string log = home_ + "/KeldrunLog.txt";
  ASSERT_EQ(mkdir(log.c_str(), 0755), 0);  // a log that cannot be opened
  EXPECT_FALSE(appendLog(scan.completionText(), log));
  SnapshotFile reopened;
  SnapshotInfo read;
  ASSERT_TRUE(reopened.open(path, &read));
  EXPECT_EQ(read.name, "logged");
  EXPECT_EQ(read.number, 7);
}

TEST_F(FileScanTest, AbortStopsTheScanAndDeletesTheFile) {
  EndlessEnv env(u"x", 8);
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  std::string path = home_ + "/aborted.snp";
  {
    SnapshotScan scan(&env);
    ASSERT_TRUE(scan.start(path, lists));
    EXPECT_EQ(scan.running(), 1);
    while (scan.counts().folders < 100) sleepMilliseconds(1);
    EXPECT_NE(scan.progressText().find("folders"), std::string::npos);
    scan.abort();
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(scan.running(), 0);
  }
  SnapshotScan none(&env);
  FilterList nothing[kSectionCount];
  EXPECT_FALSE(none.start(path, nothing));
  EXPECT_EQ(none.error(), "Select at least one item");
  EXPECT_FALSE(fileExists(path));
}

TEST(NormalizeFileFilter, KeepsNamesSortsByComponentRepairsAndDropsNestedItems) {
  struct Case {
    FilterList in, out;
  } cases[] = {
      {{}, {}},
      {{u"*"}, {u"*"}},
      {{u"*", u"c:\\x\\"}, {u"*"}},
      {{u"C:\\Windows"}, {u"c:\\Windows\\"}},
      // Case twins stay two items, each followed by what lies inside it.
      {{u"c:\\Dir\\a\\", u"c:\\dir\\b\\", u"c:\\Dir\\c\\", u"c:\\dir\\"},
       {u"c:\\Dir\\a\\", u"c:\\Dir\\c\\", u"c:\\dir\\"}},
      {{u"c:/a//b"}, {u"c:\\a\\b\\"}},
      {{u"c:\\windows\\", u"c:\\program files\\"}, {u"c:\\program files\\", u"c:\\windows\\"}},
      {{u"c:\\a\\b\\", u"c:\\a\\", u"c:\\a b\\", u"c:\\a\\"}, {u"c:\\a\\", u"c:\\a b\\"}},
      {{u"c:\\ab\\", u"c:\\a\\"}, {u"c:\\a\\", u"c:\\ab\\"}},
      {{u"d:\\x\\", u"c:\\"}, {u"c:\\", u"d:\\x\\"}},
      {{u"c:\\", u"c:\\windows\\"}, {u"c:\\"}},
      {{u"nodrive\\", u"", u"1:\\x\\", u"c:"}, {u"c:\\"}},
  };
  for (const Case& c : cases) {
    FilterList got = normalizeFileFilter(c.in);
    EXPECT_EQ(got, c.out) << (c.in.empty() ? std::string() : toUtf8(c.in[0]));
  }
}

// ---------------------------------------------------------------------------------------------
// The file table reader.

class FileTableTest : public FileScanTest {
 protected:
  // Writes the entries as one table block of a new snapshot file and opens a reader on it.
  void writeAndOpen(const std::vector<uint8_t>& entries, FileItemReader* reader) {
    std::string path = home_ + "/table.snp";
    {
      SnapshotFile w;
      ASSERT_TRUE(w.create(path));
      offset_ = w.appendTable(entries.data(), entries.size());
      ASSERT_NE(offset_, 0u);
      SnapshotInfo info;
      ASSERT_TRUE(w.finish(&info));
      w.close();
    }
    ASSERT_TRUE(file_.open(path, &info_));
    ASSERT_TRUE(reader->open(&file_, offset_));
  }
  SnapshotFile file_;
  SnapshotInfo info_;
  uint32_t offset_ = 0;
};

TEST_F(FileTableTest, DiffersComparesTimeAndSizeAndOrderComparesNamesFoldedThenExactly) {
  std::vector<uint8_t> t;
  std::u16string names[] = {u"Alpha", u"alpha", u"alpha", u"alpha", u"Beta", u"\u4e2d"};
  uint64_t times[] = {10, 10, 11, 10, 10, 10};
  uint64_t sizes[] = {5, 5, 5, 6, 5, 5};
  for (int i = 0; i < 6; i++) appendFileEntry(&t, names[i].data(), names[i].size(), times[i], sizes[i]);
  FileItemReader r;
  writeAndOpen(t, &r);
  std::vector<Item> items;
  Item it;
  while (r.next(&it)) items.push_back(it);
  ASSERT_EQ(items.size(), 6u);
  // Names that differ only in case are two names, upper case first.
  EXPECT_LT(r.order(items[0], items[1]), 0);
  EXPECT_EQ(r.order(items[1], items[2]), 0);
  EXPECT_FALSE(r.differs(items[0], items[1]));  // same data
  EXPECT_TRUE(r.differs(items[1], items[2]));   // time only
  EXPECT_TRUE(r.differs(items[1], items[3]));   // size only
  EXPECT_LT(r.order(items[1], items[4]), 0);
  EXPECT_LT(r.order(items[4], items[5]), 0);
  EXPECT_EQ(items[5].size, 18u + 2);
  FileEntry fe;
  ASSERT_TRUE(FileEntry::parse(items[5].p, items[5].size, &fe));
  EXPECT_TRUE(fe.name.wide);
  EXPECT_EQ(fe.name.str(), u"\u4e2d");
}

TEST_F(FileTableTest, AnEntryRunningPastItsBlockEndsTheList) {
  std::vector<uint8_t> t;
  appendFileEntry(&t, u"ok", 2, 1, 2);
  appendFileEntry(&t, u"cut", 3, 1, 2);
  putU16(t.data() + 20, 0x7FFF);  // the second entry claims a name far past the block
  FileItemReader r;
  writeAndOpen(t, &r);
  Item it;
  ASSERT_TRUE(r.next(&it));
  EXPECT_EQ(it.size, 20u);
  EXPECT_FALSE(r.next(&it));
  FileEntry fe;
  EXPECT_FALSE(FileEntry::parse(t.data() + 20, t.size() - 20, &fe));
  EXPECT_FALSE(FileEntry::parse(t.data(), 17, &fe));
}

TEST(FileEntry, LongNamesAreCutAtTheCap) {
  std::u16string name(40000, u'a');
  std::vector<uint8_t> t;
  appendFileEntry(&t, name.data(), name.size(), 0x1122334455667788ull, 0x99AABBCCDDEEFF00ull);
  EXPECT_EQ(t.size(), 18u + kMaxFileNameChars);
  FileEntry fe;
  ASSERT_TRUE(FileEntry::parse(t.data(), t.size(), &fe));
  EXPECT_EQ(fe.name.chars, kMaxFileNameChars);
  EXPECT_EQ(fe.lastWrite, 0x1122334455667788ull);
  EXPECT_EQ(fe.size, 0x99AABBCCDDEEFF00ull);
  EXPECT_EQ(getU32(t.data() + 2), 0x55667788u);  // low word of the time first
  EXPECT_EQ(getU32(t.data() + 14), 0x99AABBCCu);  // high word of the size last
}

}  // namespace
}  // namespace keldrun
