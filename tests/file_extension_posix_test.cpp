// The files' extension inside real snapshot files written by the scan of real folders: found
// through the info record's marker, true to what the file system reports, carried by the packer
// and a rename, and checked for damage like every other table.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/coding.h"
#include "base/date_text.h"
#include "base/files.h"
#include "engine/compare.h"
#include "engine/file_entry.h"
#include "engine/file_extension.h"
#include "engine/pack.h"
#include "engine/section_filter.h"
#include "engine/snapshot.h"
#include "platform/env.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

class ExtensionFile : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = folder_ / "tree";
    std::filesystem::create_directories(tree_ + "/a/b");
    for (const char* f : {"/one", "/a/two", "/a/three", "/a/b/four"})
      std::ofstream(tree_ + f, std::ios::binary) << std::string(100, 'z');
    env_ = newPosixEnv("");
    root_ = u"z:";
    for (char c : tree_) root_.push_back(c == '/' ? u'\\' : char16_t(uint8_t(c)));
    root_ += u"\\";
    snap_ = folder_ / "a.snp";
    ASSERT_TRUE(testing_support::scanFolders(snap_, env_.get(), {root_}));
  }

  std::vector<uint8_t> bytes() {
    std::ifstream in(snap_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  void put(const std::vector<uint8_t>& b) {
    std::ofstream(snap_, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
  }
  uint32_t indexOffset() {
    std::vector<uint8_t> b = bytes();
    uint32_t info = getU32(b.data() + kHeaderInfoOffset);
    EXPECT_EQ(std::memcmp(b.data() + info + kInfoExtensionMarker, kExtensionMarker, sizeof kExtensionMarker), 0);
    return getU32(b.data() + info + kInfoExtensionOffset);
  }
  // The damage that a check of every table counts, and whether the file opened with its extension
  // (read through a view of the file unless `view` is false).
  size_t damageAfterCheck(bool* extension, bool view = true) {
    SnapshotFile file;
    SnapshotInfo info;
    file.useViewForTest(view);
    EXPECT_TRUE(file.open(snap_, &info));
    EXPECT_EQ(file.mapped(), view);
    *extension = file.hasExtension();
    return checkSnapshot(&file, info);
  }

  testing_support::TempFolder folder_;
  std::string tree_, snap_;
  std::u16string root_;
  std::unique_ptr<Env> env_;
};

// The scan records every file's change time and identity as the file system reports them.
TEST_F(ExtensionFile, ScanRecordsChangeTimeAndIdentityOfEveryFile) {
  SnapshotFile file;
  SnapshotInfo info;
  ASSERT_TRUE(file.open(snap_, &info));
  ASSERT_TRUE(file.hasExtension());
  size_t seen = 0;
  testing_support::forEachRecordedFile(&file, info, [&](const std::string& native, const FileExt* e) {
    struct stat st;
    EXPECT_EQ(lstat(native.c_str(), &st), 0) << native;
    EXPECT_NE(e, nullptr) << native;
    if (!e) return;
    EXPECT_EQ(e->fileId, uint64_t(st.st_ino)) << native;
    EXPECT_EQ(e->volume, 0u) << native;  // the Win32 seam would read another volume
    EXPECT_EQ(e->changeTime, fileTimeFromUnix(int64_t(st.st_ctim.tv_sec), uint32_t(st.st_ctim.tv_nsec)))
        << native;
    EXPECT_EQ(e->digestState, kDigestNone);
    seen++;
  });
  EXPECT_EQ(seen, 4u);
  EXPECT_EQ(file.damagedTables(), 0u);
}

// The index lies inside the file and is a table block of whole records in ascending order.
TEST_F(ExtensionFile, IndexIsFoundThroughTheInfoRecordMarker) {
  std::vector<uint8_t> b = bytes();
  uint32_t at = indexOffset();
  ASSERT_GT(at, kHeaderSize);
  ASSERT_LT(at + 4, b.size());
  uint32_t n = getU32(b.data() + at);
  ASSERT_EQ(n % kExtensionIndexRecord, 0u);
  // Three folders with files (tree, a, b); the folder tables on the way down have no block.
  uint32_t fileTables = 0;
  for (uint32_t k = 0; k + kExtensionIndexRecord <= n; k += kExtensionIndexRecord) {
    const uint8_t* r = b.data() + at + 4 + k;
    if (k) {
      EXPECT_LT(getU32(r - kExtensionIndexRecord), getU32(r));
    }
    if (getU32(r + 4)) fileTables++;
  }
  EXPECT_EQ(fileTables, 3u);
  bool extension = false;
  EXPECT_EQ(damageAfterCheck(&extension), 0u);
  EXPECT_TRUE(extension);
}

// Damage to the extension is counted as damage of the file; a damaged index leaves the file
// without its extension.
TEST_F(ExtensionFile, DamagedIndexAndBlocksAreCounted) {
  std::vector<uint8_t> sound = bytes();
  uint32_t at = indexOffset();
  uint32_t firstBlock = getU32(sound.data() + at + 4 + 4);
  for (uint32_t k = 0; firstBlock == 0; k += kExtensionIndexRecord)
    firstBlock = getU32(sound.data() + at + 4 + k + 4);
  const struct {
    const char* what;
    uint32_t offset;
    uint32_t value;
    bool extension;
  } cases[] = {
      {"index length not whole records", at, 13, false},
      {"index past the end", at, 0x7FFFFFFF, false},
      {"block byte flipped", firstBlock + 5, 0xFFFFFFFF, true},
      {"block length cut", firstBlock, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> b = sound;
    if (c.value == 0xFFFFFFFF)
      b[c.offset] ^= 0x5A;
    else
      putU32(b.data() + c.offset, c.value);
    put(b);
    bool extension = true;
    EXPECT_GE(damageAfterCheck(&extension), 1u);
    EXPECT_EQ(extension, c.extension);
  }
  // The marker pointing outside the file.
  std::vector<uint8_t> b = sound;
  putU32(b.data() + getU32(b.data() + kHeaderInfoOffset) + kInfoExtensionOffset, 0x7FFFFFF0);
  put(b);
  bool extension = true;
  EXPECT_EQ(damageAfterCheck(&extension), 1u);
  EXPECT_FALSE(extension);
}

// The writer sorts the index, but a reader takes one in any order: every folder's record is
// still found. Of two records for one table, the later in the file counts. The same through a
// view of the file and through reads.
TEST_F(ExtensionFile, IndexInAnyOrderAndTheLaterOfTwoRecordsCounts) {
  std::vector<uint8_t> sound = bytes();
  uint32_t at = indexOffset() + 4;
  size_t count = getU32(sound.data() + at - 4) / kExtensionIndexRecord;
  auto record = [&](std::vector<uint8_t>& b, size_t k) { return b.data() + at + k * kExtensionIndexRecord; };
  std::vector<uint8_t> reversed = sound;
  for (size_t k = 0; k < count; k++)
    std::memcpy(record(reversed, k), record(sound, count - 1 - k), kExtensionIndexRecord);
  // A file table's record and a copy of it with a wrong hash in the place of a folder table's
  // record (whose table then has none, as when that record is zeroed).
  size_t fileRecord = count, folderRecord = count;
  for (size_t k = 0; k < count; k++) (getU32(record(reversed, k) + 4) ? fileRecord : folderRecord) = k;
  ASSERT_LT(fileRecord, count);
  ASSERT_LT(folderRecord, count);
  std::vector<uint8_t> zeroed = reversed;
  std::memset(record(zeroed, folderRecord), 0, kExtensionIndexRecord);
  std::vector<uint8_t> forged = reversed;
  std::memcpy(record(forged, folderRecord), record(forged, fileRecord), kExtensionIndexRecord);
  record(forged, folderRecord)[8] ^= 0x5A;
  uint32_t table = getU32(record(forged, fileRecord)), hash = getU32(record(forged, fileRecord) + 8);
  bool laterForged = folderRecord > fileRecord;

  for (bool view : {true, false}) {
    SCOPED_TRACE(view ? "through a view" : "through reads");
    auto open = [&](SnapshotFile* file, SnapshotInfo* info) {
      file->useViewForTest(view);
      ASSERT_TRUE(file->open(snap_, info));
    };
    for (const std::vector<uint8_t>* b : {&sound, &reversed}) {
      put(*b);
      bool extension = false;
      EXPECT_EQ(damageAfterCheck(&extension, view), 0u);
      EXPECT_TRUE(extension);
      SnapshotFile file;
      SnapshotInfo info;
      open(&file, &info);
      for (size_t k = 0; k < count; k++) {
        const uint8_t* r = record(sound, k);
        EXPECT_EQ(file.extensionHash(getU32(r)), getU32(r + 8)) << k;
      }
      EXPECT_EQ(file.extensionHash(0), 0u);
    }
    put(zeroed);
    bool extension = false;
    size_t withoutFolderRecord = damageAfterCheck(&extension, view);
    put(forged);
    {
      SnapshotFile file;
      SnapshotInfo info;
      open(&file, &info);
      EXPECT_EQ(file.extensionHash(table), laterForged ? hash ^ 0x5A : hash);
    }
    EXPECT_EQ(damageAfterCheck(&extension, view), withoutFolderRecord + (laterForged ? 1 : 0));
    EXPECT_TRUE(extension);
  }
}

// A packed snapshot carries the extension; renaming keeps its marker.
TEST_F(ExtensionFile, PackAndRenameKeepTheExtension) {
  std::string packed = folder_ / "a.pak", back = folder_ / "b.snp";
  std::string why;
  ASSERT_TRUE(packFile(snap_, packed, nullptr));
  SnapshotInfo info;
  ASSERT_TRUE(unpackFile(packed, back, &info, nullptr, defaultFileSystem(), 0, &why)) << why;
  SnapshotFile file;
  ASSERT_TRUE(file.open(back, &info));
  EXPECT_TRUE(file.hasExtension());
  info.name = "renamed";
  ASSERT_EQ(file.rewriteInfo(&info, info.infoOffset), info.infoOffset);
  file.close();
  ASSERT_TRUE(file.open(back, &info));
  EXPECT_EQ(info.name, "renamed");
  EXPECT_TRUE(file.hasExtension());
  EXPECT_EQ(checkSnapshot(&file, info), 0u);
}

}  // namespace
}  // namespace keldrun
