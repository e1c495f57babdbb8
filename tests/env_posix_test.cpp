// The POSIX seam: drives from a Wine prefix's dosdevices, real folder listings, path mapping.
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/env.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

class EnvPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The resolved path: the temporary folder may lie behind a symbolic link.
    dir_ = std::filesystem::canonical(folder_.str()).string();
    prefix_ = dir_ + "/prefix";
    ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((prefix_ + "/dosdevices").c_str(), 0755), 0);
  }

  void link(const std::string& target, const std::string& name) {
    ASSERT_EQ(symlink(target.c_str(), (prefix_ + "/dosdevices/" + name).c_str()), 0) << name;
  }
  std::string folder(const std::string& rel) {
    std::string p = prefix_ + "/" + rel;
    EXPECT_EQ(mkdir(p.c_str(), 0755), 0) << rel;
    return p;
  }

  std::map<std::string, DirEntry> list(Env* env, const std::u16string& path) {
    std::map<std::string, DirEntry> out;
    std::unique_ptr<FolderListing> l = env->listFolder(path);
    EXPECT_TRUE(l) << toUtf8(path);
    if (!l) return out;
    DirEntry e;
    while (l->next(&e)) out[toUtf8(e.name)] = e;
    return out;
  }

  testing_support::TempFolder folder_;
  std::string dir_, prefix_;
};

TEST_F(EnvPosixTest, DrivesComeFromDosdevicesWithTheirTypes) {
  folder("drive_c");
  folder("data");
  folder("disc");
  link("../drive_c", "c:");
  link(prefix_ + "/data", "D:");         // absolute target, upper-case letter
  link("../disc", "e:");
  link("/dev/null", "e::");              // the raw device behind a CD drive
  link("/", "z:");
  link("../missing", "y:");              // dangling: no drive
  link("../drive_c", "com1");            // not a drive name
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  EXPECT_EQ(env->logicalDrives(), (1u << 2) | (1u << 3) | (1u << 4) | (1u << 25));
  EXPECT_EQ(env->driveType(u'c'), kDriveFixed);
  EXPECT_EQ(env->driveType(u'D'), kDriveFixed);
  EXPECT_EQ(env->driveType(u'e'), kDriveCdrom);
  EXPECT_EQ(env->driveType(u'z'), kDriveFixed);
  EXPECT_EQ(env->driveType(u'y'), kDriveNoRootDir);
  EXPECT_EQ(env->driveType(u'7'), kDriveNoRootDir);
}

TEST_F(EnvPosixTest, WithoutAPrefixThereIsOneDriveZForTheRoot) {
  for (const std::string& prefix : {std::string(), dir_ + "/no_such_prefix"}) {
    std::unique_ptr<Env> env = newPosixEnv(prefix);
    EXPECT_EQ(env->logicalDrives(), 1u << 25);
    EXPECT_EQ(env->driveType(u'z'), kDriveFixed);
    std::string expected = "z:" + dir_;
    for (char& ch : expected)
      if (ch == '/') ch = '\\';
    EXPECT_EQ(toUtf8(windowsPathIn(env.get(), dir_)), expected);
  }
}

TEST_F(EnvPosixTest, ListingReportsWhatStatReportsAndLinksToFoldersAsJunctions) {
  std::string c = folder("drive_c");
  link("../drive_c", "c:");
  folder("drive_c/sub");
  std::ofstream(c + "/a.txt") << "12345";
  std::ofstream(c + "/\xe6\x97\xa5.txt") << "x";
  std::ofstream(c + "/bad\xfe.bin") << "xy";
  ASSERT_EQ(symlink("sub", (c + "/to_sub").c_str()), 0);
  ASSERT_EQ(symlink("a.txt", (c + "/to_a").c_str()), 0);
  struct timespec ts[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, (c + "/a.txt").c_str(), ts, 0), 0);

  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  std::map<std::string, DirEntry> got = list(env.get(), u"c:\\");
  ASSERT_EQ(got.size(), 6u);  // no "." or ".."
  EXPECT_TRUE(got["sub"].isFolder);
  EXPECT_FALSE(got["sub"].isJunction);
  EXPECT_TRUE(got["to_sub"].isFolder);
  EXPECT_TRUE(got["to_sub"].isJunction);
  EXPECT_FALSE(got["a.txt"].isFolder);
  EXPECT_EQ(got["a.txt"].size, 5u);
  EXPECT_EQ(got["a.txt"].lastWrite, (1700000000ull + 11644473600ull) * 10000000ull + 1234567);
  EXPECT_EQ(got["to_a"].size, 5u);
  EXPECT_EQ(got["to_a"].lastWrite, got["a.txt"].lastWrite);
  EXPECT_EQ(got["bad\xfe.bin"].size, 2u);  // the escaped name maps back to its exact bytes
  EXPECT_EQ(got["\xe6\x97\xa5.txt"].name, u"\u65e5.txt");
  // The escaped name also opens: list a folder whose name is not UTF-8.
  folder("drive_c/odd\xff");
  std::ofstream(c + "/odd\xff/in.txt") << "in";
  std::u16string odd = u"c:\\" + fromUtf8("odd\xff") + u"\\";
  EXPECT_EQ(list(env.get(), odd).count("in.txt"), 1u);
}

TEST_F(EnvPosixTest, FolderNamesResolveCaseInsensitivelyAsOnWindows) {
  folder("drive_c");
  folder("drive_c/Program Files");
  folder("drive_c/Program Files/Big App");
  std::ofstream(prefix_ + "/drive_c/Program Files/Big App/App.EXE") << "MZ";
  link("../drive_c", "c:");
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  EXPECT_EQ(list(env.get(), u"c:\\program files\\big app\\").count("App.EXE"), 1u);
  EXPECT_EQ(env->nativePath(u"c:\\PROGRAM FILES\\big app\\app.exe"),
            prefix_ + "/drive_c/Program Files/Big App/App.EXE");
  EXPECT_FALSE(env->listFolder(u"c:\\program files\\nothing\\"));
  EXPECT_FALSE(env->listFolder(u"c:\\program files\\..\\..\\"));  // no climbing out of a drive
  EXPECT_FALSE(env->listFolder(u"q:\\"));
  EXPECT_FALSE(env->listFolder(u"c:\\program files\\big app\\app.exe\\"));
}

// One thread lists folders of two seams whose c: are two folders, in turns and while listings
// of either are open: every listing is of its own seam's folder, whatever was opened or
// converted before it on the thread.
TEST_F(EnvPosixTest, ListingsOnOneThreadFollowTheirOwnSeamAndPath) {
  std::string other = dir_ + "/other";
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((other + "/dosdevices").c_str(), 0755), 0);
  for (const std::string& root : {prefix_ + "/drive_c", other + "/drive_c"}) {
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/Sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/Sub/inner").c_str(), 0755), 0);
    std::ofstream(root + "/Sub/" + (root.find("/other/") == std::string::npos ? "a.txt" : "b.txt")) << "1";
    std::ofstream(root + "/Sub/inner/" + (root.find("/other/") == std::string::npos ? "a2.txt" : "b2.txt")) << "2";
  }
  link("../drive_c", "c:");
  ASSERT_EQ(symlink("../drive_c", (other + "/dosdevices/c:").c_str()), 0);
  std::unique_ptr<Env> a = newPosixEnv(prefix_), b = newPosixEnv(other);
  struct Step {
    Env* env;
    const char16_t* path;
    const char* holds;  // null: cannot be listed
  } steps[] = {
      {a.get(), u"c:\\Sub\\", "a.txt"},           {b.get(), u"c:\\Sub\\", "b.txt"},
      {a.get(), u"c:\\Sub\\inner\\", "a2.txt"},   {b.get(), u"c:\\Sub\\inner\\", "b2.txt"},
      {a.get(), u"c:\\sub\\INNER\\", "a2.txt"},   {a.get(), u"c:\\Sub\\..\\", nullptr},
      {b.get(), u"c:\\Sub\\inner\\", "b2.txt"},   {a.get(), u"c:\\Sub\\missing\\", nullptr},
      {a.get(), u"c:\\Sub\\inner\\", "a2.txt"},
  };
  // Each step once alone, and once with the listings of both seams' c:\Sub\ open.
  for (bool parentsOpen : {false, true}) {
    std::unique_ptr<FolderListing> openA, openB;
    if (parentsOpen) {
      openA = a->listFolder(u"c:\\Sub\\");
      openB = b->listFolder(u"c:\\Sub\\");
      ASSERT_TRUE(openA && openB);
    }
    for (const Step& step : steps) {
      SCOPED_TRACE(toUtf8(step.path) + (step.env == a.get() ? " of a" : " of b") + (parentsOpen ? ", parents open" : ""));
      if (!step.holds) {
        EXPECT_FALSE(step.env->listFolder(step.path));
        continue;
      }
      std::map<std::string, DirEntry> entries = list(step.env, step.path);
      EXPECT_EQ(entries.count(step.holds), 1u);
      EXPECT_EQ(entries.size(), std::string(step.holds).find('2') == std::string::npos ? 2u : 1u);
    }
  }
}

TEST_F(EnvPosixTest, CaseTwinsResolveByExactNameAndAnAmbiguousFoldedNameToNothing) {
  folder("drive_c");
  folder("drive_c/Dir");
  folder("drive_c/dir");
  folder("drive_c/Dir/Only");
  std::ofstream(prefix_ + "/drive_c/Dir/upper.txt") << "U";
  std::ofstream(prefix_ + "/drive_c/dir/lower.txt") << "l";
  std::ofstream(prefix_ + "/drive_c/Dir/Only/in.txt") << "i";
  link("../drive_c", "c:");
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  EXPECT_EQ(list(env.get(), u"c:\\Dir\\").count("upper.txt"), 1u);
  EXPECT_EQ(list(env.get(), u"c:\\dir\\").count("lower.txt"), 1u);
  // "DIR" is neither twin: no folder is read in its place, down to the names below it.
  EXPECT_FALSE(env->listFolder(u"c:\\DIR\\"));
  EXPECT_FALSE(env->listFolder(u"c:\\DIR\\only\\"));
  EXPECT_EQ(env->nativePath(u"c:\\DIR\\upper.txt"), "");
  // Below an exact twin a folded name that is unique still resolves.
  EXPECT_EQ(list(env.get(), u"c:\\Dir\\ONLY\\").count("in.txt"), 1u);
  EXPECT_EQ(env->nativePath(u"c:\\dir\\LOWER.TXT"), prefix_ + "/drive_c/dir/lower.txt");
}

TEST_F(EnvPosixTest, ANameHoldingABackslashIsOneNameThatOpensItselfAndNothingElse) {
  std::string c = folder("drive_c");
  link("../drive_c", "c:");
  folder("drive_c/a\\b");
  folder("drive_c/a");
  folder("drive_c/a/b");
  std::ofstream(c + "/a\\b/in.txt") << "in";
  std::ofstream(c + "/a/b/wrong.txt") << "wrong";
  std::ofstream(c + "/x\\y.txt") << "xy";
  folder("drive_c/\xf0\x90\x81\x9c");  // U+1005C: its low surrogate is the escape's code unit
  std::ofstream(c + "/\xf0\x90\x81\x9c/pair.txt") << "p";
  const std::u16string ab = std::u16string(u"a") + kEscapedBackslash + u"b";
  const std::u16string pair = u"\U0001005C";

  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  std::map<std::u16string, bool> names;
  std::unique_ptr<FolderListing> l = env->listFolder(u"c:\\");
  ASSERT_TRUE(l);
  DirEntry e;
  while (l->next(&e)) names[e.name] = e.isFolder;
  EXPECT_EQ(names, (std::map<std::u16string, bool>{
                       {u"a", true}, {ab, true}, {std::u16string(u"x") + kEscapedBackslash + u"y.txt", false}, {pair, true}}));
  std::map<std::string, DirEntry> inside = list(env.get(), u"c:\\" + ab + u"\\");
  EXPECT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside.count("in.txt"), 1u);
  EXPECT_EQ(list(env.get(), u"c:\\A" + std::u16string(1, kEscapedBackslash) + u"B\\").count("in.txt"), 1u);
  EXPECT_EQ(list(env.get(), u"c:\\a\\b\\").count("wrong.txt"), 1u);
  EXPECT_EQ(list(env.get(), u"c:\\" + pair + u"\\").count("pair.txt"), 1u);
  EXPECT_EQ(env->nativePath(u"c:\\" + ab + u"\\IN.TXT"), c + "/a\\b/in.txt");
  EXPECT_EQ(windowsPathIn(env.get(), c + "/a\\b"), u"c:\\" + ab);
  EXPECT_EQ(windowsPathIn(env.get(), c + "/a/b"), u"c:\\a\\b");
}

TEST_F(EnvPosixTest, NativePathsMapToTheDriveWithTheLongestTarget) {
  folder("drive_c");
  folder("drive_c/users");
  folder("drive_c/users/me");
  folder("drive_c/windows");
  link("../drive_c", "c:");
  link("../drive_c/users", "h:");
  link("/", "z:");
  std::unique_ptr<Env> env = newPosixEnv(prefix_);
  EXPECT_EQ(windowsPathIn(env.get(), prefix_ + "/drive_c/windows"), u"c:\\windows");
  EXPECT_EQ(windowsPathIn(env.get(), prefix_ + "/drive_c/users/me"), u"h:\\me");
  EXPECT_EQ(windowsPathIn(env.get(), prefix_ + "/drive_c/users"), u"h:\\");
  EXPECT_EQ(windowsPathIn(env.get(), prefix_ + "/drive_c/users/../windows/"), u"c:\\windows");
  EXPECT_EQ(windowsPathIn(env.get(), "/usr"), u"z:\\usr");
}

TEST_F(EnvPosixTest, PseudoFileSystemsAreJunctionsAndNeverListed) {
  struct stat st;
  if (stat("/proc/self", &st) != 0) GTEST_SKIP() << "no /proc here";
  std::unique_ptr<Env> env = newPosixEnv(std::string());
  std::map<std::string, DirEntry> root = list(env.get(), u"z:\\");
  ASSERT_EQ(root.count("proc"), 1u);
  EXPECT_TRUE(root["proc"].isFolder);
  EXPECT_TRUE(root["proc"].isJunction);
  EXPECT_FALSE(env->listFolder(u"z:\\proc\\"));
  EXPECT_FALSE(env->listFolder(u"z:\\proc\\self\\"));
  // An ordinary folder of the same drive is a plain folder.
  struct stat tmp;
  if (lstat("/tmp", &tmp) == 0 && S_ISDIR(tmp.st_mode)) {
    EXPECT_TRUE(root["tmp"].isFolder);
    EXPECT_FALSE(root["tmp"].isJunction);
  }
}

TEST_F(EnvPosixTest, TheComputerNameIsTheHostNameInUpperCaseCutAt15) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  std::string expected;
  for (const char* p = host; *p && *p != '.' && expected.size() < 15; p++)
    expected.push_back(char(std::toupper(uint8_t(*p))));
  std::unique_ptr<Env> env = newPosixEnv(std::string());
  EXPECT_EQ(toUtf8(env->computerName()), expected);
  EXPECT_LE(env->computerName().size(), 15u);
}

}  // namespace
}  // namespace keldrun
