#include "setup/installation_win.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "base/files.h"
#include "base/text_table.h"
#include "base/text_win.h"
#include "setup/folders.h"
#include "setup/setup_window_win.h"
#include "toolkit/shell_open.h"
#include "workspace/home.h"

namespace keldrun {

namespace {

// A string value of an open key; empty when it is missing or not a string.
std::string readString(HKEY key, const wchar_t* name) {
  wchar_t buffer[4096] = {0};
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return std::string();
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string();
  return fromWide(buffer);
}

std::string readString(HKEY root, const wchar_t* path, const wchar_t* name) {
  HKEY key;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
  std::string value = readString(key, name);
  RegCloseKey(key);
  return value;
}

bool writeString(HKEY key, const wchar_t* name, const std::string& value) {
  std::wstring w = toWide(value);
  DWORD bytes = DWORD((w.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(w.c_str()), bytes) == ERROR_SUCCESS;
}

std::string temporaryFolder() {
  wchar_t path[MAX_PATH + 1] = {0};
  if (GetTempPathW(MAX_PATH + 1, path) == 0) GetWindowsDirectoryW(path, MAX_PATH);
  return withSeparator(fromWide(path));
}

// The first stage ends just after starting the second; its executable stays locked until the
// process is gone, so the second stage waits for it (a few seconds at most).
void removeOnceReleased(const std::string& path) {
  std::wstring w = toWide(path);
  for (int attempt = 0; attempt < 50; attempt++) {
    if (DeleteFileW(w.c_str()) || GetFileAttributesW(w.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(100);
  }
}

}  // namespace

std::string runningExecutable() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return fromWide(path);
    }
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

std::u16string runningFileName() {
  std::u16string path = fromUtf8(runningExecutable());
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

std::string programFilesFolder() {
  std::string folder = readString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                                  L"ProgramFilesDir");
  return folder.empty() ? std::string("C:\\Program Files\\") : withSeparator(folder);
}

ShellFolders shellFolders() {
  const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  // The registry's copy is written by the shell once asked; a new profile may not have it yet.
  auto folder = [&](const wchar_t* name, int csidl) {
    std::string value = readString(HKEY_CURRENT_USER, key, name);
    wchar_t path[MAX_PATH] = {0};
    if (value.empty() && SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
      value = fromWide(path);
    return withSeparator(value);
  };
  ShellFolders f;
  f.desktop = folder(L"Desktop", CSIDL_DESKTOPDIRECTORY);
  f.programs = folder(L"Programs", CSIDL_PROGRAMS);
  return f;
}

Installation::Installation() : targetFolder(targetFolderIn(programFilesFolder())) {}

bool Installation::install() {
  errorText.clear();
  InstallPlan plan = planInstall(targetFolder, shellFolders(), desktopIcon);
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {0};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  std::string computerName = GetComputerNameW(computer, &size) ? fromWide(computer) : std::string();
  if (!installFiles(plan, runningExecutable(), computerName, &errorText)) return false;
  for (const Shortcut& link : plan.shortcuts) createShortcut(link);
  writeUninstallEntry(plan);
  return true;
}

bool createShortcut(const Shortcut& link) {
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink))))
    return false;
  std::wstring target = toWide(link.target);
  shellLink->SetPath(target.c_str());
  shellLink->SetDescription(toWide(link.description).c_str());
  shellLink->SetWorkingDirectory(toWide(link.workingFolder).c_str());
  shellLink->SetArguments(L"");
  shellLink->SetShowCmd(SW_SHOWNORMAL);
  shellLink->SetIconLocation(target.c_str(), link.iconIndex);
  bool saved = false;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    saved = SUCCEEDED(file->Save(toWide(link.linkPath).c_str(), TRUE));
    file->Release();
  }
  shellLink->Release();
  return saved;
}

bool readShortcut(const std::string& link, std::string* target) {
  IShellLinkW* shellLink = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&shellLink))))
    return false;
  bool read = false;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    // The item list keeps every character of the target's path; the path the link also stores
    // may have gone through the ANSI code page.
    wchar_t path[MAX_PATH] = {};
    PIDLIST_ABSOLUTE item = nullptr;
    if (SUCCEEDED(file->Load(toWide(link).c_str(), STGM_READ))) {
      read = SUCCEEDED(shellLink->GetIDList(&item)) && item && SHGetPathFromIDListW(item, path);
      if (!read) read = shellLink->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK;
    }
    if (item) CoTaskMemFree(item);
    if (read) *target = fromWide(std::wstring(path));
    file->Release();
  }
  shellLink->Release();
  return read;
}

bool writeUninstallEntry(const InstallPlan& plan) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, toWide(plan.uninstallKey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  DWORD noModify = plan.noModify;
  bool ok = writeString(key, L"DisplayName", plan.displayName);
  ok = writeString(key, L"UninstallString", plan.uninstallString) && ok;
  ok = RegSetValueExW(key, L"NoModify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&noModify),
                      sizeof noModify) == ERROR_SUCCESS && ok;
  RegCloseKey(key);
  return ok;
}

bool deleteUninstallEntry(const std::string& programFolder) {
  HKEY list;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, toWide(text(kTextUninstallKey)).c_str(), 0, KEY_ALL_ACCESS, &list) !=
      ERROR_SUCCESS)
    return true;  // no uninstall list, so no entry
  std::wstring name = toWide(kInstallFolderName);
  HKEY entry;
  if (RegOpenKeyExW(list, name.c_str(), 0, KEY_READ, &entry) != ERROR_SUCCESS) {
    RegCloseKey(list);
    return true;  // no entry
  }
  std::string command = readString(entry, L"UninstallString");
  RegCloseKey(entry);
  if (!uninstallEntryBelongsTo(command, programFolder)) {
    RegCloseKey(list);
    return true;  // another installation's entry
  }
  LONG r = RegDeleteKeyW(list, name.c_str());
  RegCloseKey(list);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

ShellMessage uninstallFirstStage() {
  if (!confirmUninstall()) return ShellMessage();
  std::string folder = programFolder();
  std::string copy = temporaryFolder() + kUninstallCopyName;
  std::string error;
  if (!copyProgramFile(folder + kInstalledExeName, copy, &error)) return ShellMessage::error(error);
  std::u16string line = secondStageCommandLine(fromUtf8(copy), fromUtf8(folder));
  std::wstring commandLine(line.begin(), line.end());
  // The second stage runs in the temporary folder: a process's current folder cannot be removed.
  std::wstring workingFolder = toWide(temporaryFolder());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(toWide(copy).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.c_str(), &startup, &process))
    return ShellMessage::error("Cannot start\n" + copy);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ShellMessage();
}

ShellMessage uninstallSecondStage(const std::u16string& folderArgument) {
  std::string folder = secondStageFolder(folderArgument);
  ShellFolders shell = shellFolders();
  UninstallPlan plan;
  std::string error;
  if (!planUninstall(folder, shell, &plan, &error)) return ShellMessage::error(error);
  removeOnceReleased(withSeparator(folder) + kInstalledExeName);
  std::vector<std::string> left;
  bool complete = removeInstalled(plan, readShortcut, &left);
  complete = deleteUninstallEntry(folder) && complete;
  // The feedback page opens only when the text table names one.
  std::string address = text(kTextFeedbackAddress);
  if (!address.empty()) openWithShell(address + "?" + text(kTextVersion));
  return complete ? ShellMessage::information(text(kTextUninstallDone))
                  : ShellMessage::error(uninstallIncompleteMessage(left));
}

}  // namespace keldrun
