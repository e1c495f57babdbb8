// Shared use of one workspace by the window program and the command line: every writer of the
// catalog holds the workspace lock and saves over the catalog as the others left it. Another
// process is stood in for by a second handle on the lock file, which the system treats alike.
#include "workspace/catalog_lock.h"

#include <gtest/gtest.h>

#include "base/files.h"
#include "engine/pack.h"
#include "tests/test_support.h"
#include "workspace/catalog_commands.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::TempFolder;

std::vector<int32_t> savedNumbers(const std::string& home) {
  Settings saved(home);
  saved.load();
  return testing_support::catalogNumbers(saved.catalog());
}

class CatalogLockTest : public ::testing::Test {
 protected:
  CatalogLockTest() : window(home.str()) {
    window.ensureLoaded();
    for (int n = 1; n <= 3; n++) addSnapshotTo(&window, n, "snap " + std::to_string(n));
    EXPECT_TRUE(window.save());
    EXPECT_TRUE(packFile(window.catalog().snapshotPath(1).path, out / "packed.snp", nullptr));
  }
  // Takes the lock as another process would; false when someone holds it.
  bool otherTakes() {
    bool busy = false;
    std::string reason;
    return other.lock(lockPath(), false, &busy, &reason);
  }
  std::string lockPath() const { return home / "Keldrun.lock"; }

  TempFolder home, out;
  Settings window;
  FileLock other;
};

// While another process holds the lock, delete, rename and import do nothing and say so; once
// it is free they work.
TEST_F(CatalogLockTest, WritersRefuseWhileAnotherProcessHoldsTheLock) {
  ASSERT_TRUE(otherTakes());
  ShellMessage refused;
  EXPECT_FALSE(deleteSnapshots(&window, {1}, nullptr, &refused));
  EXPECT_EQ(refused.kind, MessageKind::Warning);
  EXPECT_EQ(refused.text, kCatalogBusy);
  EXPECT_TRUE(fileExists(window.catalog().snapshotPath(1).path));

  SnapshotProperties properties(&window, 2);
  ASSERT_TRUE(properties.open().empty());
  EXPECT_FALSE(properties.ok("renamed")) << "the dialog stays open";
  EXPECT_EQ(properties.refusal().text, kCatalogBusy);
  SnapshotFile file;
  SnapshotInfo info;
  ASSERT_TRUE(file.open(window.catalog().snapshotPath(2).path, &info));
  file.close();
  EXPECT_EQ(info.name, "snap 2");

  SnapshotTransfer importer;
  ShellMessage m = importer.importSnapshots(&window, {out / "packed.snp"});
  EXPECT_EQ(m.text, kCatalogBusy);
  EXPECT_TRUE(importer.imported().empty());
  EXPECT_EQ(window.catalog().lastNo, 3);
  EXPECT_EQ(savedNumbers(home.str()), (std::vector<int32_t>{1, 2, 3}));

  other.unlock();
  EXPECT_TRUE(deleteSnapshots(&window, {1}, nullptr, &refused));
  EXPECT_TRUE(properties.ok("renamed"));
  EXPECT_TRUE(properties.refusal().empty());
  EXPECT_TRUE(importer.importSnapshots(&window, {out / "packed.snp"}).empty());
  EXPECT_EQ(savedNumbers(home.str()), (std::vector<int32_t>{2, 3, 4}));
  EXPECT_TRUE(otherTakes()) << "every writer let the lock go";
}

// The window loaded the catalog long ago; another process has since added snapshots. Each
// save of the window keeps them, and keeps the window's own unsaved options.
TEST_F(CatalogLockTest, SavesKeepWhatOtherProcessesSavedMeanwhile) {
  window.viewMode = 1;  // changed in the window, not yet saved
  {
    Settings cli(home.str());
    CatalogLock lock(&cli);
    ASSERT_TRUE(lock.tryTake().empty());
    addSnapshotTo(&cli, cli.catalog().nextNumber(), "from the command line");
    ASSERT_TRUE(cli.save());
  }
  ASSERT_TRUE(deleteSnapshots(&window, {1}));
  EXPECT_EQ(savedNumbers(home.str()), (std::vector<int32_t>{2, 3, 4}));
  {
    Settings cli(home.str());
    SnapshotTransfer importer;
    ASSERT_TRUE(importer.importSnapshots(&cli, {out / "packed.snp"}).empty());
  }
  // The save when the window closes.
  {
    CatalogLock lock(&window);
    ASSERT_TRUE(lock.tryTake().empty());
    ASSERT_TRUE(window.save());
  }
  EXPECT_EQ(savedNumbers(home.str()), (std::vector<int32_t>{2, 3, 4, 5}));
  EXPECT_EQ(window.catalog().lastNo, 5);
  Settings saved(home.str());
  saved.load();
  EXPECT_EQ(saved.viewMode, 1);
}

// A command that holds the lock runs models that take it again: they neither wait for their
// own process nor let the lock go before the command does.
TEST_F(CatalogLockTest, TakenAgainInTheSameProcessItStaysHeldToTheLastRelease) {
  CatalogLock command(&window);
  ASSERT_TRUE(command.tryTake().empty());
  EXPECT_TRUE(deleteSnapshots(&window, {3}));
  EXPECT_FALSE(otherTakes()) << "still held by the command";
  command.release();
  EXPECT_TRUE(otherTakes());
}

}  // namespace
}  // namespace keldrun
