// Installation and the second uninstall stage against Wine's real shell link object, registry
// and file system: a target folder with a blank and characters above U+00FF.
#include "setup/installation_win.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "base/files.h"
#include "setup/folders.h"
#include "base/text_win.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::TempFolder;

// The standard streams take narrow paths in the ANSI code page; these take UTF-8 paths.
std::string contents(const std::string& path) {
  std::string out;
  return readWholeFile(path, &out) ? out : std::string("(unreadable)");
}

void put(const std::string& path, const std::string& text) {
  FILE* f = openFile(path, "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

struct LinkFields {
  bool loaded = false;
  std::string target, workingFolder, description, iconFile;
  int iconIndex = -1;
};

// Reads a link file back through the shell's link object.
LinkFields readLink(const std::string& path) {
  LinkFields f;
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return f;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(toWide(path).c_str(), STGM_READ))) {
      wchar_t buffer[MAX_PATH * 2] = {0};
      f.loaded = true;
      // The target as the shell resolves it, from the link's item list: Wine's GetPath gives the
      // path back through the ANSI code page, which loses characters above U+00FF.
      PIDLIST_ABSOLUTE items = nullptr;
      if (SUCCEEDED(link->GetIDList(&items)) && items) {
        if (SHGetPathFromIDListW(items, buffer)) f.target = fromWide(buffer);
        CoTaskMemFree(items);
      }
      buffer[0] = 0;
      if (SUCCEEDED(link->GetWorkingDirectory(buffer, MAX_PATH * 2))) f.workingFolder = fromWide(buffer);
      buffer[0] = 0;
      if (SUCCEEDED(link->GetDescription(buffer, MAX_PATH * 2))) f.description = fromWide(buffer);
      buffer[0] = 0;
      if (SUCCEEDED(link->GetIconLocation(buffer, MAX_PATH * 2, &f.iconIndex))) f.iconFile = fromWide(buffer);
    }
    file->Release();
  }
  link->Release();
  return f;
}

HKEY openEntry() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Keldrun", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

std::string entryString(HKEY key, const wchar_t* name) {
  wchar_t buffer[1024] = {0};
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return "?";
  return fromWide(buffer);
}

std::vector<std::u16string> parseCommandLine(const std::u16string& line) {
  std::vector<std::u16string> out;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
  for (int i = 0; argv && i < count; i++) out.emplace_back(argv[i], argv[i] + wcslen(argv[i]));
  if (argv) LocalFree(argv);
  return out;
}

struct SetupWin : ::testing::Test {
  TempFolder root;
  Installation installation;
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    installation.targetFolder = targetFolderIn(root / toUtf8(u"Program Files \u03a9\u0416"));
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(SetupWin, SecondStageCommandLineSurvivesTheSystemParser) {
  std::u16string copy = fromUtf8(root / toUtf8(u"t\u00e9mp \u0416\\uninst_keldrun.exe"));
  std::u16string folder = fromUtf8(installation.targetFolder);
  std::vector<std::u16string> args = parseCommandLine(secondStageCommandLine(copy, folder));
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], copy);
  EXPECT_EQ(args[1], u"-uninstall");
  EXPECT_EQ(args[2], folder);
  EXPECT_EQ(secondStageFolder(args[2]), installation.targetFolder);
  // The line an older first stage built: the parser leaves a stray quote, which is dropped.
  args = parseCommandLine(u"\"" + copy + u"\" -uninstall \"" + folder + u"\"");
  ASSERT_EQ(args.size(), 3u);
  // The folder's last backslash and the closing quote read as one literal quote.
  EXPECT_EQ(args[2], folder.substr(0, folder.size() - 1) + u"\"");
  EXPECT_EQ(secondStageFolder(args[2]), installation.targetFolder);
}

TEST_F(SetupWin, InstallsShortcutsAndEntryThenUninstalls) {
  ASSERT_TRUE(installation.install()) << installation.errorText;
  InstallPlan plan = planInstall(installation.targetFolder, shellFolders(), true);
  EXPECT_TRUE(contents(plan.programFile) == contents(runningExecutable()));
  EXPECT_TRUE(isFolder(plan.dataFolder));

  ASSERT_EQ(plan.shortcuts.size(), 2u);
  for (const Shortcut& s : plan.shortcuts) {
    LinkFields f = readLink(s.linkPath);
    ASSERT_TRUE(f.loaded) << s.linkPath;
    EXPECT_EQ(f.target, plan.programFile);
    EXPECT_EQ(f.workingFolder, installation.targetFolder.substr(0, installation.targetFolder.size() - 1));
    EXPECT_EQ(f.description, "Keldrun");
    EXPECT_EQ(f.iconFile, plan.programFile);
    EXPECT_EQ(f.iconIndex, 0);
  }

  HKEY key = openEntry();
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(entryString(key, L"DisplayName"), "Keldrun v1.6");
  EXPECT_EQ(entryString(key, L"UninstallString"), "\"" + plan.programFile + "\" -uninstall");
  DWORD noModify = 0, type = 0, size = sizeof noModify;
  EXPECT_EQ(RegQueryValueExW(key, L"NoModify", nullptr, &type, reinterpret_cast<BYTE*>(&noModify), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD(REG_DWORD));
  EXPECT_EQ(noModify, 1u);
  RegCloseKey(key);

  // A user's file keeps the folder: the message says so and names it, and the rest is gone.
  put(installation.targetFolder + "notes.txt", "mine");
  std::u16string argument = fromUtf8(installation.targetFolder) + u"\"";
  ShellMessage m = uninstallSecondStage(argument);
  EXPECT_EQ(int(m.kind), int(MessageKind::Error));
  EXPECT_EQ(m.text, "Uninstall incomplete. Some items cannot be removed.\n" + installation.targetFolder + "notes.txt");
  EXPECT_EQ(contents(installation.targetFolder + "notes.txt"), "mine");
  EXPECT_FALSE(fileExists(plan.programFile));
  EXPECT_FALSE(fileExists(plan.dataFolder));
  for (const Shortcut& s : plan.shortcuts) EXPECT_FALSE(fileExists(s.linkPath)) << s.linkPath;
  EXPECT_EQ(openEntry(), nullptr);

  // Installing over the folder and uninstalling without the user's file removes it all.
  removeFile(installation.targetFolder + "notes.txt");
  ASSERT_TRUE(installation.install()) << installation.errorText;
  ASSERT_NE(openEntry(), nullptr);
  m = uninstallSecondStage(fromUtf8(installation.targetFolder));
  EXPECT_EQ(int(m.kind), int(MessageKind::Information));
  EXPECT_EQ(m.text, "Uninstall complete");
  EXPECT_FALSE(fileExists(installation.targetFolder));
  EXPECT_FALSE(fileExists(plan.startMenuFolder));
  EXPECT_EQ(openEntry(), nullptr);
}

TEST_F(SetupWin, SecondStageRefusesAFolderWithoutTheProgram) {
  makeFolders(installation.targetFolder);
  put(installation.targetFolder + "Keldrun.cfg", "theirs");
  ShellMessage m = uninstallSecondStage(fromUtf8(installation.targetFolder));
  EXPECT_EQ(int(m.kind), int(MessageKind::Error));
  EXPECT_TRUE(fileExists(installation.targetFolder + "Keldrun.cfg"));
}

TEST_F(SetupWin, FolderThatCannotBeCreatedIsReported) {
  put(root / "blocked", "x");
  installation.targetFolder = targetFolderIn(root / "blocked");
  EXPECT_FALSE(installation.install());
  EXPECT_EQ(installation.errorText.rfind("Cannot create\n" + installation.targetFolder + "\n(", 0), 0u)
      << installation.errorText;
  EXPECT_EQ(installation.errorText.find("administrator"), std::string::npos) << installation.errorText;
}

// A refused write is named with the system's reason and what to do about it. Root under Wine
// may write anything, but Windows refuses a folder opened as a file with "access denied", the
// answer a standard user gets in Program Files.
TEST_F(SetupWin, MissingRightIsExplained) {
  std::string program = installation.targetFolder + "Keldrun.exe";
  ASSERT_TRUE(makeFolders(program));
  EXPECT_FALSE(installation.install());
  EXPECT_EQ(installation.errorText.rfind("Cannot copy\n", 0), 0u) << installation.errorText;
  EXPECT_NE(installation.errorText.find(" to\n" + program + "\n(Permission denied)\n\n"), std::string::npos)
      << installation.errorText;
  EXPECT_NE(installation.errorText.find("\"Run as administrator\""), std::string::npos) << installation.errorText;
}

}  // namespace
}  // namespace keldrun
