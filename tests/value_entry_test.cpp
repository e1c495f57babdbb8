// Value entries: the storage rule, parsing within bounds, and the value table reader over real
// snapshot files.
#include "engine/value_entry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/snapshot.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::utf16;

std::vector<uint8_t> entryOf(const std::u16string& name, uint32_t type,
                             const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  appendValueEntry(&out, name, type, data);
  return out;
}

ValueEntry parsed(const std::vector<uint8_t>& bytes) {
  ValueEntry v;
  EXPECT_TRUE(parseValueEntry(bytes.data(), bytes.size(), &v));
  EXPECT_EQ(v.size, bytes.size());
  return v;
}

struct FormCase {
  const char* what;
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  uint16_t shortLength;   // the raw short length field
  uint8_t typeByte;
  bool wide;              // data stored UTF-16
  size_t storedBytes;
  size_t entrySize;
};

TEST(ValueEntryTest, StorageRuleChoosesTheForm) {
  std::vector<uint8_t> ascii = utf16(u"hello");  // 12 bytes, 6 characters
  std::vector<uint8_t> han = utf16(u"a\u4e00b");
  std::vector<uint8_t> hanAfterNul = utf16(std::u16string(u"ab\0\u4e00", 4));
  std::vector<uint8_t> multiHan = utf16(std::u16string(u"a\0\u0101\0", 4));
  std::vector<uint8_t> odd = {'a', 0, 'b'};
  std::vector<uint8_t> bin65500(65500, 0xAB), bin65501(65501, 0xCD);
  std::vector<uint8_t> narrow65500 = utf16(std::u16string(65499, u'x'));  // 65,500 characters
  std::vector<uint8_t> narrow65501 = utf16(std::u16string(65500, u'y'));
  const FormCase cases[] = {
      {"plain REG_SZ is narrow, one byte per character with its terminator", u"Name", kRegSz,
       ascii, 6, 1, false, 6, 5 + 4 + 6},
      {"REG_SZ with a character above 255 is wide and long", u"Name", kRegSz, han, 0xFFFF, 1,
       true, 8, 5 + 4 + 4 + 8},
      {"a wide character behind the terminator still makes it wide", u"", kRegSz, hanAfterNul,
       0xFFFF, 1, true, 10, 5 + 4 + 10},
      {"REG_MULTI_SZ with a wide second string", u"m", kRegMultiSz, multiHan, 0xFFFF, 7, true,
       10, 5 + 1 + 4 + 10},
      {"odd-sized string data keeps its last byte", u"o", kRegExpandSz, odd, 0xFFFF, 2, true, 3,
       5 + 1 + 4 + 3},
      {"binary of 65,500 bytes is short", u"b", kRegBinary, bin65500, 65500, 3, false, 65500,
       5 + 1 + 65500},
      {"binary of 65,501 bytes is long", u"b", kRegBinary, bin65501, 0xFFFF, 3, false, 65501,
       5 + 1 + 4 + 65501},
      {"narrow string of 65,500 characters is short", u"s", kRegSz, narrow65500, 65500, 1, false,
       65500, 5 + 1 + 65500},
      {"narrow string of 65,501 characters is long with bit 31 clear", u"s", kRegSz, narrow65501,
       0xFFFF, 1, false, 65501, 5 + 1 + 4 + 65501},
      {"type 0x20 has type byte 255 and a long type", u"t", 0x20, {1, 2}, 2, 255, false, 2,
       5 + 1 + 4 + 2},
      {"empty data", u"e", kRegBinary, {}, 0, 3, false, 0, 5 + 1},
      {"empty REG_SZ data", u"e", kRegSz, {}, 0, 1, false, 0, 5 + 1},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> e = entryOf(c.name, c.type, c.data);
    ASSERT_EQ(e.size(), c.entrySize);
    EXPECT_EQ(getU16(e.data() + 2), c.shortLength);
    EXPECT_EQ(e[4], c.typeByte);
    ValueEntry v = parsed(e);
    EXPECT_EQ(v.type, c.type);
    EXPECT_EQ(v.dataWide, c.wide);
    EXPECT_EQ(v.dataBytes, c.storedBytes);
    EXPECT_EQ(v.name.str(), c.name);
    EXPECT_EQ(valueRawData(v), c.data);
    if (c.shortLength == 0xFFFF) {
      uint32_t longLength = getU32(e.data() + 5 + c.name.size() + (c.typeByte == 255 ? 4 : 0));
      EXPECT_EQ((longLength & 0x80000000u) != 0, c.wide);
      EXPECT_EQ(longLength & 0x7FFFFFFFu, c.storedBytes);
    }
  }
}

TEST(ValueEntryTest, NarrowStringsStoreTheLowByteOfEachCharacter) {
  // Characters 0x80..0xFF are stored as themselves, whatever the machine's code page.
  std::u16string latin;
  for (char16_t c = 0x80; c <= 0xFF; c++) latin.push_back(c);
  std::vector<uint8_t> e = entryOf(u"l", kRegSz, utf16(latin));
  ValueEntry v = parsed(e);
  ASSERT_FALSE(v.dataWide);
  ASSERT_EQ(v.dataBytes, latin.size() + 1);
  for (size_t i = 0; i < latin.size(); i++) EXPECT_EQ(v.data[i], uint8_t(latin[i]));
}

TEST(ValueEntryTest, NamesAreNarrowOrWideByTheirCharacters) {
  std::vector<uint8_t> a = entryOf(u"caf\u00e9", kRegDword, {1, 0, 0, 0});
  ValueEntry narrow = parsed(a);
  EXPECT_FALSE(narrow.name.wide);
  EXPECT_EQ(narrow.rawNameLength, 4);
  std::vector<uint8_t> b = entryOf(u"\u0416x", kRegDword, {1, 0, 0, 0});
  ValueEntry wide = parsed(b);
  EXPECT_TRUE(wide.name.wide);
  EXPECT_EQ(wide.rawNameLength, 0x8002);
  EXPECT_EQ(wide.name.str(), u"\u0416x");
  std::vector<uint8_t> c = entryOf(u"", kRegSz, utf16(u"x"));
  EXPECT_EQ(parsed(c).rawNameLength, 0);
}

TEST(ValueEntryTest, RandomValuesComeBackExactly) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; round++) {
    uint32_t type = rng() % 14;
    if (type == 13) type = 0x20 + rng() % 0x1000;
    size_t n = rng() % 3 == 0 ? rng() % 70000 : rng() % 40;
    std::vector<uint8_t> data(n);
    int mode = rng() % 3;  // 0: random bytes, 1: Latin-1 text, 2: Latin-1 and one wide char
    for (size_t i = 0; i < n; i++) data[i] = (mode == 0 || i % 2 == 0) ? uint8_t(rng()) : 0;
    if (mode == 2 && n >= 2) data[1] = 0x4E;
    std::u16string name;
    for (size_t i = rng() % 12; i > 0; i--) name.push_back(char16_t(rng() % 3 ? 'a' + rng() % 26 : rng()));
    std::vector<uint8_t> e = entryOf(name, type, data);
    ValueEntry v = parsed(e);
    ASSERT_EQ(v.type, type);
    ASSERT_EQ(v.name.str(), name);
    ASSERT_EQ(valueRawData(v), data) << "type " << type << " size " << n;
  }
}

TEST(ValueEntryTest, EveryTruncationFailsToParseWithoutReadingPastTheEnd) {
  std::vector<std::vector<uint8_t>> entries = {
      entryOf(u"Name", kRegSz, utf16(u"value")),
      entryOf(u"\u4e00", kRegSz, utf16(u"\u4e01")),
      entryOf(u"t", 0x20, {1, 2, 3}),
      entryOf(u"big", kRegBinary, std::vector<uint8_t>(65501, 1)),
  };
  for (const std::vector<uint8_t>& e : entries) {
    for (size_t cut = 0; cut < e.size(); cut++) {
      // A fresh allocation of exactly `cut` bytes, so that a read past it is caught.
      std::vector<uint8_t> part(e.begin(), e.begin() + long(cut));
      ValueEntry v;
      ASSERT_FALSE(parseValueEntry(part.data(), part.size(), &v)) << "cut at " << cut;
      if (cut == 4096) cut = e.size() - 10;  // the long data in between says nothing new
    }
  }
}

TEST(ValueEntryTest, LegacyCrcEntriesParseWithTheirUnderlyingType) {
  std::vector<uint8_t> e = {3, 0, 4, 0, 0x81, 'a', 'b', 'c', 0x78, 0x56, 0x34, 0x12};
  ValueEntry v = parsed(e);
  EXPECT_TRUE(v.legacyCrc);
  EXPECT_EQ(v.type, kRegSz);
  EXPECT_EQ(v.dataBytes, 4u);
  EXPECT_EQ(getU32(v.data), 0x12345678u);
}

// A snapshot file in a temporary folder holding value tables.
class ValueTableFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_ / "values.snp";
    ASSERT_TRUE(writer_.create(path_));
  }
  uint32_t append(const std::vector<uint8_t>& entries) {
    return writer_.appendTable(entries.data(), entries.size());
  }
  void reopen() {
    SnapshotInfo info;
    ASSERT_TRUE(writer_.finish(&info));
    writer_.close();
    ASSERT_TRUE(reader_.open(path_, &info));
  }
  std::vector<Item> items(ValueListReader* r, uint32_t offset) {
    std::vector<Item> out;
    EXPECT_TRUE(r->open(&reader_, offset));
    Item it;
    while (r->next(&it)) out.push_back(it);
    return out;
  }

  testing_support::TempFolder folder_;  // outlives the snapshot files inside it
  std::string path_;
  SnapshotFile writer_;
  SnapshotFile reader_;
};

TEST_F(ValueTableFile, ReaderStepsOverEveryFormAndComparesByData) {
  std::vector<uint8_t> a, b;
  struct V {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> da, db;  // the data in table a and in table b
  };
  const std::vector<V> values = {
      {u"", kRegSz, utf16(u"same"), utf16(u"same")},
      {u"Big", kRegBinary, std::vector<uint8_t>(70000, 5), std::vector<uint8_t>(70000, 5)},
      {u"Changed", kRegDword, {1, 0, 0, 0}, {2, 0, 0, 0}},
      {u"Form", kRegSz, utf16(u"x\u0100"), utf16(u"x\u00ff")},
      {u"LongType", 0x20, {9}, {9}},
      {u"Wide\u4e00", kRegMultiSz, utf16(u"\u4e00"), utf16(u"\u4e00")},
  };
  for (const V& v : values) {
    appendValueEntry(&a, v.name, v.type, v.da);
    appendValueEntry(&b, v.name, v.type, v.db);
  }
  // A long type that changed while everything else stayed.
  appendValueEntry(&a, u"ZType", 0x21, {7});
  appendValueEntry(&b, u"ZType", 0x22, {7});
  uint32_t offA = append(a), offB = append(b);
  reopen();
  ValueListReader ra, rb;
  std::vector<Item> ia = items(&ra, offA), ib = items(&rb, offB);
  ASSERT_EQ(ia.size(), values.size() + 1);
  ASSERT_EQ(ib.size(), ia.size());
  const bool expectDiffers[] = {false, false, true, true, false, false, true};
  for (size_t i = 0; i < ia.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ra.order(ia[i], ib[i]), 0);
    EXPECT_EQ(ra.differs(ia[i], ib[i]), expectDiffers[i]);
    if (i > 0) {
      EXPECT_LT(ra.order(ia[i - 1], ia[i]), 0);
    }
  }
}

TEST_F(ValueTableFile, TruncatedLongEntryStopsAtTheBlockEnd) {
  std::vector<uint8_t> t = entryOf(u"a", kRegSz, utf16(u"ok"));
  // A long entry that claims more data than the block holds, and a tolerant step that still
  // runs past it: the reader stops after the first entry.
  std::vector<uint8_t> bad = {1, 0, 0xFF, 0xFF, 3, 'b', 0x00, 0x00, 0x10, 0x00, 1, 2, 3};
  t.insert(t.end(), bad.begin(), bad.end());
  uint32_t off = append(t);
  reopen();
  ValueListReader r;
  std::vector<Item> got = items(&r, off);
  ASSERT_EQ(got.size(), 1u);
  ValueEntry v;
  EXPECT_TRUE(parseValueEntry(got[0].p, got[0].size, &v));
}

TEST_F(ValueTableFile, TolerantStepSkipsAnEntryWhoseLongLengthIsWrong) {
  // Long form whose 32-bit length is garbage, followed by exactly 65,000 data bytes: the
  // tolerant step (5 + name + 65,000) lands on the next entry.
  std::vector<uint8_t> t = {1, 0, 0xFF, 0xFF, 3, 'a'};
  t.resize(t.size() + 65000, 0x11);
  appendValueEntry(&t, u"b", kRegDword, {4, 0, 0, 0});
  uint32_t off = append(t);
  reopen();
  ValueListReader r;
  std::vector<Item> got = items(&r, off);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].size, 5u + 1 + 65000);
  ValueEntry v;
  EXPECT_FALSE(parseValueEntry(got[0].p, got[0].size, &v));
  ASSERT_TRUE(parseValueEntry(got[1].p, got[1].size, &v));
  EXPECT_EQ(v.name.str(), u"b");
  // Unparseable items compare by their bytes.
  EXPECT_FALSE(r.differs(got[0], got[0]));
  EXPECT_TRUE(r.differs(got[0], got[1]));
}

}  // namespace
}  // namespace keldrun
