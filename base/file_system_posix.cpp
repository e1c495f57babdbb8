// The write seam on POSIX: file descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/native_file.h"

namespace keldrun {

bool nativeOpen(const std::string& path, WriteMode mode, NativeHandle* handle, uint64_t* size) {
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

bool nativeWriteAt(NativeHandle handle, uint64_t offset, const void* data, size_t n) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t put = ::pwrite(int(handle), p, n, off_t(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    offset += uint64_t(put);
    n -= size_t(put);
  }
  return true;
}

bool nativeClose(NativeHandle handle) { return ::close(int(handle)) == 0; }

bool nativeIsReplaceable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

bool nativeRemove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool nativeRename(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace keldrun
