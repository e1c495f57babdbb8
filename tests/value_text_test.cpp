// Registry values as text: names, types, display and search texts, and .reg lines that read
// back through the registry file loader to the same value.
#include "engine/value_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/memory_registry.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::utf16;
using testing_support::utf16File;

// Keeps the entry bytes alive with the parsed entry pointing into them.
struct Entry {
  std::vector<uint8_t> bytes;
  ValueEntry v;
  Entry(const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) {
    appendValueEntry(&bytes, name, type, data);
    EXPECT_TRUE(parseValueEntry(bytes.data(), bytes.size(), &v));
  }
  explicit Entry(std::vector<uint8_t> raw) : bytes(std::move(raw)) {
    EXPECT_TRUE(parseValueEntry(bytes.data(), bytes.size(), &v));
  }
};

std::string u8(const std::u16string& s) { return toUtf8(s); }

TEST(ValueTextTest, NamesAndTypeNames) {
  EXPECT_EQ(u8(valueName(Entry(u"", kRegSz, utf16(u"x")).v)), "(Default)");
  EXPECT_EQ(u8(valueName(Entry(u"Na\u4e00me", kRegSz, utf16(u"x")).v)), u8(u"Na\u4e00me"));
  const std::pair<uint32_t, const char*> types[] = {
      {0, "REG_NONE"},
      {1, "REG_SZ"},
      {2, "REG_EXPAND_SZ"},
      {3, "REG_BINARY"},
      {4, "REG_DWORD"},
      {5, "REG_DWORD_BIG_ENDIAN"},
      {6, "REG_LINK"},
      {7, "REG_MULTI_SZ"},
      {8, "REG_RESOURCE_LIST"},
      {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
      {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
      {11, "REG_QWORD"},
      {12, "0x0000000c"},
      {0x20, "0x00000020"},
      {0xFFFFFFFF, "0xffffffff"},
  };
  for (const auto& t : types) EXPECT_EQ(u8(typeName(Entry(u"n", t.first, {1}).v)), t.second);
  // A legacy CRC-only entry takes the name of its underlying type.
  Entry legacy(std::vector<uint8_t>{1, 0, 4, 0, 0x84, 'n', 0xEF, 0xBE, 0xAD, 0xDE});
  EXPECT_EQ(u8(typeName(legacy.v)), "REG_DWORD");
  EXPECT_EQ(u8(displayText(legacy.v)), "(crc=DEADBEEF)");
  EXPECT_EQ(u8(searchText(legacy.v)), "");
  EXPECT_EQ(u8(regValueLine(legacy.v)), "");
}

struct DisplayCase {
  const char* what;
  uint32_t type;
  std::vector<uint8_t> data;
  const char* display;
  const char* search;
};

TEST(ValueTextTest, DisplayAndSearchTexts) {
  std::vector<uint8_t> forty(40);
  for (size_t i = 0; i < forty.size(); i++) forty[i] = uint8_t(i);
  const DisplayCase cases[] = {
      {"REG_NONE shows nothing", kRegNone, {1, 2}, "", ""},
      {"REG_SZ stops at its terminator", kRegSz, utf16(std::u16string(u"ab\0cd", 5)), "ab", "ab"},
      {"REG_EXPAND_SZ", kRegExpandSz, utf16(u"%PATH%"), "%PATH%", "%PATH%"},
      {"REG_DWORD of 1", kRegDword, {1, 0, 0, 0}, "0x00000001 (1)", "0x00000001 (1)"},
      {"REG_DWORD of all bits", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}, "0xffffffff (4294967295)",
       "0xffffffff (4294967295)"},
      {"REG_DWORD_BIG_ENDIAN 00 00 00 01", kRegDwordBigEndian, {0, 0, 0, 1}, "0x00000001 (1)",
       "0x00000001 (1)"},
      {"a short REG_DWORD shows its bytes", kRegDword, {7, 8}, "07 08 ", ""},
      {"REG_MULTI_SZ a, b", kRegMultiSz, utf16(std::u16string(u"a\0b\0", 4)), "a b ", "a b "},
      {"empty REG_MULTI_SZ", kRegMultiSz, {}, "", ""},
      {"REG_QWORD shows 8 pairs", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8},
       "01 02 03 04 05 06 07 08 ", ""},
      {"REG_BINARY", kRegBinary, {0xde, 0xad}, "de ad ", ""},
      {"REG_LINK shows its UTF-16 target", kRegLink, utf16(u"\\Registry\\X", false),
       "\\Registry\\X", ""},
      {"type 0x20 shows bytes", 0x20, {0x0a}, "0a ", ""},
  };
  for (const DisplayCase& c : cases) {
    SCOPED_TRACE(c.what);
    Entry e(u"n", c.type, c.data);
    EXPECT_EQ(u8(displayText(e.v)), c.display);
    EXPECT_EQ(u8(searchText(e.v)), c.search);
  }
}

TEST(ValueTextTest, DisplayLimitsCutWithTheFullCount) {
  std::u16string text;
  for (int i = 0; i < 300; i++) text.push_back(char16_t('a' + i % 26));
  const std::string whole = u8(text);
  const std::string tenAa = "aa aa aa aa aa aa aa aa aa aa ";
  struct Case {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    DisplayLimits limits;
    std::string display;
  };
  const Case cases[] = {
      {"a string under the string limit", kRegSz, utf16(text), {4, 100}, whole.substr(0, 100) + " ... (301)"},
      {"an expandable string likewise", kRegExpandSz, utf16(text), {kUnlimited, 7}, whole.substr(0, 7) + " ... (301)"},
      {"a string at a limit of its full count", kRegSz, utf16(text), {0, 301}, whole},
      {"a string at a limit of one less", kRegSz, utf16(text), {0, 300}, whole + " ... (301)"},
      {"a string under a limit of 0", kRegSz, utf16(text), {kUnlimited, 0}, " ... (301)"},
      {"a list under the string limit", kRegMultiSz, utf16(std::u16string(u"a\0b\0", 4)), {0, 2}, "a ... (5)"},
      {"binary under the binary limit", kRegBinary, std::vector<uint8_t>(10, 0xAA), {4, 100},
       "aa aa aa aa  ... (10)"},
      {"binary at a limit of its size", kRegBinary, std::vector<uint8_t>(10, 0xAA), {10, 0}, tenAa},
      {"other types count as binary", 0x20, std::vector<uint8_t>(10, 0xAA), {1, kUnlimited}, "aa  ... (10)"},
      {"a short DWORD under the binary limit", kRegDword, {7, 8}, {1, 0}, "07  ... (2)"},
      {"a DWORD is never cut", kRegDword, {1, 0, 0, 0}, {0, 0}, "0x00000001 (1)"},
      {"a QWORD is never cut", kRegQword, std::vector<uint8_t>(8, 0x01), {0, 0}, "01 01 01 01 01 01 01 01 "},
      {"no limits by default", kRegSz, utf16(text), DisplayLimits(), whole},
      {"binary whole by default", kRegBinary, std::vector<uint8_t>(10, 0xAA), DisplayLimits(), tenAa},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Entry e(u"n", c.type, c.data);
    EXPECT_EQ(u8(displayText(e.v, c.limits)), c.display);
    std::u16string appended = u"row: ";
    appendDisplayText(&appended, e.v, c.limits);
    EXPECT_EQ(u8(appended), "row: " + c.display);
  }
  // Without limits given, nothing is cut; the search text never is.
  Entry sz(u"s", kRegSz, utf16(text));
  EXPECT_EQ(u8(displayText(sz.v)), whole);
  EXPECT_EQ(u8(searchText(sz.v)), whole);
}

TEST(ValueTextTest, RegNamePartEscapesQuotesAndBackslashes) {
  EXPECT_EQ(u8(regNamePart(Entry(u"", kRegSz, utf16(u"")).v, false)), "@=");
  EXPECT_EQ(u8(regNamePart(Entry(u"a\"b\\c", kRegSz, utf16(u"")).v, false)), "\"a\\\"b\\\\c\"=");
  EXPECT_EQ(u8(regNamePart(Entry(u"x", kRegSz, utf16(u"")).v, true)), "\"x\"=-\r\n");
}

struct LineCase {
  const char* what;
  std::u16string name;
  uint32_t type;
  std::vector<uint8_t> data;
  const char* line;
};

TEST(ValueTextTest, RegValueLines) {
  const LineCase cases[] = {
      {"REG_DWORD", u"d", kRegDword, {1, 0, 0, 0}, "\"d\"=dword:00000001\r\n"},
      {"REG_SZ quoted and escaped", u"", kRegSz, utf16(u"C:\\\"x\""),
       "@=\"C:\\\\\\\"x\\\"\"\r\n"},
      {"REG_NONE without data", u"n", kRegNone, {}, "\"n\"=hex(0):\r\n"},
      {"REG_NONE keeps its data", u"n", kRegNone, {1, 2}, "\"n\"=hex(0):01,02\r\n"},
      {"REG_EXPAND_SZ as UTF-16", u"e", kRegExpandSz, utf16(u"%a%"),
       "\"e\"=hex(2):25,00,61,00,25,00,00,00\r\n"},
      {"REG_MULTI_SZ as UTF-16", u"m", kRegMultiSz, utf16(std::u16string(u"a\0\0", 3), false),
       "\"m\"=hex(7):61,00,00,00,00,00\r\n"},
      {"type 0x20", u"t", 0x20, {0xff}, "\"t\"=hex(20):ff\r\n"},
      {"REG_QWORD", u"q", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0},
       "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"},
      {"REG_LINK is left out", u"l", kRegLink, utf16(u"x"), ""},
      {"REG_DWORD_BIG_ENDIAN keeps its type", u"b", kRegDwordBigEndian, {0, 0, 0, 1},
       "\"b\"=hex(5):00,00,00,01\r\n"},
      {"a 3-byte REG_DWORD keeps its bytes", u"d", kRegDword, {1, 2, 3},
       "\"d\"=hex(4):01,02,03\r\n"},
      {"REG_SZ without terminator", u"s", kRegSz, utf16(u"ab", false),
       "\"s\"=hex(1):61,00,62,00\r\n"},
      {"REG_SZ holding a line break", u"s", kRegSz, utf16(u"a\nb"),
       "\"s\"=hex(1):61,00,0a,00,62,00,00,00\r\n"},
      {"empty REG_SZ", u"s", kRegSz, {}, "\"s\"=hex(1):\r\n"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(u8(regValueLine(Entry(c.name, c.type, c.data).v)), c.line);
  }
}

TEST(ValueTextTest, HexDumpBreaksAfterTheCommaThatReachesColumn80) {
  std::vector<uint8_t> data(40);
  for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(0x10 + i);
  // "1234567" quoted and "=" make a 10-character name part; with "hex:" the line starts at 14.
  std::string line = u8(regValueLine(Entry(u"1234567", kRegBinary, data).v));
  size_t brk = line.find("\\\r\n");
  ASSERT_NE(brk, std::string::npos);
  std::string first = line.substr(0, brk);
  EXPECT_EQ(first.size(), 80u);
  EXPECT_EQ(first.substr(first.size() - 3), "25,");  // the 22nd byte and its comma
  std::string rest = line.substr(brk + 3);
  EXPECT_EQ(rest.substr(0, 2), "  ");
  EXPECT_EQ(rest.find("\\"), std::string::npos);  // 18 bytes fit on one continuation line
  EXPECT_EQ(rest, "  26,27,28,29,2a,2b,2c,2d,2e,2f,30,31,32,33,34,35,36,37\r\n");

  // Every line of a long dump stays within 80 characters plus the backslash.
  std::string big = u8(regValueLine(Entry(u"b", kRegBinary, std::vector<uint8_t>(1000, 1)).v));
  size_t start = 0;
  while (start < big.size()) {
    size_t end = big.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 81u);
    start = end + 2;
  }
}

// Parses one exported line with the registry file loader and returns the value it sets.
bool readBack(const std::u16string& line, RegValue* out) {
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\T]\r\n";
  text += line;
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string error;
  if (!reg->applyReg(utf16File(text), &error)) {
    ADD_FAILURE() << error;
    return false;
  }
  std::unique_ptr<RegistryKey> root = reg->openHive(kHiveLocalMachine);
  std::unique_ptr<RegistryKey> key = root ? root->openSubKey(u"T") : nullptr;
  if (!key) return false;
  return key->enumValue(0, &out->name, &out->type, &out->data);
}

TEST(ValueTextTest, ExportedLinesReadBackToTheSameValue) {
  std::mt19937 rng(11);
  const uint32_t kTypes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 0x20, 0xFFFF0000};
  int checked = 0;
  for (int round = 0; round < 3000; round++) {
    uint32_t type = kTypes[rng() % (sizeof kTypes / sizeof kTypes[0])];
    size_t n = rng() % 4 == 0 ? rng() % 2000 : rng() % 24;
    if (type == kRegDword && rng() % 2) n = 4;
    std::vector<uint8_t> data(n);
    int mode = rng() % 3;  // 0: random bytes, 1: printable text, 2: text with wide characters
    for (size_t i = 0; i < n; i++) {
      if (mode == 0) {
        data[i] = uint8_t(rng());
      } else {
        data[i] = i % 2 ? (mode == 2 && rng() % 4 == 0 ? uint8_t(rng()) : 0)
                        : uint8_t(0x20 + rng() % 0x5F);
      }
    }
    if (mode != 0 && n >= 2 && rng() % 2) data[n - 1] = data[n - 2] = 0;
    std::u16string name;
    for (size_t i = rng() % 10; i > 0; i--) {
      const char16_t pool[] = u"ab\"\\= [];@\u00e9\u4e00";
      name.push_back(pool[rng() % (sizeof pool / sizeof pool[0] - 1)]);
    }
    Entry e(name, type, data);
    std::u16string line = regValueLine(e.v);
    ASSERT_FALSE(line.empty());
    RegValue back;
    ASSERT_TRUE(readBack(line, &back)) << u8(line);
    EXPECT_EQ(back.name, name) << u8(line);
    EXPECT_EQ(back.type, type) << u8(line);
    EXPECT_EQ(back.data, data) << u8(line);
    checked++;
  }
  EXPECT_EQ(checked, 3000);
}

}  // namespace
}  // namespace keldrun
