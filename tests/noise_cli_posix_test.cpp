// keldrun compare and keldrun noise end to end over real folders: what the noise list hides in
// each output form, the count on stderr, --with-noise and its marks, learn, add, remove, undo.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "tests/cli_support.h"
#include "tests/json_reader.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::JsonReader;
using testing_support::JsonValue;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

class NoiseCli : public testing_support::KeldrunCliTest {
 protected:
  // app/cache/x.tmp changes and app/cache/new.tmp comes (noise); app/real/keep.txt changes.
  void SetUp() override {
    KeldrunCliTest::SetUp();
    if (IsSkipped()) return;
    std::filesystem::create_directories(tree / "app/cache");
    std::filesystem::create_directories(tree / "app/real");
    writeText(tree / "app/cache/x.tmp", "1");
    writeText(tree / "app/real/keep.txt", "1");
    ASSERT_EQ(run("snapshot --files " + shellWord(tree / "app")).status, 0);
    writeText(tree / "app/cache/x.tmp", "22");
    writeText(tree / "app/cache/new.tmp", "1");
    writeText(tree / "app/real/keep.txt", "22");
    ASSERT_EQ(run("snapshot --files " + shellWord(tree / "app")).status, 0);
    app = "z:";
    for (char c : tree.str() + "app") app.push_back(c == '/' ? '\\' : c);
  }
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }
  // "name|noise" of every item of a --jsonl run.
  std::set<std::string> items(const std::string& jsonl) {
    std::set<std::string> out;
    std::istringstream in(jsonl);
    std::string line;
    while (std::getline(in, line)) {
      JsonValue v;
      EXPECT_TRUE(JsonReader::parse(line, &v)) << line;
      if (v["kind"].string == u"item")
        out.insert(toUtf8(v["name"].string) + (line.find("\"noise\":true") != std::string::npos ? "|noise" : ""));
    }
    return out;
  }

  TempFolder home, tree;
  std::string app;  // the folder as the snapshots name it
};

TEST_F(NoiseCli, CompareHidesCountsAndWithNoiseShowsMarkedInEveryForm) {
  ASSERT_EQ(run("noise add " + shellWord(app + "\\CACHE\\")).status, 0);
  CliRun r = run("compare 1 2");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("keep.txt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("cache"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("1 difference hidden as noise (files 1; --with-noise shows them)"), std::string::npos) << r.err;

  r = run("compare 1 2 --with-noise");
  EXPECT_NE(r.out.find("cache  [modified, own content, noise]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("new.tmp  1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[noise]"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("hidden as noise"), std::string::npos) << r.err;

  EXPECT_EQ(items(run("compare 1 2 --jsonl").out), (std::set<std::string>{"keep.txt"}));
  EXPECT_EQ(items(run("compare 1 2 --jsonl --with-noise").out),
            (std::set<std::string>{"keep.txt", "new.tmp|noise", "x.tmp|noise"}));

  r = run("compare 1 2 --json --with-noise");
  JsonValue doc;
  ASSERT_TRUE(JsonReader::parse(r.out, &doc)) << r.out;
  std::set<std::string> marked;
  for (const JsonValue& section : doc["sections"].items)
    for (const JsonValue& node : section["nodes"].items)
      for (const JsonValue& row : node["rows"].items)
        marked.insert(toUtf8(row["name"].string) + (row["noise"].boolean ? "|noise" : ""));
  EXPECT_EQ(marked, (std::set<std::string>{"keep.txt", "new.tmp|noise", "x.tmp|noise"}));
  r = run("compare 1 2 --json");
  EXPECT_EQ(r.out.find("x.tmp"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"noise\""), std::string::npos) << r.out;

  // Only noise left: no differences at all, and no modified folder on the way to nothing.
  ASSERT_EQ(run("noise add " + shellWord(app + "\\real\\*.txt")).status, 0);
  r = run("compare 1 2");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("z:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("no differences found"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("2 differences hidden as noise"), std::string::npos) << r.err;
}

// --json counts what the list hid in every section, as standard error does; --jsonl keeps to
// nodes and items (a loader's rows) and leaves the count to standard error. --with-noise hides
// and counts nothing.
TEST_F(NoiseCli, JsonFormsCountWhatTheListHidPerSection) {
  ASSERT_EQ(run("noise add " + shellWord(app + "\\*\\*.tmp")).status, 0);
  for (bool withNoise : {false, true}) {
    std::string noise = withNoise ? " --with-noise" : "";
    size_t expected = withNoise ? 0 : 2;  // x.tmp's old/new pair once, new.tmp
    CliRun r = run("compare 1 2 --json" + noise);
    EXPECT_EQ(r.err.find("2 differences hidden as noise (files 2;") != std::string::npos, !withNoise) << r.err;
    JsonValue doc;
    ASSERT_TRUE(JsonReader::parse(r.out, &doc)) << r.out;
    std::map<std::string, double> counts;
    for (const JsonValue& section : doc["sections"].items)
      counts[toUtf8(section["section"].string)] = section["hiddenAsNoise"].number;
    EXPECT_EQ(counts, (std::map<std::string, double>{{"registry", 0}, {"files", double(expected)}, {"apps", 0}}))
        << withNoise;

    r = run("compare 1 2 --jsonl" + noise);
    EXPECT_EQ(r.err.find("2 differences hidden as noise (files 2;") != std::string::npos, !withNoise) << r.err;
    std::istringstream in(r.out);
    std::string line;
    size_t tmpLines = 0;
    while (std::getline(in, line)) {
      JsonValue v;
      ASSERT_TRUE(JsonReader::parse(line, &v)) << line;
      EXPECT_EQ(v["schema"].number, 1) << line;
      EXPECT_TRUE(v["kind"].string == u"node" || v["kind"].string == u"item") << "every line a node or item: " << line;
      if (line.find(".tmp\"") != std::string::npos) tmpLines++;
    }
    EXPECT_EQ(tmpLines, withNoise ? 3u : 0u) << r.out;  // x.tmp's old/new pair and new.tmp
  }
}

TEST_F(NoiseCli, LearnAddsProposalsAndUndoTakesEveryChangeBack) {
  CliRun r = run("noise learn 1 2 --dry-run");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("propose " + app + "\\cache\\x.tmp  (1 difference)"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(home / "noise.txt")) << "a dry run writes nothing";
  r = run("noise learn 1 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(run("compare 1 2").status, 0) << "what two quiet snapshots differ by is noise";
  r = run("noise list");
  EXPECT_NE(r.out.find(app + "\\real\\keep.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("*:\\Windows\\Prefetch"), std::string::npos) << "learned entries join the defaults";

  r = run("noise add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run starts with the machine and is never hidden"),
            std::string::npos) << r.err;
  EXPECT_EQ(run("noise remove " + shellWord(app + "\\real\\keep.txt")).status, 0);
  EXPECT_EQ(run("compare 1 2").status, 1);
  EXPECT_EQ(run("noise undo").status, 0);
  EXPECT_EQ(run("compare 1 2").status, 0);
  EXPECT_EQ(run("noise undo").status, 0);
  EXPECT_FALSE(std::filesystem::exists(home / "noise.txt"));
  EXPECT_EQ(run("noise undo").status, 2) << "nothing left to undo";
  EXPECT_EQ(run("compare 1 2").status, 1);
}

}  // namespace
}  // namespace keldrun
