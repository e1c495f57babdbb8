// Content digests of files: SHA-256 through the system's own implementation, Windows CNG
// (bcrypt) in digest_win.cpp and OpenSSL's libcrypto, opened at the first digest, in
// digest_posix.cpp. Env::fileSha256 reaches a file by its Windows path through the seam and
// hashes it here.
#ifndef KELDRUN_PLATFORM_DIGEST_H_
#define KELDRUN_PLATFORM_DIGEST_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace keldrun {

constexpr size_t kSha256Bytes = 32;

// A path as the platform opens it: on Win32 a Windows path in UTF-16 ("c:\dir\file", long
// paths taken as they are), elsewhere a native path.
#ifdef _WIN32
using DigestPath = std::u16string;
#else
using DigestPath = std::string;
#endif

// Reads the regular file at path from its first byte to its end, in blocks, and sets out to
// the SHA-256 of its content. False, leaving out as it was, when the file cannot be opened
// (denied, locked by another process, gone, not a regular file) or a read fails part way: a
// digest is never given for part of a file, nor for nothing.
bool sha256OfFile(const DigestPath& path, uint8_t out[kSha256Bytes]);

// Whether sha256OfFile can hash at all; when not, why says what is missing, so that a scan
// asked for digests stops before it starts instead of marking every file unreadable.
bool sha256Available(std::string* why);

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_DIGEST_H_
