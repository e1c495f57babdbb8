// The --jsonl lines of every command as a fleet store reads them: each line names the snapshot
// it is about (and for compare both sides), parses as JSON whatever the names hold, and dump
// writes a snapshot's whole state in the tree's order.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/printers.h"
#include "engine/snapshot.h"
#include "tests/cli_support.h"
#include "tests/compare_support.h"
#include "tests/json_reader.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::JsonReader;
using testing_support::JsonValue;
using testing_support::KeySpec;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

// Every line of out parsed; a line that does not parse fails the test.
std::vector<JsonValue> parseLines(const std::string& out) {
  std::vector<JsonValue> lines;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    EXPECT_NE(end, std::string::npos) << "the last line ends with a line feed";
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(at, end - at);
    JsonValue v;
    size_t where = 0;
    EXPECT_TRUE(JsonReader::parse(line, &v, &where)) << "at " << where << ": " << line;
    lines.push_back(v);
    at = end + 1;
  }
  return lines;
}

// The Windows spelling of a native folder, as the files section records it.
std::u16string windowsPath(const std::string& folder) {
  std::string p = "z:";
  for (char c : folder) p.push_back(c == '/' ? '\\' : c);
  return fromUtf8(p);
}

class CliJsonLines : public testing_support::KeldrunCliTest {
 protected:
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }
  // Rewrites the computer name in the info record of a snapshot file, as a machine of that
  // name would have written it.
  void setComputer(const std::string& path, const std::string& computer) {
    SnapshotFile file;
    SnapshotInfo info;
    ASSERT_TRUE(file.open(path, &info));
    info.computer = computer;
    ASSERT_NE(file.rewriteInfo(&info, info.infoOffset), 0u);
    ASSERT_TRUE(file.close());
  }
  SnapshotInfo infoOf(const std::string& path) {
    SnapshotFile file;
    SnapshotInfo info;
    EXPECT_TRUE(file.open(path, &info));
    file.close();
    return info;
  }
  // The folder the tests record: app/readme.txt and app/sub/old.txt.
  void makeTree() {
    testing_support::makeAppFolder(tree);
    writeText(tree / "app/sub/old.txt", "to go");
  }
  TempFolder home, tree;
};

// Names with control characters, quotes, backslashes, bytes above 0x7F and characters beyond
// the BMP still give one valid JSON object per line, and every line of compare, show, search
// and dump carries the identity of its snapshot: the same id for the same file wherever it lies
// and whatever it is renamed to, another id for another snapshot.
TEST_F(CliJsonLines, EveryLineOfEveryCommandNamesItsSnapshotWhateverTheNamesHold) {
  makeTree();
  const std::string nameA = "golden \"image\"\\ \x01 \xf0\x9f\x98\x80";  // 😀
  ASSERT_EQ(run("snapshot --name " + shellWord(nameA) + " --files " + shellWord(tree.str())).status, 0);
  writeText(tree / "app/\xf0\x9f\x92\xbe\x1b[31m\"q\".txt", "new");  // 💾
  const std::string nameB = "desk\n42\t\x7f";
  ASSERT_EQ(run("snapshot --name " + shellWord(nameB) + " --files " + shellWord(tree.str())).status, 0);
  const std::string computerA = "GOLD\x1f\"\\";
  const std::string computerB = "DESK\x7f\x9b\xe9\x22";  // DEL, a C1 control, é, a quote
  setComputer(home / "data/snap001.snp", computerA);
  setComputer(home / "data/snap002.snp", computerB);
  SnapshotInfo infoA = infoOf(home / "data/snap001.snp"), infoB = infoOf(home / "data/snap002.snp");
  auto latin1 = [](const std::string& s) {
    std::u16string w;
    for (unsigned char c : s) w.push_back(char16_t(c));
    return w;
  };

  std::u16string appPath = windowsPath(tree.str() + "app");
  std::map<std::u16string, std::set<std::u16string>> idsByComputer;
  struct Case {
    std::string args;
    int status;
    bool both;  // compare: both sides named on every line
  };
  const Case cases[] = {
      {"compare 1 2 --jsonl", 1, true},
      {"compare 1 2 --full --jsonl", 1, true},
      {"show 2 --jsonl " + shellWord(toUtf8(appPath)), 0, false},
      {"search 2 . --section files --jsonl", 0, false},
      {"dump 2 --jsonl", 0, false},
      {"dump 1 --jsonl", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    CliRun r = run(c.args);
    ASSERT_EQ(r.status, c.status) << r.err;
    std::vector<JsonValue> lines = parseLines(r.out);
    ASSERT_GE(lines.size(), 2u) << r.out;
    bool sawNewFile = false;
    for (const JsonValue& v : lines) {
      ASSERT_EQ(v["schema"].kind, JsonValue::kNumber);
      EXPECT_EQ(v["schema"].number, 1);
      bool fromA = c.args.find("dump 1") == 0 || (c.both && v["side"].string == u"A");
      const SnapshotInfo& info = fromA ? infoA : infoB;
      EXPECT_EQ(v["computer"].string, latin1(fromA ? computerA : computerB));
      EXPECT_EQ(v["snapshotName"].string, fromUtf8(fromA ? nameA : nameB));
      EXPECT_EQ(v["number"].number, fromA ? 1 : 2);
      EXPECT_EQ(v["date"].string, latin1(info.date));
      ASSERT_EQ(v["snapshotId"].string.size(), 16u);
      EXPECT_EQ(v["snapshotId"].string.find_first_not_of(u"0123456789abcdef"), std::u16string::npos);
      idsByComputer[v["computer"].string].insert(v["snapshotId"].string);
      EXPECT_EQ(v.has("computerA"), c.both);
      if (c.both) {
        EXPECT_EQ(v["computerA"].string, latin1(computerA));
        EXPECT_EQ(v["computerB"].string, latin1(computerB));
        idsByComputer[v["computerA"].string].insert(v["snapshotIdA"].string);
        idsByComputer[v["computerB"].string].insert(v["snapshotIdB"].string);
      }
      if (v["name"].string == u"\U0001F4BE\x1b[31m\"q\".txt") sawNewFile = true;
    }
    EXPECT_EQ(sawNewFile, c.args.find("dump 1") != 0) << "the new file's name comes back exactly";
  }
  ASSERT_EQ(idsByComputer.size(), 2u);
  EXPECT_EQ(idsByComputer[latin1(computerA)].size(), 1u) << "one id per snapshot across commands";
  EXPECT_EQ(idsByComputer[latin1(computerB)].size(), 1u);
  EXPECT_NE(*idsByComputer[latin1(computerA)].begin(), *idsByComputer[latin1(computerB)].begin());

  // The same file elsewhere, and renamed, is the same snapshot; its info record rewritten with
  // another computer is not.
  std::filesystem::copy_file(home / "data/snap002.snp", scratch / "copy.snp");
  ASSERT_EQ(run("rename 2 other").status, 0);
  for (const std::string& args : {std::string("dump 2 --jsonl --section files"), "dump " + shellWord(scratch / "copy.snp") + " --jsonl"}) {
    std::vector<JsonValue> lines = parseLines(run(args).out);
    ASSERT_FALSE(lines.empty()) << args;
    EXPECT_EQ(lines[0]["snapshotId"].string, *idsByComputer[latin1(computerB)].begin()) << args;
  }
  setComputer(scratch / "copy.snp", "OTHER");
  std::vector<JsonValue> lines = parseLines(run("dump " + shellWord(scratch / "copy.snp") + " --jsonl").out);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0]["snapshotId"].string, *idsByComputer[latin1(computerB)].begin());
  EXPECT_EQ(lines[0]["snapshot"].string, fromUtf8(scratch / "copy.snp"));
}

// compare --jsonl: each item line carries the path of its own folder and the identity of its own
// side, line after line across folders and sides.
TEST_F(CliJsonLines, CompareItemLinesCarryTheirOwnFolderAndSide) {
  makeTree();
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  writeText(tree / "app/readme.txt", "hello, longer");
  writeText(tree / "app/added.txt", "new");
  std::filesystem::remove(tree / "app/sub/old.txt");
  writeText(tree / "app/sub/new.txt", "new");
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  std::u16string idA = fromUtf8(snapshotId(infoOf(home / "data/snap001.snp")));
  std::u16string idB = fromUtf8(snapshotId(infoOf(home / "data/snap002.snp")));
  ASSERT_NE(idA, idB);

  CliRun r = run("compare 1 2 --jsonl");
  ASSERT_EQ(r.status, 1) << r.err;
  std::u16string nodePath;
  std::set<std::u16string> items;
  for (const JsonValue& v : parseLines(r.out)) {
    if (v["kind"].string == u"node") {
      nodePath = v["path"].string;
      continue;
    }
    ASSERT_EQ(v["kind"].string, u"item");
    EXPECT_EQ(v["path"].string, nodePath) << toUtf8(v["name"].string);
    bool fromB = v["label"].string == u"add" || v["label"].string == u"new";
    EXPECT_EQ(v["side"].string, fromB ? u"B" : u"A");
    EXPECT_EQ(v["snapshotId"].string, fromB ? idB : idA);
    items.insert(v["path"].string + u"|" + v["name"].string + u"|" + v["label"].string);
  }
  std::u16string app = windowsPath(tree.str() + "app"), sub = app + u"\\sub";
  std::set<std::u16string> expected = {app + u"|readme.txt|old", app + u"|readme.txt|new", app + u"|added.txt|add",
                                       sub + u"|old.txt|del", sub + u"|new.txt|add"};
  EXPECT_EQ(items, expected);
}

// dump: every folder, then its files, depth-first in name order; --section and --path narrow
// it; it refuses to run without --jsonl.
TEST_F(CliJsonLines, DumpWritesEveryFolderAndFileInTheTreesOrder) {
  makeTree();
  writeText(tree / "app/B.txt", "bb");
  std::filesystem::create_directories(tree / "app/sub/deep");
  writeText(tree / "app/sub/deep/z.bin", "zzz");
  writeText(tree / "other.txt", "1");
  ASSERT_EQ(run("snapshot --name one --files " + shellWord(tree.str())).status, 0);
  CliRun r = run("dump 1 --jsonl");
  ASSERT_EQ(r.status, 0) << r.err;
  std::u16string root = windowsPath(tree.str());  // the recorded folder's path, without the separator
  if (root.back() == u'\\') root.pop_back();
  std::vector<std::u16string> seen;
  for (const JsonValue& v : parseLines(r.out)) {
    EXPECT_EQ(v["section"].string, u"files");
    std::u16string path = v["path"].string;
    if (path.size() < root.size()) {  // a folder on the way to the recorded one
      EXPECT_EQ(root.find(path), 0u) << toUtf8(path);
      EXPECT_EQ(v["kind"].string, u"node");
      EXPECT_TRUE(seen.empty()) << "before everything recorded";
      continue;
    }
    ASSERT_EQ(path.find(root), 0u) << toUtf8(path);
    std::u16string rest = path.substr(root.size());
    if (v["kind"].string == u"node") {
      seen.push_back(u"node " + rest);
    } else {
      ASSERT_EQ(v["kind"].string, u"item");
      seen.push_back(u"item " + rest + u"|" + v["name"].string + u"|" + fromUtf8(std::to_string(int(v["size"].number))));
    }
  }
  const std::vector<std::u16string> expected = {
      u"node ",
      u"item |other.txt|1",
      u"node \\app",
      u"item \\app|B.txt|2",
      u"item \\app|readme.txt|5",
      u"node \\app\\sub",
      u"item \\app\\sub|old.txt|5",
      u"node \\app\\sub\\deep",
      u"item \\app\\sub\\deep|z.bin|3",
  };
  EXPECT_EQ(seen, expected) << r.out;

  r = run("dump 1 --jsonl --path " + shellWord(toUtf8(root + u"\\APP\\SUB")));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::u16string> paths;
  for (const JsonValue& v : parseLines(r.out)) paths.push_back(v["kind"].string + u" " + v["path"].string.substr(root.size()));
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"node \\app\\sub", u"item \\app\\sub", u"node \\app\\sub\\deep",
                                                 u"item \\app\\sub\\deep"}));

  r = run("dump 1 --jsonl --section registry");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "") << "the snapshot recorded no registry";

  r = run("dump 1");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--jsonl"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

// The registry: a line per key and per value with its type and data, in name order.
TEST_F(CliJsonLines, DumpWritesEveryKeyWithItsValues) {
  auto utf16 = [](const std::u16string& s) {
    std::vector<uint8_t> b;
    for (char16_t c : s + u'\0') {
      b.push_back(uint8_t(c));
      b.push_back(uint8_t(c >> 8));
    }
    return b;
  };
  KeySpec vendor{u"Vendor", {}, {{u"Path", 1, utf16(u"c:\\")}}};
  KeySpec soft{u"SOFTWARE", {vendor}, {{u"Zeta", 4, {0x2a, 0, 0, 0}}, {u"", 1, utf16(u"def")}}};
  KeySpec hklm{u"HKEY_LOCAL_MACHINE", {soft}, {}};
  std::string path = scratch / "reg.snp";
  ASSERT_TRUE(testing_support::writeRegistrySnapshot(path, {hklm}));
  CliRun r = run("dump " + shellWord(path) + " --jsonl");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::u16string> seen;
  for (const JsonValue& v : parseLines(r.out)) {
    EXPECT_EQ(v["section"].string, u"registry");
    std::u16string line = v["kind"].string + u" " + v["path"].string;
    if (v["kind"].string == u"item")
      line += u"|" + v["name"].string + u"|" + v["typeText"].string + u"|" + v["data"].string;
    seen.push_back(line);
  }
  const std::vector<std::u16string> expected = {
      u"node HKEY_LOCAL_MACHINE",
      u"node HKEY_LOCAL_MACHINE\\SOFTWARE",
      u"item HKEY_LOCAL_MACHINE\\SOFTWARE|(Default)|REG_SZ|def",
      u"item HKEY_LOCAL_MACHINE\\SOFTWARE|Zeta|REG_DWORD|0x0000002a (42)",
      u"node HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor",
      u"item HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor|Path|REG_SZ|c:\\",
  };
  EXPECT_EQ(seen, expected) << r.out;
}

}  // namespace
}  // namespace keldrun
