#include "setup/installation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/files.h"
#include "base/text.h"
#include "setup/folders.h"
#include "tests/test_support.h"
#include "workspace/catalog_lock.h"
#include "workspace/settings.h"

namespace keldrun {
namespace {

using testing_support::addSnapshotTo;
using testing_support::makeSnapshotFile;
using testing_support::TempFolder;

// The folders here have names above U+00FF, which the standard streams and the narrow forms of
// std::filesystem would take in the ANSI code page on Windows: UTF-8 all the way.
std::string readText(const std::string& path) {
  std::string out;
  return readWholeFile(path, &out) ? out : std::string();
}

void writeText(const std::string& path, const std::string& text) {
  FILE* f = openFile(path, "wb");
  ASSERT_NE(f, nullptr) << path;
  EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
  std::fclose(f);
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(folder), ec))
    out.push_back(e.path().filename().u8string());
  std::sort(out.begin(), out.end());
  return out;
}

// ---- Start-up dispatch and the second stage's command line ----

TEST(StartDispatch, ChoosesTheRunFromArgumentsAndFileName) {
  struct Case {
    std::vector<std::u16string> args;
    std::u16string exe;
    StartMode mode;
    std::u16string folder;
  } cases[] = {
      {{}, u"Keldrun.exe", StartMode::MainWindow, u""},
      {{}, u"KELDRUN.EXE", StartMode::MainWindow, u""},
      {{u"somefile"}, u"keldrun.exe", StartMode::MainWindow, u""},
      {{}, u"keldrun-setup.exe", StartMode::SetupWindow, u""},
      {{}, u"Keldrun.exe.exe", StartMode::SetupWindow, u""},
      {{u"-uninstall"}, u"Keldrun.exe", StartMode::UninstallFirstStage, u""},
      {{u"-uninstall"}, u"uninst_keldrun.exe", StartMode::UninstallFirstStage, u""},
      {{u"-uninstall", u"C:\\Program Files\\Keldrun\""}, u"uninst_keldrun.exe",
       StartMode::UninstallSecondStage, u"C:\\Program Files\\Keldrun\""},
      {{u"-uninstall", u"C:\\P\\", u"extra"}, u"x.exe", StartMode::UninstallSecondStage, u"C:\\P\\"},
      // Case-sensitive: anything else is no uninstall request.
      {{u"-UNINSTALL"}, u"Keldrun.exe", StartMode::MainWindow, u""},
      {{u"-UNINSTALL"}, u"setup.exe", StartMode::SetupWindow, u""},
  };
  for (const Case& c : cases) {
    StartDecision d = decideStart(c.args, c.exe);
    EXPECT_EQ(int(d.mode), int(c.mode)) << toUtf8(c.exe) << " " << c.args.size();
    EXPECT_EQ(d.folderArgument, c.folder);
  }
}

TEST(StartDispatch, SecondStageFolderWithOrWithoutStrayQuote) {
  std::string sep(1, pathSeparator());
  EXPECT_EQ(secondStageFolder(u"C:\\Program Files\\Keldrun\\\""), "C:\\Program Files\\Keldrun\\");
  EXPECT_EQ(secondStageFolder(u"C:\\Program Files\\Keldrun\\"), "C:\\Program Files\\Keldrun\\");
  // Without a trailing separator the last letter stays and a separator is added.
  EXPECT_EQ(secondStageFolder(u"D:\\Tools\\Keldrun"), "D:\\Tools\\Keldrun" + sep);
  EXPECT_EQ(secondStageFolder(u"D:\\Tools\\Keldrun\""), "D:\\Tools\\Keldrun" + sep);
  EXPECT_EQ(secondStageFolder(u"D:\\\u03a9 \u0416\\"), toUtf8(u"D:\\\u03a9 \u0416\\"));
  EXPECT_EQ(secondStageFolder(u"\""), "");
  EXPECT_EQ(secondStageFolder(u""), "");
}

TEST(StartDispatch, SecondStageCommandLineQuotesBothPaths) {
  EXPECT_EQ(quoteArgument(u"C:\\Program Files\\Keldrun\\"), u"\"C:\\Program Files\\Keldrun\\\\\"");
  EXPECT_EQ(quoteArgument(u"C:\\a\\b"), u"\"C:\\a\\b\"");  // inner backslashes stay single
  EXPECT_EQ(quoteArgument(u"a\\\"b"), u"\"a\\\\\\\"b\"");
  EXPECT_EQ(quoteArgument(u""), u"\"\"");
  EXPECT_EQ(secondStageCommandLine(u"C:\\Temp dir\\uninst_keldrun.exe", u"C:\\Program Files\\\u041a\u0435\u043b\\"),
            u"\"C:\\Temp dir\\uninst_keldrun.exe\" -uninstall \"C:\\Program Files\\\u041a\u0435\u043b\\\\\"");
}

// ---- Installation ----

TEST(InstallPlan, NamesEveryItemInstallationWrites) {
  std::string sep(1, pathSeparator());
  ShellFolders shell{"/desk", "/menu/Programs" + sep};
  InstallPlan p = planInstall(targetFolderIn("/opt/Program Files"), shell, true);
  EXPECT_EQ(p.targetFolder, "/opt/Program Files" + sep + "Keldrun" + sep);
  EXPECT_EQ(p.dataFolder, p.targetFolder + "data" + sep);
  EXPECT_EQ(p.programFile, p.targetFolder + "Keldrun.exe");
  EXPECT_EQ(p.startMenuFolder, "/menu/Programs" + sep + "Corvellan Software" + sep);
  ASSERT_EQ(p.shortcuts.size(), 2u);
  EXPECT_EQ(p.shortcuts[0].linkPath, "/desk" + sep + "Keldrun.lnk");
  EXPECT_EQ(p.shortcuts[1].linkPath, p.startMenuFolder + "Keldrun.lnk");
  for (const Shortcut& s : p.shortcuts) {
    EXPECT_EQ(s.target, p.programFile);
    EXPECT_EQ(s.workingFolder, "/opt/Program Files" + sep + "Keldrun");
    EXPECT_EQ(s.description, "Keldrun");
    EXPECT_EQ(s.iconIndex, 0);
  }
  EXPECT_EQ(p.uninstallKey, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Keldrun");
  EXPECT_EQ(p.displayName, "Keldrun v1.6");
  EXPECT_EQ(p.uninstallString, "\"" + p.programFile + "\" -uninstall");
  EXPECT_EQ(p.noModify, 1u);

  // No desktop icon: the start-menu shortcut alone; unknown shell folders: none.
  InstallPlan q = planInstall("/x", shell, false);
  ASSERT_EQ(q.shortcuts.size(), 1u);
  EXPECT_EQ(q.shortcuts[0].linkPath, q.startMenuFolder + "Keldrun.lnk");
  EXPECT_TRUE(planInstall("/x", ShellFolders(), true).shortcuts.empty());
}

// The uninstall entry names one installation; the second stage of another keeps it.
TEST(InstallPlan, UninstallEntryBelongsOnlyToTheFolderItsCommandStarts) {
  std::string folder = targetFolderIn("C:\\Program Files");
  std::string written = planInstall(folder, ShellFolders(), false).uninstallString;
  EXPECT_TRUE(uninstallEntryBelongsTo(written, folder));
  // The folder as the second stage gets it: stray quote, other case, other separators.
  EXPECT_TRUE(uninstallEntryBelongsTo(written, secondStageFolder(fromUtf8(folder) + u"\"")));
  EXPECT_TRUE(uninstallEntryBelongsTo(written, "c:/PROGRAM FILES/keldrun"));
  EXPECT_TRUE(uninstallEntryBelongsTo("C:\\Program Files\\Keldrun\\Keldrun.exe -uninstall", folder));
  std::string wide = targetFolderIn(toUtf8(u"D:\\Tools \u03a9\u0416"));
  EXPECT_TRUE(uninstallEntryBelongsTo(planInstall(wide, ShellFolders(), false).uninstallString, wide));

  for (const char* other : {"C:\\Program Files\\Keldrun2\\", "C:\\Program Files\\", "C:\\Program Files\\Kel\\",
                            "C:\\Program Files\\Keldrun\\data\\", "D:\\Program Files\\Keldrun\\", ""}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(uninstallEntryBelongsTo(written, other));
  }
  for (const char* value : {"", "\"", "\"C:\\Program Files\\Keldrun\\Keldrun.exe", "\"C:\\Program Files\\Keldrun\\\" -uninstall",
                            "\"C:\\Program Files\\Keldrun\\Other.exe\" -uninstall",
                            "\"C:\\Program Files\\Keldrun\\Keldrun.exe.bak\" -uninstall", "C:\\Program"}) {
    SCOPED_TRACE(value);
    EXPECT_FALSE(uninstallEntryBelongsTo(value, folder));
  }
}

// The shortcuts of these tests are text files that hold their target.
bool readLink(const std::string& link, std::string* target) {
  *target = readText(link);
  return !target->empty();
}

struct InstallFixture : ::testing::Test {
  TempFolder root;
  ShellFolders shell;
  std::string source;
  void SetUp() override {
    makeFolders(root / "Desktop");
    makeFolders(root / "Programs");
    shell = {withSeparator(root / "Desktop"), withSeparator(root / "Programs")};
    source = root / "keldrun-setup.exe";
    std::string bytes;
    for (int i = 0; i < 5000; i++) bytes += char(i * 7);  // not a multiple of the copy's block
    writeText(source, bytes);
  }
  // A target folder whose name has a blank and characters above U+00FF.
  std::string target() { return targetFolderIn(root / toUtf8(u"Program Files \u03a9\u0416")); }
  InstallPlan install(bool desktop = true) {
    InstallPlan plan = planInstall(target(), shell, desktop);
    std::string error;
    EXPECT_TRUE(installFiles(plan, source, "PC", &error)) << error;
    for (const Shortcut& s : plan.shortcuts) writeText(s.linkPath, s.target);  // the shell's part
    return plan;
  }
};

TEST_F(InstallFixture, CopiesTheProgramAndMakesTheFolders) {
  InstallPlan plan = install();
  EXPECT_EQ(readText(plan.programFile), readText(source));
  EXPECT_TRUE(isFolder(plan.dataFolder));
  EXPECT_TRUE(namesIn(plan.dataFolder).empty());
  EXPECT_TRUE(isFolder(plan.startMenuFolder));

  // Into an existing folder: the executable is overwritten, no error.
  writeText(source, "newer program");
  std::string error;
  EXPECT_TRUE(installFiles(plan, source, "PC", &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(readText(plan.programFile), "newer program");
}

TEST_F(InstallFixture, FailuresNameTheFolderOrFiles) {
  // A file where the target folder should be.
  writeText(root / "blocked", "x");
  InstallPlan plan = planInstall(targetFolderIn(root / "blocked"), shell, true);
  std::string error;
  EXPECT_FALSE(installFiles(plan, source, "PC", &error));
  // The system's reason follows (its words differ between systems); a broken path is no
  // missing right, so no advice.
  EXPECT_EQ(error.rfind("Cannot create\n" + plan.targetFolder + "\n(", 0), 0u) << error;
  EXPECT_EQ(error.back(), ')') << error;
  EXPECT_EQ(error.find("\n\n"), std::string::npos) << error;

  plan = planInstall(target(), shell, true);
  error.clear();
  EXPECT_FALSE(installFiles(plan, root / "missing.exe", "PC", &error));
  EXPECT_EQ(error, "Cannot copy\n" + (root / "missing.exe") + " to\n" + plan.programFile + "\n(" +
                       std::strerror(ENOENT) + ")");

  // Copying a file onto itself leaves it whole.
  EXPECT_TRUE(copyProgramFile(source, source, &error));
  EXPECT_EQ(readText(source).size(), 5000u);
}

TEST_F(InstallFixture, CarriesAnOlderInstallationOver) {
  std::string folder = target();
  makeFolders(folder);
  ASSERT_TRUE(makeSnapshotFile(folder + "snap001.snp", 1, "ignored"));
  writeText(folder + "snap002.snp", "damaged, no snapshot");
  writeText(folder + "Keldrun.ini",
            "count=2\nn=1\ns=10\nname=Before\ndate=2008-03-01 10:00\n"
            "n=2\ns=20\nname=After\ndate=2008-03-01 11:00\nLastNo=2\nViewMode=1\n");
  InstallPlan plan = install();
  EXPECT_FALSE(fileExists(folder + "Keldrun.ini"));
  EXPECT_EQ(namesIn(plan.dataFolder), std::vector<std::string>{"snap001.snp"});
  Settings settings(folder);
  ASSERT_TRUE(settings.load());
  ASSERT_EQ(settings.catalog().count(), 1u);
  EXPECT_EQ(settings.catalog().record(0).name, "Before");
  EXPECT_EQ(settings.viewMode, 1);
}

// ---- Uninstall ----

TEST_F(InstallFixture, SecondStageRemovesEverythingItInstalled) {
  InstallPlan plan = install();
  Settings settings(plan.targetFolder);
  addSnapshotTo(&settings, 1, "one");
  addSnapshotTo(&settings, 2, "two");
  ASSERT_TRUE(settings.save());
  writeText(plan.targetFolder + "KeldrunLog.txt", "log");
  writeText(plan.targetFolder + "scan_filter.txt", "*");
  {
    CatalogLock lock(&settings);  // leaves its lock file, as every change of the catalog does
    bool busy = false;
    std::string reason;
    ASSERT_TRUE(lock.take(false, &busy, &reason)) << reason;
  }
  ASSERT_TRUE(fileExists(plan.targetFolder + kCatalogLockFileName));
  std::string tmp = settings.reportTempFolder();
  writeText(tmp + "export.htm", "page");
  writeText(tmp + "export_001.HTM", "page");

  // The folder as the second stage receives it from an older first stage: a stray quote.
  UninstallPlan removal;
  std::string error;
  ASSERT_TRUE(planUninstall(secondStageFolder(fromUtf8(plan.targetFolder) + u"\""), shell, &removal, &error))
      << error;
  EXPECT_TRUE(removeInstalled(removal, readLink));
  EXPECT_FALSE(fileExists(plan.targetFolder));
  EXPECT_FALSE(fileExists(plan.startMenuFolder));
  EXPECT_TRUE(namesIn(root / "Desktop").empty());
  // What lies beside the program folder is not touched.
  EXPECT_EQ(readText(source).size(), 5000u);
}

TEST_F(InstallFixture, SecondStageKeepsWhatItDidNotWrite) {
  InstallPlan plan = install();
  Settings settings(plan.targetFolder);
  addSnapshotTo(&settings, 1, "one");
  ASSERT_TRUE(settings.save());
  // A user's file in the program folder, a snapshot file the catalog does not list, a file of
  // the user's in tmp, and another program's shortcut in the shared start-menu folder.
  writeText(plan.targetFolder + "notes.txt", "mine");
  ASSERT_TRUE(makeSnapshotFile(plan.dataFolder + "snap007.snp", 7, "not listed"));
  writeText(settings.reportTempFolder() + "mine.txt", "mine");
  writeText(plan.startMenuFolder + "Other.lnk", "other");

  UninstallPlan removal;
  std::string error;
  ASSERT_TRUE(planUninstall(plan.targetFolder, shell, &removal, &error)) << error;
  EXPECT_FALSE(removeInstalled(removal, readLink));  // incomplete: folders stay
  EXPECT_EQ(namesIn(plan.targetFolder), (std::vector<std::string>{"data", "notes.txt", "tmp"}));
  EXPECT_EQ(namesIn(plan.dataFolder), std::vector<std::string>{"snap007.snp"});
  EXPECT_EQ(namesIn(plan.targetFolder + "tmp"), std::vector<std::string>{"mine.txt"});
  EXPECT_EQ(namesIn(plan.startMenuFolder), std::vector<std::string>{"Other.lnk"});
  EXPECT_TRUE(namesIn(root / "Desktop").empty());

  // Only the user's files left in the shared folder does not make the uninstall incomplete.
  removeFile(plan.targetFolder + "notes.txt");
  removeFile(plan.dataFolder + "snap007.snp");
  removeFile(plan.targetFolder + "tmp" + pathSeparator() + "mine.txt");
  writeText(plan.targetFolder + "Keldrun.exe", "again");
  ASSERT_TRUE(planUninstall(plan.targetFolder, shell, &removal, &error)) << error;
  EXPECT_TRUE(removeInstalled(removal, readLink));
  EXPECT_FALSE(fileExists(plan.targetFolder));
  EXPECT_TRUE(fileExists(plan.startMenuFolder + "Other.lnk"));
}

// Another installation's shortcuts of the same names stay; what the program itself left beside
// its files (a damaged settings file set aside, the temporary file of a cut-short write) goes;
// a file of the user's keeps its folder and is named.
TEST_F(InstallFixture, SecondStageRemovesOnlyItsOwnShortcutsAndLeftovers) {
  InstallPlan plan = install();
  std::string desktop = plan.shortcuts.front().linkPath;
  std::string menu = plan.shortcuts.back().linkPath;
  writeText(desktop, "C:\\Other\\Keldrun\\Keldrun.exe");
  std::string ours = plan.programFile;  // in other case, still ours
  for (char& c : ours) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
  writeText(menu, ours);
  writeText(plan.targetFolder + "Keldrun.cfg.damaged", "set aside");
  writeText(plan.targetFolder + "Keldrun.cfg.0badf00d.tmp", "cut short");
  writeText(plan.dataFolder + "snap003.snp.12345678.tmp", "cut short");
  writeText(plan.targetFolder + "Keldrun.cfg.notes.tmp", "not ours: no eight hex digits");

  UninstallPlan removal;
  std::string error;
  ASSERT_TRUE(planUninstall(plan.targetFolder, shell, &removal, &error)) << error;
  std::vector<std::string> left;
  EXPECT_FALSE(removeInstalled(removal, readLink, &left));
  EXPECT_EQ(left, std::vector<std::string>{plan.targetFolder + "Keldrun.cfg.notes.tmp"});
  EXPECT_EQ(namesIn(plan.targetFolder), std::vector<std::string>{"Keldrun.cfg.notes.tmp"});
  EXPECT_TRUE(fileExists(desktop));
  EXPECT_FALSE(fileExists(menu));
  EXPECT_EQ(uninstallIncompleteMessage(left),
            "Uninstall incomplete. Some items cannot be removed.\n" + plan.targetFolder + "Keldrun.cfg.notes.tmp");

  // Once the user's file is gone the rest is complete, the other installation's shortcut still
  // in place.
  removeFile(plan.targetFolder + "Keldrun.cfg.notes.tmp");
  writeText(plan.targetFolder + "Keldrun.exe", "again");
  ASSERT_TRUE(planUninstall(plan.targetFolder, shell, &removal, &error)) << error;
  EXPECT_TRUE(removeInstalled(removal, readLink, &left));
  EXPECT_TRUE(left.empty());
  EXPECT_FALSE(fileExists(plan.targetFolder));
  EXPECT_TRUE(fileExists(desktop));
}

TEST(UninstallMessageTest, NamesTenItemsThenHowManyMore) {
  std::vector<std::string> left;
  for (int i = 0; i < 12; i++) left.push_back("f" + std::to_string(i));
  std::string m = uninstallIncompleteMessage(left);
  EXPECT_EQ(m.substr(m.size() - 11), "f9\n(2 more)");
  EXPECT_EQ(std::count(m.begin(), m.end(), '\n'), 11);
}

TEST_F(InstallFixture, SecondStageRefusesAFolderWithoutTheProgram) {
  // A folder of someone else's, with files of the names the program uses.
  std::string folder = withSeparator(root / "Documents");
  makeFolders(folder + "data");
  writeText(folder + "Keldrun.cfg", "theirs");
  writeText(folder + "KeldrunLog.txt", "theirs");
  writeText(folder + "data" + pathSeparator() + "snap001.snp", "theirs");
  makeFolders(folder + "Keldrun.exe");  // a folder of that name is no program
  UninstallPlan removal;
  std::string error;
  EXPECT_FALSE(planUninstall(folder, shell, &removal, &error));
  EXPECT_EQ(error, "No Keldrun installation in\n" + folder);
  EXPECT_TRUE(removal.files.empty());
  EXPECT_FALSE(planUninstall(root / "absent", shell, &removal, &error));
  EXPECT_FALSE(planUninstall("", shell, &removal, &error));
  EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"Keldrun.cfg", "Keldrun.exe", "KeldrunLog.txt", "data"}));
}

TEST_F(InstallFixture, FileThatCannotBeRemovedMakesItIncomplete) {
  InstallPlan plan = install();
  UninstallPlan removal;
  std::string error;
  ASSERT_TRUE(planUninstall(plan.targetFolder, shell, &removal, &error));
  // A folder in place of the settings file cannot be removed as a file.
  makeFolders(plan.targetFolder + "Keldrun.cfg");
  writeText(plan.targetFolder + "Keldrun.cfg" + pathSeparator() + "inside", "x");
  EXPECT_FALSE(removeInstalled(removal, readLink));
  EXPECT_FALSE(fileExists(plan.programFile));
  EXPECT_TRUE(isFolder(plan.targetFolder + "Keldrun.cfg"));
}

}  // namespace
}  // namespace keldrun
