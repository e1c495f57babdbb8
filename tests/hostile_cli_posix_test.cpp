// The command line against hostile input and careless use: names that would inject lines into
// a .reg script, outputs aimed at the workspace's own files, files that only look like packed
// snapshots, read-only workspaces, and several processes writing one workspace at once.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "workspace/settings.h"

#include "tests/cli_support.h"
#include "tests/compare_support.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::KeySpec;
using testing_support::readText;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeRegistrySnapshot;
using testing_support::writeText;

class HostileCli : public testing_support::KeldrunCliTest {
 protected:
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }
  // The shell command that runs keldrun on the workspace with args, outside any Wine prefix.
  std::string command(const std::string& args) const {
    return "env -u WINEPREFIX HOME=" + shellWord(noWineHome()) + " " + shellWord(binary.string()) + " --home " +
           shellWord(home.str()) + " " + args;
  }
  // Every snapshot file in the data folder is in the catalog and every catalog entry opens as
  // the snapshot of its number; no partial file is left.
  void expectCatalogMatchesDataFolder() {
    Settings settings(home.str());
    settings.ensureLoaded();
    std::set<std::string> listed;
    for (size_t i = 0; i < settings.catalog().count(); i++) {
      int32_t n = settings.catalog().record(i).number;
      SnapshotFile file;
      SnapshotInfo info;
      EXPECT_TRUE(file.open(settings.catalog().snapshotPath(n).path, &info)) << n;
      EXPECT_EQ(info.number, n);
      listed.insert(settings.catalog().snapshotPath(n).fileName);
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(settings.catalog().dataFolder(), ec)) {
      EXPECT_EQ(listed.count(e.path().filename().string()), 1u) << e.path().filename().string() << " is not in the catalog";
    }
  }
  TempFolder home;
};

// Outputs aimed at the workspace's own files, by any spelling or link, are refused and the
// files stay as they were.
TEST_F(HostileCli, ReportAndExportRegRefuseTheWorkspacesOwnFiles) {
  std::filesystem::create_directories(scratch / "tree");
  writeText(scratch / "tree/a.txt", "a");
  ASSERT_EQ(run("snapshot --name one --files " + shellWord(scratch / "tree")).status, 0);
  ASSERT_EQ(run("snapshot --name two --files " + shellWord(scratch / "tree")).status, 0);
  std::filesystem::copy_file(home / "data/snap001.snp", scratch / "outside.snp");
  std::filesystem::create_symlink(home / "Keldrun.cfg", scratch / "link.htm");
  std::filesystem::create_symlink(home / "data", scratch / "datalink");
  const std::vector<std::string> guarded = {home / "data/snap001.snp", home / "data/snap002.snp", home / "Keldrun.cfg",
                                            home / "KeldrunLog.txt", scratch / "outside.snp"};
  std::vector<std::string> before;
  for (const std::string& f : guarded) before.push_back(readText(f));

  for (const std::string& args : {
           "report 1 2 --out " + shellWord(home / "data/snap002.snp"),
           "report 1 2 --out " + shellWord(home / "data/../data/./snap001.snp"),
           "report 1 2 --out " + shellWord(home / "data/new.htm"),
           "report 1 2 --out " + shellWord(scratch / "datalink/other.htm"),
           "report 1 --out " + shellWord(scratch / "link.htm"),
           "report 1 --out " + shellWord(home / "KeldrunLog.txt"),
           "report " + shellWord(scratch / "outside.snp") + " --out " + shellWord(scratch / "outside.snp"),
           "export-reg 1 HKEY_CURRENT_USER --out " + shellWord(home / "Keldrun.cfg"),
           "export-reg 1 2 HKEY_CURRENT_USER --out " + shellWord(scratch / "datalink/x.reg"),
       }) {
    SCOPED_TRACE(args);
    CliRun r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("refusing to write"), std::string::npos) << r.err;
  }
  for (size_t i = 0; i < guarded.size(); i++) EXPECT_EQ(readText(guarded[i]), before[i]) << guarded[i];
  std::vector<std::string> data;
  for (const auto& e : std::filesystem::directory_iterator(home / "data")) data.push_back(e.path().filename().string());
  EXPECT_EQ(data.size(), 2u) << "nothing new in the data folder";
  EXPECT_EQ(run("report 1 2 --out " + shellWord(scratch / "fine.htm")).status, 0) << "other targets still work";
}

// snapshot --filter reads the scan filter file and leaves it as the user wrote it, lines for
// drives this machine lacks included.
TEST_F(HostileCli, SnapshotFilterNeverRewritesTheFilterFile) {
  std::filesystem::create_directories(scratch / "tree");
  writeText(scratch / "tree/a.txt", "a");
  std::string folder = "z:" + scratch.str();
  for (char& c : folder) c = c == '/' ? '\\' : char(std::tolower(static_cast<unsigned char>(c)));
  std::string filter = "Files:\r\nq:\\gone\\\r\n" + folder + "tree\\\r\n";
  std::filesystem::create_directories(home.str());
  writeText(home / "scan_filter.txt", filter);
  CliRun r = run("snapshot --filter");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readText(home / "scan_filter.txt"), filter);
}

// Concurrency: a second writer of the catalog waits for the first, or with --no-wait fails.
TEST_F(HostileCli, SecondWriterWaitsForTheLockOrFailsWithNoWait) {
  std::filesystem::create_directories(scratch / "tree");
  writeText(scratch / "tree/a.txt", "a");
  ASSERT_EQ(run("snapshot --name one --files " + shellWord(scratch / "tree")).status, 0);

  FileLock held;
  bool busy = false;
  std::string reason;
  ASSERT_TRUE(held.lock(home / "Keldrun.lock", false, &busy, &reason)) << reason;
  CliRun r = run("--no-wait rename 1 renamed");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("another Keldrun is writing the catalog"), std::string::npos) << r.err;
  EXPECT_EQ(run("list").out.find("renamed"), std::string::npos);
  EXPECT_EQ(run("list").status, 0) << "readers need no lock";

  // Without --no-wait the rename waits, says so, and is done once the lock is free.
  std::string err = scratch / "waiting.txt";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", (command("rename 1 renamed") + " >/dev/null 2>" + shellWord(err)).c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  while (readText(err).find("waiting for another Keldrun to finish\u2026") == std::string::npos) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) FAIL() << "the rename ended without waiting: " << readText(err);
    std::this_thread::yield();
  }
  EXPECT_EQ(run("list").out.find("renamed"), std::string::npos) << "renamed while the lock was held";
  held.unlock();
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(err);
  EXPECT_NE(run("list").out.find("renamed"), std::string::npos);
}

// Stress: 8 processes take, import, rename and delete snapshots on one workspace at once.
// KELDRUN_STRESS_ROUNDS sets the rounds of each process (3 by default; raise it for a long run).
TEST_F(HostileCli, EightWritersLoseNothing) {
  std::filesystem::create_directories(scratch / "tree/sub");
  writeText(scratch / "tree/a.txt", "a");
  writeText(scratch / "tree/sub/b.txt", "b");
  ASSERT_EQ(run("snapshot --name seed --files " + shellWord(scratch / "tree")).status, 0);
  ASSERT_EQ(run("export 1 --to " + shellWord(scratch / "packed")).status, 0);
  const char* env = std::getenv("KELDRUN_STRESS_ROUNDS");
  int rounds = env && std::atoi(env) > 0 ? std::atoi(env) : 3;
  std::string script;
  for (int w = 0; w < 8; w++) {
    script += "(for i in $(seq 1 " + std::to_string(rounds) + "); do ";
    switch (w % 4) {
      case 0: script += command("snapshot --name w" + std::to_string(w) + "_$i --files " + shellWord(scratch / "tree")); break;
      case 1: script += command("import " + shellWord(scratch / "packed/snap001.snp")); break;
      case 2: script += command("rename $((i % 4 + 1)) renamed_" + std::to_string(w) + "_$i"); break;
      case 3: script += command("delete $((i * 2 + " + std::to_string(w) + "))"); break;
    }
    script += " >/dev/null 2>&1; done) & ";
  }
  script += "wait";
  ASSERT_EQ(std::system(script.c_str()), 0);
  expectCatalogMatchesDataFolder();
  Settings settings(home.str());
  settings.ensureLoaded();
  // 1 seed, 2 writers of snapshots and 2 importers: every one that was not deleted is listed.
  EXPECT_GE(settings.catalog().lastNo, 1 + 4 * rounds);
}

// Injection: the names that cannot be written are named on stderr, escaped, and the rest of the
// key is written.
TEST_F(HostileCli, ExportRegNamesWhatItLeavesOutAndFails) {
  KeySpec vendor{u"Vendor", {{u"bad\n[-HKEY_CURRENT_USER]\n;\x1b]0;pwned\x07", {}, {}}},
                 {{u"fine", 1, {'o', 0, 'k', 0, 0, 0}}}};
  std::string snap = scratch / "hostile.snp";
  ASSERT_TRUE(writeRegistrySnapshot(snap, {KeySpec{u"HKEY_CURRENT_USER", {vendor}, {}}}));
  std::string reg = scratch / "out.reg";
  CliRun r = run("export-reg " + shellWord(snap) + " 'HKEY_CURRENT_USER\\Vendor' --out " + shellWord(reg));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("HKEY_CURRENT_USER\\Vendor\\bad\\n[-HKEY_CURRENT_USER]\\n;\\x1b]0;pwned\\x07"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "escapes reach the terminal";
  EXPECT_NE(r.err.find("without 1 keys or values"), std::string::npos) << r.err;
  std::string text = readText(reg);
  EXPECT_NE(text.find(std::string("f\0i\0n\0e\0", 8)), std::string::npos) << "the rest is written";
  EXPECT_EQ(text.find(std::string("b\0a\0d\0", 6)), std::string::npos);
}

// A snapshot whose registry root table cannot be read: compare and report say for that section
// that the file is damaged, as the Registry screen does, not that nothing differs, and fail
// naming the damage.
TEST_F(HostileCli, DamagedRootIsSaidNotShownAsNoDifferences) {
  KeySpec vendor{u"Vendor", {}, {{u"v", 1, {'x', 0, 0, 0}}}};
  std::string sound = scratch / "sound.snp", cut = scratch / "cut.snp";
  ASSERT_TRUE(writeRegistrySnapshot(sound, {KeySpec{u"HKEY_CURRENT_USER", {vendor}, {}}}));
  ASSERT_TRUE(writeRegistrySnapshot(cut, {KeySpec{u"HKEY_CURRENT_USER", {vendor}, {}}}));
  SnapshotInfo info;
  {
    SnapshotFile file;
    ASSERT_TRUE(file.open(cut, &info));
  }
  std::vector<uint8_t> bytes = testing_support::readBytes(cut);
  uint32_t root = info.sectionOffset[kSectionRegistry];
  ASSERT_TRUE(root != 0 && root + 4 <= bytes.size());
  for (int i = 0; i < 4; i++) bytes[root + uint32_t(i)] = uint8_t(0x7FFFFFF0u >> (8 * i));
  ASSERT_TRUE(testing_support::writeBytes(cut, bytes));

  CliRun r = run("compare " + shellWord(sound) + " " + shellWord(cut));
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("the snapshot file is damaged"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("no differences found"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("is damaged: 1 tables unreadable"), std::string::npos) << r.err;
  std::string html = scratch / "r.htm";
  r = run("report " + shellWord(sound) + " " + shellWord(cut) + " --out " + shellWord(html));
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  std::string page = readText(html), note;
  for (char c : std::string("<tr><td colspan=4>the snapshot file is damaged")) note += std::string{c, '\0'};
  EXPECT_NE(page.find(note), std::string::npos) << "the report says why";
}

}  // namespace
}  // namespace keldrun
