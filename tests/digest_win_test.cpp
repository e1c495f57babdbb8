// The content digest seam on Windows: a file that another process holds without sharing it is
// unreadable, and readable again once let go.
#include <windows.h>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/digest.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

TEST(DigestWin, FileHeldWithoutSharingIsUnreadable) {
  testing_support::TempFolder folder;
  std::string path = folder / "locked";
  ASSERT_TRUE(testing_support::writeBytes(path, {1, 2, 3}));
  std::u16string windowsPath = fromUtf8(path);
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(windowsPath.c_str()), GENERIC_READ, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint8_t d[kSha256Bytes] = {};
  EXPECT_FALSE(sha256OfFile(windowsPath, d));
  CloseHandle(h);
  ASSERT_TRUE(sha256OfFile(windowsPath, d));
  // sha256sum of the three bytes 01 02 03.
  EXPECT_EQ(d[0], 0x03);
  EXPECT_EQ(d[1], 0x90);
}

}  // namespace
}  // namespace keldrun
