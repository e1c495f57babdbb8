#include "workspace/take_snapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "base/files.h"
#include "engine/file_extension.h"
#include "engine/snapshot.h"
#include "tests/fault_file_system.h"
#include "tests/test_support.h"
#include "workspace/catalog_lock.h"

namespace keldrun {
namespace {

using testing_support::readBytes;
using testing_support::readText;
using testing_support::TempFolder;
using testing_support::writeText;

#ifndef _WIN32
// The Windows path of a native folder on the single drive z: of a seam without a prefix.
std::u16string onDriveZ(const std::string& native) {
  std::u16string out = u"z:";
  for (char c : native) out += c == '/' ? u'\\' : char16_t(c);
  return lowerAscii(out);
}

class TakeSnapshotTest : public ::testing::Test {
 protected:
  TakeSnapshotTest() : env(newPosixEnv("")), settings(home.str()) {
    std::filesystem::create_directories(tree / "a/b");
    writeText(tree / "a/one.txt", "1");
    writeText(tree / "a/b/two.txt", "22");
  }
  // Writes a scan filter file that selects the test tree only.
  void selectTree() {
    writeText(home / "scan_filter.txt",
              "Registry:\n\nFiles:\n" + lowBytes(onDriveZ(tree.str())) + "\n\nApplications:\n\n");
  }
  // Ticks like the dialog's timer until the scan has ended.
  ShellMessage runToEnd(TakeSnapshot* t) {
    for (int i = 0; i < 2000; i++) {
      ShellMessage m = t->tick();
      if (t->state() != TakeSnapshot::State::Scanning) return m;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "scan did not end";
    return {};
  }
  TempFolder home, tree;
  std::unique_ptr<Env> env;
  Settings settings;
};

TEST_F(TakeSnapshotTest, SetUpOffersTheNextNumberAndTheStoredChoice) {
  settings.catalog().lastNo = 6;
  settings.fullScan = 0;
  TakeSnapshot t(&settings, env.get());
  EXPECT_EQ(t.name, "Snapshot #7");
  EXPECT_EQ(t.group, TakeSnapshot::kSelectedItems);
  EXPECT_TRUE(t.treeEnabled());
  EXPECT_STREQ(t.buttonText(), "Start");
  // No scan filter file: everything checked.
  FilterList lists[kSectionCount];
  t.scanLists(lists);
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(lists[s], FilterList{u"*"}) << s;
}

TEST_F(TakeSnapshotTest, TheStoredChoiceIsReadFromTheSettingsFileBeforeItIsUsed) {
  {
    Settings earlier(home.str());
    earlier.fullScan = 0;
    ASSERT_TRUE(earlier.save());
  }
  TakeSnapshot t(&settings, env.get());  // settings not yet loaded
  EXPECT_EQ(t.group, TakeSnapshot::kSelectedItems);
  EXPECT_TRUE(t.treeEnabled());
}

TEST_F(TakeSnapshotTest, SelectedItemsScanFinishesIntoTheCatalog) {
  selectTree();
  settings.fullScan = 0;
  TakeSnapshot t(&settings, env.get());
  t.name = "first";
  ShellMessage m = t.start();
  ASSERT_TRUE(m.empty()) << m.text;
  EXPECT_EQ(t.state(), TakeSnapshot::State::Scanning);
  EXPECT_FALSE(t.controlsEnabled());
  EXPECT_STREQ(t.buttonText(), "Stop");
  m = runToEnd(&t);
  ASSERT_EQ(t.state(), TakeSnapshot::State::Finished);
  EXPECT_EQ(m.kind, MessageKind::Information);
  EXPECT_EQ(m.text.rfind("Snapshot done in ", 0), 0u) << m.text;
  EXPECT_NE(m.text.find("\n2 folders, 2 files\n"), std::string::npos) << m.text;
  EXPECT_EQ(t.progressText(), "DONE");

  // Catalog, numbering, settings file and log.
  ASSERT_EQ(settings.catalog().count(), 1u);
  EXPECT_EQ(settings.catalog().record(0).number, 1);
  EXPECT_EQ(settings.catalog().record(0).name, "first");
  EXPECT_EQ(settings.catalog().lastNo, 1);
  EXPECT_EQ(settings.fullScan, 0);
  EXPECT_EQ(settings.catalog().record(0).sectionState[kSectionFiles], SectionState::Partial);
  EXPECT_EQ(settings.catalog().record(0).sectionState[kSectionRegistry], SectionState::NotScanned);
  Settings reread(home.str());
  ASSERT_TRUE(reread.load());
  ASSERT_EQ(reread.catalog().count(), 1u);
  EXPECT_EQ(reread.catalog().record(0).name, "first");
  EXPECT_EQ(readText(home / "KeldrunLog.txt"), m.text + "\n");
  // The filter file was rewritten from the tree; the next dialog shows the same choice.
  FilterList stored[kSectionCount];
  loadFilter(home / "scan_filter.txt", stored);
  EXPECT_EQ(stored[kSectionFiles], FilterList{onDriveZ(tree.str())});
  EXPECT_TRUE(stored[kSectionRegistry].empty());

  // A second snapshot gets the next number and a second log entry directly after the first.
  TakeSnapshot t2(&settings, env.get());
  EXPECT_EQ(t2.name, "Snapshot #2");
  ASSERT_TRUE(t2.start().empty());
  ShellMessage m2 = runToEnd(&t2);
  ASSERT_EQ(t2.state(), TakeSnapshot::State::Finished);
  EXPECT_EQ(settings.catalog().record(1).number, 2);
  EXPECT_TRUE(fileExists(settings.catalog().snapshotPath(2).path));
  EXPECT_EQ(readText(home / "KeldrunLog.txt"), m.text + "\n" + m2.text + "\n");
}

// Shared use: while another process holds the workspace lock Start is refused and leaves
// nothing; a running scan holds the lock from Start until its snapshot is in the saved
// catalog, and enters it after what the other process saved meanwhile.
TEST_F(TakeSnapshotTest, TheScanHoldsTheWorkspaceLockFromStartToTheSavedCatalog) {
  selectTree();
  settings.fullScan = 0;
  settings.ensureLoaded();
  FileLock other;
  bool busy = false;
  std::string reason;
  ASSERT_TRUE(other.lock(home / "Keldrun.lock", false, &busy, &reason)) << reason;
  TakeSnapshot refused(&settings, env.get());
  ShellMessage m = refused.start();
  EXPECT_EQ(m.kind, MessageKind::Warning);
  EXPECT_EQ(m.text, kCatalogBusy);
  EXPECT_EQ(refused.state(), TakeSnapshot::State::Idle);
  EXPECT_FALSE(std::filesystem::exists(settings.catalog().dataFolder())) << "no snapshot file";
  // Meanwhile the other process enters snapshot 1 in the catalog.
  {
    Settings theirs(home.str());
    theirs.ensureLoaded();
    theirs.fullScan = 0;
    TakeSnapshot t(&theirs, env.get());
    other.unlock();
    ASSERT_TRUE(t.start().empty());
    ASSERT_EQ(runToEnd(&t).kind, MessageKind::Information);
    ASSERT_TRUE(other.lock(home / "Keldrun.lock", false, &busy, &reason)) << reason;
  }
  other.unlock();

  TakeSnapshot t(&settings, env.get());
  ASSERT_TRUE(t.start().empty());
  EXPECT_EQ(t.number(), 2) << "the number after the one the other process gave";
  EXPECT_FALSE(other.lock(home / "Keldrun.lock", false, &busy, &reason));
  EXPECT_TRUE(busy) << "held while scanning";
  ASSERT_EQ(runToEnd(&t).kind, MessageKind::Information);
  EXPECT_TRUE(other.lock(home / "Keldrun.lock", false, &busy, &reason)) << "released once saved";
  other.unlock();
  Settings reread(home.str());
  ASSERT_TRUE(reread.load());
  ASSERT_EQ(reread.catalog().count(), 2u) << "the other process's snapshot is kept";
  EXPECT_EQ(reread.catalog().record(0).number, 1);
  EXPECT_EQ(reread.catalog().record(1).number, 2);

  // Stop releases it too.
  TakeSnapshot stopped(&settings, env.get());
  ASSERT_TRUE(stopped.start().empty());
  stopped.stop();
  EXPECT_TRUE(other.lock(home / "Keldrun.lock", false, &busy, &reason)) << "released on Stop";
}

TEST_F(TakeSnapshotTest, StartRefusesAnEmptyNameAndAnEmptySelection) {
  selectTree();
  settings.fullScan = 0;
  TakeSnapshot t(&settings, env.get());
  t.name = "";
  ShellMessage m = t.start();
  EXPECT_EQ(m.kind, MessageKind::Warning);
  EXPECT_EQ(m.text, "Invalid name");
  EXPECT_EQ(t.state(), TakeSnapshot::State::Idle);
  t.name = " ";  // white space is a name
  t.tree().click(t.tree().root());  // uncheck everything
  std::vector<uint8_t> filterBefore = readBytes(home / "scan_filter.txt");
  m = t.start();
  EXPECT_EQ(m.kind, MessageKind::Warning);
  EXPECT_EQ(m.text, "Select at least one item");
  EXPECT_EQ(t.state(), TakeSnapshot::State::Idle);
  EXPECT_EQ(readBytes(home / "scan_filter.txt"), filterBefore);  // not written
  EXPECT_FALSE(std::filesystem::exists(settings.catalog().dataFolder()));
}

TEST_F(TakeSnapshotTest, CannotCreateNamesThePath) {
  selectTree();
  settings.fullScan = 0;
  writeText(home / "data", "a file where the data folder should be");
  TakeSnapshot t(&settings, env.get());
  ShellMessage m = t.start();
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(m.text.rfind("Cannot create (" + settings.catalog().snapshotPath(1).path + ")", 0), 0u) << m.text;
  EXPECT_EQ(t.state(), TakeSnapshot::State::Idle);
  EXPECT_EQ(settings.catalog().count(), 0u);
  EXPECT_EQ(settings.catalog().lastNo, 0);
  // The filter file was written before the file was tried.
  EXPECT_TRUE(fileExists(home / "scan_filter.txt"));
}

// A disk that fills during the scan, or a catalog that cannot be saved after it: an error naming
// the file, no new snapshot file, and the catalog as it was, on disk and in memory.
TEST_F(TakeSnapshotTest, AFullDiskLosesNothingTheCatalogHeld) {
  selectTree();
  settings.fullScan = 0;
  {
    TakeSnapshot first(&settings, env.get());
    ASSERT_TRUE(first.start().empty());
    ASSERT_EQ(runToEnd(&first).kind, MessageKind::Information);
  }
  const std::string catalogBefore = readText(home / "Keldrun.cfg");
  FilterList lists[kSectionCount];
  lists[kSectionFiles] = {onDriveZ(tree.str())};

  testing_support::FaultFileSystem full;
  full.setByteLimit(64);
  TakeSnapshot t(&settings, env.get(), &full);
  ShellMessage m = t.start(lists);
  if (m.empty()) m = runToEnd(&t);
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_NE(m.text.find(settings.catalog().snapshotPath(2).path), std::string::npos) << m.text;
  EXPECT_TRUE(full.anyFailed());
  EXPECT_FALSE(fileExists(settings.catalog().snapshotPath(2).path));

  testing_support::FaultFileSystem noRename;
  noRename.failRenames(true);
  TakeSnapshot u(&settings, env.get(), &noRename);
  ASSERT_TRUE(u.start(lists).empty());
  m = runToEnd(&u);
  EXPECT_EQ(m.kind, MessageKind::Error);
  EXPECT_EQ(m.text, "Cannot save the catalog (" + settings.settingsPath() + ")");
  EXPECT_FALSE(fileExists(settings.catalog().snapshotPath(2).path));

  ASSERT_EQ(settings.catalog().count(), 1u);
  EXPECT_EQ(settings.catalog().lastNo, 1);
  EXPECT_EQ(readText(home / "Keldrun.cfg"), catalogBefore);
  Settings reread(home.str());
  ASSERT_TRUE(reread.load());
  ASSERT_EQ(reread.catalog().count(), 1u);
  EXPECT_TRUE(fileExists(settings.catalog().snapshotPath(1).path));
}

// Stop pressed after the last scan thread ended but before the timer noticed: the snapshot is
// whole and is kept, as the timer would have kept it.
TEST_F(TakeSnapshotTest, StopAfterTheScanEndedKeepsTheSnapshot) {
  selectTree();
  settings.fullScan = 0;
  TakeSnapshot t(&settings, env.get());
  ASSERT_TRUE(t.start().empty());
  ASSERT_EQ(t.state(), TakeSnapshot::State::Scanning);
  for (int i = 0; i < 2000 && !t.scan().complete(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(t.scan().complete());
  ShellMessage said = t.pressStop();
  EXPECT_EQ(t.state(), TakeSnapshot::State::Finished);
  EXPECT_EQ(said.kind, MessageKind::Information);
  EXPECT_EQ(said.text, t.completionText());
  EXPECT_TRUE(fileExists(settings.catalog().snapshotPath(1).path));
  EXPECT_EQ(settings.catalog().count(), 1u);
  Settings reread(home.str());
  ASSERT_TRUE(reread.load());
  EXPECT_EQ(reread.catalog().count(), 1u);
}

TEST_F(TakeSnapshotTest, StopDeletesTheFileAndAddsNothing) {
  for (int i = 0; i < 200; i++) std::filesystem::create_directories(tree / ("d" + std::to_string(i) + "/x/y"));
  selectTree();
  settings.fullScan = 0;
  TakeSnapshot t(&settings, env.get());
  ASSERT_TRUE(t.start().empty());
  std::string path = t.path();
  ShellMessage said = t.stop();
  EXPECT_EQ(said.kind, MessageKind::Information);
  EXPECT_EQ(said.text, "Snapshot stopped; " + path + " deleted");
  EXPECT_EQ(t.state(), TakeSnapshot::State::Stopped);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(settings.catalog().count(), 0u);
  EXPECT_EQ(settings.catalog().lastNo, 0);
  EXPECT_EQ(settings.fullScan, 0);
  EXPECT_FALSE(fileExists(home / "KeldrunLog.txt"));
  EXPECT_FALSE(fileExists(home / "Keldrun.cfg"));
  // The next snapshot still gets number 1.
  TakeSnapshot again(&settings, env.get());
  EXPECT_EQ(again.name, "Snapshot #1");
}

// The setting "dg" makes the scan record digests (33 bytes more per file than without), and the
// next scan copies from the newest snapshots of this computer that recorded files.
TEST_F(TakeSnapshotTest, RecordDigestsFollowsTheSettingAndCopiesFromThisComputer) {
  FilterList lists[kSectionCount] = {{}, {onDriveZ(tree.str()) + u"a\\"}, {}};
  settings.recordDigests = 1;
  TakeSnapshot first(&settings, env.get());
  EXPECT_TRUE(first.recordDigests);
  ASSERT_TRUE(first.start(lists).empty());
  runToEnd(&first);
  ASSERT_EQ(first.state(), TakeSnapshot::State::Finished);
  settings.recordDigests = 0;
  TakeSnapshot plain(&settings, env.get());
  EXPECT_FALSE(plain.recordDigests);
  ASSERT_TRUE(plain.start(lists).empty());
  runToEnd(&plain);
  ASSERT_EQ(plain.state(), TakeSnapshot::State::Finished);
  EXPECT_EQ(readBytes(first.path()).size(), readBytes(plain.path()).size() + 2 * (1 + kSha256Size));

  TakeSnapshot next(&settings, env.get());
  EXPECT_EQ(next.digestSources(), (std::vector<std::string>{plain.path(), first.path()}));
  settings.catalog().record(1).computer += "-elsewhere";
  EXPECT_EQ(next.digestSources(), (std::vector<std::string>{first.path()}));
  settings.catalog().record(0).sectionState[kSectionFiles] = SectionState::NotScanned;
  EXPECT_TRUE(next.digestSources().empty());
}

// The dialog's choice is stored back with the snapshot and offered to the next one; a choice
// for one scan only leaves the setting as it was.
TEST_F(TakeSnapshotTest, RecordDigestsChoiceIsStoredInTheSettingsFileWhenKept) {
  FilterList lists[kSectionCount] = {{}, {onDriveZ(tree.str()) + u"a\\"}, {}};
  for (bool keep : {true, false}) {
    for (int choice : {1, 0}) {
      SCOPED_TRACE(testing::Message() << "keep " << keep << " choice " << choice);
      settings.recordDigests = 1 - choice;
      TakeSnapshot t(&settings, env.get());
      t.recordDigests = choice != 0;
      t.keepDigestsChoice = keep;
      ASSERT_TRUE(t.start(lists).empty());
      runToEnd(&t);
      ASSERT_EQ(t.state(), TakeSnapshot::State::Finished);
      int stored = keep ? choice : 1 - choice;
      EXPECT_EQ(settings.recordDigests, stored);
      Settings reread(home.str());
      ASSERT_TRUE(reread.load());
      EXPECT_EQ(reread.recordDigests, stored);
      EXPECT_EQ(TakeSnapshot(&reread, env.get()).recordDigests, stored != 0);
    }
  }
}

TEST_F(TakeSnapshotTest, ExplicitListsLeaveTheFilterFileAlone) {
  TakeSnapshot t(&settings, env.get());
  FilterList lists[kSectionCount] = {{}, {onDriveZ(tree.str()) + u"a\\"}, {}};
  ASSERT_TRUE(t.start(lists).empty());
  runToEnd(&t);
  ASSERT_EQ(t.state(), TakeSnapshot::State::Finished);
  EXPECT_FALSE(fileExists(home / "scan_filter.txt"));
  EXPECT_EQ(t.info().filterList[kSectionFiles], lists[kSectionFiles]);
  EXPECT_EQ(settings.fullScan, 1);
  EXPECT_NE(t.completionText().find("\n1 folders, 2 files\n"), std::string::npos) << t.completionText();
}
#endif

}  // namespace
}  // namespace keldrun
