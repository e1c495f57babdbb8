#include "workspace/catalog_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "base/files.h"
#include "engine/snapshot.h"
#include "platform/own_files.h"
#include "tests/fault_file_system.h"
#include "tests/test_support.h"
#include "workspace/snapshot_list.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::catalogNumbers;
using testing_support::readBytes;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::writeBytes;
using testing_support::writeText;

// A valid snapshot file of about `bytes` bytes: unreferenced filler blocks, then the usual end.
void makeLargeSnapshot(const std::string& path, int32_t number, size_t bytes) {
  SnapshotFile file;
  ASSERT_TRUE(file.create(path));
  std::vector<uint8_t> block(65536);
  for (size_t i = 0; i < block.size(); i++) block[i] = uint8_t(i * 2654435761u >> 13);
  for (size_t done = 0; done < bytes; done += block.size()) file.appendBlock(block.data(), block.size());
  FilterList lists[kSectionCount] = {{}, {u"*"}, {}};
  SnapshotInfo info;
  info.fillNew("large", number, lists);
  ASSERT_TRUE(file.finish(&info));
  ASSERT_TRUE(file.close());
}

// ---- Delete ----

TEST(CatalogDelete, RemovesFilesAndRecordsKeepsNumbering) {
  TempFolder dir;
  Settings s(dir.str());
  for (int n = 1; n <= 4; n++) addSnapshotTo(&s, n, "s");
  removeFile(s.catalog().snapshotPath(4).path);  // a file already gone is still removed from the catalog
  ASSERT_TRUE(deleteSnapshots(&s, {3, 4, 1, 99}));
  EXPECT_EQ(catalogNumbers(s.catalog()), (std::vector<int32_t>{2}));
  EXPECT_FALSE(fileExists(s.catalog().snapshotPath(1).path));
  EXPECT_FALSE(fileExists(s.catalog().snapshotPath(3).path));
  EXPECT_TRUE(fileExists(s.catalog().snapshotPath(2).path));
  EXPECT_EQ(s.catalog().lastNo, 4);
  Settings t(dir.str());
  ASSERT_TRUE(t.load());
  EXPECT_EQ(catalogNumbers(t.catalog()), (std::vector<int32_t>{2}));
  EXPECT_EQ(t.catalog().nextNumber(), 5);
}

// ---- Properties ----

TEST(CatalogProperties, ShowsTheRecordAndItsScannedItems) {
  TempFolder dir;
  Settings s(dir.str());
  SnapshotInfo added = addSnapshotTo(&s, 1, "before");
  SnapshotProperties p(&s, 1);
  ASSERT_TRUE(p.open().empty());
  EXPECT_EQ(p.info().name, "before");
  EXPECT_EQ(p.info().date, added.date);
  EXPECT_EQ(p.info().computer, added.computer);
  auto summary = p.summary();
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_EQ(summary[0].first, "Registry:");
  EXPECT_EQ(summary[0].second, std::vector<std::u16string>{u"*"});
  EXPECT_EQ(summary[1].first, "Files:");
  EXPECT_EQ(summary[1].second, std::vector<std::u16string>{u"c:\\windows\\"});
  EXPECT_EQ(summary[2].first, "Applications:");
  EXPECT_EQ(summary[2].second, std::vector<std::u16string>{u"-"});

  SnapshotProperties missing(&s, 2);
  ShellMessage m = missing.open();
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(m.text, "Cannot open snapshot");
}

TEST(CatalogProperties, RenameInPlaceKeepsTheFileAndUnsavedSettings) {
  TempFolder dir;
  Settings s(dir.str());
  addSnapshotTo(&s, 1, "before");
  addSnapshotTo(&s, 2, "other");
  ASSERT_TRUE(s.save());
  s.viewMode = 1;  // changed, not saved
  std::vector<uint8_t> before = readBytes(s.catalog().snapshotPath(1).path);

  SnapshotProperties p(&s, 1);
  ASSERT_TRUE(p.open().empty());
  EXPECT_FALSE(p.ok(""));  // empty: the dialog stays open
  EXPECT_FALSE(p.renamed());
  EXPECT_EQ(readBytes(s.catalog().snapshotPath(1).path), before);
  std::string longName(250, 'n');
  EXPECT_TRUE(p.ok(longName));
  EXPECT_TRUE(p.renamed());

  std::vector<uint8_t> after = readBytes(s.catalog().snapshotPath(1).path);
  ASSERT_EQ(after.size(), before.size());  // rewritten in place
  size_t differing = 0;
  for (size_t i = 0; i < after.size(); i++) differing += after[i] != before[i];
  EXPECT_GT(differing, 0u);
  EXPECT_LE(differing, 200u);  // only the name field of the info record
  EXPECT_EQ(s.catalog().record(0).name, std::string(199, 'n'));
  EXPECT_EQ(s.catalog().record(1).name, "other");
  EXPECT_EQ(s.viewMode, 1);

  Settings t(dir.str());
  ASSERT_TRUE(t.load());
  EXPECT_EQ(t.catalog().record(0).name, std::string(199, 'n'));
}

TEST(CatalogProperties, FileGoneAtOkEndsTheDialogWithoutRenaming) {
  TempFolder dir;
  Settings s(dir.str());
  addSnapshotTo(&s, 1, "before");
  SnapshotProperties p(&s, 1);
  ASSERT_TRUE(p.open().empty());
  removeFile(s.catalog().snapshotPath(1).path);
  EXPECT_TRUE(p.ok("after"));
  EXPECT_FALSE(p.renamed());
  EXPECT_EQ(s.catalog().record(0).name, "before");
}

// A snapshot file that cannot be deleted (here a folder that is not empty, which no one can
// remove as a file) leaves the catalog all the same and is named.
TEST(CatalogDelete, FilesThatRemainAreNamed) {
  TempFolder dir;
  Settings s(dir.str());
  addSnapshotTo(&s, 1, "one");
  addSnapshotTo(&s, 2, "two");
  std::string stuck = s.catalog().snapshotPath(2).path;
  removeFile(stuck);
  std::filesystem::create_directories(stuck + "/inside");
  std::vector<std::string> remaining;
  EXPECT_TRUE(deleteSnapshots(&s, {1, 2}, &remaining));
  EXPECT_EQ(remaining, std::vector<std::string>{stuck});
  EXPECT_EQ(s.catalog().count(), 0u);
  EXPECT_FALSE(fileExists(s.catalog().snapshotPath(1).path));
}

// ---- Export and import ----

class TransferTest : public ::testing::Test {
 protected:
  TransferTest() : source(home.str()), target(other.str()) {
    for (int n = 1; n <= 3; n++) addSnapshotTo(&source, n, "snap " + std::to_string(n));
    source.save();
  }
  TempFolder home, other, out;
  Settings source;
  Settings target;
};

TEST_F(TransferTest, ExportThenImportIntoAnotherCatalog) {
  SnapshotTransfer exporter;
  ShellMessage m = exporter.exportSnapshots(source, {3, 1}, out.str());
  EXPECT_EQ(m.kind, MessageKind::Information);
  EXPECT_EQ(m.text, "Snapshots exported");
  EXPECT_EQ(exporter.position(), 200);
  EXPECT_EQ(exporter.range(), 200);
  ASSERT_TRUE(fileExists(out / "snap003.snp"));
  ASSERT_TRUE(fileExists(out / "snap001.snp"));
  EXPECT_FALSE(fileExists(out / "snap002.snp"));
  std::vector<uint8_t> packed = readBytes(out / "snap003.snp");
  ASSERT_GE(packed.size(), 20u);
  EXPECT_EQ(std::string(packed.begin(), packed.begin() + 4), "C1.4");

  // The other catalog already holds snapshots up to 9.
  target.ensureLoaded();
  target.catalog().lastNo = 9;
  SnapshotTransfer importer;
  m = importer.importSnapshots(&target, {out / "snap003.snp", out / "snap001.snp"});
  EXPECT_TRUE(m.empty()) << m.text;
  EXPECT_EQ(importer.imported(), (std::vector<int32_t>{10, 11}));
  ASSERT_EQ(catalogNumbers(target.catalog()), (std::vector<int32_t>{10, 11}));
  EXPECT_EQ(target.catalog().lastNo, 11);
  EXPECT_EQ(target.catalog().record(0).name, "snap 3");
  EXPECT_EQ(target.catalog().record(1).name, "snap 1");
  EXPECT_FALSE(fileExists(target.catalog().snapshotPath(10).path + ".part"));

  // The imported files equal the originals except for the number in the info record.
  std::vector<uint8_t> a = readBytes(source.catalog().snapshotPath(3).path);
  std::vector<uint8_t> b = readBytes(target.catalog().snapshotPath(10).path);
  ASSERT_EQ(a.size(), b.size());
  size_t differing = 0;
  for (size_t i = 0; i < a.size(); i++) differing += a[i] != b[i];
  EXPECT_GE(differing, 1u);
  EXPECT_LE(differing, 4u);

  Settings saved(other.str());
  ASSERT_TRUE(saved.load());
  EXPECT_EQ(catalogNumbers(saved.catalog()), (std::vector<int32_t>{10, 11}));
  EXPECT_EQ(saved.catalog().record(0).number, 10);
}

// A name typed in any script goes through the properties dialog's rename, the snapshot list,
// export and import unchanged; the file holds it as 8 bits when it fits, else as UTF-8.
TEST_F(TransferTest, NamesInEveryScriptSurviveRenameListExportAndImport) {
  const struct {
    const char* label;
    std::string name, field;  // UTF-8; the name field of the file
  } cases[] = {
      {"latin-1", "Apr\xC3\xA8s install", "Apr\xE8s install"},
      {"cyrillic", "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA", "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA"},
      {"cjk", "\xE5\xBF\xAB\xE7\x85\xA7", "\xE5\xBF\xAB\xE7\x85\xA7"},
      {"emoji", "\xF0\x9F\x98\x80 ok", "\xF0\x9F\x98\x80 ok"},
  };
  int32_t expectedNumber = 0;  // the target catalog starts empty
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SnapshotProperties p(&source, 2);
    ASSERT_TRUE(p.open().empty());
    ASSERT_TRUE(p.ok(c.name));
    EXPECT_EQ(p.info().name, c.name);
    EXPECT_EQ(source.catalog().record(1).name, c.name);
    std::string bytes = readText(source.catalog().snapshotPath(2).path);
    EXPECT_NE(bytes.find(std::string(1, '\0') + c.field + std::string(1, '\0')), std::string::npos);

    SnapshotList list(&source);
    list.refresh();
    ASSERT_EQ(list.rows().size(), 3u);
    EXPECT_EQ(list.rows()[1].cells[SnapshotList::kName], c.name);
    EXPECT_EQ(list.box(SnapshotList::kFirstBox)[1].text, c.name + " (" + source.catalog().record(1).date + ")");

    SnapshotTransfer exporter;
    ASSERT_EQ(exporter.exportSnapshots(source, {2}, out.str()).kind, MessageKind::Information);
    SnapshotTransfer importer;
    EXPECT_TRUE(importer.importSnapshots(&target, {out / "snap002.snp"}).empty());
    expectedNumber++;
    ASSERT_EQ(importer.imported(), std::vector<int32_t>{expectedNumber});
    int at = target.catalog().find(expectedNumber);
    ASSERT_GE(at, 0);
    EXPECT_EQ(target.catalog().record(size_t(at)).name, c.name);
    Settings reloaded(other.str());
    ASSERT_TRUE(reloaded.load());
    EXPECT_EQ(reloaded.catalog().record(size_t(at)).name, c.name);
  }
}

TEST_F(TransferTest, ExportOverwritesButRefusesTheSnapshotItself) {
  writeText(out / "snap002.snp", "old export");
  SnapshotTransfer exporter;
  EXPECT_EQ(exporter.exportSnapshots(source, {2}, out.str()).text, "Snapshots exported");
  EXPECT_NE(readBytes(out / "snap002.snp").size(), 10u);

  std::vector<uint8_t> before = readBytes(source.catalog().snapshotPath(2).path);
  for (std::string folder : {source.catalog().dataFolder(), home.str() + "data", home.str() + "data/../data/"}) {
    SnapshotTransfer self;
    ShellMessage m = self.exportSnapshots(source, {2}, folder);
    EXPECT_EQ(m.kind, MessageKind::Error) << folder;
    EXPECT_EQ(m.text, "Export error");
    ASSERT_EQ(self.problems().size(), 1u);
    EXPECT_NE(self.problems()[0].find("snap002.snp"), std::string::npos);
    EXPECT_EQ(readBytes(source.catalog().snapshotPath(2).path), before) << folder;
  }
}

TEST_F(TransferTest, ExportFailuresDoNotStopTheOthers) {
  SnapshotTransfer exporter;
  ShellMessage m = exporter.exportSnapshots(source, {1, 42, 2}, out.str());
  EXPECT_EQ(m.text, "Export error");
  EXPECT_TRUE(fileExists(out / "snap001.snp"));
  EXPECT_TRUE(fileExists(out / "snap002.snp"));
  EXPECT_FALSE(fileExists(out / "snap042.snp"));
  ASSERT_EQ(exporter.problems().size(), 1u);
  EXPECT_NE(exporter.problems()[0].find("snap042.snp"), std::string::npos);

  SnapshotTransfer nowhere;
  m = nowhere.exportSnapshots(source, {1}, out / "missing/folder");
  EXPECT_EQ(m.text, "Export error");
}

TEST_F(TransferTest, ImportOfBadFilesUsesNoNumber) {
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {1}, out.str());
  writeText(out / "notes.txt", "not a packed snapshot");
  // A raw snapshot file is not a packed one either.
  std::filesystem::copy_file(source.catalog().snapshotPath(2).path, out / "raw.snp");
  std::vector<uint8_t> packed = readBytes(out / "snap001.snp");
  std::vector<uint8_t> cut(packed.begin(), packed.begin() + long(packed.size() / 2));
  writeBytes(out / "cut.snp", cut);

  target.ensureLoaded();
  SnapshotTransfer importer;
  ShellMessage m = importer.importSnapshots(
      &target, {out / "notes.txt", out / "raw.snp", out / "cut.snp", out / "missing.snp", out / "snap001.snp"});
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(m.text, "Import error");
  EXPECT_EQ(importer.problems().size(), 4u);
  EXPECT_EQ(catalogNumbers(target.catalog()), (std::vector<int32_t>{1}));
  EXPECT_EQ(target.catalog().lastNo, 1);
  std::vector<std::string> names;
  listFileNames(target.catalog().dataFolder(), &names);
  EXPECT_EQ(names, std::vector<std::string>{"snap001.snp"});
}

// A failed import says what failed: the file given, or the data folder it goes to.
TEST_F(TransferTest, ImportProblemsSayWhatFailed) {
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {1}, out.str());
  writeText(out / "notes.txt", "not a packed snapshot");
  target.ensureLoaded();
  makeFolders(target.catalog().dataFolder());
  struct Case {
    std::string file, expected;
  } cases[] = {
      {out / "notes.txt", "notes.txt: not a packed snapshot file"},
      {out / "missing.snp", "missing.snp: cannot be read ("},
      // A folder in the place of the partial file: it cannot be created.
      {out / "snap001.snp", ": cannot create " + target.catalog().snapshotPath(1).path + ".part"},
  };
  for (const Case& c : cases) {
    if (c.file == out / "snap001.snp") std::filesystem::create_directories(target.catalog().snapshotPath(1).path + ".part");
    SnapshotTransfer importer;
    EXPECT_EQ(importer.importSnapshots(&target, {c.file}).text, "Import error");
    ASSERT_EQ(importer.problems().size(), 1u) << c.expected;
    EXPECT_NE(importer.problems()[0].find(c.expected), std::string::npos)
        << importer.problems()[0] << " should hold " << c.expected;
  }
  std::filesystem::remove(target.catalog().snapshotPath(1).path + ".part");
  // A disk that fails every write (the catalog's save then fails too).
  testing_support::FaultFileSystem full;
  full.failWritesFrom(1);
  SnapshotTransfer importer(&full);
  importer.importSnapshots(&target, {out / "snap001.snp"});
  ASSERT_GE(importer.problems().size(), 1u);
  EXPECT_NE(importer.problems()[0].find(": cannot write " + target.catalog().snapshotPath(1).path + ".part"), std::string::npos)
      << importer.problems()[0];
  EXPECT_EQ(target.catalog().count(), 0u);
  EXPECT_EQ(target.catalog().lastNo, 0);
}

// Hostile snapshots: packed files whose inner file opens but is no finished snapshot (only the
// provisional header, info offset 0) take no number and leave nothing behind.
TEST_F(TransferTest, PackedFilesHoldingNoFinishedSnapshotAreRefused) {
  SnapshotFile unfinished;
  ASSERT_TRUE(unfinished.create(out / "header_only.snp"));
  unfinished.close();
  std::vector<uint8_t> header = readBytes(out / "header_only.snp");
  ASSERT_FALSE(header.empty());
  ASSERT_TRUE(packFile(out / "header_only.snp", out / "header_only.pak", nullptr));
  // A whole snapshot whose header lost its info offset.
  std::vector<uint8_t> whole = readBytes(source.catalog().snapshotPath(2).path);
  std::vector<uint8_t> noInfo = whole;
  for (size_t i = 0; i < header.size(); i++) noInfo[i] = header[i];
  writeBytes(out / "no_info.snp", noInfo);
  ASSERT_TRUE(packFile(out / "no_info.snp", out / "no_info.pak", nullptr));

  target.ensureLoaded();
  SnapshotTransfer importer;
  ShellMessage m = importer.importSnapshots(&target, {out / "header_only.pak", out / "no_info.pak"});
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(importer.problems().size(), 2u);
  EXPECT_EQ(target.catalog().count(), 0u);
  EXPECT_EQ(target.catalog().lastNo, 0);
  std::vector<std::string> names;
  listFileNames(target.catalog().dataFolder(), &names);
  EXPECT_TRUE(names.empty());
}

// At the highest number no snapshot is written over the last one: taking and importing refuse.
TEST_F(TransferTest, NoNumberLeftRefusesInsteadOfOverwriting) {
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {1}, out.str());
  target.ensureLoaded();
  target.catalog().lastNo = INT32_MAX;
  makeFolders(target.catalog().dataFolder());
  writeText(target.catalog().snapshotPath(INT32_MAX).path, "the last snapshot");
  EXPECT_EQ(target.catalog().nextNumber(), 0);
  SnapshotTransfer importer;
  EXPECT_EQ(importer.importSnapshots(&target, {out / "snap001.snp"}).kind, MessageKind::Error);
  ASSERT_EQ(importer.problems().size(), 1u);
  EXPECT_NE(importer.problems()[0].find(kNoNumberLeft), std::string::npos);
  EXPECT_EQ(readText(target.catalog().snapshotPath(INT32_MAX).path), "the last snapshot");
  EXPECT_EQ(target.catalog().count(), 0u);
}

TEST_F(TransferTest, ImportNeverOverwritesAnExistingSnapshotFile) {
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {1}, out.str());
  // The settings file of the target was lost; its data folder still holds snap001.snp.
  makeFolders(target.catalog().dataFolder());
  writeText(target.catalog().snapshotPath(1).path, "precious");
  target.ensureLoaded();
  SnapshotTransfer importer;
  EXPECT_TRUE(importer.importSnapshots(&target, {out / "snap001.snp"}).empty());
  EXPECT_EQ(catalogNumbers(target.catalog()), (std::vector<int32_t>{2}));
  EXPECT_EQ(readText(target.catalog().snapshotPath(1).path), "precious");
}

TEST_F(TransferTest, CancelledBeforeStartRegistersNothingButSaves) {
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {1, 2}, out.str());
  target.ensureLoaded();
  SnapshotTransfer importer;
  importer.cancel();
  ShellMessage m = importer.importSnapshots(&target, {out / "snap001.snp", out / "snap002.snp"});
  EXPECT_TRUE(m.empty());
  EXPECT_TRUE(importer.aborted());
  EXPECT_EQ(target.catalog().count(), 0u);
  EXPECT_EQ(target.catalog().lastNo, 0);
  EXPECT_TRUE(fileExists(target.settingsPath()));
  std::vector<std::string> names;
  listFileNames(target.catalog().dataFolder(), &names);
  EXPECT_TRUE(names.empty());

  SnapshotTransfer cancelledExport;
  cancelledExport.cancel();
  EXPECT_TRUE(cancelledExport.exportSnapshots(source, {3}, other.str()).empty());
  EXPECT_TRUE(cancelledExport.aborted());
  EXPECT_FALSE(fileExists(other / "snap003.snp"));
}

TEST_F(TransferTest, CancelDuringALargeImportLeavesAllOrNothing) {
  makeLargeSnapshot(source.catalog().snapshotPath(4).path, 4, 3u << 20);
  SnapshotTransfer exporter;
  exporter.exportSnapshots(source, {4}, out.str());
  ASSERT_TRUE(fileExists(out / "snap004.snp"));
  for (int delayUs : {0, 200, 1000, 5000}) {
    TempFolder ws;
    Settings s(ws.str());
    s.ensureLoaded();
    SnapshotTransfer importer;
    std::thread worker([&] { importer.importSnapshots(&s, {out / "snap004.snp", out / "snap004.snp"}); });
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    importer.cancel();
    worker.join();
    // Whatever the timing: every registered snapshot is whole, and no other file is left.
    std::vector<std::string> names;
    listFileNames(s.catalog().dataFolder(), &names);
    EXPECT_EQ(names.size(), s.catalog().count()) << delayUs;
    EXPECT_LE(s.catalog().count(), 2u) << delayUs;
    for (size_t i = 0; i < s.catalog().count(); i++) {
      SnapshotFile f;
      SnapshotInfo info;
      EXPECT_TRUE(f.open(s.catalog().snapshotPath(s.catalog().record(i).number).path, &info));
      f.close();
      EXPECT_EQ(readBytes(s.catalog().snapshotPath(s.catalog().record(i).number).path).size(),
                readBytes(source.catalog().snapshotPath(4).path).size());
    }
    Settings saved(ws.str());
    saved.load();
    EXPECT_EQ(saved.catalog().count(), s.catalog().count()) << delayUs;
  }
}

}  // namespace
}  // namespace keldrun
