// The content digest seam: SHA-256 of real files equal to what sha256sum prints, and files that
// cannot be read told apart from any digest.
#include "platform/digest.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/env.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace keldrun {
namespace {

std::string hex(const uint8_t* d) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < kSha256Bytes; i++) {
    s.push_back(digits[d[i] >> 4]);
    s.push_back(digits[d[i] & 15]);
  }
  return s;
}

DigestPath digestPath(const std::string& path) {
#ifdef _WIN32
  std::u16string p = fromUtf8(path);
  for (char16_t& c : p)
    if (c == u'/') c = u'\\';
  return p;
#else
  return path;
#endif
}

// Bytes the generator below makes: not a repeated byte, so a hash that skipped or repeated a
// block would not match.
std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; i++) b[i] = uint8_t(i * 131 + 7);
  return b;
}

struct DigestCase {
  const char* name;
  std::vector<uint8_t> content;
  const char* sha256;  // as sha256sum printed it for these bytes
};

// Empty, one byte, and more than a megabyte that ends part way through a read block.
std::vector<DigestCase> cases() {
  return {
      {"empty", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"one", {'k'}, "8254c329a92850f6d539dd376f4816ee2764517da5e0235514af433164480d7a"},
      {"big", pattern(1024 * 1024 + 77), "d87ea3326fb613355a971df1fbe9bd255634d2e52357f3a109bb0d28c37c01ba"},
  };
}

TEST(Digest, Sha256OfRealFilesIsWhatSha256sumPrints) {
  std::string why = "untouched";
  ASSERT_TRUE(sha256Available(&why));  // the system's SHA-256 is found (libcrypto, opened now)
  EXPECT_EQ(why, "");
  testing_support::TempFolder folder;
  for (const DigestCase& c : cases()) {
    std::string path = folder / c.name;
    ASSERT_TRUE(testing_support::writeBytes(path, c.content));
    uint8_t d[kSha256Bytes] = {};
    ASSERT_TRUE(sha256OfFile(digestPath(path), d)) << c.name;
    EXPECT_EQ(hex(d), c.sha256) << c.name;
#ifndef _WIN32
    // And the tool itself, on the same file now.
    FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[200] = {};
    ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
    pclose(p);
    EXPECT_EQ(std::string(line, 64), hex(d)) << c.name;
#endif
  }
}

// Through the seam, by the file's Windows path, as the scan asks.
TEST(Digest, EnvHashesAFileByItsWindowsPath) {
  testing_support::TempFolder folder;
  std::string path = folder / "big";
  DigestCase big = cases()[2];
  ASSERT_TRUE(testing_support::writeBytes(path, big.content));
#ifdef _WIN32
  Env* env = defaultEnv();
  std::u16string windowsPath = digestPath(path);
#else
  std::unique_ptr<Env> owned = newPosixEnv("");
  Env* env = owned.get();
  std::u16string windowsPath = windowsPathIn(env, path);
#endif
  uint8_t d[kSha256Bytes] = {};
  ASSERT_TRUE(env->fileSha256(windowsPath, d));
  EXPECT_EQ(hex(d), big.sha256);
  EXPECT_FALSE(env->fileSha256(windowsPath + u"-gone", d));
}

// A missing file, a folder, and a pipe give no digest, and leave the output as it was. (A file
// another process holds locked: digest_win_test.cpp.)
TEST(Digest, UnreadableFilesGiveNoDigest) {
  testing_support::TempFolder folder;
  uint8_t d[kSha256Bytes];
  std::fill(d, d + kSha256Bytes, 0xAB);
  EXPECT_FALSE(sha256OfFile(digestPath(folder / "missing"), d));
  EXPECT_FALSE(sha256OfFile(digestPath(folder.str()), d));
#ifndef _WIN32
  // A pipe is not a regular file: it must neither hold the scan nor be hashed.
  std::string fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(sha256OfFile(fifo, d));
#endif
  for (size_t i = 0; i < kSha256Bytes; i++) EXPECT_EQ(d[i], 0xAB);
}

}  // namespace
}  // namespace keldrun
