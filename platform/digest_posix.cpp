#include "platform/digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <memory>

#include "platform/env.h"

namespace keldrun {

namespace {

struct ContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// Hashes what fd holds from where it stands to its end.
bool hashDescriptor(int fd, uint8_t out[kSha256Bytes]) {
  std::unique_ptr<EVP_MD_CTX, ContextFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  uint8_t buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer, size_t(n)) != 1) return false;
  }
  unsigned int length = 0;
  uint8_t digest[EVP_MAX_MD_SIZE];
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != kSha256Bytes) return false;
  std::copy(digest, digest + kSha256Bytes, out);
  return true;
}

}  // namespace

bool sha256OfFile(const DigestPath& path, uint8_t out[kSha256Bytes]) {
  // Not blocking: a pipe or a device among the files must not hold the scan.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    ::fcntl(fd, F_SETFL, 0);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ok = hashDescriptor(fd, out);
  }
  ::close(fd);
  return ok;
}

bool Env::fileSha256(const std::u16string& path, uint8_t out[kSha256Bytes]) {
  std::string native = nativePath(path);
  return !native.empty() && sha256OfFile(native, out);
}

}  // namespace keldrun
