// Content digests recorded by the files scan of real folders: equal to sha256sum, copied from an
// earlier snapshot only when every recorded attribute of the file is equal, read again (and
// counted as read through the seam) otherwise, and "unreadable" for what cannot be read.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/coding.h"
#include "base/text.h"
#include "engine/compare.h"
#include "engine/file_entry.h"
#include "engine/file_scan.h"
#include "engine/pack.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

// One attribute of one file as the seam reports it, moved by one unit.
enum class Moved { Nothing, Size, LastWrite, ChangeTime, Identity };

// An Env that passes everything to another one, counts the files it reads for a digest, and
// can report one attribute of the files named `moved` moved.
class CountingEnv : public Env {
 public:
  explicit CountingEnv(Env* base) : base_(base) {}
  uint32_t logicalDrives() override { return base_->logicalDrives(); }
  int driveType(char16_t letter) override { return base_->driveType(letter); }
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    std::unique_ptr<FolderListing> inner = base_->listFolder(folder);
    if (!inner) return nullptr;
    return std::unique_ptr<FolderListing>(new Listing(std::move(inner), this));
  }
  std::unique_ptr<RegistryKey> openHive(int hive) override { return base_->openHive(hive); }
  std::u16string computerName() override { return base_->computerName(); }
  bool fileSha256(const std::u16string& path, uint8_t* out) override {
    reads++;
    return base_->fileSha256(path, out);
  }

  std::atomic<int> reads{0};
  std::u16string movedName;
  Moved moved = Moved::Nothing;

 private:
  struct Listing : FolderListing {
    Listing(std::unique_ptr<FolderListing> inner, CountingEnv* env) : inner(std::move(inner)), env(env) {}
    bool next(DirEntry* e) override {
      if (!inner->next(e)) return false;
      if (e->isFolder || e->name != env->movedName) return true;
      switch (env->moved) {
        case Moved::Size: e->size++; break;
        case Moved::LastWrite: e->lastWrite++; break;
        case Moved::ChangeTime: e->changeTime++; break;
        case Moved::Identity: e->fileId++; break;
        case Moved::Nothing: break;
      }
      return true;
    }
    std::unique_ptr<FolderListing> inner;
    CountingEnv* env;
  };
  Env* base_;
};

std::string sha256sum(const std::string& path) {
  FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r");
  if (!p) return "";
  char line[200] = {};
  bool ok = std::fgets(line, sizeof line, p) != nullptr;
  pclose(p);
  return ok ? std::string(line, 64) : "";
}

std::string hex(const uint8_t* d) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < kSha256Size; i++) {
    s.push_back(digits[d[i] >> 4]);
    s.push_back(digits[d[i] & 15]);
  }
  return s;
}

class DigestScan : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = folder_ / "tree";
    std::filesystem::create_directories(tree_ + "/a/b");
    files_ = {"/one", "/a/two", "/a/three", "/a/b/four", "/empty"};
    for (size_t i = 0; i < files_.size(); i++)
      std::ofstream(tree_ + files_[i], std::ios::binary) << (i == 4 ? std::string() : std::string(1000 + i, char('a' + i)));
    base_ = newPosixEnv("");
    env_.reset(new CountingEnv(base_.get()));
    root_ = windowsPathIn(base_.get(), tree_) + u"\\";
  }

  // Scans the tree with digests into snapshot file `name`, copying from `earlier`; returns the
  // files read for a digest.
  int scan(const std::string& name, const std::vector<std::string>& earlier, int threads = 2) {
    env_->reads = 0;
    std::string path = folder_ / name;
    SnapshotFile file;
    EXPECT_TRUE(file.create(path));
    FileStore store(env_.get());
    store.setThreads(threads);
    store.setDigests(true, earlier);
    FilterList list = normalizeFileFilter({root_});
    EXPECT_TRUE(store.startFileScan(&file, list));
    while (file.runningScans() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    store.releaseWorkers();
    SnapshotInfo info;
    FilterList lists[kSectionCount] = {{}, list, {}};
    info.fillNew(name, 1, lists);
    EXPECT_TRUE(file.finish(&info));
    EXPECT_TRUE(file.close());
    return env_->reads;
  }

  // The recorded extension of every file of snapshot `name`, by native path.
  std::map<std::string, FileExt> recorded(const std::string& name) {
    SnapshotFile file;
    SnapshotInfo info;
    EXPECT_TRUE(file.open(folder_ / name, &info));
    EXPECT_TRUE(file.hasExtension());
    std::map<std::string, FileExt> out;
    testing_support::forEachRecordedFile(&file, info, [&](const std::string& native, const FileExt* e) {
      EXPECT_NE(e, nullptr) << native;
      if (e) out[native] = *e;
    });
    EXPECT_EQ(file.damagedTables(), 0u);
    return out;
  }

  testing_support::TempFolder folder_;
  std::string tree_;
  std::vector<std::string> files_;
  std::unique_ptr<Env> base_;
  std::unique_ptr<CountingEnv> env_;
  std::u16string root_;
};

TEST_F(DigestScan, EveryFileDigestIsWhatSha256sumPrints) {
  for (int threads : {1, 3}) {
    std::string name = "t" + std::to_string(threads) + ".snp";
    EXPECT_EQ(scan(name, {}, threads), int(files_.size()));
    std::map<std::string, FileExt> r = recorded(name);
    ASSERT_EQ(r.size(), files_.size());
    for (const std::string& f : files_) {
      const FileExt& e = r[tree_ + f];
      EXPECT_EQ(e.digestState, kDigestSha256) << f;
      EXPECT_EQ(hex(e.sha256), sha256sum(tree_ + f)) << f;
    }
  }
}

// A file that cannot be read (here a pipe, which must not be waited on) is recorded as such.
TEST_F(DigestScan, UnreadableFileIsRecordedAsUnreadable) {
  ASSERT_EQ(::mkfifo((tree_ + "/a/pipe").c_str(), 0600), 0);
  scan("p.snp", {});
  std::map<std::string, FileExt> r = recorded("p.snp");
  ASSERT_EQ(r.count(tree_ + "/a/pipe"), 1u);
  EXPECT_EQ(r[tree_ + "/a/pipe"].digestState, kDigestUnreadable);
  EXPECT_EQ(r[tree_ + "/a/two"].digestState, kDigestSha256);
}

// A second scan copies every digest; a file one of whose recorded attributes moved is read again,
// whichever attribute it is, and only that file.
TEST_F(DigestScan, DigestIsCopiedOnlyWhenEveryRecordedAttributeIsEqual) {
  std::string first = folder_ / "first.snp";
  ASSERT_EQ(scan("first.snp", {}), int(files_.size()));
  EXPECT_EQ(scan("same.snp", {first}), 0);
  EXPECT_EQ(recorded("same.snp").size(), files_.size());
  for (const auto& f : recorded("same.snp")) EXPECT_EQ(hex(f.second.sha256), sha256sum(f.first)) << f.first;
  struct Case {
    Moved moved;
    const char* name;
  };
  for (Case c : {Case{Moved::Size, "size"}, Case{Moved::LastWrite, "last-write time"},
                 Case{Moved::ChangeTime, "change time"}, Case{Moved::Identity, "identity"}}) {
    env_->movedName = u"three";
    env_->moved = c.moved;
    EXPECT_EQ(scan(std::string(c.name) + ".snp", {first}), 1) << c.name;
  }
  env_->moved = Moved::Nothing;
  // Files gone and files new around the others in name order: only the new ones are read.
  std::filesystem::remove(tree_ + "/a/three");
  std::ofstream(tree_ + "/a/aaa", std::ios::binary) << "first in the folder";
  std::ofstream(tree_ + "/a/zzz", std::ios::binary) << "last in the folder";
  EXPECT_EQ(scan("added.snp", {first}), 2);
  for (const auto& f : recorded("added.snp")) EXPECT_EQ(hex(f.second.sha256), sha256sum(f.first)) << f.first;
  // Snapshots that hold no digest for a file, or that cannot be read, give none.
  EXPECT_EQ(scan("none.snp", {folder_ / "missing.snp"}), int(files_.size()) + 1);
}

// The newest snapshot holding a digest of the file decides: an older one with equal attributes
// does not stand in for a newer one whose attributes differ.
TEST_F(DigestScan, NewestEarlierDigestDecides) {
  std::string older = folder_ / "older.snp";
  ASSERT_EQ(scan("older.snp", {}), int(files_.size()));
  env_->movedName = u"one";
  env_->moved = Moved::LastWrite;
  std::string newer = folder_ / "newer.snp";
  EXPECT_EQ(scan("newer.snp", {}), int(files_.size()));
  env_->moved = Moved::Nothing;
  EXPECT_EQ(scan("third.snp", {newer, older}), 1);
  EXPECT_EQ(scan("fourth.snp", {older, newer}), 0);
}

// Content written over a file whose times are then put back (touch -r) is read again, as its
// change time moved, and shows a new digest.
TEST_F(DigestScan, ContentRewrittenUnderKeptDateIsReadAgain) {
  std::string first = folder_ / "first.snp";
  scan("first.snp", {});
  std::string f = tree_ + "/a/two";
  std::string keep = folder_ / "keep";
  ASSERT_EQ(std::system(("touch -r '" + f + "' '" + keep + "'").c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::ofstream(f, std::ios::binary | std::ios::trunc) << std::string(1001, 'Z');
  ASSERT_EQ(std::system(("touch -r '" + keep + "' '" + f + "'").c_str()), 0);
  EXPECT_EQ(scan("second.snp", {first}), 1);
  std::map<std::string, FileExt> a = recorded("first.snp"), b = recorded("second.snp");
  EXPECT_NE(hex(a[f].sha256), hex(b[f].sha256));
  EXPECT_EQ(hex(b[f].sha256), sha256sum(f));
}

// The extension block of the first file table that has one, as [start, end) of its bytes after
// the length word.
std::pair<uint32_t, uint32_t> firstBlock(const std::vector<uint8_t>& b) {
  uint32_t info = getU32(b.data() + kHeaderInfoOffset);
  uint32_t index = getU32(b.data() + info + kInfoExtensionOffset);
  uint32_t n = getU32(b.data() + index);
  for (uint32_t k = 0; k < n; k += kExtensionIndexRecord) {
    uint32_t block = getU32(b.data() + index + 4 + k + 4);
    if (block) return {block + 4, block + 4 + getU32(b.data() + block)};
  }
  return {0, 0};
}

// Damage to a block's digests is counted, and such a block is never copied from: its folder's
// files are read again. The packer carries the digests.
TEST_F(DigestScan, DamagedDigestsAreCountedAndNotCopied) {
  std::string first = folder_ / "first.snp";
  ASSERT_EQ(scan("first.snp", {}), int(files_.size()));
  std::vector<uint8_t> sound = testing_support::readBytes(first);
  auto [start, end] = firstBlock(sound);
  ASSERT_GT(end, start + 1 + kSha256Size);
  ASSERT_TRUE(sound[start] & kExtensionDigestFlag);
  {
    // The checks every snapshot goes through find the file with digests well formed.
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(first, &info));
    EXPECT_EQ(checkSnapshot(&file, info), 0u);
  }
  const struct {
    const char* what;
    uint32_t at;
    uint8_t value;
  } cases[] = {
      {"digest state out of range", end - 1 - uint32_t(kSha256Size), 3},
      {"digests flag cleared", start, uint8_t(sound[start] & ~kExtensionDigestFlag)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> b = sound;
    b[c.at] = c.value;
    std::string damaged = folder_ / "damaged.snp";
    ASSERT_TRUE(testing_support::writeBytes(damaged, b));
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(damaged, &info));
    EXPECT_EQ(checkSnapshot(&file, info), 1u);
    file.close();
    int reads = scan("after.snp", {damaged});
    EXPECT_GT(reads, 0);
    EXPECT_LT(reads, int(files_.size()));
  }
  // The digest's own last byte moved: the block's hash no longer holds.
  std::vector<uint8_t> b = sound;
  b[end - 1] ^= 1;
  ASSERT_TRUE(testing_support::writeBytes(folder_ / "flipped.snp", b));
  EXPECT_GT(scan("after.snp", {folder_ / "flipped.snp"}), 0);

  std::string packed = folder_ / "a.pak", back = folder_ / "back.snp";
  std::string why;
  ASSERT_TRUE(packFile(first, packed, nullptr));
  SnapshotInfo info;
  ASSERT_TRUE(unpackFile(packed, back, &info, nullptr, defaultFileSystem(), 0, &why)) << why;
  std::map<std::string, FileExt> a = recorded("first.snp"), u = recorded("back.snp");
  ASSERT_EQ(a.size(), u.size());
  for (const auto& f : a) EXPECT_EQ(hex(u[f.first].sha256), hex(f.second.sha256)) << f.first;
  EXPECT_EQ(scan("from_unpacked.snp", {back}), 0);
}

}  // namespace
}  // namespace keldrun
