// The readers of registry text on their own: what a hive file's keys and value lines are, what
// statements a registry editor file makes, and the root names and text forms both rely on.
#include "platform/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::utf16;
using testing_support::utf16File;

struct FoundKey {
  std::u16string path;
  std::string lines;  // the text of the key's value lines
  bool link;
  bool operator==(const FoundKey& o) const {
    return path == o.path && lines == o.lines && link == o.link;
  }
};

std::ostream& operator<<(std::ostream& out, const FoundKey& k) {
  return out << "[" << toUtf8(k.path) << "] link=" << k.link << " lines=" << k.lines;
}

std::vector<FoundKey> keysOf(const std::string& text, std::u16string* relativeTo = nullptr) {
  HiveReader reader(text);
  EXPECT_FALSE(reader.keyLineSeen());
  std::vector<FoundKey> out;
  HiveReader::Key key;
  while (reader.next(&key)) {
    EXPECT_TRUE(reader.keyLineSeen());
    EXPECT_LE(key.valuesBegin, key.valuesEnd);
    EXPECT_LE(key.valuesEnd, text.size());
    out.push_back({key.path, text.substr(key.valuesBegin, key.valuesEnd - key.valuesBegin),
                   key.link});
  }
  if (relativeTo) *relativeTo = reader.relativeTo();
  return out;
}

TEST(HiveReaderTest, FindsKeysTheirValueLinesAndLinks) {
  const std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to REGISTRY\\\\Old\n"
      ";; All keys relative to REGISTRY\\\\User\\\\S-1\n"
      "#arch=win64\n"
      "\n"
      "[Software\\\\A] 1\n"
      "\"x\"=dword:00000001\n"
      "#link\n"
      ";; All keys relative to REGISTRY\\\\Late\n"
      "[Broken 1\n"
      "\"lost\"=\"y\"\n"
      "#link\n"
      "[Software\\\\B\\\\C\\] d] 2\r\n"
      "@=\"v\"";
  std::u16string relativeTo;
  std::vector<FoundKey> keys = keysOf(text, &relativeTo);
  const std::vector<FoundKey> expect = {
      {u"Software\\A", "\"x\"=dword:00000001\n#link\n;; All keys relative to REGISTRY\\\\Late\n",
       true},
      {u"Software\\B\\C] d", "@=\"v\"", false},
  };
  EXPECT_EQ(keys, expect);
  // The last such line before the first key line names the base; later ones are value lines.
  EXPECT_EQ(relativeTo, u"REGISTRY\\User\\S-1");
}

TEST(HiveReaderTest, BaseIsKnownAtTheFirstKeyLineReadableOrNot) {
  struct Case {
    const char* text;
    const char16_t* relativeTo;
    bool keyLineSeen;
    size_t keys;
  } cases[] = {
      {"WINE REGISTRY Version 2\n", u"", false, 0},
      {"WINE REGISTRY Version 2\n;; All keys relative to M\n", u"M", false, 0},
      {"WINE REGISTRY Version 2\n[bad\n;; All keys relative to M\n[ok]\n", u"", true, 1},
      {"WINE REGISTRY Version 2\n[bad\n", u"", true, 0},
      // The magic line is never read as a key line.
      {"[x]\n[y]\n", u"", true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    HiveReader reader(text);
    HiveReader::Key key;
    size_t keys = 0;
    while (reader.next(&key)) keys++;
    EXPECT_EQ(keys, c.keys);
    EXPECT_EQ(reader.keyLineSeen(), c.keyLineSeen);
    EXPECT_EQ(reader.relativeTo(), c.relativeTo);
  }
}

TEST(HiveReaderTest, RecognisesTheFirstLine) {
  struct Case {
    const char* text;
    bool hive;
  } cases[] = {
      {"WINE REGISTRY Version 2\n", true},
      {"WINE REGISTRY Version 2", true},
      {"WINE REGISTRY Version 1\n", false},
      {"REGEDIT4\n", false},
      {"", false},
      {" WINE REGISTRY Version 2\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HiveReader::isHive(c.text), c.hive) << c.text;
}

TEST(HiveReaderTest, DecodesValueLinesInTheirOrder) {
  const std::string before = "\"outside\"=\"before\"\n";
  const std::string lines =
      "\"a\"=dword:00000001\n"
      "#time=1d\n"
      "\"bad\"=dword:zz\n"
      "\"A\"=hex:01,02,\\\n"
      "  03\n"
      "@=str(2):\"%x%\"\n"
      "\"a\"=\"second\"\n";
  const std::string after = "\"outside\"=\"after\"\n";
  std::string text = before + lines + after;
  std::vector<RegValue> values{RegValue()};  // what was there before is replaced
  decodeHiveValues(text, before.size(), before.size() + lines.size(), &values);
  ASSERT_EQ(values.size(), 4u);
  struct Expect {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
  } expect[] = {
      {u"a", 4, {1, 0, 0, 0}},
      {u"A", 3, {1, 2, 3}},
      {u"", 2, utf16(u"%x%")},
      {u"a", 1, utf16(u"second")},
  };
  for (size_t i = 0; i < values.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(values[i].name, expect[i].name);
    EXPECT_EQ(values[i].type, expect[i].type);
    EXPECT_EQ(values[i].data, expect[i].data);
  }
}

// Writes each statement as one line of text.
class RecordingSink : public RegFileSink {
 public:
  bool openKey(int hive, const std::u16string& path) override {
    log.push_back("open " + std::to_string(hive) + " " + toUtf8(path));
    return path != u"No";
  }
  void deleteKey(int hive, const std::u16string& path) override {
    log.push_back("delete key " + std::to_string(hive) + " " + toUtf8(path));
  }
  void setValue(const RegValue& value) override {
    std::string line = "set " + toUtf8(value.name) + " " + std::to_string(value.type) + ":";
    for (uint8_t b : value.data) line += " " + std::to_string(b);
    log.push_back(line);
  }
  void deleteValue(const std::u16string& name) override {
    log.push_back("delete value " + toUtf8(name));
  }
  std::vector<std::string> log;
};

TEST(RegFileReaderTest, StatementsReachTheSinkInOrder) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"\"before\"=\"no key yet\"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
      u"\"x\"=\"1\"\r\n"
      u"\"y\"=-\r\n"
      u"[-HKCU\\Software\\B]\r\n"
      u"\"after\"=\"deleted key\"\r\n"
      u"[HKLM]\r\n"
      u"@=dword:00000002\r\n";
  RecordingSink sink;
  std::string error;
  ASSERT_TRUE(readRegFile(utf16File(text), &sink, &error)) << error;
  const std::vector<std::string> expect = {
      "open 2 Software\\A", "set x 1: 49 0 0 0", "delete value y", "delete key 1 Software\\B",
      "open 2 ",           "set  4: 2 0 0 0",
  };
  EXPECT_EQ(sink.log, expect);
}

TEST(RegFileReaderTest, StopsWhereTheSinkCannotCreateAKey) {
  std::string text =
      "REGEDIT4\n"
      "[HKLM\\Yes]\n"
      "\"h\"=hex:01,\\\n"
      "  02\n"
      "[HKLM\\No]\n"
      "\"z\"=\"never\"\n";
  RecordingSink sink;
  std::string error;
  EXPECT_FALSE(readRegFile(text, &sink, &error));
  EXPECT_EQ(error, "line 5: key cannot be created");
  const std::vector<std::string> expect = {"open 2 Yes", "set h 3: 1 2", "open 2 No"};
  EXPECT_EQ(sink.log, expect);
}

TEST(RegistryTextTest, RootNamesLongShortAnyCase) {
  struct Case {
    const char16_t* name;
    int hive;
  } cases[] = {
      {u"HKEY_CLASSES_ROOT", kHiveClassesRoot},    {u"HKCR", kHiveClassesRoot},
      {u"hkey_current_user", kHiveCurrentUser},    {u"HkCu", kHiveCurrentUser},
      {u"HKEY_LOCAL_MACHINE", kHiveLocalMachine},  {u"hklm", kHiveLocalMachine},
      {u"HKEY_USERS", kHiveUsers},                 {u"HKU", kHiveUsers},
      {u"HKEY_CURRENT_CONFIG", kHiveCurrentConfig}, {u"HKCC", kHiveCurrentConfig},
      {u"HKEY_LOCAL", -1},                         {u"HKLM ", -1},
      {u"", -1},                                   {u"HKEY_DYN_DATA", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(hiveIndexOfRegName(c.name), c.hive) << toUtf8(c.name);
}

TEST(RegistryTextTest, DecodesEachTextForm) {
  struct Case {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {std::string("\xFF\xFE" "A\0\x00\x4e", 6), u"A\u4e00"},
      {std::string("\xFF\xFE" "A\0B", 5), u"A"},  // an odd last byte is dropped
      {"\xEF\xBB\xBFx\xE4\xB8\x80", u"x\u4e00"},
      {"REGEDIT4\r\n\"\xe9\"", u"REGEDIT4\r\n\"\u00e9\""},
      {"Windows Registry Editor Version 5.00\n\xC3\xA9",
       u"Windows Registry Editor Version 5.00\n\u00e9"},
      {"x\xff", u"x\xDCFF"},
      {"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeRegText(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace keldrun
