#include "workspace/catalog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::catalogNumbers;
using testing_support::makeSnapshotFile;
using testing_support::TempFolder;
using testing_support::writeText;

SnapshotInfo recordOf(int32_t number) {
  SnapshotInfo info;
  info.number = number;
  return info;
}

TEST(CatalogNumbering, FileNamesAndPaths) {
  const struct {
    int32_t number;
    const char* fileName;
  } cases[] = {{1, "snap001.snp"}, {7, "snap007.snp"}, {999, "snap999.snp"},
               {1000, "snap1000.snp"}, {INT32_MAX, "snap2147483647.snp"}};
  Catalog c("/w/data/");
  for (const auto& k : cases) {
    EXPECT_EQ(snapshotFileName(k.number), k.fileName);
    EXPECT_EQ(c.snapshotPath(k.number).fileName, k.fileName);
    EXPECT_EQ(c.snapshotPath(k.number).path, std::string("/w/data/") + k.fileName);
  }
  EXPECT_EQ(c.dataFolder(), "/w/data/");
}

TEST(CatalogNumbering, NewNumberSkipsFilesTheCatalogDoesNotName) {
  TempFolder dir;
  Catalog c(dir.str());
  // The settings file was lost: the data folder still holds snapshots 1 and 2.
  ASSERT_TRUE(makeSnapshotFile(c.snapshotPath(1).path, 1, "old"));
  ASSERT_TRUE(makeSnapshotFile(c.snapshotPath(2).path, 2, "old"));
  EXPECT_EQ(c.nextNumber(), 3);
  SnapshotInfo info;
  info.number = c.nextNumber();
  c.addSnapshot(info);
  EXPECT_EQ(c.lastNo, 3);
  c.addSnapshot(info);  // a second add still raises by one
  EXPECT_EQ(c.lastNo, 4);
}

TEST(CatalogNumbering, NewNumberPassesTheHighestHeldOrGivenAndStopsAtTheLast) {
  const struct {
    int32_t lastNo;
    std::vector<int32_t> held;
    int32_t next;
  } cases[] = {
      {0, {}, 1},          {5, {}, 6},           {2, {9, 4}, 10},     {12, {9, 4}, 13},
      {-8, {}, 1},         {INT32_MAX - 1, {}, INT32_MAX},            {INT32_MAX, {}, 0},
      {3, {INT32_MAX}, 0},
  };
  TempFolder dir;
  for (const auto& k : cases) {
    Catalog c(dir.str());
    for (int32_t n : k.held) c.addSnapshot(recordOf(n));
    c.lastNo = k.lastNo;
    EXPECT_EQ(c.nextNumber(), k.next) << k.lastNo;
  }
}

TEST(CatalogRecords, KeptInTheOrderAddedAndRemovedWithoutGivingANumberAgain) {
  TempFolder dir;
  Catalog c(dir.str());
  for (int32_t n : {3, 1, 2}) c.addSnapshot(recordOf(n));
  EXPECT_EQ(catalogNumbers(c), (std::vector<int32_t>{3, 1, 2}));
  EXPECT_EQ(c.lastNo, 5);  // 3, then 1 and 2 each raised it by one
  EXPECT_EQ(c.find(1), 1);
  EXPECT_EQ(c.find(5), -1);
  c.removeAt(size_t(c.find(3)));
  c.removeAt(7);  // out of range: nothing happens
  EXPECT_EQ(catalogNumbers(c), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(c.lastNo, 5);
  EXPECT_EQ(c.nextNumber(), 6);
  c.record(0).name = "renamed";
  EXPECT_EQ(c.record(c.find(1)).name, "renamed");
  c.clear();
  EXPECT_EQ(c.count(), 0u);
  EXPECT_EQ(c.lastNo, 5);
}

TEST(CatalogList, ReadsBackFromRealSnapshotFilesOnlyWhatTheyHold) {
  TempFolder dir;
  Catalog files(dir.str());
  for (int32_t n : {1, 2, 5}) ASSERT_TRUE(makeSnapshotFile(files.snapshotPath(n).path, n, "s"));
  // 3 holds snapshot 1; 4 is not a snapshot; 6 has no file.
  ASSERT_TRUE(makeSnapshotFile(files.snapshotPath(3).path, 1, "copy"));
  ASSERT_TRUE(writeText(files.snapshotPath(4).path, "s1.5"));
  const struct {
    const char* list;
    std::vector<int32_t> read;
  } cases[] = {
      {"", {}},           {"1", {1}},           {"5,2,1", {5, 2, 1}}, {"1,,2,", {1, 2}},
      {"1,1, 1,x", {1}},  {"3,4,6,2", {2}},     {"02,+5", {2, 5}},
  };
  for (const auto& k : cases) {
    Catalog c(dir.str());
    c.lastNo = 9;
    c.addListed(k.list);
    EXPECT_EQ(catalogNumbers(c), k.read) << k.list;
    EXPECT_EQ(c.lastNo, 9) << k.list;
    for (size_t i = 0; i < c.count(); i++) EXPECT_EQ(c.record(i).name, "s") << k.list;
    // What was read is listed again as it was read, and reads back the same.
    Catalog again(dir.str());
    again.addListed(c.numberList());
    EXPECT_EQ(catalogNumbers(again), k.read) << k.list;
  }
  Catalog c(dir.str());
  c.addSnapshot(recordOf(2));
  c.addListed("5,2");  // a number already held is not entered twice
  EXPECT_EQ(catalogNumbers(c), (std::vector<int32_t>{2, 5}));
  EXPECT_EQ(c.numberList(), "2,5");
}

}  // namespace
}  // namespace keldrun
