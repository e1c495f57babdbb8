// The write seam on Windows: Win32 handles on UTF-16 paths.
#include <windows.h>

#include "base/native_file.h"
#include "base/text.h"

namespace keldrun {

namespace {

std::wstring wide(const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  return std::wstring(s.begin(), s.end());
}

}  // namespace

bool nativeOpen(const std::string& path, WriteMode mode, NativeHandle* handle, uint64_t* size) {
  DWORD disposition = mode == WriteMode::kCreate      ? CREATE_ALWAYS
                      : mode == WriteMode::kCreateNew ? CREATE_NEW
                                                      : OPEN_EXISTING;
  // Readers may share the file: a snapshot's info record is rewritten while it is open for
  // reading, and a report page may be shown while the next is written.
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(h, &length)) {
    CloseHandle(h);
    return false;
  }
  *handle = reinterpret_cast<NativeHandle>(h);
  *size = uint64_t(length.QuadPart);
  return true;
}

bool nativeWriteAt(NativeHandle handle, uint64_t offset, const void* data, size_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n);
    DWORD put = 0;
    if (!WriteFile(h, p, want, &put, &at) || put == 0) return false;
    p += put;
    offset += put;
    n -= put;
  }
  return true;
}

bool nativeClose(NativeHandle handle) { return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0; }

bool nativeIsReplaceable(const std::string& path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
  }
  return (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool nativeRemove(const std::string& path) { return DeleteFileW(wide(path).c_str()) != 0; }

bool nativeRename(const std::string& from, const std::string& to) {
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace keldrun
