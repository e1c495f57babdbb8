#include "platform/digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <memory>

#include "platform/env.h"

namespace keldrun {

namespace {

// "\\?\c:\dir\file" for a drive path, so that paths past MAX_PATH open too; other forms as given.
std::wstring longForm(const std::u16string& path) {
  std::wstring p(path.begin(), path.end());
  if (p.size() >= 3 && p[1] == L':' && p[2] == L'\\') p.insert(0, L"\\\\?\\");
  return p;
}

struct HandleClose {
  void operator()(void* h) const { CloseHandle(h); }
};
struct HashClose {
  void operator()(void* h) const { BCryptDestroyHash(h); }
};

// The SHA-256 provider, opened once for the process: CNG's algorithm handles may be shared by
// threads, and opening one costs more than hashing a small file.
BCRYPT_ALG_HANDLE provider() {
  static BCRYPT_ALG_HANDLE handle = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) h = nullptr;
    return h;
  }();
  return handle;
}

}  // namespace

bool sha256OfFile(const DigestPath& path, uint8_t out[kSha256Bytes]) {
  BCRYPT_ALG_HANDLE alg = provider();
  if (!alg) return false;
  // Others may go on reading, writing and deleting: the scan must not lock anyone out. A file
  // another process holds without sharing it fails here and is recorded as unreadable.
  HANDLE h = CreateFileW(longForm(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::unique_ptr<void, HandleClose> file(h);
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(alg, &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
  std::unique_ptr<void, HashClose> hash(rawHash);
  static const DWORD kBlock = 64 * 1024;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer.get(), kBlock, &n, nullptr)) return false;
    if (n == 0) break;
    if (!BCRYPT_SUCCESS(BCryptHashData(rawHash, buffer.get(), n, 0))) return false;
  }
  uint8_t digest[kSha256Bytes];
  if (!BCRYPT_SUCCESS(BCryptFinishHash(rawHash, digest, ULONG(kSha256Bytes), 0))) return false;
  std::copy(digest, digest + kSha256Bytes, out);
  return true;
}

bool sha256Available(std::string* why) {
  if (why) why->clear();
  return true;  // CNG is part of every Windows this program runs on
}

bool Env::fileSha256(const std::u16string& path, uint8_t out[kSha256Bytes]) { return sha256OfFile(path, out); }

}  // namespace keldrun
