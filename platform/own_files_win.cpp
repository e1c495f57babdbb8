#include "platform/own_files.h"

#include <windows.h>

#include "base/text_win.h"

namespace keldrun {

bool listFileNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(toWide(base + "*").c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    names->push_back(fromWide(data.cFileName));
  } while (FindNextFileW(h, &data));
  FindClose(h);
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  auto info = [](const std::string& path, BY_HANDLE_FILE_INFORMATION* out) {
    HANDLE h = CreateFileW(toWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = GetFileInformationByHandle(h, out);
    CloseHandle(h);
    return ok != FALSE;
  };
  if (!info(a, &ia) || !info(b, &ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::string executableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
    if (n == 0) return ".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return ".";
    path.resize(path.size() * 2);
  }
  size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return ".";
  if (cut == 2 && path[1] == L':') cut = 3;  // "c:\prog.exe": keep the root's backslash
  path.resize(cut);
  return fromWide(path);
}

}  // namespace keldrun
