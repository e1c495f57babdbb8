// The Win32 Env: the machine this process runs on.
//
// Folders are listed through the "\\?\" long-path form, so that a folder deeper than MAX_PATH is
// recorded like any other instead of coming back empty. That form takes the path literally: it
// must be absolute, use backslashes and hold no "." or ".." components, which the scan's own paths
// always satisfy.
#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/text_win.h"
#include "platform/env.h"
#include "platform/registry.h"
#include "platform/services_win.h"

namespace keldrun {

namespace {

// Name-surrogate reparse points (junctions, mount points, symbolic links) stand for another
// folder. Descending them would record that folder twice and, for a link that points to one of
// its own ancestors, would walk a cycle until the depth limit. A reparse point whose tag the
// listing leaves 0 cannot be told apart from those and is not followed either (Wine lists a
// Unix symbolic link to a folder that way).
constexpr DWORD kReparseTagMountPoint = 0xA0000003;
constexpr DWORD kReparseNameSurrogateBit = 0x20000000;

bool standsForAnotherFolder(DWORD tag) {
  return tag == kReparseTagMountPoint || tag == 0 || (tag & kReparseNameSurrogateBit) != 0;
}

// The pattern that lists folder (ending in '\'): "\\?\c:\dir\*", "\\?\UNC\server\share\dir\*".
// Paths already in a device or long form are used as they are.
std::wstring listingPattern(const std::u16string& folder) {
  std::wstring path(folder.begin(), folder.end());
  if (path.empty() || path.back() != L'\\') path.push_back(L'\\');
  std::wstring pattern;
  pattern.reserve(path.size() + 10);
  bool driveAbsolute = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
  bool unc = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' &&
             path[2] != L'.';
  if (driveAbsolute) {
    pattern = L"\\\\?\\";
    pattern += path;
  } else if (unc) {
    pattern = L"\\\\?\\UNC\\";
    pattern.append(path, 2, std::wstring::npos);
  } else {
    pattern = path;
  }
  pattern.push_back(L'*');
  return pattern;
}

class WinFolderListing : public FolderListing {
 public:
  // Takes ownership of handle, which found first; an invalid handle is an empty folder.
  WinFolderListing(HANDLE handle, const WIN32_FIND_DATAW& first)
      : handle_(handle), data_(first), pending_(handle != INVALID_HANDLE_VALUE) {}
  ~WinFolderListing() override {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }

  bool next(DirEntry* entry) override {
    for (;;) {
      if (!pending_) {
        if (handle_ == INVALID_HANDLE_VALUE || !FindNextFileW(handle_, &data_)) return false;
      }
      pending_ = false;
      const wchar_t* n = data_.cFileName;
      if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
      fill(entry);
      return true;
    }
  }

 private:
  void fill(DirEntry* entry) const {
    const wchar_t* n = data_.cFileName;
    entry->name.assign(reinterpret_cast<const char16_t*>(n), wcsnlen(n, MAX_PATH));
    entry->isFolder = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // dwReserved0 holds the reparse tag only when the entry is a reparse point.
    entry->isJunction = entry->isFolder &&
                        (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                        standsForAnotherFolder(data_.dwReserved0);
    entry->lastWrite = (uint64_t(data_.ftLastWriteTime.dwHighDateTime) << 32) |
                       data_.ftLastWriteTime.dwLowDateTime;
    entry->size = entry->isFolder ? 0 : (uint64_t(data_.nFileSizeHigh) << 32) | data_.nFileSizeLow;
    entry->changeTime = 0;
    entry->fileId = 0;
  }

  HANDLE handle_;
  WIN32_FIND_DATAW data_;
  bool pending_;  // data_ holds an entry that next() has not returned yet
};

// Lists a folder through its handle: each call returns a buffer of entries with their change
// times and file ids, which FindFirstFileEx does not give, at no more calls than it makes.
class WinHandleListing : public FolderListing {
 public:
  // Takes ownership of folder, a handle opened for listing.
  explicit WinHandleListing(HANDLE folder) : handle_(folder), buffer_(kBufferBytes / 8) {}
  ~WinHandleListing() override { CloseHandle(handle_); }

  // Fetches the first entries; false when the system refuses this kind of listing, so that the
  // caller lists the folder the other way. A folder without entries is a listing.
  bool start() {
    if (fetch(FileIdBothDirectoryRestartInfo)) return true;
    return GetLastError() == ERROR_NO_MORE_FILES || GetLastError() == ERROR_FILE_NOT_FOUND;
  }

  bool next(DirEntry* entry) override {
    for (;;) {
      if (at_ == kEnd && (done_ || !fetch(FileIdBothDirectoryInfo))) return false;
      const auto* d = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes() + at_);
      size_t nameAt = offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
      // An entry must lie inside the buffer with its name, and the next one after it.
      if (kBufferBytes - at_ < nameAt || d->FileNameLength > kBufferBytes - at_ - nameAt) return false;
      size_t step = d->NextEntryOffset;
      at_ = step == 0 || step > kBufferBytes - at_ || step % 8 != 0 ? kEnd : at_ + step;
      size_t n = d->FileNameLength / 2;
      const WCHAR* name = d->FileName;
      if (n == 0 || (name[0] == L'.' && (n == 1 || (n == 2 && name[1] == L'.')))) continue;
      fill(entry, *d, n);
      return true;
    }
  }

 private:
  static constexpr size_t kBufferBytes = 64 * 1024;
  static constexpr size_t kEnd = ~size_t(0);

  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(buffer_.data()); }

  bool fetch(FILE_INFO_BY_HANDLE_CLASS kind) {
    if (!GetFileInformationByHandleEx(handle_, kind, buffer_.data(), DWORD(kBufferBytes))) {
      done_ = true;
      at_ = kEnd;
      return false;
    }
    at_ = 0;
    return true;
  }

  void fill(DirEntry* entry, const FILE_ID_BOTH_DIR_INFO& d, size_t nameChars) const {
    entry->name.assign(reinterpret_cast<const char16_t*>(d.FileName), nameChars);
    entry->isFolder = (d.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // With the reparse point attribute, EaSize holds the reparse tag.
    entry->isJunction = entry->isFolder && (d.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                        standsForAnotherFolder(d.EaSize);
    entry->lastWrite = uint64_t(d.LastWriteTime.QuadPart);
    entry->size = entry->isFolder ? 0 : uint64_t(d.EndOfFile.QuadPart);
    entry->changeTime = entry->isFolder ? 0 : uint64_t(d.ChangeTime.QuadPart);
    entry->fileId = entry->isFolder ? 0 : uint64_t(d.FileId.QuadPart);
  }

  HANDLE handle_;
  std::vector<uint64_t> buffer_;  // 8-byte aligned, as the entries need
  size_t at_ = kEnd;              // the next entry in buffer_; kEnd: fetch more
  bool done_ = false;
};

class WinEnv : public Env {
 public:
  uint32_t logicalDrives() override { return uint32_t(GetLogicalDrives()) & 0x3FFFFFFu; }

  int driveType(char16_t letter) override {
    wchar_t root[4] = {wchar_t(letter), L':', L'\\', 0};
    return int(GetDriveTypeW(root));
  }

  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    std::wstring pattern = listingPattern(folder);
    std::wstring path = pattern.substr(0, pattern.size() - 1);
    HANDLE dir = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir != INVALID_HANDLE_VALUE) {
      auto listing = std::make_unique<WinHandleListing>(dir);
      if (listing->start()) return listing;
    }
    WIN32_FIND_DATAW data;
    // The basic information level and large fetches save the short name lookup and round
    // trips; systems before Windows 7 reject them, so fall back to the plain call there.
    HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
      h = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                           nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) {
      // A drive root with no entries at all reports "file not found": an empty folder, not a
      // failure. Anywhere else it means the folder is gone.
      if (GetLastError() == ERROR_FILE_NOT_FOUND && isDriveRoot(folder))
        return std::make_unique<WinFolderListing>(INVALID_HANDLE_VALUE, data);
      return nullptr;
    }
    return std::make_unique<WinFolderListing>(h, data);
  }

  std::unique_ptr<RegistryKey> openHive(int hive) override { return openWin32Hive(hive); }

  std::u16string computerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &n)) return std::u16string();
    return u16(name, n);
  }

  std::u16string windowsFolder() override { return win32::windowsFolder(); }
  bool listServices(std::vector<ServiceConfig>* out) override { return win32::listServices(out); }
  bool searchExecutable(const std::u16string& name, std::u16string* fullPath) override {
    return win32::searchExecutable(name, fullPath);
  }
  bool fileStatus(const std::u16string& path, uint64_t* lastWrite, uint64_t* size) override {
    return win32::fileStatus(path, lastWrite, size);
  }
  bool fileVersion(const std::u16string& path, FileVersionInfo* out) override {
    return win32::fileVersion(path, out);
  }
  std::u16string expandEnvironment(const std::u16string& text) override {
    return win32::expandEnvironment(text);
  }

 private:
  static bool isDriveRoot(const std::u16string& folder) {
    return folder.size() == 3 && folder[1] == u':' && folder[2] == u'\\';
  }
};

}  // namespace

Env* defaultEnv() {
  static WinEnv env;
  return &env;
}

bool setWinePrefix(const std::string&, std::string*) { return true; }

std::string registryUnavailable() { return std::string(); }

std::u16string windowsPathOf(const std::string& nativePath) {
  std::u16string in = fromUtf8(nativePath);
  std::wstring w(in.begin(), in.end());
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::u16string();
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, &full[0], nullptr);
  if (n == 0 || n >= full.size()) return std::u16string();
  full.resize(n);
  // Only paths on a drive letter belong to a drive.
  if (full.size() < 3 || full[1] != L':' || full[2] != L'\\') return std::u16string();
  return std::u16string(full.begin(), full.end());
}


}  // namespace keldrun
