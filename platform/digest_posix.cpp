#include "platform/digest.h"

#include <dlfcn.h>
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

#define KELDRUN_STRING(x) #x
#define KELDRUN_EXPAND(x) KELDRUN_STRING(x)
const char kCryptoLibrary[] = "libcrypto.so." KELDRUN_EXPAND(OPENSSL_VERSION_MAJOR);

// libcrypto is loaded when the first digest is asked for, not when the program starts: mapping
// and relocating it took every run of the command line 2 ms and 125 page faults, and only a
// scan that records content digests uses it.
struct Crypto {
  decltype(&EVP_MD_CTX_new) ctxNew = nullptr;
  decltype(&EVP_MD_CTX_free) ctxFree = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) init = nullptr;
  decltype(&EVP_DigestUpdate) update = nullptr;
  decltype(&EVP_DigestFinal_ex) finish = nullptr;
  std::string error;  // why it could not be loaded; empty when it was
};

template <typename F>
bool findSymbol(void* library, const char* name, F* out) {
  *out = reinterpret_cast<F>(::dlsym(library, name));
  return *out != nullptr;
}

Crypto loadCrypto() {
  Crypto c;
  void* library = ::dlopen(kCryptoLibrary, RTLD_NOW | RTLD_LOCAL);  // kept for the process
  if (!library) {
    const char* why = ::dlerror();
    c.error = std::string("Content digests need OpenSSL: ") + (why ? why : kCryptoLibrary);
    return c;
  }
  bool found = findSymbol(library, "EVP_MD_CTX_new", &c.ctxNew) &&
               findSymbol(library, "EVP_MD_CTX_free", &c.ctxFree) &&
               findSymbol(library, "EVP_sha256", &c.sha256) &&
               findSymbol(library, "EVP_DigestInit_ex", &c.init) &&
               findSymbol(library, "EVP_DigestUpdate", &c.update) &&
               findSymbol(library, "EVP_DigestFinal_ex", &c.finish);
  if (!found) {
    c = Crypto();
    c.error = std::string("Content digests need OpenSSL: ") + kCryptoLibrary + " lacks a function";
  }
  return c;
}

const Crypto& crypto() {
  static const Crypto loaded = loadCrypto();  // once, safely from any thread
  return loaded;
}

// Hashes what fd holds from where it stands to its end.
bool hashDescriptor(int fd, uint8_t out[kSha256Bytes]) {
  const Crypto& c = crypto();
  if (!c.error.empty()) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(c.ctxFree)> ctx(c.ctxNew(), c.ctxFree);
  if (!ctx || c.init(ctx.get(), c.sha256(), nullptr) != 1) return false;
  uint8_t buffer[64 * 1024];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (c.update(ctx.get(), buffer, size_t(n)) != 1) return false;
  }
  unsigned int length = 0;
  uint8_t digest[EVP_MAX_MD_SIZE];
  if (c.finish(ctx.get(), digest, &length) != 1 || length != kSha256Bytes) return false;
  std::copy(digest, digest + kSha256Bytes, out);
  return true;
}

}  // namespace

bool sha256Available(std::string* why) {
  const Crypto& c = crypto();
  if (why) *why = c.error;
  return c.error.empty();
}

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
