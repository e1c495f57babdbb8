// The command line against hostile input and careless use: names that would inject lines into
// a .reg script, outputs aimed at the workspace's own files, files that only look like packed
// snapshots, read-only workspaces, and several processes writing one workspace at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli_support.h"
#include "tests/compare_support.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::KeySpec;
using testing_support::readText;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeRegistrySnapshot;
using testing_support::writeText;

class HostileCli : public testing_support::KeldrunCliTest {
 protected:
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }
  TempFolder home;
};

// Injection: the names that cannot be written are named on stderr, escaped, and the rest of the
// key is written.
TEST_F(HostileCli, ExportRegNamesWhatItLeavesOutAndFails) {
  KeySpec vendor{u"Vendor", {{u"bad\n[-HKEY_CURRENT_USER]\n;\x1b]0;pwned\x07", {}, {}}},
                 {{u"fine", 1, {'o', 0, 'k', 0, 0, 0}}}};
  std::string snap = scratch / "hostile.snp";
  ASSERT_TRUE(writeRegistrySnapshot(snap, {KeySpec{u"HKEY_CURRENT_USER", {vendor}, {}}}));
  std::string reg = scratch / "out.reg";
  CliRun r = run("export-reg " + shellWord(snap) + " 'HKEY_CURRENT_USER\\Vendor' --out " + shellWord(reg));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("HKEY_CURRENT_USER\\Vendor\\bad\\n[-HKEY_CURRENT_USER]\\n;\\x1b]0;pwned\\x07"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "escapes reach the terminal";
  EXPECT_NE(r.err.find("without 1 keys or values"), std::string::npos) << r.err;
  std::string text = readText(reg);
  EXPECT_NE(text.find(std::string("f\0i\0n\0e\0", 8)), std::string::npos) << "the rest is written";
  EXPECT_EQ(text.find(std::string("b\0a\0d\0", 6)), std::string::npos);
}

}  // namespace
}  // namespace keldrun
