// The command line's output layer, in-process: the escapes of text and JSON over every UTF-16
// code unit, the Latin-1 snapshot names, the buffered writer on real files, and the files
// columns written without listColumns checked against it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/date_text.h"
#include "cli/item_columns.h"
#include "cli/output.h"
#include "cli/printers.h"
#include "engine/app_record.h"
#include "engine/file_entry.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"
#include "tests/json_reader.h"
#include "tests/test_support.h"
#include "views/list_columns.h"

namespace keldrun {
namespace {

using testing_support::JsonReader;
using testing_support::JsonValue;

std::string text(const std::u16string& s) { return printable(s); }

// True when the bytes hold something a terminal acts on: a C0 control, DEL, or a C1 control
// (U+0080..U+009F, C2 80..C2 9F in UTF-8), or a byte that is not UTF-8 at all.
bool holdsTerminalControl(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size(); i++) {
    unsigned char c = bytes[i];
    if (c < 0x20 || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < bytes.size() && (unsigned char)bytes[i + 1] <= 0x9F) return true;
  }
  return fromUtf8(bytes).find_first_of(u"\xDC80\xDC81\xDCFF") != std::u16string::npos;
}

// The columns of an item as the printers write them: through a row writer, here one that
// starts without room, so that every piece takes the writer's growing path.
std::string textOf(ItemColumns& columns, const Item& item, const char* separator, const char* first = nullptr) {
  std::string out;
  {
    RowWriter w(&out, 0);
    columns.text(w, item, separator, first);
  }
  return out;
}

std::string jsonOf(ItemColumns& columns, const Item& item) {
  std::string out;
  {
    RowWriter w(&out, 0);
    columns.json(w, item);
  }
  return out;
}

TEST(CliOutput, TextEscapesEveryControlCharacterAndNothingElse) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"plain name.txt", "plain name.txt"},
      {u"a\tb\nc\rd", "a\\tb\\nc\\rd"},
      {u"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
      {u"\x1b[2J", "\\x1b[2J"},
      {u"del\x7f c1\x85\x9b", "del\\x7f c1\\x85\\x9b"},
      {u"Stra\xdf" u"e", "Stra\xc3\x9f" "e"},
      {u"HKEY\\Software\\x", "HKEY\\Software\\x"},          // backslashes stay as they are
      {u"raw\xDCFF\xDC9B", "raw\\xff\\x9b"},                  // bytes that were not UTF-8
      {u"lone\xD800 and \xDC00", "lone\\ud800 and \\udc00"},
      {u"line\x2028para\x2029", "line\\u2028para\\u2029"},
      {u"pair\xD83D\xDE00", "pair\xF0\x9F\x98\x80"},
      {std::u16string(1, u'\0'), "\\x00"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(c.in), c.out) << c.out;

  // Over every code unit: a control never comes through, and what is not a control does.
  for (uint32_t u = 0; u <= 0xFFFF; u++) {
    std::u16string one(1, char16_t(u));
    std::string out = text(one);
    ASSERT_FALSE(holdsTerminalControl(out)) << std::hex << u;
    ASSERT_EQ(out.find('\n'), std::string::npos);
    ASSERT_EQ(out.find('\t'), std::string::npos);
    bool escaped = out.size() > 1 && out[0] == '\\';
    bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F) || (u >= 0xD800 && u <= 0xDFFF) || u == 0x2028 || u == 0x2029;
    ASSERT_EQ(escaped, control) << std::hex << u << " gave " << out;
    if (!control) {
      ASSERT_EQ(out, toUtf8(one)) << std::hex << u;
    }
  }
}

TEST(CliOutput, JsonStringsParseBackToTheSameCodeUnits) {
  // Every code unit alone and between others, and every surrogate pair form.
  for (uint32_t u = 0; u <= 0xFFFF; u++) {
    std::u16string s = u"a";
    s.push_back(char16_t(u));
    s += u"\"\\z";
    std::string json = jsonString(s);
    JsonValue v;
    size_t where = 0;
    ASSERT_TRUE(JsonReader::parse(json, &v, &where)) << std::hex << u << " at " << where << ": " << json;
    ASSERT_EQ(v.string, s) << std::hex << u;
    ASSERT_FALSE(holdsTerminalControl(json)) << std::hex << u;
  }
  std::u16string pair = u"\xD83D\xDE00\xDBFF\xDFFF";
  JsonValue v;
  ASSERT_TRUE(JsonReader::parse(jsonString(pair), &v));
  EXPECT_EQ(v.string, pair);

  // Narrow and wide stored names write alike, and like the UTF-16 text.
  std::vector<uint8_t> narrow = {'a', 0x1b, 0xdf, '"'}, wide = {'a', 0, 0x1b, 0, 0xdf, 0, '"', 0};
  StoredText n{narrow.data(), 4, false}, w{wide.data(), 4, true};
  std::string fromNarrow, fromWide, fromText;
  appendJson(&fromNarrow, n);
  appendJson(&fromWide, w);
  appendText(&fromText, n);
  EXPECT_EQ(fromNarrow, fromWide);
  EXPECT_EQ(fromNarrow, jsonString(std::u16string(u"a\x1b\xdf\"")));
  EXPECT_EQ(fromText, "a\\x1b\xc3\x9f\"");
  // Program texts are Latin-1.
  EXPECT_EQ(jsonString(std::string("Stra\xdf" "e")), "\"Stra\xc3\x9f" "e\"");
}

// Stored names reach the output narrow or wide, short or longer than the writers' stack block:
// every byte value inside a narrow name, and long names of every kind of character, must come
// out as the escape of their UTF-16 text, character by character.
TEST(CliOutput, StoredNamesOfEveryByteAndLengthEscapeAsTheirText) {
  for (uint32_t b = 0; b <= 0xFF; b++) {
    std::vector<uint8_t> narrow = {'a', uint8_t(b), 'z'}, wide = {'a', 0, uint8_t(b), 0, 'z', 0};
    StoredText n{narrow.data(), 3, false}, w{wide.data(), 3, true};
    std::u16string utf16 = {u'a', char16_t(b), u'z'};
    for (const StoredText& t : {n, w}) {
      std::string asText, asJson;
      appendText(&asText, t);
      appendJson(&asJson, t);
      ASSERT_EQ(asText, text(utf16)) << std::hex << b << " wide " << t.wide;
      ASSERT_EQ(asJson, jsonString(utf16)) << std::hex << b << " wide " << t.wide;
    }
  }
  // Each piece alone, then many of them in one long name: the long name's escape is theirs in a row.
  const std::vector<std::u16string> pieces = {u"plain", u"\t", u"\x1b", u"\"q\\", u"\xdf", u"\x0414\x043e",
                                              u"\xD83D\xDE00", u"\xDC9B", u"\xD800", u"\x2028", u" "};
  std::u16string longName;
  std::string expectedText, expectedJson = "\"";
  for (size_t i = 0; i < 600; i++) {
    const std::u16string& piece = pieces[(i * 7) % pieces.size()];
    longName += piece;
    expectedText += text(piece);
    std::string json = jsonString(piece);
    expectedJson += json.substr(1, json.size() - 2);
  }
  expectedJson += '"';
  std::vector<uint8_t> bytes;
  appendChars(&bytes, longName.data(), longName.size(), true);
  StoredText stored{bytes.data(), longName.size(), true};
  std::string fromStored, fromStoredJson;
  appendText(&fromStored, stored);
  appendJson(&fromStoredJson, stored);
  EXPECT_EQ(text(longName), expectedText);
  EXPECT_EQ(fromStored, expectedText);
  EXPECT_EQ(jsonString(longName), expectedJson);
  EXPECT_EQ(fromStoredJson, expectedJson);
  // A long narrow name with nothing to escape is copied whole; one escape anywhere is still seen.
  std::string plain(1000, 'n');
  for (size_t at : {size_t(0), size_t(255), size_t(256), size_t(999)}) {
    std::string name = plain;
    name[at] = '\t';
    StoredText t{reinterpret_cast<const uint8_t*>(name.data()), name.size(), false};
    std::string out;
    appendText(&out, t);
    EXPECT_EQ(out, plain.substr(0, at) + "\\t" + plain.substr(at + 1)) << at;
  }
}

// Runs of printable ASCII are copied several units (or bytes) a step; one character that needs
// an escape, or is not ASCII, must still be seen wherever it falls: at every position of names
// of every length up to past two of the writers' stack blocks, narrow and wide, text and JSON.
// Space and tilde are the ends of the plain range; U+0141 and U+0120 carry a plain low byte.
TEST(CliOutput, OneCharacterToEscapeIsSeenAtEveryPositionOfAPlainName) {
  const std::u16string specials[] = {u"\x1f", u"\x1b", u"\t", u"\x7f", u"\x80", u"\x9f", u"\xa0", u"\xdf",
                                     u"\xff", u"\"", u"\\", u"\x0141", u"\x0120", u"\x2028",
                                     u"\xD83D\xDE00", u"\xDC9B", u"\xD800", u" ", u"~"};
  const std::string plain = "aZ0 ~!#%&'()*+,-./:;<=>?@[]^_`{|}9";  // no quote, no backslash
  std::vector<size_t> lengths;
  for (size_t n = 1; n <= 40; n++) lengths.push_back(n);
  for (size_t n = 80; n <= 92; n++) lengths.push_back(n);
  for (size_t n = 165; n <= 176; n++) lengths.push_back(n);
  for (const std::u16string& special : specials) {
    std::string specialJson = jsonString(special);
    specialJson = specialJson.substr(1, specialJson.size() - 2);
    bool narrowToo = special.size() == 1 && special[0] <= 0xFF;
    for (size_t n : lengths) {
      for (size_t at = 0; at + special.size() <= n; at++) {
        std::string before, after;
        for (size_t i = 0; i < at; i++) before += plain[i % plain.size()];
        for (size_t i = at + special.size(); i < n; i++) after += plain[i % plain.size()];
        std::u16string name = widen(before) + special + widen(after);
        std::string expectedText = before + text(special) + after;
        std::string expectedJson = '"' + before + specialJson + after + '"';
        ASSERT_EQ(text(name), expectedText) << n << " at " << at;
        ASSERT_EQ(jsonString(name), expectedJson) << n << " at " << at;
        std::vector<uint8_t> wide, narrow;
        appendChars(&wide, name.data(), name.size(), true);
        if (narrowToo) appendChars(&narrow, name.data(), name.size(), false);
        for (const std::vector<uint8_t>* bytes : {&wide, &narrow}) {
          if (bytes->empty()) continue;
          StoredText stored{bytes->data(), name.size(), bytes == &wide};
          std::string asText, asJson;
          appendText(&asText, stored);
          appendJson(&asJson, stored);
          ASSERT_EQ(asText, expectedText) << n << " at " << at << " wide " << stored.wide;
          ASSERT_EQ(asJson, expectedJson) << n << " at " << at << " wide " << stored.wide;
        }
      }
    }
  }
}

// The JSON printers of compare copy the start a node's path shares with an earlier path from
// that one's literal. Paths that share a start without being below it, go back up, cut a
// surrogate pair or an escape at the shared start, or share nothing must still come out as
// their own literals, in --json and in --jsonl.
TEST(CliOutput, ComparePathsComeOutAsTheirOwnLiteralsWhateverTheyShare) {
  std::u16string longName;
  for (int i = 0; i < 60; i++) longName += u"d\xe9j\xe0 \x0414 ";
  const std::vector<std::u16string> paths = {
      u"HKLM", u"HKLM\\Software", u"HKLM\\Software\\A\x1b", u"HKLM\\Software\\A\x1b\\deep\"q",
      u"HKLM\\Softwarez", u"HKLM\\Soft", u"HKLM\\Soft\\\xD83D", u"HKLM\\Soft\\\xD83D\xDE00x",
      u"", u"Other", u"HKLM\\Software", u"HKLM\\SoftXXXX\\y", u"HKLM\\Softwarf", u"HKLM\\Software",
      u"HKLM\\Software\\" + longName,
      u"HKLM\\Software\\" + longName + u"\\\x2028", u"HKLM\\Software\\" + longName.substr(0, 77), u"HKLM"};
  SnapshotInfo info;
  testing_support::TempFolder dir;
  for (OutputForm form : {OutputForm::kJson, OutputForm::kJsonLines}) {
    std::string path = dir / "out.json";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    {
      Output out(f);
      std::unique_ptr<ComparePrinter> printer = makeComparePrinter(form, &out, false);
      printer->begin({"a.snp", &info}, {"b.snp", &info});
      printer->beginSection(kSectionFiles);
      for (const std::u16string& p : paths) printer->node(p, u"n", 1, kModified, false);
      printer->endSection("");
      printer->end(true);
      EXPECT_TRUE(out.finish());
    }
    std::fclose(f);
    std::string written = testing_support::readText(path);
    size_t at = 0;
    for (const std::u16string& p : paths) {
      std::string field = "\"path\":" + jsonString(p) + ",";
      at = written.find(field, at);
      ASSERT_NE(at, std::string::npos) << "form " << int(form) << ": " << printable(p);
      at += field.size();
    }
  }
}

TEST(CliOutput, NumbersAreTheirDecimalDigits) {
  std::vector<uint64_t> numbers = {~uint64_t(0), ~uint64_t(0) - 1, 131444736000000000ull};
  for (uint64_t n = 0; n < 100000; n++) numbers.push_back(n);
  for (uint64_t p = 10; p < ~uint64_t(0) / 10; p *= 10) numbers.insert(numbers.end(), {p - 1, p, p + 1, p * 5 + 5});
  for (uint64_t n : numbers) {
    std::string out = "x";
    appendNumber(&out, n);
    ASSERT_EQ(out, "x" + std::to_string(n));
  }
}

TEST(CliOutput, SnapshotNamesInEveryScriptShowAsTheUtf8TheyAre) {
  struct {
    const char* label;
    std::string name, text, json;
  } cases[] = {
      {"latin-1", "Stra\xc3\x9f" "e \xc3\xbf", "Stra\xc3\x9f" "e \xc3\xbf", "\"Stra\xc3\x9f" "e \xc3\xbf\""},
      {"cyrillic", "\xd0\xa1\xd0\xbd\xd0\xb8\xd0\xbc\xd0\xbe\xd0\xba", "\xd0\xa1\xd0\xbd\xd0\xb8\xd0\xbc\xd0\xbe\xd0\xba",
       "\"\xd0\xa1\xd0\xbd\xd0\xb8\xd0\xbc\xd0\xbe\xd0\xba\""},
      {"cjk", "\xe5\xbf\xab\xe7\x85\xa7", "\xe5\xbf\xab\xe7\x85\xa7", "\"\xe5\xbf\xab\xe7\x85\xa7\""},
      {"emoji", "a \xf0\x9f\x98\x80", "a \xf0\x9f\x98\x80", "\"a \\ud83d\\ude00\""},
      {"control characters", "a\tb\x1b[2J\xc2\x85", "a\\tb\\x1b[2J\\x85", "\"a\\tb\\u001b[2J\\u0085\""},
  };
  for (const auto& c : cases) {
    std::string text, json;
    appendUtf8Text(&text, c.name);
    appendUtf8Json(&json, c.name);
    EXPECT_EQ(text, c.text) << c.label;
    EXPECT_EQ(json, c.json) << c.label;
  }
}

TEST(CliOutput, WriterDeliversEveryBlockAndReportsAFailedWrite) {
  testing_support::TempFolder dir;
  std::string path = dir / "out.txt";
  std::string expected;
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    Output out(f);
    for (int i = 0; i < 50000; i++) {  // about 1 MB: many blocks
      out.put("row ").number(uint64_t(i) * 1000003).put('\t').text(u"n\xe4me\n").put('\n');
      out.flushIfFull();
      expected += "row " + std::to_string(uint64_t(i) * 1000003) + "\tn\xc3\xa4me\\n\n";
    }
    out.number(0).number(~uint64_t(0));
    expected += "0" + std::to_string(~uint64_t(0));
    EXPECT_TRUE(out.finish());
    std::fclose(f);
  }
  EXPECT_EQ(testing_support::readText(path), expected);

  // A FILE that cannot be written (opened for reading): finish says so.
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    Output out(f);
    out.put(std::string(200000, 'x'));
    out.flushIfFull();
    out.put("end\n");
    EXPECT_FALSE(out.finish());
  }
  std::fclose(f);
  EXPECT_EQ(testing_support::readText(path), expected) << "nothing written over the file";
}

TEST(CliOutput, FilesColumnsMatchTheScreensColumnsAcrossMinutesAndDays) {
  // Times that walk across seconds, minute and day boundaries, back and forth, as the old and
  // new rows of a comparison do; 0 is "no time".
  std::vector<uint64_t> times = {0};
  const uint64_t base = fileTimeFromUnix(1700000000 - 1700000000 % 86400 - 30, 0);
  for (int i = 0; i < 400; i++) {
    times.push_back(base + uint64_t(i % 97) * 10000000ULL * 7 + uint64_t(i) * 1234567);
    times.push_back(base + 86400ULL * 10000000 * uint64_t(i % 5) + uint64_t(59 - i % 60) * 10000000);
  }
  times.push_back(fileTimeFromUnix(-5000000000LL, 0));  // before 1900
  ItemColumns columns(kSectionFiles);
  for (size_t i = 0; i < times.size(); i++) {
    std::u16string name = i % 3 ? u"file\x1b" + std::u16string(1, char16_t(0x100 + i)) : u"plain";
    std::vector<uint8_t> entry;
    appendFileEntry(&entry, name.data(), name.size(), times[i], uint64_t(i) * 999983);
    Item item{entry.data(), entry.size()};
    std::string expected;
    for (const std::u16string& c : listColumns(kSectionFiles, item)) expected += "  " + printable(c);
    std::string got = textOf(columns, item, "  ");
    ASSERT_EQ(got, expected) << i;

    std::string json = "{" + jsonOf(columns, item) + "}";
    JsonValue v;
    ASSERT_TRUE(JsonReader::parse(json, &v)) << json;
    EXPECT_EQ(v["name"].string, name);
    EXPECT_EQ(v["modified"].number, double(times[i]));
    EXPECT_EQ(v["modifiedText"].string, widen(fileTimeText(times[i])));
    ASSERT_EQ(v["columns"].items.size(), 3u);
    EXPECT_EQ(v["columns"].items[2].string, widen(fileTimeText(times[i])));
  }
}

// The registry rows are written straight into the output, one reused string per column; they
// must match the screens' columns, text and JSON, for every kind of value, one row after
// another (a long data text followed by a short one must not keep the long one's tail).
TEST(CliOutput, RegistryColumnsMatchTheScreensColumnsRowAfterRow) {
  struct Value {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  auto wide = [](const std::u16string& s, bool terminator) {
    std::vector<uint8_t> out;
    for (char16_t c : s) {
      out.push_back(uint8_t(c & 0xFF));
      out.push_back(uint8_t(c >> 8));
    }
    if (terminator) out.insert(out.end(), {0, 0});
    return out;
  };
  std::vector<Value> values = {
      {u"", kRegSz, wide(u"default data", true)},
      {u"long", kRegSz, wide(std::u16string(3000, u'x') + u"\x1b[31m", true)},
      {u"short \u03a9", kRegSz, wide(u"\u0416", true)},
      {u"expand", kRegExpandSz, wide(u"%PATH%;c:\\bin", true)},
      {u"multi", kRegMultiSz, wide(std::u16string(u"one\0two\0", 8), true)},
      {u"dword", kRegDword, {1, 2, 3, 4}},
      {u"short dword", kRegDword, {9}},
      {u"big endian", kRegDwordBigEndian, {1, 2, 3, 4}},
      {u"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
      {u"binary", kRegBinary, {0, 0xFF, 0x10}},
      {u"none", kRegNone, {}},
      {u"link", kRegLink, wide(u"\\Registry\\Machine", false)},
      {u"odd type", 0x12345, {7, 8}},
      {u"tab\tname\n", kRegSz, wide(u"line\nbreak", true)},
      {std::u16string(1, char16_t(0xD800)) + u"lone", kRegSz, wide(u"\x7f", true)},
  };
  ItemColumns columns(kSectionRegistry);
  for (int round = 0; round < 2; round++) {
    for (const Value& value : values) {
      SCOPED_TRACE(printable(value.name));
      std::vector<uint8_t> entry;
      appendValueEntry(&entry, value.name, value.type, value.data);
      Item item{entry.data(), entry.size()};
      std::vector<std::u16string> screen = listColumns(kSectionRegistry, item);
      ASSERT_EQ(screen.size(), 3u);
      std::string expected;
      for (const std::u16string& c : screen) expected += " | " + printable(c);
      std::string got = textOf(columns, item, " | ");
      EXPECT_EQ(got, expected);

      std::string json = "{" + jsonOf(columns, item) + "}";
      JsonValue v;
      ASSERT_TRUE(JsonReader::parse(json, &v)) << json;
      EXPECT_EQ(v["name"].string, screen[0]);
      EXPECT_EQ(v["type"].number, double(value.type));
      EXPECT_EQ(v["typeText"].string, screen[1]);
      EXPECT_EQ(v["data"].string, screen[2]);
      ASSERT_EQ(v["columns"].items.size(), 3u);
      for (size_t i = 0; i < 3; i++) EXPECT_EQ(v["columns"].items[i].string, screen[i]);
    }
  }
}

// Application records are written straight into the output from one reused record; row after
// row (long texts followed by short ones, a record without a file, every status and start
// type) they must match the screens' columns, text and JSON.
TEST(CliOutput, AppColumnsMatchTheScreensColumnsRowAfterRow) {
  std::vector<AppRecord> records;
  for (int i = 0; i < 24; i++) {
    AppRecord r;
    r.kind = i % 2 ? kAppService : kAppStartup;
    r.startType = uint8_t(i % 7);
    r.state = i % 3 ? kStateRunning : kStateStopped;
    r.name = i % 4 ? u"name\x1b" + std::u16string(size_t(i * 37 % 200), u'n') : u"";
    r.serviceName = u"svc";
    r.version = i % 5 ? u"1.2." + widen(std::to_string(i)) : u"";
    r.company = i % 2 ? std::u16string(size_t(300 - i * 10), u'c') + u"\t\xe9" : u"Acme";
    r.description = u"ignored";
    r.file = i % 3 == 2 ? u"" : u"c:\\prog\\app" + widen(std::to_string(i)) + u".exe";
    r.size = uint64_t(i) * 1234567891ULL;
    r.modified = i % 6 ? fileTimeFromUnix(1700000000 + i * 3571, 0) : 0;
    records.push_back(r);
  }
  ItemColumns columns(kSectionApps);
  for (const AppRecord& r : records) {
    SCOPED_TRACE(printable(r.name));
    std::vector<uint8_t> entry;
    appendAppEntry(&entry, r);
    Item item{entry.data(), entry.size()};
    std::vector<std::u16string> screen = listColumns(kSectionApps, item);
    ASSERT_EQ(screen.size(), 8u);
    std::string expected;
    for (size_t i = 0; i < screen.size(); i++) expected += (i ? " | " : "  ") + printable(screen[i]);
    std::string got = textOf(columns, item, " | ", "  ");
    EXPECT_EQ(got, expected);

    std::string json = "{" + jsonOf(columns, item) + "}";
    JsonValue v;
    ASSERT_TRUE(JsonReader::parse(json, &v)) << json;
    EXPECT_EQ(v["name"].string, screen[0]);
    EXPECT_EQ(v["version"].string, screen[1]);
    EXPECT_EQ(v["company"].string, screen[2]);
    EXPECT_EQ(v["status"].string, screen[3]);
    EXPECT_EQ(v["startup"].string, screen[4]);
    EXPECT_EQ(v["file"].string, screen[5]);
    EXPECT_EQ(v["size"].number, double(r.size));
    EXPECT_EQ(v["sizeText"].string, screen[6]);
    EXPECT_EQ(v["modified"].number, double(r.modified));
    EXPECT_EQ(v["modifiedText"].string, screen[7]);
    ASSERT_EQ(v["columns"].items.size(), 8u);
    for (size_t i = 0; i < 8; i++) EXPECT_EQ(v["columns"].items[i].string, screen[i]) << i;
  }
}

// An item whose entry is cut short gives as many empty columns as the screens show, after a
// good row of the same section has filled the reused texts.
TEST(CliOutput, MalformedItemsGiveEmptyColumnsInEverySection) {
  std::vector<uint8_t> file, value, app;
  appendFileEntry(&file, u"f.txt", 5, fileTimeFromUnix(1700000000, 0), 10);
  appendValueEntry(&value, u"v", kRegSz, {'a', 0, 0, 0});
  AppRecord r;
  r.name = u"app";
  r.file = u"app.exe";
  appendAppEntry(&app, r);
  struct Case {
    int section;
    const std::vector<uint8_t>* entry;
    const char* start;
  };
  for (const Case& c : {Case{kSectionRegistry, &value, "|v|"}, Case{kSectionFiles, &file, "|f.txt|"},
                        Case{kSectionApps, &app, "|app|"}}) {
    SCOPED_TRACE(c.section);
    ItemColumns columns(c.section);
    std::string good = textOf(columns, Item{c.entry->data(), c.entry->size()}, "|");
    EXPECT_EQ(good.rfind(c.start, 0), 0u) << good;
    Item cut{c.entry->data(), 3};
    size_t count = listColumns(c.section, cut).size();
    std::string got = textOf(columns, cut, "|", "<");
    EXPECT_EQ(got, "<" + std::string(count - 1, '|'));
    std::string json = jsonOf(columns, cut);
    EXPECT_EQ(json, "\"name\":\"\",\"columns\":[]");
  }
}

}  // namespace
}  // namespace keldrun
