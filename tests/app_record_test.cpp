#include "engine/app_record.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/coding.h"
#include "engine/snapshot.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::finishAppsSnapshot;
using testing_support::readTreeEntries;

AppRecord record(uint8_t kind, const std::u16string& name, const std::u16string& file = u"") {
  AppRecord r;
  r.kind = kind;
  r.name = name;
  r.file = file;
  return r;
}

AppRecord fullRecord() {
  AppRecord r;
  r.kind = kAppService;
  r.startType = kStartDemand;
  r.state = kStateRunning;
  r.name = u"Print Spooler";
  r.serviceName = u"Spooler";
  r.version = u"5.1";
  r.company = u"Acme";
  r.description = u"Queues";
  r.file = u"c:\\windows\\system32\\spoolsv.exe";
  r.modified = 0x01D2030405060708ull;
  r.size = 0x0000000123456789ull;
  return r;
}

TEST(AppEntry, LayoutFieldByField) {
  std::vector<uint8_t> e;
  appendAppEntry(&e, fullRecord());
  ASSERT_EQ(e.size(), 31u + 13 + 7 + 3 + 4 + 6 + 31);
  const uint16_t lengths[] = {13, 7, 3, 4, 6, 31};
  for (int i = 0; i < 6; i++) EXPECT_EQ(getU16(e.data() + 2 * i), lengths[i]) << i;
  EXPECT_EQ(getU32(e.data() + 12), 0x05060708u);
  EXPECT_EQ(getU32(e.data() + 16), 0x01D20304u);
  EXPECT_EQ(getU32(e.data() + 20), 0x23456789u);
  EXPECT_EQ(getU32(e.data() + 24), 0x00000001u);
  EXPECT_EQ(e[28], 3);
  EXPECT_EQ(e[29], 3);
  EXPECT_EQ(e[30], 4);
  std::string strings(e.begin() + 31, e.end());
  EXPECT_EQ(strings, "Print SpoolerSpooler5.1AcmeQueuesc:\\windows\\system32\\spoolsv.exe");
  EXPECT_EQ(appEntrySize(e.data(), e.size()), e.size());
  EXPECT_EQ(appEntryName(e.data()).str(), u"Print Spooler");
}

TEST(AppEntry, RoundTripsAndNarrowsOtherCharacters) {
  struct Case {
    const char* what;
    AppRecord in;
    std::u16string nameBack;
  };
  AppRecord latin = record(kAppStartup, u"caf\u00e9 \u00ff");
  AppRecord wide = record(kAppDriver, u"\u4e2d\u6587.sys");
  AppRecord empty;
  std::vector<Case> cases = {{"full", fullRecord(), u"Print Spooler"},
                             {"latin-1 kept", latin, u"caf\u00e9 \u00ff"},
                             {"others as '?'", wide, u"??.sys"},
                             {"all empty", empty, u""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> e;
    appendAppEntry(&e, c.in);
    AppRecord back;
    ASSERT_TRUE(decodeAppEntry(e.data(), e.size(), &back));
    AppRecord expected = c.in;
    expected.name = c.nameBack;
    EXPECT_TRUE(back == expected);
    // Every shorter prefix is refused.
    for (size_t n = 0; n < e.size(); n++) EXPECT_FALSE(decodeAppEntry(e.data(), n, &back)) << n;
  }
}

TEST(AppEntry, LongStringsAreCutToTheLengthField) {
  AppRecord r = record(kAppStartup, u"x");
  r.description.assign(70000, u'd');
  std::vector<uint8_t> e;
  appendAppEntry(&e, r);
  EXPECT_EQ(getU16(e.data() + 8), 0xFFFF);
  AppRecord back;
  ASSERT_TRUE(decodeAppEntry(e.data(), e.size(), &back));
  EXPECT_EQ(back.description.size(), 0xFFFFu);
}

TEST(GroupTable, SortedByFoldedNameShorterFirstAndStable) {
  std::vector<AppRecord> records = {record(0, u"beta"), record(0, u"Alpha", u"1"),
                                    record(0, u"alpha", u"2"), record(0, u"al"),
                                    record(0, u"_x"), record(0, u"ALPHA", u"3")};
  std::vector<uint8_t> table;
  uint32_t digest = 0;
  buildGroupTable(records, &table, &digest);
  EXPECT_EQ(digest, uint32_t(crc32(0, table.data(), uInt(table.size()))));
  std::vector<std::u16string> names, files;
  for (size_t at = 0; at < table.size();) {
    AppRecord r;
    ASSERT_TRUE(decodeAppEntry(table.data() + at, table.size() - at, &r));
    names.push_back(r.name);
    files.push_back(r.file);
    at += appEntrySize(table.data() + at, table.size() - at);
  }
  // '_' (0x5F) sorts before the folded letters (0x61...).
  std::vector<std::u16string> wantNames = {u"_x", u"al", u"Alpha", u"alpha", u"ALPHA", u"beta"};
  EXPECT_EQ(names, wantNames);
  EXPECT_EQ(files[2], u"1");
  EXPECT_EQ(files[3], u"2");
  EXPECT_EQ(files[4], u"3");

  std::vector<uint8_t> none;
  buildGroupTable({}, &none, &digest);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(digest, 0u);
}

TEST(AppTexts, StatusAndStartup) {
  struct Case {
    uint8_t value;
    const char* status;
    const char* startup;
  };
  const Case cases[] = {{0, "", "Auto"},       {1, "", "Auto"},     {2, "", "Auto"},
                        {3, "", "Manual"},     {4, "Run", "Disabled"}, {5, "", "-"},
                        {6, "", ""},           {7, "", ""},         {255, "", ""}};
  for (const Case& c : cases) {
    EXPECT_STREQ(appStatusText(c.value), c.status) << int(c.value);
    EXPECT_STREQ(appStartupText(c.value), c.startup) << int(c.value);
  }
}

class AppTableFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "app_record_test.snp";
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(AppTableFile, GroupsRoundTripThroughASnapshotFile) {
  std::vector<AppRecord> services = {fullRecord(), record(kAppService, u"alpha", u"a.exe"),
                                     record(kAppService, u"Zed")};
  std::vector<uint8_t> table;
  uint32_t digest = 0;
  buildGroupTable(services, &table, &digest);
  {
    SnapshotFile f;
    ASSERT_TRUE(f.create(path_));
    uint32_t at = f.appendTable(table.data(), table.size());
    ASSERT_NE(at, 0u);
    f.addRoot(kSectionApps, kAppGroupNames[0], 0, 0, 0, 0);
    f.addRoot(kSectionApps, kAppGroupNames[1], 0, digest, 0, at);
    f.addRoot(kSectionApps, kAppGroupNames[2], 0, 0, 0, 0);
    ASSERT_TRUE(finishAppsSnapshot(&f, "apps"));
    f.close();
  }
  SnapshotFile f;
  SnapshotInfo info;
  ASSERT_TRUE(f.open(path_, &info));
  ASSERT_NE(info.sectionOffset[kSectionApps], 0u);
  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> groups = readTreeEntries(&f, info.sectionOffset[kSectionApps], &rootBlock);
  ASSERT_EQ(groups.size(), 3u);
  for (int g = 0; g < 3; g++) EXPECT_EQ(groups[g].name.str(), kAppGroupNames[g]);
  EXPECT_EQ(groups[0].contentTable, 0u);
  EXPECT_EQ(groups[1].contentHash, digest);

  AppItemListReader reader;
  ASSERT_TRUE(reader.open(&f, groups[1].contentTable));
  std::vector<Item> items;
  Item item;
  while (reader.next(&item)) items.push_back(item);
  ASSERT_EQ(items.size(), 3u);
  AppRecord first;
  ASSERT_TRUE(decodeAppEntry(items[0].p, items[0].size, &first));
  EXPECT_EQ(first.name, u"alpha");
  AppRecord second;
  ASSERT_TRUE(decodeAppEntry(items[1].p, items[1].size, &second));
  EXPECT_TRUE(second == fullRecord());
  for (size_t i = 0; i + 1 < items.size(); i++) EXPECT_LT(reader.order(items[i], items[i + 1]), 0);
  EXPECT_EQ(reader.order(items[1], items[1]), 0);
  EXPECT_FALSE(reader.differs(items[1], items[1]));
  EXPECT_TRUE(reader.differs(items[0], items[1]));
}

TEST(AppItemReader, SameNameDiffersByAnyByte) {
  AppItemListReader reader;
  AppRecord a = fullRecord();
  std::vector<uint8_t> ea;
  appendAppEntry(&ea, a);
  // Each field changed alone: same name, different data.
  std::vector<AppRecord> changed(6, a);
  changed[0].state = 1;
  changed[1].startType = 2;
  changed[2].version = u"5.2";
  changed[3].modified++;
  changed[4].size++;
  changed[5].file += u" -k";
  for (const AppRecord& b : changed) {
    std::vector<uint8_t> eb;
    appendAppEntry(&eb, b);
    Item ia{ea.data(), ea.size()}, ib{eb.data(), eb.size()};
    EXPECT_EQ(reader.order(ia, ib), 0);
    EXPECT_TRUE(reader.differs(ia, ib));
  }
  AppRecord upper = a;
  upper.name = u"PRINT SPOOLER";
  std::vector<uint8_t> eu;
  appendAppEntry(&eu, upper);
  Item ia{ea.data(), ea.size()}, iu{eu.data(), eu.size()};
  EXPECT_EQ(reader.order(ia, iu), 0);
  EXPECT_TRUE(reader.differs(ia, iu));
}

TEST_F(AppTableFile, ReaderStopsAtAnEntryThatOverrunsTheBlock) {
  std::vector<uint8_t> table;
  appendAppEntry(&table, record(0, u"a", u"one"));
  size_t second = table.size();
  appendAppEntry(&table, record(0, u"b", u"two"));
  putU16(table.data() + second + 10, 5000);  // file length beyond the block
  {
    SnapshotFile f;
    ASSERT_TRUE(f.create(path_));
    uint32_t at = f.appendTable(table.data(), table.size());
    f.addRoot(kSectionApps, kAppGroupNames[0], 0, 0, 0, at);
    ASSERT_TRUE(finishAppsSnapshot(&f, "bad"));
    f.close();
  }
  SnapshotFile f;
  SnapshotInfo info;
  ASSERT_TRUE(f.open(path_, &info));
  std::vector<uint8_t> rootBlock;
  std::vector<TreeEntry> groups = readTreeEntries(&f, info.sectionOffset[kSectionApps], &rootBlock);
  ASSERT_EQ(groups.size(), 1u);
  AppItemListReader reader;
  ASSERT_TRUE(reader.open(&f, groups[0].contentTable));
  Item item;
  ASSERT_TRUE(reader.next(&item));
  EXPECT_EQ(appEntryName(item.p).str(), u"a");
  EXPECT_FALSE(reader.next(&item));
}

}  // namespace
}  // namespace keldrun
