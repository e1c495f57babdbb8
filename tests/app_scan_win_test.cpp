// The applications scan on Windows (run under Wine): Run values and Startup files the test adds,
// the service manager's services and drivers, and the portable version reader against
// version.dll.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text_win.h"
#include "engine/app_scan.h"
#include "platform/env.h"
#include "platform/pe_version.h"

namespace keldrun {
namespace {


std::u16string systemFolder() {
  wchar_t buffer[MAX_PATH];
  UINT n = GetSystemDirectoryW(buffer, MAX_PATH);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), n) + u"\\";
}

void setRunValue(HKEY root, const std::u16string& name, DWORD type, const std::u16string& text) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, wide(name), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                           DWORD((text.size() + 1) * 2)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void deleteRunValue(HKEY root, const std::u16string& name) {
  HKEY key;
  if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_SET_VALUE,
                    &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, wide(name));
    RegCloseKey(key);
  }
}

const AppRecord* byName(const std::vector<AppRecord>& list, const std::u16string& name) {
  for (const AppRecord& r : list)
    if (r.name == name) return &r;
  return nullptr;
}

const AppRecord* byServiceName(const std::vector<AppRecord>& list, const std::u16string& name) {
  for (const AppRecord& r : list)
    if (compareNames(r.serviceName, name) == 0) return &r;
  return nullptr;
}

class AppScanWin : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::u16string& name : values_) deleteRunValue(HKEY_CURRENT_USER, name);
    for (const std::u16string& file : files_) DeleteFileW(wide(file));
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(wide(*it));
  }
  void addValue(const std::u16string& name, DWORD type, const std::u16string& text) {
    values_.push_back(name);
    setRunValue(HKEY_CURRENT_USER, name, type, text);
  }
  void makeFolder(const std::u16string& folder) {
    if (CreateDirectoryW(wide(folder), nullptr)) folders_.push_back(folder);
  }
  void copy(const std::u16string& from, const std::u16string& to) {
    ASSERT_TRUE(CopyFileW(wide(from), wide(to), FALSE)) << toUtf8(to);
    files_.push_back(to);
  }
  void writeFile(const std::u16string& path, const char* text) {
    HANDLE h = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << toUtf8(path);
    DWORD written = 0;
    WriteFile(h, text, DWORD(strlen(text)), &written, nullptr);
    CloseHandle(h);
    files_.push_back(path);
  }

  std::vector<std::u16string> values_, files_, folders_;
};

TEST_F(AppScanWin, RunValuesResolveAsTheSystemFindsThem) {
  Env* env = defaultEnv();
  std::u16string programs = u"C:\\Program Files\\Keldrun Apps Test";
  makeFolder(programs);
  std::u16string tool = programs + u"\\Tool Name.exe";
  copy(systemFolder() + u"msiexec.exe", tool);
  addValue(u"KeldrunQuoted", REG_SZ, u"\"" + tool + u"\" /min");
  addValue(u"KeldrunBare", REG_SZ, u"msiexec /a b");
  addValue(u"KeldrunExpand", REG_EXPAND_SZ, u"%SystemRoot%\\system32\\msiexec.exe");

  AppGatherer gatherer(env, nullptr);
  std::vector<AppRecord> startup;
  gatherer.gatherStartup(&startup);

  const AppRecord* quoted = byName(startup, u"KeldrunQuoted");
  ASSERT_NE(quoted, nullptr);
  EXPECT_EQ(toUtf8(quoted->file), "c:\\program files\\keldrun apps test\\tool name.exe /min");
  FileVersionInfo reference;
  ASSERT_TRUE(env->fileVersion(systemFolder() + u"msiexec.exe", &reference));
  std::u16string expected = reference.productVersion.empty() ? reference.fileVersion : reference.productVersion;
  EXPECT_EQ(quoted->version, expected);
  EXPECT_EQ(quoted->company, reference.companyName);
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(wide(tool), GetFileExInfoStandard, &data));
  EXPECT_EQ(quoted->size, data.nFileSizeLow);
  EXPECT_EQ(quoted->modified,
            uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime);

  const AppRecord* bare = byName(startup, u"KeldrunBare");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(toUtf8(bare->file), toUtf8(lowerAscii(systemFolder())) + "msiexec.exe /a b");
  EXPECT_EQ(bare->version, expected);

  EXPECT_EQ(byName(startup, u"KeldrunExpand"), nullptr);
}

TEST_F(AppScanWin, StartupFolderFilesExceptDesktopIni) {
  Env* env = defaultEnv();
  AppGatherer gatherer(env, nullptr);
  std::vector<std::u16string> folders = gatherer.startupFolders();
  ASSERT_FALSE(folders.empty());
  std::u16string folder = folders[0];
  // The folder may not exist yet in a fresh prefix.
  for (size_t i = 3; i < folder.size(); i++)
    if (folder[i] == u'\\') makeFolder(folder.substr(0, i));
  writeFile(folder + u"desktop.ini", "[.ShellClassInfo]\r\n");
  writeFile(folder + u"Keldrun Test.lnk", "not really a shortcut");
  std::vector<AppRecord> startup;
  gatherer.gatherStartup(&startup);
  const AppRecord* link = byName(startup, u"Keldrun Test.lnk");
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->file, lowerAscii(folder) + u"keldrun test.lnk");
  EXPECT_EQ(link->size, 21u);
  EXPECT_TRUE(link->version.empty());
  EXPECT_EQ(byName(startup, u"desktop.ini"), nullptr);
}

TEST(AppScanWinServices, ListsServicesAndDriversWithTheirFiles) {
  Env* env = defaultEnv();
  // A driver whose binary path begins with \SystemRoot\, registered through the manager.
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(scm, nullptr);
  SC_HANDLE made = CreateServiceW(scm, L"KeldrunTestDriver", L"Keldrun Test Driver", SERVICE_ALL_ACCESS,
                                  SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                  L"\\SystemRoot\\System32\\drivers\\mountmgr.sys", nullptr, nullptr,
                                  nullptr, nullptr, nullptr);
  ASSERT_NE(made, nullptr) << GetLastError();

  Counter counter;
  AppGatherer gatherer(env, &counter);
  std::vector<AppRecord> services, drivers;
  gatherer.gatherServices(&services, &drivers);
  DeleteService(made);
  CloseServiceHandle(made);
  CloseServiceHandle(scm);

  ASSERT_FALSE(services.empty());
  ASSERT_FALSE(drivers.empty());
  EXPECT_EQ(counter.get(), services.size() + drivers.size());
  for (const AppRecord& r : services) {
    EXPECT_EQ(r.kind, kAppService);
    EXPECT_GE(r.state, 1);
    EXPECT_LE(r.state, 7);
  }
  for (const AppRecord& r : drivers) EXPECT_EQ(r.kind, kAppDriver);

  const AppRecord* test = byServiceName(drivers, u"KeldrunTestDriver");
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test->name, u"Keldrun Test Driver");
  EXPECT_EQ(toUtf8(test->file), toUtf8(lowerAscii(env->windowsFolder())) + "system32\\drivers\\mountmgr.sys");
  EXPECT_EQ(test->startType, kStartDemand);
  EXPECT_STREQ(appStartupText(test->startType), "Manual");
  EXPECT_NE(test->size, 0u);

  // Wine's own: the print spooler service runs from spoolsv.exe, the mount manager driver from
  // its .sys file; each with the version strings version.dll gives for that file.
  const AppRecord* spooler = byServiceName(services, u"Spooler");
  ASSERT_NE(spooler, nullptr);
  EXPECT_NE(spooler->startType, kStartUnknown);
  EXPECT_NE(lowerAscii(spooler->file).find(u"spoolsv.exe"), std::u16string::npos);
  const AppRecord* mountmgr = byServiceName(drivers, u"MountMgr");
  ASSERT_NE(mountmgr, nullptr);
  EXPECT_EQ(toUtf8(mountmgr->file), toUtf8(lowerAscii(env->windowsFolder())) + "system32\\drivers\\mountmgr.sys");
  FileVersionInfo v;
  if (env->fileVersion(mountmgr->file, &v)) {
    EXPECT_EQ(mountmgr->company, v.companyName);
    EXPECT_EQ(mountmgr->version, v.productVersion.empty() ? v.fileVersion : v.productVersion);
  }
  // Status texts follow the states the manager reports.
  for (const AppRecord& r : services)
    EXPECT_STREQ(appStatusText(r.state), r.state == SERVICE_RUNNING ? "Run" : "");
}

// The portable reader agrees with version.dll on every executable and driver of the system
// folders and on this project's own executables.
TEST(AppScanWinVersion, PortableReaderMatchesVersionDll) {
  Env* env = defaultEnv();
  std::vector<std::u16string> files;
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::u16string me(reinterpret_cast<const char16_t*>(self), n);
  files.push_back(me);
  std::u16string buildFolder = me.substr(0, me.rfind(u'\\') + 1);
  for (const char16_t* own : {u"keldrun-cli.exe", u"Keldrun.exe"})
    if (GetFileAttributesW(wide(buildFolder + own)) != INVALID_FILE_ATTRIBUTES) files.push_back(buildFolder + own);
  for (const std::u16string& pattern :
       {systemFolder() + u"*.exe", systemFolder() + u"drivers\\*.sys", env->windowsFolder() + u"*.exe"}) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(wide(pattern), &fd);
    if (h == INVALID_HANDLE_VALUE) continue;
    std::u16string folder = pattern.substr(0, pattern.rfind(u'\\') + 1);
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + u16(fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  ASSERT_GT(files.size(), 50u);
  int withVersion = 0;
  bool ownHasVersion = false;
  for (const std::u16string& file : files) {
    SCOPED_TRACE(toUtf8(file));
    FileVersionInfo system, portable;
    bool a = env->fileVersion(file, &system);
    bool b = readPeVersionFile(toUtf8(file), &portable);
    EXPECT_EQ(a, b);
    EXPECT_EQ(toUtf8(system.productVersion), toUtf8(portable.productVersion));
    EXPECT_EQ(toUtf8(system.fileVersion), toUtf8(portable.fileVersion));
    EXPECT_EQ(toUtf8(system.companyName), toUtf8(portable.companyName));
    if (a) withVersion++;
    if (a && file != me && file.rfind(buildFolder, 0) == 0) ownHasVersion = true;
  }
  EXPECT_GT(withVersion, 10);
  EXPECT_TRUE(ownHasVersion) << "the project's executables carry no version resource";
}

}  // namespace
}  // namespace keldrun
