// What the user is told when a right is missing, on both systems: only a missing right earns the
// advice, and each task names its own way out.
#include "workspace/rights.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace keldrun {
namespace {

TEST(Rights, OnlyAMissingRightIsExplained) {
  struct Case {
    int error;
    bool advised;
  } cases[] = {{EACCES, true}, {EPERM, true}, {EROFS, true},  {0, false},
               {ENOENT, false}, {ENOSPC, false}, {ENOTDIR, false}, {EIO, false}};
  for (const Case& c : cases) {
    for (RightsTask task : {RightsTask::Install, RightsTask::UseWorkspace, RightsTask::CommandLine}) {
      std::string m = withRightsAdvice("Cannot create\nC:\\Program Files\\Keldrun\\", c.error, task);
      EXPECT_EQ(m.rfind("Cannot create\nC:\\Program Files\\Keldrun\\", 0), 0u) << m;
      EXPECT_EQ(m.find("\n\n") != std::string::npos, c.advised) << c.error << ": " << m;
      EXPECT_EQ(isMissingRight(c.error), c.advised) << c.error;
    }
  }
}

TEST(Rights, EachTaskNamesItsWayOut) {
  std::string install = withRightsAdvice("x", EACCES, RightsTask::Install);
  std::string workspace = withRightsAdvice("x", EACCES, RightsTask::UseWorkspace);
  // Setup can go elsewhere through its own button; the program can only run with more rights or
  // be installed where its user may write.
  EXPECT_NE(install.find("\"Run as administrator\""), std::string::npos) << install;
  EXPECT_NE(install.find("\"Change folder...\""), std::string::npos) << install;
  EXPECT_NE(workspace.find("\"Run as administrator\""), std::string::npos) << workspace;
  EXPECT_EQ(workspace.find("Change folder"), std::string::npos) << workspace;
  EXPECT_NE(workspace.find("install it into a folder you can write"), std::string::npos) << workspace;
  std::string cli = withRightsAdvice("x", EACCES, RightsTask::CommandLine);
  EXPECT_NE(cli.find("--home"), std::string::npos) << cli;
}

}  // namespace
}  // namespace keldrun
