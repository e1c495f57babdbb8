// The Win32 seam on a real file system (run under Wine on the build machine).
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/text_win.h"
#include "platform/env.h"
#include "platform/own_files.h"
#include "workspace/home.h"

namespace keldrun {

namespace {

std::u16string U(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
std::wstring longForm(const std::wstring& path) { return L"\\\\?\\" + path; }

bool makeFolder(const std::wstring& path) { return CreateDirectoryW(longForm(path).c_str(), nullptr) != 0; }

// Writes size bytes to path and sets its last-write time; false when any step fails.
bool makeFile(const std::wstring& path, size_t size, uint64_t lastWrite) {
  HANDLE h = CreateFileW(longForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::vector<char> bytes(size, 'k');
  DWORD written = 0;
  bool ok = size == 0 || (WriteFile(h, bytes.data(), DWORD(size), &written, nullptr) && written == size);
  FILETIME ft{DWORD(lastWrite), DWORD(lastWrite >> 32)};
  ok = ok && SetFileTime(h, nullptr, nullptr, &ft);
  CloseHandle(h);
  return ok;
}

// Removes a folder and everything below it; junctions and links are removed, not followed.
void removeTree(const std::wstring& folder) {
  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(longForm(folder + L"\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring n = d.cFileName;
      if (n == L"." || n == L"..") continue;
      std::wstring p = folder + L"\\" + n;
      if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        removeTree(p);
      else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(longForm(p).c_str());
      else
        DeleteFileW(longForm(p).c_str());
    } while (FindNextFileW(h, &d));
    FindClose(h);
  }
  RemoveDirectoryW(longForm(folder).c_str());
}

std::map<std::u16string, DirEntry> listAll(const std::u16string& folder, bool* listed) {
  std::map<std::u16string, DirEntry> out;
  auto listing = defaultEnv()->listFolder(folder);
  *listed = listing != nullptr;
  if (!listing) return out;
  DirEntry e;
  while (listing->next(&e)) out[e.name] = e;
  return out;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class EnvWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
    ASSERT_GT(n, 0u);
    std::wstring base(tmp, n);
    // The seam works on full paths without "." or "..", as the scan builds them.
    wchar_t full[4 * MAX_PATH];
    DWORD m = GetFullPathNameW(base.c_str(), 4 * MAX_PATH, full, nullptr);
    ASSERT_GT(m, 0u);
    base.assign(full, m);
    if (base.back() == L'\\') base.pop_back();
    root_ = base + L"\\keldrun-env-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount());
    ASSERT_TRUE(makeFolder(root_));
  }
  void TearDown() override { removeTree(root_); }

  std::u16string folderPath(const std::wstring& path) const { return U(path + L"\\"); }

  std::wstring root_;
};

TEST_F(EnvWinTest, ListsNamesKindsTimesAndSizesOfARealFolder) {
  struct Case {
    std::wstring name;
    bool folder;
    size_t size;
    uint64_t lastWrite;
  };
  // Times are whole 100 ns FILETIME units; sizes cross no interesting boundary, names do.
  const Case cases[] = {
      {L"plain.txt", false, 5, 132000000000000000ull},
      {L".hidden-dot-file", false, 0, 130000000000000001ull},
      {L"caf\u00e9.bin", false, 4097, 125911584000000000ull},
      {L"\u0416\u0443\u043a.dat", false, 1, 133444444444444444ull},
      {L"\u6f22\u5b57", false, 70000, 116444736000000000ull},
      {L"emoji-\U0001F600.txt", false, 3, 132500000000000000ull},
      {L"sub folder", true, 0, 0},
      {L".dot-folder", true, 0, 0},
      {L"\u03a9mega", true, 0, 0},
  };
  for (const Case& c : cases) {
    std::wstring p = root_ + L"\\" + c.name;
    if (c.folder)
      ASSERT_TRUE(makeFolder(p)) << "cannot create folder";
    else
      ASSERT_TRUE(makeFile(p, c.size, c.lastWrite)) << "cannot create file";
  }
  bool listed = false;
  auto got = listAll(folderPath(root_), &listed);
  ASSERT_TRUE(listed);
  EXPECT_EQ(got.count(u"."), 0u);
  EXPECT_EQ(got.count(u".."), 0u);
  ASSERT_EQ(got.size(), std::size(cases));
  for (const Case& c : cases) {
    auto it = got.find(U(c.name));
    ASSERT_NE(it, got.end()) << toUtf8(U(c.name)) << " missing";
    const DirEntry& e = it->second;
    EXPECT_EQ(e.isFolder, c.folder) << toUtf8(e.name);
    EXPECT_FALSE(e.isJunction) << toUtf8(e.name);
    if (!c.folder) {
      EXPECT_EQ(e.size, c.size) << toUtf8(e.name);
      EXPECT_EQ(e.lastWrite, c.lastWrite) << toUtf8(e.name);
    }
  }
}

TEST_F(EnvWinTest, TimesAndSizesAgreeWithTheAttributeQuery) {
  // A second way of asking the system for the same facts.
  ASSERT_TRUE(makeFile(root_ + L"\\a", 123456, 131111111111111111ull));
  ASSERT_TRUE(makeFolder(root_ + L"\\d"));
  bool listed = false;
  auto got = listAll(folderPath(root_), &listed);
  ASSERT_TRUE(listed);
  for (const auto& [name, e] : got) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    ASSERT_TRUE(GetFileAttributesExW((root_ + L"\\" + toWide(name)).c_str(), GetFileExInfoStandard, &a));
    uint64_t t = (uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32) | a.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(e.lastWrite, t) << toUtf8(name);
    EXPECT_EQ(e.isFolder, (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    if (!e.isFolder) {
      EXPECT_EQ(e.size, (uint64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow);
    }
  }
}

// Change time and identity as a second query through the file's own handle gives them, and
// what they do when content is rewritten and its times put back with SetFileTime, and when a
// file is replaced by a same-size, same-time copy.
TEST_F(EnvWinTest, ChangeTimeAndIdentityShowContentBehindAKeptDate) {
  const uint64_t when = 132000000000000000ull;
  ASSERT_TRUE(makeFile(root_ + L"\\kept", 10, when));
  ASSERT_TRUE(makeFile(root_ + L"\\other", 10, when));
  struct Facts {
    uint64_t change = 0, id = 0;
  };
  auto query = [&](const wchar_t* name) {
    Facts f;
    HANDLE h = CreateFileW(longForm(root_ + L"\\" + name).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO basic;
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic));
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    CloseHandle(h);
    f.change = uint64_t(basic.ChangeTime.QuadPart);
    f.id = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return f;
  };
  auto listed = [&]() {
    bool ok = false;
    auto got = listAll(folderPath(root_), &ok);
    EXPECT_TRUE(ok);
    return got;
  };
  auto before = listed();
  Facts kept = query(L"kept"), other = query(L"other");
  std::printf("[ info ] listed ChangeTime %llu, LastWriteTime %llu, query ChangeTime %llu\n",
              (unsigned long long)before[u"kept"].changeTime, (unsigned long long)before[u"kept"].lastWrite,
              (unsigned long long)kept.change);
  EXPECT_NE(before[u"kept"].changeTime, 0u);
  EXPECT_EQ(before[u"kept"].changeTime, kept.change);
  EXPECT_EQ(before[u"kept"].fileId, kept.id);
  EXPECT_NE(before[u"kept"].fileId, before[u"other"].fileId);
  EXPECT_EQ(before[u"other"].fileId, other.id);

  Sleep(20);  // past the clock step of the file system's times
  ASSERT_TRUE(makeFile(root_ + L"\\kept", 10, when));  // new content, the old date set back
  ASSERT_TRUE(CopyFileW(longForm(root_ + L"\\other").c_str(), longForm(root_ + L"\\copy").c_str(), FALSE));
  ASSERT_TRUE(MoveFileExW(longForm(root_ + L"\\copy").c_str(), longForm(root_ + L"\\other").c_str(),
                          MOVEFILE_REPLACE_EXISTING));
  auto after = listed();
  EXPECT_EQ(after[u"kept"].lastWrite, when);
  EXPECT_EQ(after[u"kept"].size, 10u);
  EXPECT_NE(after[u"kept"].changeTime, before[u"kept"].changeTime);
  EXPECT_EQ(after[u"kept"].fileId, before[u"kept"].fileId);
  EXPECT_EQ(after[u"other"].lastWrite, when);
  EXPECT_NE(after[u"other"].fileId, before[u"other"].fileId);
}

TEST_F(EnvWinTest, ListsFoldersFarBeyondTheClassicPathLimit) {
  // Each level adds 51 characters; 40 levels put the deepest folder past 2,000 characters.
  std::wstring path = root_;
  const std::wstring level(50, L'x');
  for (int i = 0; i < 40; i++) {
    path += L"\\" + level.substr(0, 48) + std::to_wstring(10 + i);
    ASSERT_TRUE(makeFolder(path)) << "level " << i;
  }
  ASSERT_GT(path.size(), 2000u);
  ASSERT_TRUE(makeFile(path + L"\\deep.txt", 42, 132000000000000000ull));
  ASSERT_TRUE(makeFolder(path + L"\\deeper"));

  bool listed = false;
  auto got = listAll(folderPath(path), &listed);
  ASSERT_TRUE(listed);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[u"deep.txt"].size, 42u);
  EXPECT_TRUE(got[u"deeper"].isFolder);

  // A folder just past the classic limit of 260 characters lists too.
  std::wstring mid = root_;
  while (mid.size() <= MAX_PATH) {
    mid += L"\\" + level;
    ASSERT_TRUE(makeFolder(mid)) << "cannot create a mid-depth folder";
  }
  ASSERT_TRUE(makeFile(mid + L"\\m", 7, 132000000000000000ull));
  got = listAll(folderPath(mid), &listed);
  ASSERT_TRUE(listed);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got.begin()->second.size, 7u);
}

TEST_F(EnvWinTest, ListsFoldersWhoseNamesPlainPathsWouldAlter) {
  // Plain paths lose a trailing dot or space; the scan must list the folder it was given.
  for (const wchar_t* name : {L"trailing dot.", L"trailing space ", L"two dots.."}) {
    std::wstring folder = root_ + L"\\" + name;
    ASSERT_TRUE(makeFolder(folder));
    ASSERT_TRUE(makeFile(folder + L"\\inside", 11, 132000000000000000ull));
    bool listed = false;
    auto got = listAll(folderPath(folder), &listed);
    ASSERT_TRUE(listed) << toUtf8(U(name));
    ASSERT_EQ(got.size(), 1u) << toUtf8(U(name));
    EXPECT_EQ(got.begin()->first, u"inside");
    EXPECT_EQ(got.begin()->second.size, 11u);
  }
  bool listed = false;
  auto top = listAll(folderPath(root_), &listed);
  ASSERT_TRUE(listed);
  EXPECT_EQ(top.count(u"trailing dot."), 1u);
  EXPECT_EQ(top.count(u"trailing space "), 1u);
}

TEST_F(EnvWinTest, ListsEveryEntryOfALargeFolder) {
  // Enough entries that the listing comes back in several fetches.
  const int kFiles = 1000;
  for (int i = 0; i < kFiles; i++)
    ASSERT_TRUE(makeFile(root_ + L"\\f" + std::to_wstring(i), size_t(i % 17), 130000000000000000ull + i));
  bool listed = false;
  auto got = listAll(folderPath(root_), &listed);
  ASSERT_TRUE(listed);
  ASSERT_EQ(got.size(), size_t(kFiles));
  for (int i = 0; i < kFiles; i += 97) {
    const DirEntry& e = got[U(L"f" + std::to_wstring(i))];
    EXPECT_EQ(e.size, uint64_t(i % 17));
    EXPECT_EQ(e.lastWrite, 130000000000000000ull + i);
  }
}

TEST_F(EnvWinTest, EmptyMissingAndNonFolderPaths) {
  ASSERT_TRUE(makeFolder(root_ + L"\\empty"));
  ASSERT_TRUE(makeFile(root_ + L"\\file", 1, 130000000000000000ull));
  bool listed = false;
  auto got = listAll(folderPath(root_ + L"\\empty"), &listed);
  EXPECT_TRUE(listed);
  EXPECT_TRUE(got.empty());
  listAll(folderPath(root_ + L"\\no such folder"), &listed);
  EXPECT_FALSE(listed);
  listAll(folderPath(root_ + L"\\file"), &listed);
  EXPECT_FALSE(listed);
}

// Reparse data of a mount point, laid out as the file system control expects it.
bool makeJunction(const std::wstring& link, const std::wstring& target) {
  if (!makeFolder(link)) return false;
  HANDLE h = CreateFileW(longForm(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::wstring substitute = L"\\??\\" + target;
  size_t subBytes = substitute.size() * 2, printBytes = target.size() * 2;
  size_t pathBytes = subBytes + 2 + printBytes + 2;
  std::vector<uint8_t> buf(8 + 8 + pathBytes, 0);
  auto put16 = [&](size_t at, size_t v) { buf[at] = uint8_t(v), buf[at + 1] = uint8_t(v >> 8); };
  uint32_t tag = 0xA0000003;
  std::memcpy(buf.data(), &tag, 4);
  put16(4, 8 + pathBytes);
  put16(8, 0);
  put16(10, subBytes);
  put16(12, subBytes + 2);
  put16(14, printBytes);
  std::memcpy(buf.data() + 16, substitute.data(), subBytes);
  std::memcpy(buf.data() + 16 + subBytes + 2, target.data(), printBytes);
  DWORD ret = 0;
  BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), DWORD(buf.size()), nullptr, 0,
                            &ret, nullptr);
  CloseHandle(h);
  return ok != 0;
}

TEST_F(EnvWinTest, JunctionsAndFolderLinksAreMarkedAndNotFollowed) {
  ASSERT_TRUE(makeFolder(root_ + L"\\target"));
  ASSERT_TRUE(makeFile(root_ + L"\\target\\inside", 3, 130000000000000000ull));
  bool junction = makeJunction(root_ + L"\\junction", root_ + L"\\target");
  // A junction to its own parent: following it would never end.
  bool loop = makeJunction(root_ + L"\\target\\loop", root_);
  // Some systems report success without making the link; only a link that exists is checked.
  bool folderLink = CreateSymbolicLinkW((root_ + L"\\dirlink").c_str(), (root_ + L"\\target").c_str(),
                                        SYMBOLIC_LINK_FLAG_DIRECTORY) != 0 &&
                    GetFileAttributesW((root_ + L"\\dirlink").c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!junction && !folderLink) GTEST_SKIP() << "this system creates neither junctions nor links";

  bool listed = false;
  auto got = listAll(folderPath(root_), &listed);
  ASSERT_TRUE(listed);
  EXPECT_TRUE(got[u"target"].isFolder);
  EXPECT_FALSE(got[u"target"].isJunction);
  if (junction) {
    EXPECT_TRUE(got[u"junction"].isFolder);
    EXPECT_TRUE(got[u"junction"].isJunction);
  }
  if (folderLink) {
    EXPECT_TRUE(got[u"dirlink"].isFolder);
    EXPECT_TRUE(got[u"dirlink"].isJunction);
  }
  if (loop) {
    auto inner = listAll(folderPath(root_ + L"\\target"), &listed);
    ASSERT_TRUE(listed);
    EXPECT_TRUE(inner[u"loop"].isJunction);
    EXPECT_FALSE(inner[u"inside"].isJunction);
  }
}

// Folder links made on the host side of the prefix: tests/wine/run_tests.sh puts Unix symbolic
// links into c:\keldrun-fixtures\links\ (Wine itself cannot make junctions everywhere).
TEST(EnvWinLinks, HostFolderLinksAreMarkedAndNotFollowed) {
  const std::u16string links = u"c:\\keldrun-fixtures\\links\\";
  if (GetFileAttributesW(toWide(links).c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "no link fixtures in this prefix (run through tests/wine/run_tests.sh)";
  bool listed = false;
  auto got = listAll(links, &listed);
  ASSERT_TRUE(listed);
  ASSERT_EQ(got.count(u"target"), 1u);
  EXPECT_TRUE(got[u"target"].isFolder);
  EXPECT_FALSE(got[u"target"].isJunction);
  ASSERT_EQ(got.count(u"folder-link"), 1u);
  EXPECT_TRUE(got[u"folder-link"].isFolder);
  EXPECT_TRUE(got[u"folder-link"].isJunction);
  ASSERT_EQ(got.count(u"file-link"), 1u);
  EXPECT_FALSE(got[u"file-link"].isFolder);
  EXPECT_EQ(got[u"file-link"].size, 5u);
  // A link to its own ancestor: following it would never end.
  auto inner = listAll(links + u"target\\", &listed);
  ASSERT_TRUE(listed);
  ASSERT_EQ(inner.count(u"up"), 1u);
  EXPECT_TRUE(inner[u"up"].isJunction);
}

TEST(EnvWinDrives, DriveMaskAndTypesAgree) {
  Env* env = defaultEnv();
  uint32_t mask = env->logicalDrives();
  ASSERT_NE(mask, 0u);
  EXPECT_EQ(mask >> 26, 0u);
  // The system drive is fixed and present in the mask.
  wchar_t windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 2u);
  char16_t sys = char16_t(foldAscii(char16_t(windows[0])));
  ASSERT_TRUE(sys >= u'a' && sys <= u'z');
  EXPECT_TRUE(mask & (1u << (sys - u'a')));
  EXPECT_EQ(env->driveType(sys), kDriveFixed);
  EXPECT_EQ(env->driveType(char16_t(sys - 32)), kDriveFixed);  // upper case names the same drive
  for (int i = 0; i < 26; i++) {
    int type = env->driveType(char16_t(u'a' + i));
    bool present = (mask & (1u << i)) != 0;
    EXPECT_EQ(type != kDriveNoRootDir, present) << char('a' + i) << " type " << type;
  }
  // The root of the system drive lists, and holds the Windows folder.
  bool listed = false;
  auto got = listAll(std::u16string{sys, u':', u'\\'}, &listed);
  ASSERT_TRUE(listed);
  std::u16string windowsName = lowerAscii(U(std::wstring(windows + 3)));
  bool found = false;
  for (const auto& [name, e] : got) found |= lowerAscii(name) == windowsName && e.isFolder;
  EXPECT_TRUE(found);
}

TEST(EnvWinPaths, WindowsPathOfMakesFullDrivePaths) {
  wchar_t cwd[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, cwd);
  ASSERT_GT(n, 0u);
  std::u16string here = U(std::wstring(cwd, n));
  EXPECT_EQ(windowsPathOf("."), here);
  EXPECT_EQ(windowsPathOf("c:/one/two/../three"), u"c:\\one\\three");
  EXPECT_EQ(windowsPathOf("c:\\caf\xc3\xa9\\"), u"c:\\caf\u00e9\\");
  EXPECT_EQ(windowsPathOf("\\\\server\\share\\x"), u"");
}

TEST(EnvWinPaths, ExecutableFolderHoldsThisExecutable) {
  std::string folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  // The file name of this executable, whatever the binary is called, is found in that folder.
  wchar_t module[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  ASSERT_GT(n, 0u);
  std::wstring self(module, n);
  std::string base = toUtf8(U(self.substr(self.find_last_of(L"\\/") + 1)));
  EXPECT_TRUE(fileExists(folder + "\\" + base));
  EXPECT_FALSE(fileExists(folder + "\\" + base + ".missing"));
  EXPECT_EQ(windowsPathOf(folder), U(self.substr(0, self.find_last_of(L"\\/"))));
}

TEST(EnvWinPaths, ComputerNameIsTheNetBiosName) {
  std::u16string name = defaultEnv()->computerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), size_t(MAX_COMPUTERNAME_LENGTH));
  const wchar_t* env = _wgetenv(L"COMPUTERNAME");
  if (env) {
    EXPECT_EQ(lowerAscii(name), lowerAscii(U(env)));
  }
}

}  // namespace
}  // namespace keldrun
