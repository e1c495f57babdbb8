// The files' extension block: its encoding, record by record, and its refusal of cut and forged
// bytes.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/file_extension.h"

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

}  // namespace
}  // namespace keldrun
