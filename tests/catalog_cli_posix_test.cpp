// The catalog commands end to end, through the keldrun binary built next to this test.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/cli_support.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::readBytes;
using testing_support::readText;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

class CatalogCli : public testing_support::KeldrunCliTest {
 protected:
  void SetUp() override {
    KeldrunCliTest::SetUp();
    if (IsSkipped()) return;
    std::filesystem::create_directories(tree / "a/b");
    writeText(tree / "a/x.txt", "hi");
  }
  CliRun run(const TempFolder& home, const std::string& args) { return KeldrunCliTest::run(home.str(), args); }

  TempFolder w1, w2, out, tree;
};

TEST_F(CatalogCli, SnapshotListRenameExportDeleteImportCompare) {
  CliRun r = run(w1, "snapshot --name first --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("snap001.snp"), std::string::npos) << r.out;
  writeText(tree / "a/b/y.txt", "more");
  r = run(w1, "snapshot --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("snap002.snp"), std::string::npos) << r.out;

  r = run(w1, "list");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("first"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Snapshot #2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("partial"), std::string::npos) << r.out;

  ASSERT_EQ(run(w1, "rename 2 'second one'").status, 0);
  r = run(w1, "info 2 --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"name\":\"second one\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files\":{\"state\":2,\"stateText\":\"partial\",\"items\":[\"z:\\\\"), std::string::npos)
      << r.out;

  r = run(w1, "export 1 2 --to " + shellWord(out.str()));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(std::filesystem::exists(out / "snap001.snp"));
  ASSERT_TRUE(std::filesystem::exists(out / "snap002.snp"));

  // Exporting into the data folder would pack a file onto itself: refused, file intact.
  std::vector<uint8_t> original2 = readBytes(w1 / "data/snap002.snp");
  r = run(w1, "export 2 --to " + shellWord(w1 / "data"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("snap002.snp"), std::string::npos) << r.err;
  EXPECT_EQ(readBytes(w1 / "data/snap002.snp"), original2);

  ASSERT_EQ(run(w1, "delete 1").status, 0);
  EXPECT_FALSE(std::filesystem::exists(w1 / "data/snap001.snp"));
  r = run(w1, "list");
  EXPECT_EQ(r.out.find("first"), std::string::npos) << r.out;

  r = run(w2, "import " + shellWord(out / "snap001.snp") + " " + shellWord(out / "snap002.snp"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 "), std::string::npos);
  r = run(w2, "list");
  EXPECT_NE(r.out.find("first"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("second one"), std::string::npos) << r.out;

  // The imported snapshot 2 is the original snapshot 2, byte for byte, and compares equal.
  EXPECT_EQ(readBytes(w2 / "data/snap002.snp"), original2);
  r = run(w2, "compare 2 " + shellWord(w1 / "data/snap002.snp"));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = run(w2, "compare 1 2");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("y.txt"), std::string::npos) << r.out;

  // A new snapshot in w1 takes number 3: deleted numbers are not given out again.
  r = run(w1, "snapshot --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("snap003.snp"), std::string::npos) << r.out;
}

TEST_F(CatalogCli, SnapshotWithTheScanFilterFile) {
  writeText(w1 / "scan_filter.txt", "Files:\n" + std::string("z:") + [&] {
    std::string s = tree.str() + "a/";
    for (char& c : s) c = c == '/' ? '\\' : c;
    return s;
  }() + "\n");
  CliRun r = run(w1, "snapshot --filter --name filtered");
  ASSERT_EQ(r.status, 0) << r.err;
  r = run(w1, "info 1");
  EXPECT_NE(r.out.find("filtered"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\a\\"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Registry: (-)"), std::string::npos) << r.out;
}

TEST_F(CatalogCli, ErrorsNameTheProblemAndChangeNothing) {
  ASSERT_EQ(run(w1, "snapshot --files " + shellWord(tree.str())).status, 0);
  std::vector<uint8_t> cfg = readBytes(w1 / "Keldrun.cfg");
  struct Case {
    std::string args, message;
  } cases[] = {
      {"delete 1 9", "snapshot 9 is not in the catalog"},
      {"info x", "'x' is not a snapshot number"},
      {"rename 1 ''", "must not be empty"},
      {"export 1", "export needs --to DIR"},
      {"import " + shellWord(tree / "a/x.txt"), "x.txt: not a packed snapshot"},
      {"import " + shellWord(tree / "missing.snp"), "missing.snp"},
      {"list --bogus", "unknown option '--bogus'"},
      {"list 1", "unexpected argument '1' (see 'keldrun list --help')"},
  };
  for (const Case& c : cases) {
    CliRun r = run(w1, c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
    EXPECT_TRUE(std::filesystem::exists(w1 / "data/snap001.snp")) << c.args;
  }
  CliRun r = run(w1, "list");
  EXPECT_NE(r.out.find("Snapshot #1"), std::string::npos);
  EXPECT_EQ(r.out.find("Snapshot #2"), std::string::npos);

  // A damaged settings file is never overwritten by a command that saves.
  writeText(w1 / "Keldrun.cfg", "damaged");
  r = run(w1, "delete 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Keldrun.cfg"), std::string::npos) << r.err;
  r = run(w1, "snapshot --files " + shellWord(tree.str()));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(readText(w1 / "Keldrun.cfg"), "damaged");
  EXPECT_TRUE(std::filesystem::exists(w1 / "data/snap001.snp"));
  r = run(w1, "list");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
  (void)cfg;
}

}  // namespace
}  // namespace keldrun
