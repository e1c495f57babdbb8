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
      {"one folder touched at once, years after its dates",
       {ext(t + 7, 9, 40), ext(t + 900, 9, 41), ext(t + 3, 9, 45)},
       {t - 900000000000000ull, t - 3, t - 77777777777777ull},
       false},
      {"chained change times wrapping", {ext(~0ull, 9, 1), ext(1, 9, 2), ext(~0ull - 5, 9, 3)}, {0, 0, 0}, false},
      {"volumes that differ", {ext(t, 2049, 7), ext(t, 2050, 9), ext(t, 0, 0), ext(t, 2049, 8)}, {t, t, t, t}, true},
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

// What a record costs where the bench and real folders put it: change times equal to the
// dates, a folder written at once with dates set years before, identities close together.
TEST(FileExtension, RecordsOfOneFolderTakeFewBytes) {
  const uint64_t t = 132000000000000000ull;
  const struct {
    const char* what;
    uint64_t changeStep;  // between one record's change time and the next
    bool dated;           // last-write times years from the change times, far from each other
    size_t maxBytes;      // for 100 records
  } cases[] = {
      {"change times equal to the dates", 0, false, 4 + 100 * 2},
      {"change times 100 us apart, dates years away", 1000, true, 4 + 9 + 100 * 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<FileExt> records;
    std::vector<uint64_t> lastWrite;
    for (uint64_t i = 0; i < 100; i++) {
      uint64_t written = c.dated ? t - 3000000000000000ull + i * 7777777777777ull : t + i * 10000000;
      records.push_back(ext(c.dated ? t + i * c.changeStep : written, 2049, 5000 + 3 * i));
      lastWrite.push_back(written);
    }
    std::vector<uint8_t> block;
    encodeFileExtension(records, lastWrite, false, &block);
    EXPECT_LE(block.size(), c.maxBytes);
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
      {"unknown flag", {0x08, 0x00, 0x00, 0x00}},
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
