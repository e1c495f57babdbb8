// The files scan with helpers listing ahead of its walk: real folders, read through the
// platform seam (the POSIX one natively, the Win32 one under Wine), must give the snapshot
// bytes of the walk alone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_scan.h"
#include "engine/folder_lookahead.h"
#include "engine/scan.h"
#include "engine/snapshot_format.h"
#include "base/text.h"
#include "platform/thread.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace keldrun {
namespace {

namespace fs = std::filesystem;
using testing_support::readBytes;
using testing_support::TempFolder;

fs::path native(const std::string& utf8) { return fs::u8path(utf8); }

// The seam that reads the real file system, and the Windows form of a native folder there.
#ifdef _WIN32
Env* seam() { return defaultEnv(); }
std::u16string windowsFolder(const std::string& folder) {
  std::u16string out = lowerAscii(fromUtf8(folder));
  for (char16_t& c : out)
    if (c == u'/') c = u'\\';
  if (out.back() != u'\\') out.push_back(u'\\');
  return out;
}
#else
Env* seam() {
  static std::unique_ptr<Env> env = newPosixEnv("");  // one drive z: for "/"
  return env.get();
}
std::u16string windowsFolder(const std::string& folder) {
  std::u16string out = windowsPathIn(seam(), folder);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  return lowerAscii(out);
}
#endif

void put(const fs::path& file, size_t size, int64_t secondsAgo) {
  {
    std::ofstream out(file, std::ios::binary);  // the path, not its narrow text: names may be wide
    out << std::string(size, 'k');
    ASSERT_TRUE(out.good()) << file.u8string();
  }
  fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

// A tree with what a drive holds: a few hundred folders over four levels, files in most,
// empty folders, wide names, dot folders (never entered), a long chain, and on POSIX a link to
// a folder (recorded like a junction, never entered).
void buildTree(const fs::path& root) {
  int serial = 0;
  for (int a = 0; a < 6; a++) {
    fs::path pa = root / ("dir" + std::to_string(a));
    for (int b = 0; b < 5; b++) {
      fs::path pb = pa / ("sub" + std::to_string(b));
      for (int c = 0; c < 4; c++) {
        fs::path pc = pb / ("leaf" + std::to_string(c));
        fs::create_directories(pc);
        for (int f = 0; f < (a + b + c) % 5; f++, serial++)
          put(pc / ("f" + std::to_string(f) + ".dat"), size_t(serial * 37 % 5000), serial);
      }
      for (int f = 0; f < b; f++, serial++) put(pb / ("s" + std::to_string(f) + ".txt"), size_t(serial), serial);
    }
  }
  fs::create_directories(root / "empty");
  fs::create_directories(native(root.u8string() + "/\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb"));
  put(native(root.u8string() + "/\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb/\xe3\x83\x95.txt"), 5, 50);
  fs::create_directories(root / ".hidden" / "inside");
  put(root / ".hidden" / "inside" / "x.txt", 3, 60);
  put(root / ".dotfile", 4, 70);
  fs::path chain = root / "chain";
  for (int i = 0; i < 30; i++) chain /= "c" + std::to_string(i);
  fs::create_directories(chain);
  put(chain / "bottom.bin", 9, 80);
#ifndef _WIN32
  fs::create_directory_symlink(root / "dir1", root / "link_to_dir1");
  // A chain whose native path outgrows PATH_MAX: made one folder at a time from its parent,
  // as no whole path reaches its end. Beyond the limit no folder is listed, however it is opened.
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < 20; i++) {
    std::string name = std::to_string(i) + std::string(240, 'x');
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    int below = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(below, 0);
    fd = below;
    int file = openat(fd, "f.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "deep", size_t(i % 4)), ssize_t(i % 4));
    close(file);
  }
  close(fd);
#endif
}

// The snapshot file's bytes with the info record's date blanked, the one field that may differ
// between two scans of the same tree.
std::vector<uint8_t> bytesWithoutDate(const std::string& path) {
  std::vector<uint8_t> bytes = readBytes(path);
  EXPECT_GE(bytes.size(), kHeaderSize + kInfoSize);
  if (bytes.size() >= kInfoSize) {
    size_t date = bytes.size() - kInfoSize + kInfoDate;
    std::fill(bytes.begin() + long(date), bytes.begin() + long(date + kInfoDateSize), 0);
  }
  return bytes;
}

// An Env over another that cannot list one folder; safe from several threads, as the scan
// needs.
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
  std::u16string computerName() override { return u"LOOKAHEAD"; }

 private:
  Env* base_;
  std::u16string denied_;
};

class FolderLookaheadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = native(folder_ / "tree");
    buildTree(tree_);
  }

  // Scans the lists with `threads` threads per drive into a new file; returns its path.
  std::string scan(Env* env, const FilterList& files, int threads, ScanCounts* counts) {
    std::string path = folder_ / ("t" + std::to_string(serial_++) + ".snp");
    FilterList lists[kSectionCount];
    lists[kSectionFiles] = files;
    SnapshotScan scan(env);
    scan.setFileThreads(threads);
    EXPECT_TRUE(scan.start(path, lists)) << scan.error();
    while (!scan.complete()) sleepMilliseconds(1);
    SnapshotInfo info;
    EXPECT_TRUE(scan.finish("threads", 1, &info)) << scan.error();
    *counts = scan.counts();
    return path;
  }

  TempFolder folder_;
  fs::path tree_;
  int serial_ = 0;
};

TEST_F(FolderLookaheadTest, EveryThreadCountWritesTheBytesOfTheWalkAlone) {
  std::u16string top = windowsFolder(tree_.u8string());
  DenyingEnv denying(seam(), top + u"dir2\\sub3\\");
  struct Case {
    const char* label;
    Env* env;
    FilterList items;
  } cases[] = {
      {"one folder", seam(), {top}},
      {"three items, one nested in a chain", seam(),
       {top + u"dir0\\", top + u"dir3\\sub1\\", top + u"chain\\c0\\c1\\", top + u"empty\\"}},
      {"a folder that cannot be listed", &denying, {top}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScanCounts alone;
    std::vector<uint8_t> expected = bytesWithoutDate(scan(c.env, c.items, 1, &alone));
    ASSERT_GT(alone.files, 10u);
    for (int threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      ScanCounts counts;
      std::vector<uint8_t> bytes = bytesWithoutDate(scan(c.env, c.items, threads, &counts));
      EXPECT_TRUE(bytes == expected) << "sizes " << bytes.size() << " and " << expected.size();
      EXPECT_EQ(counts.folders, alone.folders);
      EXPECT_EQ(counts.files, alone.files);
    }
  }
}

// The seam, counting the listings read on other threads than the one that made it.
class CountingEnv : public DenyingEnv {
 public:
  CountingEnv() : DenyingEnv(seam(), u""), owner_(std::this_thread::get_id()) {}
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    if (std::this_thread::get_id() != owner_) elsewhere_++;
    return DenyingEnv::listFolder(folder);
  }
  // Waits (10 s at most) until a helper has begun a listing.
  void awaitHelper() const {
    for (int i = 0; i < 10000 && elsewhere_ == 0; i++) sleepMilliseconds(1);
  }

 private:
  std::thread::id owner_;
  std::atomic<int> elsewhere_{0};
};

// Walks the tree depth-first as the scan does, asking the lookahead for every listing, and
// records what the walk sees. Before its first step down it lets a helper begin: the helpers
// take the smallest key first, so that first subfolder is then being read or ready, and the
// walk must take the helper's listing (a scheduler that starved the helpers could not hide it).
struct Walk {
  FolderLookahead* ahead;
  FolderLookahead::Descends descends;
  const CountingEnv* env;
  std::vector<std::u16string> seen;  // "path|name|size" of every entry, in walk order

  void folder(FolderLookahead::Key* key, const std::u16string& path, size_t depth) {
    std::unique_ptr<FolderListing> listing = ahead->list(*key, path, depth);
    if (!listing) {
      seen.push_back(path + u"|cannot be listed");
      return;
    }
    DirEntry e;
    uint32_t ordinal = 0;
    while (listing->next(&e)) {
      seen.push_back(path + u"|" + e.name + u"|" + fromUtf8(std::to_string(e.size)));
      if (!descends(e, path.size(), depth)) continue;
      if (env && key->size() == 1 && ordinal == 0) env->awaitHelper();
      key->push_back(ordinal++);
      folder(key, path + e.name + u"\\", depth + 1);
      key->pop_back();
    }
  }
};

bool descendsAlways(const DirEntry& e, size_t, size_t) { return e.isFolder && !e.isJunction; }
// A rule that disagrees with the walk's: the helpers' guesses then name the wrong folders.
bool descendsEveryOther(const DirEntry& e, size_t pathChars, size_t) {
  return e.isFolder && !e.isJunction && e.name.size() % 2 == 0;
}

TEST_F(FolderLookaheadTest, TheWalkSeesEveryListingInItsOwnOrderWhateverTheBudgetOrTheHelpersRule) {
  std::u16string top = windowsFolder(tree_.u8string());
  std::vector<std::u16string> expected;
  {
    CountingEnv env;
    FolderLookahead none(&env, descendsAlways, 0);
    Walk w{&none, descendsAlways, nullptr, {}};
    FolderLookahead::Key key{0};
    w.folder(&key, top, 1);
    expected = w.seen;
  }
  ASSERT_GT(expected.size(), 300u);
  struct Case {
    const char* label;
    size_t helpers, maxReady, maxEntries;
    FolderLookahead::Descends helperRule;
  } cases[] = {
      {"plenty of room", 3, 128, 32768, descendsAlways},
      {"one listing ahead", 2, 1, 32768, descendsAlways},
      {"a handful of entries ahead", 4, 128, 5, descendsAlways},
      {"helpers guessing the wrong folders", 3, 8, 32768, descendsEveryOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CountingEnv env;
    FolderLookahead ahead(&env, c.helperRule, c.helpers, c.maxReady, c.maxEntries);
    Walk w{&ahead, descendsAlways, &env, {}};
    FolderLookahead::Key key{0};
    w.folder(&key, top, 1);
    EXPECT_TRUE(w.seen == expected);
    if (c.helperRule == descendsAlways) {
      EXPECT_GT(ahead.readAhead(), 0u);
    }
  }
}

}  // namespace
}  // namespace keldrun
