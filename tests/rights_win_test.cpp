// Rights on Windows: what each executable asks the system for, read from the built files, and a
// refused write told with its reason and the way out. Tests run as root under Wine, which lets
// root write anything; but Windows answers "access denied" to a folder opened as a file, the same
// answer a standard user gets under Program Files, so a folder stands where the file should be.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/files.h"
#include "base/text_win.h"
#include "platform/own_files.h"
#include "tests/test_support.h"
#include "workspace/catalog_lock.h"

namespace keldrun {
namespace {

using testing_support::TempFolder;

std::string manifestOf(const std::string& exe) {
  HMODULE module = LoadLibraryExW(toWide(exe).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "(cannot load " + exe + ")";
  std::string text = "(no manifest)";
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    HGLOBAL data = LoadResource(module, found);
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (bytes) text.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

// The program reads the whole machine and writes its workspace beside itself (under Program
// Files when installed): it runs with all the rights its user has. The command line runs with
// those of its console, and declares it, so that Windows never redirects its workspace writes
// into a per-user virtual store the program would not see.
TEST(RightsWin, ProgramAsksForTheHighestRightsAndTheCommandLineForNone) {
  std::string folder = executableFolder() + "\\";
  std::string program = manifestOf(folder + "Keldrun.exe");
  std::string cli = manifestOf(folder + "keldrun-cli.exe");
  EXPECT_NE(program.find("level=\"highestAvailable\""), std::string::npos) << program;
  EXPECT_NE(program.find("Microsoft.Windows.Common-Controls"), std::string::npos) << program;
  EXPECT_NE(cli.find("level=\"asInvoker\""), std::string::npos) << cli;
}

TEST(RightsWin, LockRefusedForWantOfARightSaysWhatToDo) {
  TempFolder home;
  std::string lock = home / kCatalogLockFileName;
  ASSERT_TRUE(makeFolders(lock));
  Settings settings(home.str());
  ShellMessage m = CatalogLock(&settings).tryTake();
  EXPECT_EQ(int(m.kind), int(MessageKind::Error));
  EXPECT_EQ(m.text.rfind("Cannot lock the snapshot catalog (" + lock + ": Permission denied", 0), 0u) << m.text;
  EXPECT_NE(m.text.find("\"Run as administrator\""), std::string::npos) << m.text;
}

}  // namespace
}  // namespace keldrun
