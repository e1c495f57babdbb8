// Abnormal ends through the keldrun binary: a real full file system (a small tmpfs), a file size
// limit and stop signals. Whatever happens, every snapshot file in data/ is in the catalog, the
// catalog is whole, and a report or export leaves its earlier file or nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory_registry.h"
#include "tests/cli_support.h"
#include "tests/report_support.h"

extern char** environ;

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::readText;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

class AbnormalEndTest : public testing_support::KeldrunCliTest {
 protected:
  CliRun run(const std::string& args) { return KeldrunCliTest::run(home, args); }

  // The snapshot files of the workspace.
  std::set<std::string> dataFiles() const {
    std::set<std::string> names;
    for (const std::string& n : TempFolder::namesIn(home + "data")) names.insert(n);
    return names;
  }
  // Every file in data/ is a snapshot the catalog lists, and the catalog lists nothing else.
  void expectCatalogMatchesData(const std::string& when) {
    Settings s(home);
    ASSERT_TRUE(s.load()) << when;
    EXPECT_EQ(s.loadStatus(), SettingsLoad::Read) << when;
    std::set<std::string> listed;
    for (size_t i = 0; i < s.catalog().count(); i++) listed.insert(s.catalog().snapshotPath(s.catalog().record(i).number).fileName);
    EXPECT_EQ(dataFiles(), listed) << when;
  }

  std::string home;  // the workspace, with a trailing separator
};

// A workspace on a tmpfs of 1 MiB, filled up as a test needs; skipped where mounting is not
// permitted.
class FullDiskTest : public AbnormalEndTest {
 protected:
  void SetUp() override {
    AbnormalEndTest::SetUp();
    if (IsSkipped()) return;
    if (::mount("tmpfs", disk.str().c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    mounted = true;
    home = disk.str() + "home/";
    std::filesystem::create_directories(home);
    writeText(tree / "a.txt", "a");
  }
  void TearDown() override {
    if (mounted) ::umount2(disk.str().c_str(), MNT_DETACH);
  }

  // Fills the file system with page-sized files, then frees `pages` of them.
  void leaveFree(int pages) {
    std::filesystem::remove_all(disk / "filler");
    std::filesystem::create_directories(disk / "filler");
    const std::string page(4096, 'f');
    int n = 0;
    for (;; n++) {
      FILE* f = std::fopen((disk / ("filler/" + std::to_string(n))).c_str(), "wb");
      bool whole = f && std::fwrite(page.data(), 1, page.size(), f) == page.size();
      if (f && std::fclose(f) != 0) whole = false;
      if (!whole) break;
    }
    std::filesystem::remove(disk / ("filler/" + std::to_string(n)));
    for (int i = 1; i <= pages && i <= n; i++) std::filesystem::remove(disk / ("filler/" + std::to_string(n - i)));
  }
  void freeAll() { std::filesystem::remove_all(disk / "filler"); }

  // Snapshot 1 with a registry key, written by the test and entered in the catalog.
  void workspaceWithRegistrySnapshot() {
    auto registry = MemoryRegistry::create();
    for (int i = 0; i < 400; i++)
      registry->setValue(kHiveCurrentUser, u"Software\\Vendor",
                         u"value" + fromUtf8(std::to_string(i)), 1,
                         testing_support::utf16(u"a value of some length to fill pages"));
    report_testing::SnapSpec spec;
    spec.registry = registry;
    std::filesystem::create_directories(home + "data");
    ASSERT_TRUE(report_testing::writeSnapshot(home + "data/snap001.snp", spec));
    Settings s(home);
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(home + "data/snap001.snp", &info));
    file.close();
    info.number = 1;
    s.catalog().addSnapshot(info);
    ASSERT_TRUE(s.save());
  }

  TempFolder disk, tree, elsewhere;
  bool mounted = false;
};

// With 0 to 6 pages free, a snapshot either lands whole in the catalog or fails with status 2
// and leaves nothing; the catalog never lists a missing file nor misses a present one.
TEST_F(FullDiskTest, SnapshotAndImportSucceedWholeOrLeaveNothing) {
  ASSERT_EQ(run("snapshot --name first --files " + shellWord(tree.str())).status, 0);
  ASSERT_EQ(run("export 1 --to " + shellWord(elsewhere.str())).status, 0) << "the packed copy to import";
  int failed = 0, succeeded = 0;
  for (int pages = 0; pages <= 6; pages++) {
    for (const std::string& command :
         {"snapshot --files " + shellWord(tree.str()), "import " + shellWord(elsewhere / "snap001.snp")}) {
      std::string when = command.substr(0, command.find(' ')) + " with " + std::to_string(pages) + " pages free";
      std::string cfg = readText(home + "Keldrun.cfg");
      std::set<std::string> before = dataFiles();
      leaveFree(pages);
      CliRun r = run(command);
      freeAll();
      if (r.status == 0) {
        succeeded++;
        EXPECT_EQ(dataFiles().size(), before.size() + 1) << when;
      } else {
        failed++;
        EXPECT_EQ(r.status, 2) << when << ": " << r.err;
        EXPECT_EQ(r.out.find(".snp"), std::string::npos) << when << " names no new snapshot: " << r.out;
        EXPECT_EQ(dataFiles(), before) << when << ": " << r.err;
        EXPECT_EQ(readText(home + "Keldrun.cfg"), cfg) << when;
      }
      expectCatalogMatchesData(when);
      // The lock file stays: it is the workspace's, like the catalog.
      EXPECT_EQ(TempFolder::namesIn(home),
                (std::vector<std::string>{"Keldrun.cfg", "Keldrun.lock", "KeldrunLog.txt", "data"}))
          << when << ": no temporary file is left";
    }
  }
  EXPECT_GT(failed, 0) << "some runs met the full disk";
  EXPECT_GT(succeeded, 0) << "some runs had room";
}

// A data folder that cannot be written (here bound read-only onto itself): import names the
// file it cannot create and why, not the packed file it was given, and uses no number.
TEST_F(FullDiskTest, ImportIntoAReadOnlyDataFolderSaysWhatFailed) {
  ASSERT_EQ(run("snapshot --name first --files " + shellWord(tree.str())).status, 0);
  ASSERT_EQ(run("export 1 --to " + shellWord(elsewhere.str())).status, 0);
  const std::string data = home + "data";
  ASSERT_EQ(::mount(data.c_str(), data.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
  bool readOnly = ::mount(nullptr, data.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  CliRun r = run("import " + shellWord(elsewhere / "snap001.snp"));
  ::umount2(data.c_str(), MNT_DETACH);
  ASSERT_TRUE(readOnly) << "cannot make the data folder read-only here";
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot create " + data + "/snap002.snp"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(std::strerror(EROFS)), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("not a packed snapshot"), std::string::npos) << r.err;
  expectCatalogMatchesData("after the refused import");
}

TEST_F(FullDiskTest, ReportAndRegExportKeepTheEarlierFile) {
  workspaceWithRegistrySnapshot();
  const std::string out = disk.str() + "out/";
  std::filesystem::create_directories(out);
  writeText(out + "r.htm", "earlier report");
  writeText(out + "x.reg", "earlier export");
  leaveFree(1);
  CliRun r = run("report 1 --out " + shellWord(out + "r.htm"));
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  r = run("export-reg 1 HKEY_CURRENT_USER\\\\Software --out " + shellWord(out + "x.reg"));
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("x.reg"), std::string::npos) << r.err;
  EXPECT_EQ(TempFolder::namesIn(out), (std::vector<std::string>{"r.htm", "x.reg"}));
  EXPECT_EQ(readText(out + "r.htm"), "earlier report");
  EXPECT_EQ(readText(out + "x.reg"), "earlier export");

  // With room, the same commands replace them.
  freeAll();
  ASSERT_EQ(run("report 1 --out " + shellWord(out + "r.htm")).status, 0);
  ASSERT_EQ(run("export-reg 1 HKEY_CURRENT_USER\\\\Software --out " + shellWord(out + "x.reg")).status, 0);
  EXPECT_NE(readText(out + "r.htm"), "earlier report");
  EXPECT_NE(readText(out + "x.reg").find("[\0H\0K\0E\0Y\0_\0C\0U\0R\0R\0E\0N\0T\0_\0U\0S\0E\0R\0", 0, 36),
            std::string::npos);
}

// A tree of 30,000 files: its snapshot takes a while and passes any small size limit.
class StoppedSnapshotTest : public AbnormalEndTest {
 protected:
  static void SetUpTestSuite() {
    large = new TempFolder;
    for (int d = 0; d < 150; d++) {
      std::string folder = *large / ("d" + std::to_string(d) + "/");
      std::filesystem::create_directories(folder);
      for (int f = 0; f < 200; f++) std::fclose(std::fopen((folder + std::to_string(f)).c_str(), "w"));
    }
  }
  static void TearDownTestSuite() {
    delete large;
    large = nullptr;
  }
  void SetUp() override {
    AbnormalEndTest::SetUp();
    if (IsSkipped()) return;
    home = workspace.str();
    writeText(tree / "a.txt", "a");
    ASSERT_EQ(run("snapshot --name kept --files " + shellWord(tree.str())).status, 0);
    cfg = readText(home + "Keldrun.cfg");
  }

  // Starts a snapshot of the large tree, sends sig once its file exists, and returns the wait
  // status.
  int snapshotStoppedBy(int sig) {
    std::vector<std::string> args = {"/usr/bin/env", "-u", "WINEPREFIX", "HOME=" + noWineHome(),
                                     binary.string(), "--home", home, "snapshot", "--name", "stopped",
                                     "--files", large->str()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start keldrun";
      return -1;
    }
    // Waits for the new file (not a timing assumption: the signal may come at any point).
    int status = 0;
    for (int i = 0; i < 20000 && !std::filesystem::exists(home + "data/snap002.snp"); i++) {
      if (waitpid(pid, &status, WNOHANG) == pid) return status;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, sig);
    waitpid(pid, &status, 0);
    return status;
  }

  // After a stop: the stopped snapshot left nothing, or (when the signal came after the scan)
  // it is whole and listed.
  void expectStoppedCleanly(int status, const std::string& what) {
    std::string err = readText(scratch / "err.txt");
    ASSERT_TRUE(WIFEXITED(status)) << what << " ended the process: " << err;
    if (WEXITSTATUS(status) == 0) {
      EXPECT_EQ(dataFiles(), (std::set<std::string>{"snap001.snp", "snap002.snp"})) << what;
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 2) << what;
      EXPECT_NE(err.find("snap002.snp deleted"), std::string::npos) << what << ": " << err;
      EXPECT_EQ(dataFiles(), std::set<std::string>{"snap001.snp"}) << what;
      EXPECT_EQ(readText(home + "Keldrun.cfg"), cfg) << what;
    }
    expectCatalogMatchesData(what);
  }

  static TempFolder* large;
  TempFolder workspace, tree;
  std::string cfg;
};
TempFolder* StoppedSnapshotTest::large = nullptr;

TEST_F(StoppedSnapshotTest, TermAndHangUpDeleteThePartialFile) {
  expectStoppedCleanly(snapshotStoppedBy(SIGTERM), "SIGTERM");
  expectStoppedCleanly(snapshotStoppedBy(SIGHUP), "SIGHUP");
}

TEST_F(StoppedSnapshotTest, FileSizeLimitFailsTheSnapshotCleanly) {
  // 64 blocks are room for the catalog, not for the snapshot of 30,000 files.
  std::string cmd = "ulimit -f 64 && exec env -u WINEPREFIX HOME=" + shellWord(noWineHome()) + " " +
                    shellWord(binary.string()) + " --home " + shellWord(home) + " snapshot --files " +
                    shellWord(large->str()) + " 2>" + shellWord(scratch / "err.txt");
  int status = std::system(cmd.c_str());
  std::string err = readText(scratch / "err.txt");
  ASSERT_TRUE(WIFEXITED(status)) << "the size limit ended the process: " << err;
  EXPECT_EQ(WEXITSTATUS(status), 2) << err;
  EXPECT_NE(err.find("snap002.snp"), std::string::npos) << err;
  EXPECT_EQ(dataFiles(), std::set<std::string>{"snap001.snp"});
  EXPECT_EQ(readText(home + "Keldrun.cfg"), cfg);
  expectCatalogMatchesData("ulimit -f");
}

}  // namespace
}  // namespace keldrun
