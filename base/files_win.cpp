// The program's own files on Windows: UTF-8 paths become UTF-16 for the system.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "base/files.h"
#include "base/text.h"

namespace keldrun {

namespace {
std::wstring wide(const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  return std::wstring(s.begin(), s.end());
}
}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
  std::wstring m(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(wide(path).c_str(), m.c_str());
}

bool removeFile(const std::string& path) { return DeleteFileW(wide(path).c_str()) != 0; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool fileExists(const std::string& path) {
  return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fileTimeAndSize(const std::string& path, uint64_t* lastWrite, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
  *lastWrite = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  *size = folder ? 0 : uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

bool makeFolders(const std::string& path) {
  std::wstring w = wide(path);
  for (size_t i = 1; i <= w.size(); i++) {
    if (i == w.size() || w[i] == L'\\' || w[i] == L'/') {
      std::wstring part = w.substr(0, i);
      if (part.size() == 2 && part[1] == L':') continue;  // "c:" alone
      CreateDirectoryW(part.c_str(), nullptr);
    }
  }
  DWORD a = GetFileAttributesW(w.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool seekFile(FILE* f, uint64_t offset) { return _fseeki64(f, int64_t(offset), SEEK_SET) == 0; }

bool seekFileEnd(FILE* f) { return _fseeki64(f, 0, SEEK_END) == 0; }

bool tellFile(FILE* f, uint64_t* offset) {
  int64_t at = _ftelli64(f);
  if (at < 0) return false;
  *offset = uint64_t(at);
  return true;
}

bool readFileAt(FILE* f, uint64_t offset, void* out, size_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE) return false;
  auto* p = static_cast<char*>(out);
  while (n > 0) {
    // The handle's position moves too; every write to these files seeks first.
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n);
    DWORD got = 0;
    if (!ReadFile(h, p, want, &got, &at) || got == 0) return false;
    p += got;
    offset += got;
    n -= got;
  }
  return true;
}

}  // namespace keldrun
