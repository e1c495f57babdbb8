#include "workspace/settings.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>

#include "base/coding.h"
#include "base/files.h"
#include "tests/test_support.h"
#include "workspace/settings_file.h"
#include "workspace/settings_format.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::catalogNumbers;
using testing_support::makeSnapshotFile;
using testing_support::readBytes;
using testing_support::TempFolder;
using testing_support::writeBytes;
using testing_support::writeText;

std::string bodyOf(const std::string& path) {
  std::vector<uint8_t> bytes = readBytes(path);
  std::string body;
  EXPECT_TRUE(decodeSettingsFile(bytes.data(), bytes.size(), &body)) << path;
  return body;
}

TEST(SettingsEntries, RegisteredInOrderWithTheirDefaults) {
  Settings s;
  const char* keys[] = {"a1",  "d",   "e",   "f",   "g",   "j",   "h",    "i",    "k",
                        "te1", "te2", "te3", "te4", "te5", "te6", "te7",  "te8",  "te9",
                        "te10", "te11", "teh1", "teh2", "teh3", "teh4", "teh5", "th", "nd", "dg"};
  ASSERT_EQ(s.entries().size(), std::size(keys));
  for (size_t i = 0; i < std::size(keys); i++) EXPECT_EQ(s.entries()[i].key, keys[i]) << i;
  const std::pair<const char*, int32_t> ints[] = {
      {"a1", 1}, {"d", 0}, {"e", 0}, {"f", 0}, {"g", 0}, {"j", 1}, {"h", 1}, {"i", 1}, {"k", 0},
      {"te1", 50}, {"te2", 300}, {"te3", 1}, {"te10", 1}, {"te11", 0}, {"teh3", 1},
      {"teh4", 30000}, {"teh5", 0}, {"th", 0}, {"nd", 1}, {"dg", 0}};
  for (const auto& [key, value] : ints) {
    int32_t v = -7;
    EXPECT_TRUE(s.getInt(key, &v)) << key;
    EXPECT_EQ(v, value) << key;
  }
  std::string t;
  EXPECT_TRUE(s.getText("teh1", &t));
  EXPECT_EQ(t, "export");
  EXPECT_TRUE(s.getText("teh2", &t));
  EXPECT_EQ(t, "");
}

TEST(SettingsEntries, SetByKeyReachesTheFieldAndIgnoresUnknownOrMistypedKeys) {
  Settings s;
  s.setInt("d", 42);
  EXPECT_EQ(s.catalog().lastNo, 42);
  s.setInt("j", 0);
  EXPECT_EQ(s.registrySearch.includeData, 0);
  s.setText("teh2", "c:\\reports\\");
  EXPECT_EQ(s.report.exportFolder, "c:\\reports\\");
  s.setInt("D", 9);        // keys are case-sensitive
  s.setInt("teh1", 5);     // a text setting
  s.setText("d", "77");    // an integer setting
  s.setInt("nosuch", 1);
  EXPECT_EQ(s.catalog().lastNo, 42);
  EXPECT_EQ(s.report.exportName, "export");
  int32_t v;
  EXPECT_FALSE(s.getInt("nosuch", &v));
  EXPECT_FALSE(s.getInt("teh1", &v));
}

TEST(SettingsPaths, SnapshotFileNamesAndFolders) {
  Settings s("/w/prog");
  std::string sep(1, pathSeparator());
  EXPECT_EQ(s.folder(), "/w/prog" + sep);
  EXPECT_EQ(s.catalog().snapshotPath(7).fileName, "snap007.snp");
  EXPECT_EQ(s.catalog().snapshotPath(7).path, "/w/prog" + sep + "data" + sep + "snap007.snp");
  EXPECT_EQ(s.catalog().snapshotPath(1000).fileName, "snap1000.snp");
  EXPECT_EQ(s.settingsPath(), "/w/prog" + sep + "Keldrun.cfg");
  Settings here;
  EXPECT_EQ(here.catalog().snapshotPath(1).path, "data" + sep + "snap001.snp");
  EXPECT_EQ(here.settingsPath(), "Keldrun.cfg");
}

TEST(SettingsFile, RoundTripKeepsEverySettingAndTheCatalog) {
  TempFolder dir;
  Settings a(dir.str());
  addSnapshotTo(&a, 1, "before install");
  addSnapshotTo(&a, 2, "after install");
  a.fullScan = 0;
  a.viewMode = 1;
  a.filesSearch.matchCase = 1;
  a.registrySearch.includeNames = 0;
  a.report.binaryLimit = -12;
  a.report.linesPerFile = 2147483647;
  a.report.exportName = "week 12 \xE9t\xE9";
  a.report.exportFolder = std::string("d:\\out\x01mid\\");
  ASSERT_TRUE(a.save());

  Settings b(dir.str());
  ASSERT_TRUE(b.load());
  EXPECT_EQ(b.loadStatus(), SettingsLoad::Read);
  EXPECT_EQ(b.fullScan, 0);
  EXPECT_EQ(b.catalog().lastNo, 2);
  EXPECT_EQ(b.viewMode, 1);
  EXPECT_EQ(b.filesSearch.matchCase, 1);
  EXPECT_EQ(b.registrySearch.includeNames, 0);
  EXPECT_EQ(b.report.binaryLimit, -12);
  EXPECT_EQ(b.report.linesPerFile, 2147483647);
  EXPECT_EQ(b.report.exportName, "week 12 \xE9t\xE9");
  EXPECT_EQ(b.report.exportFolder, std::string("d:\\out\x01mid\\"));  // 0x01 survives
  ASSERT_EQ(catalogNumbers(b.catalog()), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(b.catalog().record(0).name, "before install");
  EXPECT_EQ(b.catalog().record(1).name, "after install");
  EXPECT_EQ(b.catalog().record(1).sectionState[kSectionFiles], SectionState::Partial);
}

// Every option with a value unlike its default and unlike its neighbours', and a catalog listed
// out of number order, as the settings file holds them after the time of writing.
const char kStoredBodyAfterTime[] =
    "p\x01" "5,2\xFF" "a1\x01" "0\xFF" "d\x01" "7\xFF" "e\x01" "1\xFF" "f\x01" "2\xFF"
    "g\x01" "3\xFF" "j\x01" "4\xFF" "h\x01" "5\xFF" "i\x01" "6\xFF" "k\x01" "8\xFF"
    "te1\x01" "51\xFF" "te2\x01" "301\xFF" "te3\x01" "9\xFF" "te4\x01" "10\xFF"
    "te5\x01" "11\xFF" "te6\x01" "12\xFF" "te7\x01" "13\xFF" "te8\x01" "14\xFF"
    "te9\x01" "15\xFF" "te10\x01" "16\xFF" "te11\x01" "17\xFF" "teh1\x01" "weekly\xFF"
    "teh2\x01" "d:\\out\\\xFF" "teh3\x01" "18\xFF" "teh4\x01" "1234\xFF" "teh5\x01" "19\xFF"
    "th\x01" "3\xFF" "nd\x01" "0\xFF" "dg\x01" "1\xFF";

TEST(SettingsFile, OptionsAndCatalogReadBackIntoTheirFieldsAndAreWrittenAsBefore) {
  TempFolder dir;
  {
    Settings writer(dir.str());
    addSnapshotTo(&writer, 2, "two");
    addSnapshotTo(&writer, 5, "five");
  }
  std::string stored = std::string("q\x01" "2001/02/03 04:05:06\xFF") + kStoredBodyAfterTime;
  ASSERT_TRUE(writeBytes(dir / "Keldrun.cfg", encodeSettingsFile(stored, 11)));

  Settings s(dir.str());
  ASSERT_TRUE(s.load());
  ASSERT_EQ(s.loadStatus(), SettingsLoad::Read);
  EXPECT_EQ(catalogNumbers(s.catalog()), (std::vector<int32_t>{5, 2}));
  EXPECT_EQ(s.catalog().record(0).name, "five");
  EXPECT_EQ(s.catalog().record(1).name, "two");
  EXPECT_EQ(s.catalog().lastNo, 7);
  const struct {
    const char* key;
    int32_t read, expected;
  } fields[] = {
      {"a1", s.fullScan, 0}, {"e", s.viewMode, 1}, {"f", s.filesSearch.includePaths, 2},
      {"g", s.filesSearch.matchCase, 3}, {"j", s.registrySearch.includeData, 4},
      {"h", s.registrySearch.includePaths, 5}, {"i", s.registrySearch.includeNames, 6},
      {"k", s.registrySearch.matchCase, 8}, {"te1", s.report.binaryLimit, 51},
      {"te2", s.report.stringLimit, 301}, {"te3", s.report.limitBinary, 9},
      {"te4", s.report.limitString, 10}, {"te5", s.report.includeAdded, 11},
      {"te6", s.report.includeModified, 12}, {"te7", s.report.includeDeleted, 13},
      {"te8", s.report.includeFiles, 14}, {"te9", s.report.includeRegistry, 15},
      {"te10", s.report.includeApplications, 16}, {"te11", s.report.currentPathOnly, 17},
      {"teh3", s.report.split, 18}, {"teh4", s.report.linesPerFile, 1234},
      {"teh5", s.report.openAfterExport, 19}, {"th", s.scanThreads, 3},
      {"nd", s.noiseDefaults, 0}, {"dg", s.recordDigests, 1}};
  for (const auto& f : fields) EXPECT_EQ(f.read, f.expected) << f.key;
  EXPECT_EQ(s.report.exportName, "weekly");
  EXPECT_EQ(s.report.exportFolder, "d:\\out\\");

  ASSERT_TRUE(s.save());
  std::vector<uint8_t> file = readBytes(s.settingsPath());
  std::string body = bodyOf(s.settingsPath());
  EXPECT_EQ(file.size(), settingsFileSize(body.size()));
  ASSERT_EQ(body.substr(0, 2), "q\x01");
  size_t timeEnd = body.find('\xFF');
  ASSERT_NE(timeEnd, std::string::npos);
  EXPECT_EQ(body.substr(timeEnd + 1), std::string(kStoredBodyAfterTime));
}

TEST(SettingsFile, ByteFFCutsATextValue) {
  TempFolder dir;
  Settings a(dir.str());
  a.report.exportName = "ab\xFF" "cd";
  a.catalog().lastNo = 5;
  ASSERT_TRUE(a.save());
  Settings b(dir.str());
  ASSERT_TRUE(b.load());
  EXPECT_EQ(b.report.exportName, "ab");
  EXPECT_EQ(b.catalog().lastNo, 5);  // the records after it are intact
}

TEST(SettingsFile, LayoutMasksRecordsAndStockZlib) {
  TempFolder dir;
  Settings a(dir.str());
  addSnapshotTo(&a, 3, "x");
  ASSERT_TRUE(a.save());
  std::vector<uint8_t> f = readBytes(a.settingsPath());
  ASSERT_GE(f.size(), 1536u);
  uint32_t streamLength = getU32(f.data() + 3) ^ 0x3C91D2A4u;
  uint32_t bodyLength = getU32(f.data() + 11) ^ 0x6E25B7C3u;
  ASSERT_LE(17 + streamLength, f.size());
  std::string body(bodyLength, '\0');
  uLongf n = bodyLength;
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(body.data()), &n, f.data() + 17, streamLength), Z_OK);
  ASSERT_EQ(n, bodyLength);
  EXPECT_EQ(f.size(), bodyLength / 1024 * 1024 + 1536);
  // "q" first with the time of writing, then "p", then the settings in registration order.
  ASSERT_GE(body.size(), 20u);
  EXPECT_EQ(body.substr(0, 2), "q\x01");
  EXPECT_EQ(body[18], '\xFF');
  std::string rest = body.substr(19);
  std::string expected = std::string("p\x01") + "3\xFF" + "a1\x01" "1\xFF" "d\x01" "3\xFF" "e\x01" "0\xFF";
  EXPECT_EQ(rest.substr(0, expected.size()), expected);
  EXPECT_NE(rest.find(std::string("teh1\x01" "export\xFF" "teh2\x01\xFF" "teh3\x01" "1\xFF")),
            std::string::npos);
  EXPECT_EQ(rest.back(), '\xFF');
}

TEST(SettingsFile, SizeFollowsTheBodyLength) {
  TempFolder dir;
  Settings a(dir.str());
  ASSERT_TRUE(a.save());
  size_t base = bodyOf(a.settingsPath()).size();
  for (size_t bodyLength : {size_t(1023), size_t(1024), size_t(2047), size_t(5000)}) {
    a.report.exportFolder.assign(bodyLength - base, 'x');
    ASSERT_TRUE(a.save());
    EXPECT_EQ(bodyOf(a.settingsPath()).size(), bodyLength);
    EXPECT_EQ(readBytes(a.settingsPath()).size(), bodyLength / 1024 * 1024 + 1536) << bodyLength;
  }
  a.report.exportFolder.assign(1023 - base, 'x');
  ASSERT_TRUE(a.save());
  EXPECT_EQ(readBytes(a.settingsPath()).size(), 1536u);
  a.report.exportFolder.assign(1024 - base, 'x');
  ASSERT_TRUE(a.save());
  EXPECT_EQ(readBytes(a.settingsPath()).size(), 2560u);
}

TEST(SettingsFile, FillerDiffersBetweenSaves) {
  std::string body = "q\x01" "2024-01-01 10:00\xFF";
  std::vector<uint8_t> x = encodeSettingsFile(body, 1), y = encodeSettingsFile(body, 2);
  ASSERT_EQ(x.size(), y.size());
  EXPECT_NE(std::vector<uint8_t>(x.begin(), x.begin() + 3), std::vector<uint8_t>(y.begin(), y.begin() + 3));
  std::string bx, by;
  ASSERT_TRUE(decodeSettingsFile(x.data(), x.size(), &bx));
  ASSERT_TRUE(decodeSettingsFile(y.data(), y.size(), &by));
  EXPECT_EQ(bx, body);
  EXPECT_EQ(by, body);
}

TEST(SettingsFile, UnknownRecordsIgnoredMissingSettingsKeepTheirValues) {
  TempFolder dir;
  std::string body;
  appendSettingsRecord(&body, "zz", "1");
  appendSettingsRecord(&body, "e", "  -3xyz");
  appendSettingsRecord(&body, "e", "8");            // only the first record of a key counts
  body += "no separator here\xFF";
  appendSettingsRecord(&body, "teh1", "a\x01" "b");  // the value keeps later 0x01 bytes
  appendSettingsRecord(&body, "d", "junk");
  std::vector<uint8_t> file = encodeSettingsFile(body, 7);
  ASSERT_TRUE(writeBytes(dir / "Keldrun.cfg", file));
  Settings s(dir.str());
  s.fullScan = 0;  // not in the file: keeps its current value
  ASSERT_TRUE(s.load());
  EXPECT_EQ(s.viewMode, -3);
  EXPECT_EQ(s.report.exportName, "a\x01" "b");
  EXPECT_EQ(s.catalog().lastNo, 0);
  EXPECT_EQ(s.fullScan, 0);
  EXPECT_EQ(s.catalog().count(), 0u);
}

TEST(SettingsFile, DecimalReading) {
  const std::pair<const char*, int32_t> cases[] = {
      {"12", 12},   {" \t+7", 7},     {"-15abc", -15}, {"", 0},   {"x1", 0},
      {"- 4", 0},   {"0042", 42},     {"2147483647", 2147483647},
      {"99999999999999", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"-99999999999999", -2147483647 - 1}};
  for (const auto& [in, out] : cases) EXPECT_EQ(parseDecimal(in), out) << in;
}

TEST(SettingsCatalog, NumberingAcrossDeletes) {
  TempFolder dir;
  Settings s(dir.str());
  s.ensureLoaded();
  EXPECT_EQ(s.catalog().count(), 0u);
  EXPECT_EQ(s.catalog().nextNumber(), 1);
  for (int n = 1; n <= 3; n++) {
    EXPECT_EQ(s.catalog().nextNumber(), n);
    addSnapshotTo(&s, s.catalog().nextNumber(), "s");
  }
  EXPECT_EQ(s.catalog().lastNo, 3);
  int at = s.catalog().find(2);
  ASSERT_EQ(at, 1);
  removeFile(s.catalog().snapshotPath(2).path);
  s.catalog().removeAt(size_t(at));
  ASSERT_TRUE(s.save());
  std::string body = bodyOf(s.settingsPath());
  EXPECT_NE(body.find(std::string("p\x01" "1,3\xFF")), std::string::npos);

  Settings t(dir.str());
  t.ensureLoaded();
  EXPECT_EQ(catalogNumbers(t.catalog()), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(t.catalog().lastNo, 3);
  EXPECT_EQ(t.catalog().nextNumber(), 4);
  EXPECT_EQ(t.catalog().find(2), -1);
}

TEST(SettingsCatalog, ListPrunedOfMissingWrongAndRepeatedSnapshots) {
  TempFolder dir;
  Settings s(dir.str());
  for (int n = 1; n <= 4; n++) addSnapshotTo(&s, n, "s" + std::to_string(n));
  ASSERT_TRUE(s.save());
  // 2 deleted outside the program; 3 replaced by a copy of 1 (which holds number 1); 4 damaged.
  removeFile(s.catalog().snapshotPath(2).path);
  std::filesystem::remove(s.catalog().snapshotPath(3).path);
  std::filesystem::copy_file(s.catalog().snapshotPath(1).path, s.catalog().snapshotPath(3).path,
                             std::filesystem::copy_options::overwrite_existing);
  writeText(s.catalog().snapshotPath(4).path, "s1.5");
  Settings t(dir.str());
  ASSERT_TRUE(t.load());
  EXPECT_EQ(catalogNumbers(t.catalog()), (std::vector<int32_t>{1}));
  ASSERT_TRUE(t.save());
  EXPECT_NE(bodyOf(t.settingsPath()).find(std::string("p\x01" "1\xFF")), std::string::npos);

  std::string body;
  appendSettingsRecord(&body, "p", "1,,1, 1,x");
  writeBytes(t.settingsPath(), encodeSettingsFile(body, 3));
  Settings u(dir.str());
  ASSERT_TRUE(u.load());
  EXPECT_EQ(catalogNumbers(u.catalog()), (std::vector<int32_t>{1}));
}

TEST(SettingsCatalog, EnsureLoadedReadsOnce) {
  TempFolder dir;
  Settings a(dir.str());
  a.catalog().lastNo = 5;
  ASSERT_TRUE(a.save());
  Settings s(dir.str());
  EXPECT_EQ(s.loadStatus(), SettingsLoad::NotRead);
  s.ensureLoaded();
  EXPECT_EQ(s.catalog().lastNo, 5);
  a.catalog().lastNo = 9;
  ASSERT_TRUE(a.save());
  s.ensureLoaded();
  EXPECT_EQ(s.catalog().lastNo, 5);
  ASSERT_TRUE(s.load());  // an explicit load reads again (as after a rename)
  EXPECT_EQ(s.catalog().lastNo, 9);
}

class SettingsDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings a(dir.str());
    addSnapshotTo(&a, 1, "one");
    a.viewMode = 1;
    a.report.exportFolder.assign(3000, 'f');
    ASSERT_TRUE(a.save());
    good = readBytes(a.settingsPath());
  }
  // Loads bytes as the settings file of a fresh Settings; expects no records taken from it.
  void expectNoRecords(const std::vector<uint8_t>& bytes, const std::string& what) {
    ASSERT_TRUE(writeBytes(dir / "Keldrun.cfg", bytes));
    Settings s(dir.str());
    EXPECT_TRUE(s.load()) << what;
    EXPECT_EQ(s.loadStatus(), SettingsLoad::Damaged) << what;
    EXPECT_EQ(s.catalog().count(), 0u) << what;
    EXPECT_EQ(s.viewMode, 0) << what;
    EXPECT_EQ(s.catalog().lastNo, 0) << what;
  }
  TempFolder dir;
  std::vector<uint8_t> good;
};

TEST_F(SettingsDamage, MissingFileKeepsDefaults) {
  Settings s(dir / "elsewhere");
  EXPECT_FALSE(s.load());
  EXPECT_EQ(s.loadStatus(), SettingsLoad::Missing);
  EXPECT_EQ(s.fullScan, 1);
  EXPECT_EQ(s.catalog().count(), 0u);
}

TEST_F(SettingsDamage, TruncatedAtEveryOffsetOfTheHeaderAndStream) {
  uint32_t streamLength = getU32(good.data() + 3) ^ 0x3C91D2A4u;
  for (size_t n = 0; n < 17 + size_t(streamLength); n++)
    expectNoRecords(std::vector<uint8_t>(good.begin(), good.begin() + long(n)), "cut " + std::to_string(n));
}

TEST_F(SettingsDamage, ForgedLengths) {
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;  // stored unmasked
  } cases[] = {
      {"body 4 GiB", 11, 0xFFFFFFFFu},
      {"body just past the size rule", 11, uint32_t(good.size() - 1536 + 1024)},
      {"body one byte short", 11, uint32_t(3000 + 100)},
      {"stream past the end", 3, uint32_t(good.size())},
      {"stream 4 GiB", 3, 0xFFFFFFFFu},
      {"stream empty", 3, 0},
      {"stream cut short", 3, 20},
  };
  uint32_t bodyLength = getU32(good.data() + 11) ^ 0x6E25B7C3u;
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    uint32_t v = c.value;
    if (c.at == 11 && std::string(c.what) == "body one byte short") v = bodyLength - 1;
    putU32(bad.data() + c.at, v ^ (c.at == 3 ? 0x3C91D2A4u : 0x6E25B7C3u));
    expectNoRecords(bad, c.what);
  }
}

TEST_F(SettingsDamage, FlippedStreamBytes) {
  uint32_t streamLength = getU32(good.data() + 3) ^ 0x3C91D2A4u;
  int damaged = 0;
  for (size_t at = 17; at < 17 + size_t(streamLength); at += 7) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x5A;
    ASSERT_TRUE(writeBytes(dir / "Keldrun.cfg", bad));
    Settings s(dir.str());
    s.load();
    // zlib's Adler-32 catches every change to the stream.
    if (s.loadStatus() == SettingsLoad::Damaged) damaged++;
    EXPECT_EQ(s.catalog().count() == 0, s.loadStatus() == SettingsLoad::Damaged) << at;
  }
  EXPECT_EQ(damaged, int((streamLength + 6) / 7));
}

TEST_F(SettingsDamage, FillerChangesAreHarmless) {
  std::vector<uint8_t> bad = good;
  bad[0] ^= 1;
  bad[8] ^= 1;
  bad[15] ^= 1;
  bad.back() ^= 1;
  ASSERT_TRUE(writeBytes(dir / "Keldrun.cfg", bad));
  Settings s(dir.str());
  ASSERT_TRUE(s.load());
  EXPECT_EQ(s.loadStatus(), SettingsLoad::Read);
  EXPECT_EQ(s.viewMode, 1);
  EXPECT_EQ(s.catalog().count(), 1u);
}

TEST_F(SettingsDamage, SaveReplacesTheFileWholeOrNotAtAll) {
  // A folder in the file's place cannot be replaced.
  std::filesystem::rename(dir / "Keldrun.cfg", dir / "saved");
  std::filesystem::create_directory(dir / "Keldrun.cfg");
  Settings s(dir.str());
  EXPECT_FALSE(s.save());
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Keldrun.cfg", "data", "saved"}));
  std::filesystem::remove(dir / "Keldrun.cfg");
  std::filesystem::rename(dir / "saved", dir / "Keldrun.cfg");

  Settings nowhere(dir / "no/such/folder");
  EXPECT_FALSE(nowhere.save());

  ASSERT_TRUE(s.save());
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"Keldrun.cfg", "data"})) << "no temporary file left";
}

TEST(SettingsFolders, ReportTempFolderCreatedAndCleared) {
  TempFolder dir;
  Settings s(dir.str());
  std::string tmp = s.reportTempFolder();
  EXPECT_EQ(tmp, dir.str() + "tmp" + pathSeparator());
  ASSERT_TRUE(std::filesystem::is_directory(tmp));
  EXPECT_EQ(s.reportTempFolder(), tmp);  // a second call with the folder present is fine
  for (const char* name : {"r_000.htm", "r_001.htm", "UPPER.HTM", ".keep.htm", "notes.txt", "page.html"})
    writeText(tmp + name, "x");
  std::filesystem::create_directory(tmp + "sub.htm");
  s.clearReportTempFolder();
  for (const char* gone : {"r_000.htm", "r_001.htm", "UPPER.HTM"}) EXPECT_FALSE(fileExists(tmp + gone)) << gone;
  for (const char* kept : {".keep.htm", "notes.txt", "page.html", "sub.htm"}) EXPECT_TRUE(fileExists(tmp + kept)) << kept;
}

// ---- Older installation ----

const char kOlderTwo[] =
    "[Snapshots]\n"
    "count=2\n"
    // The older file holds names one byte per character: "\xE9" is an e acute.
    "n=1\ns=1000\nname=Before caf\xE9 office\ndate=2008-03-01 10:00\n"
    "n=2\ns=2000\nname=After office\ndate=2008-03-01 11:00\n"
    "LastNo=7\nViewMode=1\nScanRegs=0\nScanFiles=0\nOther=x\n";

TEST(OlderSettings, ReadsRecordsAndOptions) {
  TempFolder dir;
  // "[Snapshots]" has no "=": reading ends there with success, so put it last.
  std::string text = std::string(kOlderTwo).substr(12) + "[end]\ncount=9\n";
  writeText(dir / "Keldrun.ini", text);
  OlderSettings o = readOlderSettings(dir.str(), "A-COMPUTER-NAME-LONGER-THAN-31-CHARACTERS");
  ASSERT_TRUE(o.ok);
  ASSERT_EQ(o.records.size(), 2u);
  EXPECT_EQ(o.records[0].number, 1);
  EXPECT_EQ(o.records[0].size, 1000u);
  EXPECT_EQ(o.records[0].name, "Before caf\xC3\xA9 office");
  EXPECT_EQ(o.records[1].date, "2008-03-01 11:00");
  EXPECT_EQ(o.records[1].computer, "A-COMPUTER-NAME-LONGER-THAN-31-");
  EXPECT_EQ(o.lastNo, 7);
  EXPECT_EQ(o.viewMode, 1);
}

TEST(OlderSettings, KeysIgnoreCaseAndWindowsLineEnds) {
  TempFolder dir;
  writeText(dir / "Keldrun.ini", "COUNT=1\r\na=4\r\nb=5\r\nc=name\r\nd=date\r\nlastno=12\r\nVIEWMODE=1\r\n");
  OlderSettings o = readOlderSettings(dir.str(), "pc");
  ASSERT_TRUE(o.ok);
  ASSERT_EQ(o.records.size(), 1u);
  EXPECT_EQ(o.records[0].name, "name");
  EXPECT_EQ(o.records[0].date, "date");
  EXPECT_EQ(o.lastNo, 12);
  EXPECT_EQ(o.viewMode, 1);
}

TEST(OlderSettings, IncompleteRecordFails) {
  const char* cases[] = {
      "count=2\nn=1\ns=1\nname=a\ndate=b\nn=2\ns=2\n",      // end of file inside record 2
      "count=1\nn=1\ns=1\nname a\ndate=b\n",                // a line without "="
      "count=1\nn=1\n\ns=1\nname=a\ndate=b\n",              // a blank line inside a record
  };
  for (const char* text : cases) {
    TempFolder dir;
    writeText(dir / "Keldrun.ini", text);
    OlderSettings o = readOlderSettings(dir.str(), "pc");
    EXPECT_FALSE(o.ok) << text;
    EXPECT_TRUE(o.records.empty()) << text;
  }
  TempFolder none;
  EXPECT_FALSE(readOlderSettings(none.str(), "pc").ok);
}

// Writes an older-format snapshot file: a current one whose tag says "s1.4", so that it opens
// with its sections read as scanned whole and its stored lists ignored.
void makeOlderSnapshot(const std::string& path, int32_t number) {
  FilterList lists[kSectionCount] = {{u"hkey_local_machine\\software\\"}, {}, {}};
  SnapshotFile file;
  ASSERT_TRUE(file.create(path));
  file.addRoot(kSectionRegistry, u"HKEY_LOCAL_MACHINE", 1, 2, 0, 0);
  SnapshotInfo info;
  info.fillNew("ignored", number, lists);
  ASSERT_TRUE(file.finish(&info));
  ASSERT_TRUE(file.close());
  std::vector<uint8_t> bytes = readBytes(path);
  std::memcpy(bytes.data(), "s1.4", 4);
  ASSERT_TRUE(writeBytes(path, bytes));
}

TEST(OlderSettings, CarryOverAdoptsGoodSnapshotsAndDeletesDamagedOnes) {
  TempFolder dir;
  std::string data = dir.str() + "data" + pathSeparator();
  makeFolders(data);
  writeText(dir / "Keldrun.ini", kOlderTwo + 12);  // count=2 ... LastNo=7
  makeOlderSnapshot(dir / "snap001.snp", 1);
  writeText(dir / "snap002.snp", "KTQ*");        // damaged: no header
  ASSERT_TRUE(carryOverOlderCatalog(dir.str(), data, "OLDPC"));

  EXPECT_FALSE(fileExists(dir / "snap001.snp"));
  EXPECT_TRUE(fileExists(data + "snap001.snp"));
  EXPECT_FALSE(fileExists(data + "snap002.snp"));
  EXPECT_FALSE(fileExists(dir / "snap002.snp"));
  EXPECT_FALSE(fileExists(dir / "Keldrun.ini"));

  Settings s(dir.str());
  ASSERT_TRUE(s.load());
  EXPECT_EQ(s.catalog().lastNo, 7);
  EXPECT_EQ(s.viewMode, 1);
  ASSERT_EQ(catalogNumbers(s.catalog()), (std::vector<int32_t>{1}));
  const SnapshotInfo& r = s.catalog().record(0);
  EXPECT_EQ(r.tag, "s1.5");
  EXPECT_EQ(r.name, "Before caf\xC3\xA9 office");
  std::vector<uint8_t> adopted = readBytes(data + "snap001.snp");
  EXPECT_NE(std::string(adopted.begin(), adopted.end()).find(std::string("Before caf\xE9 office") + '\0'), std::string::npos)
      << "the adopted file keeps the name one byte per character";
  EXPECT_EQ(r.date, "2008-03-01 10:00");
  EXPECT_EQ(r.computer, "OLDPC");
  // The registry section it holds stays a whole-section scan; the others were not scanned.
  EXPECT_EQ(r.sectionState[kSectionRegistry], SectionState::Full);
  ASSERT_EQ(r.filterList[kSectionRegistry].size(), 1u);
  EXPECT_EQ(r.filterList[kSectionRegistry][0], u"*");
  EXPECT_NE(r.sectionOffset[kSectionRegistry], 0u);
  EXPECT_EQ(r.sectionState[kSectionFiles], SectionState::NotScanned);
  EXPECT_EQ(r.sectionState[kSectionApps], SectionState::NotScanned);
  EXPECT_EQ(r.size, uint32_t(readBytes(data + "snap001.snp").size()));
}

TEST(OlderSettings, NothingCarriedOverWhenCountPromisesMore) {
  TempFolder dir;
  std::string data = dir.str() + "data" + pathSeparator();
  makeFolders(data);
  writeText(dir / "Keldrun.ini", "count=3\nn=1\ns=1\nname=a\ndate=b\nLastNo=4\n");
  makeOlderSnapshot(dir / "snap001.snp", 1);
  std::vector<uint8_t> before = readBytes(dir / "snap001.snp");
  EXPECT_FALSE(carryOverOlderCatalog(dir.str(), data, "pc"));
  EXPECT_EQ(readBytes(dir / "snap001.snp"), before);
  EXPECT_TRUE(fileExists(dir / "Keldrun.ini"));
  EXPECT_FALSE(fileExists(data + "snap001.snp"));
  EXPECT_FALSE(fileExists(dir / "Keldrun.cfg"));
}

}  // namespace
}  // namespace keldrun
