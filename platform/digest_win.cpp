#include "platform/digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <memory>

#include "platform/env.h"
#include "platform/system_library_win.h"

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

// CNG, found at the first digest: bcrypt.dll costs every start of the program under Wine a
// few milliseconds, and only a scan that records content digests uses it.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) openProvider = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  decltype(&BCryptHashData) hashData = nullptr;
  decltype(&BCryptFinishHash) finishHash = nullptr;
  decltype(&BCryptDestroyHash) destroyHash = nullptr;
  // The SHA-256 provider, opened once: CNG's algorithm handles may be shared by threads, and
  // opening one costs more than hashing a small file.
  BCRYPT_ALG_HANDLE sha256 = nullptr;
};

Cng loadCng() {
  const wchar_t* dll = L"bcrypt.dll";
  Cng c;
  bool found = findSystemFunction(dll, "BCryptOpenAlgorithmProvider", &c.openProvider) &&
               findSystemFunction(dll, "BCryptCreateHash", &c.createHash) &&
               findSystemFunction(dll, "BCryptHashData", &c.hashData) &&
               findSystemFunction(dll, "BCryptFinishHash", &c.finishHash) &&
               findSystemFunction(dll, "BCryptDestroyHash", &c.destroyHash);
  if (!found || !BCRYPT_SUCCESS(c.openProvider(&c.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    c.sha256 = nullptr;
  return c;
}

const Cng& cng() {
  static const Cng loaded = loadCng();  // once, safely from any thread
  return loaded;
}

}  // namespace

bool sha256OfFile(const DigestPath& path, uint8_t out[kSha256Bytes]) {
  const Cng& c = cng();
  if (!c.sha256) return false;
  // Others may go on reading, writing and deleting: the scan must not lock anyone out. A file
  // another process holds without sharing it fails here and is recorded as unreadable.
  HANDLE h = CreateFileW(longForm(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::unique_ptr<void, HandleClose> file(h);
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  if (!BCRYPT_SUCCESS(c.createHash(c.sha256, &rawHash, nullptr, 0, nullptr, 0, 0))) return false;
  std::unique_ptr<void, decltype(c.destroyHash)> hash(rawHash, c.destroyHash);
  static const DWORD kBlock = 64 * 1024;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBlock]);
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, buffer.get(), kBlock, &n, nullptr)) return false;
    if (n == 0) break;
    if (!BCRYPT_SUCCESS(c.hashData(rawHash, buffer.get(), n, 0))) return false;
  }
  uint8_t digest[kSha256Bytes];
  if (!BCRYPT_SUCCESS(c.finishHash(rawHash, digest, ULONG(kSha256Bytes), 0))) return false;
  std::copy(digest, digest + kSha256Bytes, out);
  return true;
}

bool sha256Available(std::string* why) {
  bool found = cng().sha256 != nullptr;
  if (why) *why = found ? "" : "Content digests need SHA-256 from bcrypt.dll, which could not be loaded";
  return found;
}

bool Env::fileSha256(const std::u16string& path, uint8_t out[kSha256Bytes]) { return sha256OfFile(path, out); }

}  // namespace keldrun
