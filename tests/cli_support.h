// The command line end to end on POSIX: the keldrun binary built next to the test binary, run
// through the shell in a workspace of the test's choosing, outside any Wine prefix.
#ifndef KELDRUN_TESTS_CLI_SUPPORT_H_
#define KELDRUN_TESTS_CLI_SUPPORT_H_
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace keldrun {
namespace testing_support {

// What one run of keldrun gave: its exit status (-1 when it did not exit), stdout and stderr.
struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// s as one shell word (the tests' paths hold no single quote).
inline std::string shellWord(const std::string& s) { return "'" + s + "'"; }

// The folder the tests record: app/readme.txt ("hello") and the empty folder app/sub.
inline void makeAppFolder(const TempFolder& tree) {
  std::filesystem::create_directories(tree / "app/sub");
  writeText(tree / "app/readme.txt", "hello");
}

// Skips its tests when the build made no keldrun binary.
class KeldrunCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    binary = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "keldrun";
    if (!std::filesystem::exists(binary)) GTEST_SKIP() << "no keldrun binary next to the tests";
  }

  // Runs keldrun with the workspace `home` and `args`, shell words already quoted.
  CliRun run(const std::string& home, const std::string& args) {
    std::string errFile = scratch / "stderr.txt";
    std::string cmd = "env -u WINEPREFIX HOME=" + shellWord(noWineHome()) + " " + shellWord(binary.string()) +
                      " --home " + shellWord(home) + " " + args + " 2>" + shellWord(errFile);
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readText(errFile);
    return r;
  }

  // The runs' $HOME, without a ~/.wine, and no $WINEPREFIX: no run depends on a prefix on this
  // machine, and only named folders can be recorded.
  std::string noWineHome() const { return scratch / "home-without-wine"; }

  std::filesystem::path binary;
  TempFolder scratch;  // for the runs' stderr; the tests may keep their own files here too
};

}  // namespace testing_support
}  // namespace keldrun

#endif
#endif  // KELDRUN_TESTS_CLI_SUPPORT_H_
