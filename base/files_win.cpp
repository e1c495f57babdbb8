// The program's own files on Windows: UTF-8 paths become UTF-16 for the system.
#include <windows.h>
#include <winternl.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file_system.h"
#include "base/files.h"
#include "base/native_file.h"
#include "base/text_win.h"

// ntdll's, which the headers leave out.
extern "C" LONG NTAPI NtReadFile(HANDLE file, HANDLE event, void* apc, void* apcContext,
                                 IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                 LARGE_INTEGER* offset, ULONG* key);

namespace keldrun {

namespace {

// The C library's words for a system error, so that a failure reads and is judged alike on
// both systems (errno EACCES is a missing right wherever it came from).
int errnoFromSystem(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
  }
}

}  // namespace

FILE* openFile(const std::string& path, const char* mode) {
  std::wstring m(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(toWide(path).c_str(), m.c_str());
}

FILE* openRegularFile(const std::string& path) {
  // A named pipe or a device given as a path is not read.
  std::wstring w = toWide(path);
  if (w.rfind(L"\\\\", 0) == 0 && w.size() > 3 && (w[2] == L'.' || w[2] == L'?')) return nullptr;
  FILE* f = _wfopen(w.c_str(), L"rb");
  if (f && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

bool FileLock::lock(const std::string& path, bool wait, bool* busy, std::string* reason) {
  unlock();
  *busy = false;
  HANDLE h = CreateFileW(toWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    errno = errnoFromSystem(error);
    *reason = path + ": " + std::strerror(errno) + " (error " + std::to_string(error) + ")";
    return false;
  }
  OVERLAPPED at = {};
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (!LockFileEx(h, flags, 0, 1, 0, &at)) {
    DWORD error = GetLastError();
    *busy = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
    *reason = path + ": cannot lock (error " + std::to_string(error) + ")";
    CloseHandle(h);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void FileLock::unlock() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));  // releases the lock
  handle_ = -1;
}

bool removeFile(const std::string& path) { return DeleteFileW(toWide(path).c_str()) != 0; }

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool fileExists(const std::string& path) {
  return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool fileTimeAndSize(const std::string& path, uint64_t* lastWrite, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data)) return false;
  *lastWrite = uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  *size = folder ? 0 : uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

bool makeFolders(const std::string& path) {
  std::wstring w = toWide(path);
  DWORD failure = ERROR_PATH_NOT_FOUND;
  for (size_t i = 1; i <= w.size(); i++) {
    if (i == w.size() || w[i] == L'\\' || w[i] == L'/') {
      std::wstring part = w.substr(0, i);
      if (part.size() == 2 && part[1] == L':') continue;  // "c:" alone
      if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        failure = GetLastError();
    }
  }
  DWORD a = GetFileAttributesW(w.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return true;
  errno = a == INVALID_FILE_ATTRIBUTES ? errnoFromSystem(failure) : ENOTDIR;
  return false;
}

bool seekFile(FILE* f, uint64_t offset) { return _fseeki64(f, int64_t(offset), SEEK_SET) == 0; }

bool fileLength(FILE* f, uint64_t* size) {
  LARGE_INTEGER n;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &n) || n.QuadPart < 0) return false;
  *size = uint64_t(n.QuadPart);
  return true;
}

namespace {

// WriteFile at an offset until all n bytes are moved. The handle's position moves too; every
// stream write to these files seeks first.
bool writeAt(HANDLE h, uint64_t offset, const char* p, size_t n) {
  while (n > 0) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n);
    DWORD moved = 0;
    if (!WriteFile(h, p, want, &moved, &at) || moved == 0) return false;
    p += moved;
    offset += moved;
    n -= moved;
  }
  return true;
}

// Reads at an offset until all n bytes are moved. Threads may read one handle at once (packing
// does), so the offset goes with each read rather than through the handle's position; and by
// the system's own call, without the OVERLAPPED of ReadFile, for which Wine makes every read a
// round trip to its server: the program's start reads a record from each snapshot of the
// catalog while its window is being made.
bool readAt(HANDLE h, uint64_t offset, char* p, size_t n) {
  while (n > 0) {
    IO_STATUS_BLOCK io = {};
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    ULONG want = n > 0x40000000 ? 0x40000000 : ULONG(n);
    if (NtReadFile(h, nullptr, nullptr, nullptr, &io, p, want, &at, nullptr) != 0 ||
        io.Information == 0)
      return false;
    p += io.Information;
    offset += io.Information;
    n -= io.Information;
  }
  return true;
}

}  // namespace

bool readFileAt(FILE* f, uint64_t offset, void* out, size_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return h != INVALID_HANDLE_VALUE && readAt(h, offset, static_cast<char*>(out), n);
}

const uint8_t* nativeMap(FILE* f, uint64_t size) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  if (h == INVALID_HANDLE_VALUE || size == 0 || size_t(size) != size) return nullptr;
  HANDLE mapping = CreateFileMappingW(h, nullptr, PAGE_READONLY, DWORD(size >> 32), DWORD(size), nullptr);
  if (!mapping) return nullptr;
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, SIZE_T(size));
  CloseHandle(mapping);  // the view holds the mapping until it is unmapped
  return static_cast<const uint8_t*>(view);
}

void nativeUnmap(const uint8_t* view, uint64_t) {
  if (view) UnmapViewOfFile(view);
}

bool nativeOpen(const std::string& path, WriteMode mode, intptr_t* handle, uint64_t* size) {
  DWORD disposition = mode == WriteMode::kCreate      ? CREATE_ALWAYS
                      : mode == WriteMode::kCreateNew ? CREATE_NEW
                                                      : OPEN_EXISTING;
  // Readers may share the file: a snapshot's info record is rewritten while it is open for
  // reading, and a report page may be shown while the next is written.
  HANDLE h = CreateFileW(toWide(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = errnoFromSystem(GetLastError());
    return false;
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(h, &length)) {
    CloseHandle(h);
    return false;
  }
  *handle = reinterpret_cast<intptr_t>(h);
  *size = uint64_t(length.QuadPart);
  return true;
}

bool nativeWriteAt(intptr_t handle, uint64_t offset, const void* data, size_t n) {
  return writeAt(reinterpret_cast<HANDLE>(handle), offset, static_cast<const char*>(data), n);
}

bool nativeClose(intptr_t handle) { return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0; }

bool nativeIsReplaceable(const std::string& path) {
  DWORD a = GetFileAttributesW(toWide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) {
    DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
  }
  return (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace keldrun
