// The program's own files on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/file_system.h"
#include "base/files.h"
#include "base/native_file.h"

namespace keldrun {

FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

FILE* openRegularFile(const std::string& path) {
  // Non-blocking, so that a FIFO with no writer cannot hold the open; the type is then checked
  // on what was opened, not on the name, which could be swapped in between.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
    ::close(fd);
    return nullptr;
  }
  FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

bool FileLock::lock(const std::string& path, bool wait, bool* busy, std::string* reason) {
  unlock();
  *busy = false;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *reason = path + ": " + std::strerror(errno);
    return false;
  }
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    *busy = errno == EWOULDBLOCK;
    *reason = path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

void FileLock::unlock() {
  if (handle_ == -1) return;
  ::close(int(handle_));  // releases the flock
  handle_ = -1;
}

bool removeFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool replaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool fileTimeAndSize(const std::string& path, uint64_t* lastWrite, uint64_t* size) {
  constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  *lastWrite = kUnixEpochAsFileTime + uint64_t(int64_t(st.st_mtim.tv_sec)) * 10000000ull +
               uint64_t(st.st_mtim.tv_nsec) / 100;
  *size = S_ISDIR(st.st_mode) ? 0 : uint64_t(st.st_size);
  return true;
}

bool makeFolders(const std::string& path) {
  if (path.empty()) return false;
  for (size_t i = 1; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

bool seekFile(FILE* f, uint64_t offset) { return fseeko(f, off_t(offset), SEEK_SET) == 0; }

bool fileLength(FILE* f, uint64_t* size) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || st.st_size < 0) return false;
  *size = uint64_t(st.st_size);
  return true;
}

namespace {

// pread or pwrite until all n bytes are moved.
bool transferAt(int fd, uint64_t offset, char* p, size_t n, bool write) {
  while (n > 0) {
    ssize_t moved = write ? ::pwrite(fd, p, n, off_t(offset)) : ::pread(fd, p, n, off_t(offset));
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) return false;
    p += moved;
    offset += uint64_t(moved);
    n -= size_t(moved);
  }
  return true;
}

}  // namespace

bool readFileAt(FILE* f, uint64_t offset, void* out, size_t n) {
  return transferAt(fileno(f), offset, static_cast<char*>(out), n, false);
}

bool nativeOpen(const std::string& path, WriteMode mode, intptr_t* handle, uint64_t* size) {
  int flags = O_WRONLY | O_CLOEXEC;
  if (mode == WriteMode::kCreate) flags |= O_CREAT | O_TRUNC;
  if (mode == WriteMode::kCreateNew) flags |= O_CREAT | O_EXCL;
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  *handle = fd;
  *size = uint64_t(st.st_size);
  return true;
}

bool nativeWriteAt(intptr_t handle, uint64_t offset, const void* data, size_t n) {
  return transferAt(int(handle), offset, static_cast<char*>(const_cast<void*>(data)), n, true);
}

const uint8_t* nativeMap(FILE* f, uint64_t size) {
  if (size == 0 || size_t(size) != size) return nullptr;
  // Shared, so that a record rewritten in place through another descriptor shows in the view.
  void* view = ::mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fileno(f), 0);
  return view == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(view);
}

void nativeUnmap(const uint8_t* view, uint64_t size) {
  if (view) ::munmap(const_cast<uint8_t*>(view), size_t(size));
}

bool nativeClose(intptr_t handle) { return ::close(int(handle)) == 0; }

bool nativeIsReplaceable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

}  // namespace keldrun
