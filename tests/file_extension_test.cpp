// The files' extension: its block encoding, and its index and blocks inside real snapshot files
// written by the scan: found through the info record's marker, carried by the packer, and
// checked for damage like every other table.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
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

FileExt ext(uint64_t changeTime, uint64_t volume, uint64_t id, uint8_t state = kDigestNone, uint8_t fill = 0) {
  FileExt e;
  e.changeTime = changeTime;
  e.volume = volume;
  e.fileId = id;
  e.digestState = state;
  if (state == kDigestSha256)
    for (size_t i = 0; i < kSha256Size; i++) e.sha256[i] = uint8_t(fill + i);
  return e;
}

bool sameExt(const FileExt& a, const FileExt& b) {
  return a.changeTime == b.changeTime && a.volume == b.volume && a.fileId == b.fileId &&
         a.digestState == b.digestState && std::memcmp(a.sha256, b.sha256, kSha256Size) == 0;
}

struct BlockCase {
  const char* what;
  std::vector<FileExt> ext;
  std::vector<uint64_t> lastWrite;
  bool digests;
};

std::vector<BlockCase> blockCases() {
  const uint64_t t = 132000000000000000ull;
  return {
      {"change equal to write", {ext(t, 2049, 100), ext(t + 5, 2049, 101)}, {t, t + 5}, false},
      {"change before and after", {ext(t - 7, 9, 5000), ext(t + 99999999, 9, 17)}, {t, t}, false},
      {"unknown time and identity", {ext(0, 0, 0), ext(0, 0, 0)}, {t, 0}, false},
      {"extreme values", {ext(~0ull, ~0ull, ~0ull), ext(1, ~0ull, 0)}, {0, ~0ull}, false},
      {"digests of every state",
       {ext(t, 3, 1, kDigestSha256, 7), ext(t, 3, 2, kDigestUnreadable), ext(t, 3, 3, kDigestNone),
        ext(t, 3, 4, kDigestSha256, 200)},
       {t, t, t, t},
       true},
  };
}

TEST(FileExtension, BlocksRoundTripRecordByRecord) {
  for (const BlockCase& c : blockCases()) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> block;
    encodeFileExtension(c.ext, c.lastWrite, c.digests, &block);
    FileExtensionDecoder decoder;
    ASSERT_TRUE(decoder.start(block.data(), block.size()));
    for (size_t i = 0; i < c.ext.size(); i++) {
      FileExt got;
      ASSERT_TRUE(decoder.next(c.lastWrite[i], &got));
      EXPECT_TRUE(sameExt(got, c.ext[i])) << i;
    }
    EXPECT_TRUE(decoder.atEnd());
  }
}

// Every cut of a block leaves a record that does not fit, or a block with fewer records: a
// reader never takes a record from beyond the bytes it was given.
TEST(FileExtension, TruncatedBlocksNeverYieldEveryRecord) {
  for (const BlockCase& c : blockCases()) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> block;
    encodeFileExtension(c.ext, c.lastWrite, c.digests, &block);
    for (size_t cut = 0; cut < block.size(); cut++) {
      FileExtensionDecoder decoder;
      bool whole = decoder.start(block.data(), cut);
      for (size_t i = 0; whole && i < c.ext.size(); i++) {
        FileExt got;
        whole = decoder.next(c.lastWrite[i], &got);
      }
      EXPECT_FALSE(whole && decoder.atEnd()) << "cut at " << cut;
    }
  }
}

TEST(FileExtension, ForgedFlagsStatesAndNumbersAreRefused) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"unknown flag", {0x02, 0x00, 0x00, 0x00}},
      {"unknown digest state", {0x01, 0x00, 0x00, 0x00, 0x03}},
      {"number past 64 bits",
       {0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02, 0x00}},
      {"number never ending", {0x00, 0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileExtensionDecoder decoder;
    FileExt got;
    EXPECT_FALSE(decoder.start(c.bytes.data(), c.bytes.size()) && decoder.next(0, &got));
  }
}

// ---------------------------------------------------------------------------------------------
// In snapshot files.

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
  // The damage that a check of every table counts, and whether the file opened with its extension.
  size_t damageAfterCheck(bool* extension) {
    SnapshotFile file;
    SnapshotInfo info;
    EXPECT_TRUE(file.open(snap_, &info));
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
  struct Visitor : TreeVisitor {
    SnapshotFile* file;
    std::string tree;
    size_t* seen;
    bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a, const TreeEntry*,
               int) override {
      if (!a->contentTable) return true;
      FileItemReader reader;
      EXPECT_TRUE(reader.open(file, a->contentTable));
      Item item;
      while (reader.next(&item)) {
        std::string native = toUtf8(path.substr(2)) + "\\" + toUtf8(fileEntryName(item.p).str());
        for (char& c : native) c = c == '\\' ? '/' : c;
        struct stat st;
        EXPECT_EQ(lstat(native.c_str(), &st), 0) << native;
        const FileExt* e = reader.ext(item);
        EXPECT_NE(e, nullptr) << native;
        if (!e) continue;
        EXPECT_EQ(e->fileId, uint64_t(st.st_ino)) << native;
        EXPECT_EQ(e->volume, uint64_t(st.st_dev)) << native;
        EXPECT_EQ(e->changeTime, fileTimeFromUnix(int64_t(st.st_ctim.tv_sec), uint32_t(st.st_ctim.tv_nsec)))
            << native;
        EXPECT_EQ(e->digestState, kDigestNone);
        (*seen)++;
      }
      return true;
    }
  } visitor;
  visitor.file = &file;
  visitor.seen = &seen;
  SectionFilter all = copyFilter({u"*"});
  TreeWalker walker(&file, nullptr, &all);
  walker.walkTree(info.sectionOffset[kSectionFiles], 0, std::u16string(), &visitor);
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
