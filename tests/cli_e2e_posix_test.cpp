// The command line end to end: the built keldrun binary (next to this test) in temporary
// workspaces, over real folders. JSON output, help texts, the error cases with what must
// survive them, and what a terminal gets: progress, colour, Ctrl-C.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/output.h"
#include "platform/env.h"
#include "tests/cli_support.h"
#include "tests/json_reader.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::JsonReader;
using testing_support::JsonValue;
using testing_support::readBytes;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

class CliEndToEnd : public testing_support::KeldrunCliTest {
 protected:
  void SetUp() override {
    KeldrunCliTest::SetUp();
    if (IsSkipped()) return;
    testing_support::makeAppFolder(tree);
    writeText(tree / "app/sub/old.txt", "to go");
  }
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }
  // Runs keldrun with stdout and stderr on one pseudo-terminal, with NO_COLOR set or not. When
  // interruptOn is given, types Ctrl-C once the output holds it, as a user at the terminal would.
  CliRun runOnTerminal(const std::vector<std::string>& args, bool noColor,
                       const std::string& interruptOn = "") {
    std::vector<std::string> all = {binary.string(), "--home", home.str()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    CliRun r;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return r;
    if (pid == 0) {
      unsetenv("WINEPREFIX");
      setenv("HOME", noWineHome().c_str(), 1);
      if (noColor) setenv("NO_COLOR", "1", 1);
      else unsetenv("NO_COLOR");
      execv(argv[0], argv.data());
      _exit(127);
    }
    bool interrupted = interruptOn.empty();
    for (;;) {
      pollfd p = {master, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) break;  // a hung child fails the test, not the run
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;  // EIO: the child closed the terminal
      r.out.append(buf, size_t(n));
      if (!interrupted && r.out.find(interruptOn) != std::string::npos) {
        // Held still while the key is typed, so that a scan faster than this loop cannot end
        // before the interrupt reaches it.
        kill(pid, SIGSTOP);
        interrupted = write(master, "\x03", 1) == 1;
        kill(pid, SIGCONT);
      }
    }
    close(master);
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
  }
  std::set<std::string> dataFiles() {
    std::set<std::string> names;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(home / "data", ec)) names.insert(e.path().filename());
    return names;
  }

  TempFolder home, tree;
};

// No raw control bytes or invalid UTF-8 inside a JSON document: every name went through escaping.
void expectCleanJson(const std::string& doc) {
  ASSERT_FALSE(doc.empty());
  EXPECT_EQ(doc.front(), '{');
  EXPECT_EQ(doc.substr(doc.size() - 2), "}\n");
  for (size_t i = 0; i < doc.size(); i++) {
    unsigned char c = doc[i];
    if (c == '\n') continue;
    ASSERT_GE(c, 0x20) << "raw control byte at " << i;
    ASSERT_NE(c, 0xFF) << "raw byte 0xFF at " << i;
  }
}

TEST_F(CliEndToEnd, JsonOfCompareShowAndSearchCarriesTheChangeWithEscapedNames) {
  ASSERT_EQ(run("snapshot --name before --files " + shellWord(tree.str())).status, 0);
  writeText(tree / "app/new \"q\"\t.txt", "four");
  writeText(tree / "app/raw\xff.bin", "x");
  writeText(tree / "app/readme.txt", "hello, longer");
  std::filesystem::remove_all(tree / "app/sub");
  CliRun r = run("snapshot --name after --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;

  r = run("compare 1 2 --json");
  EXPECT_EQ(r.status, 1) << r.err;
  expectCleanJson(r.out);
  for (const char* piece : {"\"differences\":true", "\"section\":\"files\"", "\"name\":\"new \\\"q\\\"\\t.txt\"",
                            "\"label\":\"add\",\"state\":\"added\",\"stateNumber\":2,\"side\":\"B\"",
                            "\"name\":\"sub\",\"depth\":", "\"state\":\"deleted\",\"stateNumber\":3",
                            "\"label\":\"old\"", "\"label\":\"new\"", "\"size\":13,\"sizeText\":\"13\"",
                            "\"columnTitles\":[\"Name\",\"Size\",\"Date modified\"]",
                            "\"a\":{\"path\":", "\"name\":\"before\""}) {
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
  }
  EXPECT_NE(r.out.find("{\"label\":\"del\",\"state\":\"deleted\",\"stateNumber\":3,\"side\":\"A\",\"name\":\"old.txt\""),
            std::string::npos) << "the files of a deleted folder are its rows";

  // The same snapshot against itself: no differences, status 0.
  r = run("compare 2 2 --json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"differences\":false"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"stateNumber\":2"), std::string::npos) << r.out;

  std::string appPath;
  for (char c : tree.str() + "app") appPath.push_back(c == '/' ? '\\' : c);
  r = run("show 2 --json " + shellWord("z:" + appPath));
  EXPECT_EQ(r.status, 0) << r.err;
  expectCleanJson(r.out);
  // The rows carry the fields of the compare rows.
  for (const char* piece : {"{\"label\":\"-\",\"name\":\"readme.txt\",\"size\":13,\"sizeText\":\"13\",\"modified\":",
                            "\"columns\":[\"readme.txt\",\"13\",",
                            "\"name\":\"new \\\"q\\\"\\t.txt\",\"size\":4,\"sizeText\":\"4\""}) {
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("\"name\":\"sub\""), std::string::npos) << r.out;

  r = run("search 2 readme --section files --json");
  EXPECT_EQ(r.status, 0) << r.err;
  expectCleanJson(r.out);
  EXPECT_NE(r.out.find("\"name\":\"readme.txt\",\"pathMatched\":false"), std::string::npos) << r.out;
  JsonValue doc;
  ASSERT_TRUE(JsonReader::parse(r.out, &doc)) << r.out;
  EXPECT_EQ(doc["count"].number, 1);
  EXPECT_EQ(doc["matches"].items.size(), 1u);
  EXPECT_TRUE(doc["searched"].boolean);
  EXPECT_EQ(doc["text"].string, u"readme");
  EXPECT_EQ(doc["status"].string.substr(0, 8), u"Found 1 ") << r.out;
  r = run("search 2 nothing-like-this --section files --json");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("\"matches\":[],\"searched\":true,\"status\":\"Not found\",\"count\":0}\n"),
            std::string::npos) << r.out;
}

// show prints a node's list in text straight from the content table, and in JSON through the
// screens' column texts: the two must agree row for row, label column last.
// snapshot --digests records what sha256sum prints; content rewritten under its old times (touch
// -r) is shown by compare with the date-kept and digest marks and both digests, in text and JSON,
// and by show; a snapshot taken without --digests records none.
TEST_F(CliEndToEnd, DigestsShowContentChangedBehindAKeptDate) {
  std::string file = tree / "app/readme.txt";
  auto sha256sum = [](const std::string& path) {
    FILE* p = popen(("sha256sum " + shellWord(path)).c_str(), "r");
    char line[200] = {};
    bool ok = p && std::fgets(line, sizeof line, p);
    if (p) pclose(p);
    return ok ? std::string(line, 64) : std::string();
  };
  std::string before = sha256sum(file);
  ASSERT_EQ(run("snapshot --digests --files " + shellWord(tree.str())).status, 0);
  std::string keep = scratch / "times";
  ASSERT_EQ(std::system(("touch -r " + shellWord(file) + " " + shellWord(keep)).c_str()), 0);
  usleep(20000);
  writeText(file, "HELLO");
  ASSERT_EQ(std::system(("touch -r " + shellWord(keep) + " " + shellWord(file)).c_str()), 0);
  std::string after = sha256sum(file);
  ASSERT_NE(before, after);
  ASSERT_EQ(run("snapshot --digests --files " + shellWord(tree.str())).status, 0);
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);

  CliRun r = run("compare 1 2");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("[content or attributes changed, date kept; content digest changed]  sha256 " + before),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("sha256 " + after), std::string::npos) << r.out;
  r = run("compare 1 2 --json");
  EXPECT_NE(r.out.find("\"sha256\":\"" + before + "\",\"marks\":[\"dateKept\",\"digestChanged\"]"),
            std::string::npos) << r.out;
  std::string appPath = "z:";
  for (char c : tree.str() + "app") appPath.push_back(c == '/' ? '\\' : c);
  r = run("show 2 " + shellWord(appPath));
  EXPECT_NE(r.out.find("sha256 " + after), std::string::npos) << r.out;
  r = run("show 3 --json " + shellWord(appPath));
  EXPECT_NE(r.out.find("\"sha256\":null"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"sha256\":\""), std::string::npos) << r.out;
}

TEST_F(CliEndToEnd, ShowTextRowsAgreeWithTheJsonColumns) {
  writeText(tree / "app/big.bin", std::string(1234567, 'b'));
  writeText(tree / "app/esc\x1b[2Jname.txt", "e");
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  std::string appPath = "z:";
  for (char c : tree.str() + "app") appPath.push_back(c == '/' ? '\\' : c);
  CliRun text = run("show 1 " + shellWord(appPath));
  ASSERT_EQ(text.status, 0) << text.err;
  CliRun json = run("show 1 --json " + shellWord(appPath));
  ASSERT_EQ(json.status, 0) << json.err;
  JsonValue doc;
  ASSERT_TRUE(JsonReader::parse(json.out, &doc)) << json.out;
  const std::vector<JsonValue>& rows = doc["rows"].items;
  ASSERT_EQ(rows.size(), 3u) << json.out;

  std::string expected = "    sub\n\n  Name | Size | Date modified | Info\n";
  for (const JsonValue& row : rows) {
    std::string line;
    for (const JsonValue& column : row["columns"].items) line += (line.empty() ? "  " : " | ") + printable(column.string);
    expected += line + " | " + toUtf8(row["label"].string) + "\n";
  }
  size_t at = text.out.find("    sub\n");
  ASSERT_NE(at, std::string::npos) << text.out;
  EXPECT_EQ(text.out.substr(at), expected);
  EXPECT_NE(text.out.find("\n  big.bin | 1,234,567 | "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\n  esc\\x1b[2Jname.txt | 1 | "), std::string::npos) << text.out;
}

// True when the output holds a byte a terminal acts on besides the line feeds (and the tabs of
// tab-separated output): C0 controls, DEL, or C1 controls in UTF-8.
bool holdsTerminalControl(const std::string& out, bool tabs = false) {
  for (size_t i = 0; i < out.size(); i++) {
    unsigned char c = out[i];
    if ((c < 0x20 && c != '\n' && !(tabs && c == '\t')) || c == 0x7F) return true;
    if (c == 0xC2 && i + 1 < out.size() && (unsigned char)out[i + 1] <= 0x9F) return true;
  }
  return false;
}

std::vector<std::string> lines(const std::string& out) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    result.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

TEST_F(CliEndToEnd, HostileNamesNeverReachTheTerminalRawAndJsonLinesParseBack) {
  ASSERT_EQ(run("snapshot --name before --files " + shellWord(tree.str())).status, 0);
  const std::vector<std::string> hostile = {"\x1b]0;pwned\x07.txt", "two\nlines\tx.txt", "q\"uote\\.txt",
                                            "raw\xff\x9b.bin", "c1\xc2\x9b[31m.txt"};
  for (const std::string& name : hostile) writeText(tree / ("app/" + name), "x");
  // A name meant to clear the screen and forge a row of the list.
  const std::string forged = "\x1b[2J\n  3  FAKE  host";
  CliRun r = run("snapshot --name " + shellWord(forged) + " --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;

  r = run("list");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(holdsTerminalControl(r.out)) << r.out;
  EXPECT_EQ(lines(r.out).size(), 3u) << "a header and two snapshots:\n" << r.out;
  EXPECT_NE(r.out.find("\\x1b[2J\\n  3  FAKE"), std::string::npos) << r.out;

  for (const char* args : {"compare 1 2", "compare 1 2 --full", "info 2"}) {
    r = run(args);
    EXPECT_FALSE(holdsTerminalControl(r.out)) << args << "\n" << r.out;
  }
  r = run("compare 1 2");
  for (const char* shown : {"\\x1b]0;pwned\\x07.txt", "two\\nlines\\tx.txt", "raw\\xff\\x9b.bin", "c1\\x9b[31m.txt"})
    EXPECT_NE(r.out.find(shown), std::string::npos) << shown << "\n" << r.out;

  // Tab-separated search output: one line and two fields per match.
  r = run("search 2 . --section files");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(holdsTerminalControl(r.out, true)) << r.out;
  std::vector<std::string> found = lines(r.out);
  EXPECT_EQ(found.size(), hostile.size() + 2) << r.out;  // readme.txt and sub/old.txt too
  for (const std::string& line : found) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 1) << line;

  // --jsonl: every line one object, and the names come back exactly.
  std::set<std::u16string> expected = {u"readme.txt"};
  // A backslash inside a name travels as its escape, as bytes that are not UTF-8 do.
  for (const std::string& name : hostile) {
    std::u16string escaped = fromUtf8(name);
    std::replace(escaped.begin(), escaped.end(), u'\\', kEscapedBackslash);
    expected.insert(escaped);
  }
  r = run("compare 1 2 --jsonl");
  ASSERT_EQ(r.status, 1) << r.err;
  std::set<std::u16string> added;
  std::set<std::string> fromLines;
  for (const std::string& line : lines(r.out)) {
    JsonValue v;
    ASSERT_TRUE(JsonReader::parse(line, &v)) << line;
    EXPECT_EQ(v["section"].string, u"files");
    EXPECT_NE(v["snapshot"].string.find(u"snap00"), std::u16string::npos) << line;
    if (v["kind"].string == u"item") {
      if (v["label"].string == u"add") added.insert(v["name"].string);
      EXPECT_EQ(v["side"].string, v["label"].string == u"add" || v["label"].string == u"new" ? u"B" : u"A") << line;
      EXPECT_EQ(v["columns"].items.size(), 3u) << line;
      fromLines.insert(toUtf8(v["path"].string + u"|" + v["name"].string + u"|" + v["label"].string));
    } else {
      EXPECT_EQ(v["kind"].string, u"node") << line;
    }
  }
  expected.erase(u"readme.txt");  // changed in neither snapshot
  EXPECT_EQ(added, expected);

  // The same rows as the one document.
  r = run("compare 1 2 --json");
  JsonValue doc;
  ASSERT_TRUE(JsonReader::parse(r.out, &doc)) << r.out;
  std::set<std::string> fromDocument;
  for (const JsonValue& section : doc["sections"].items)
    for (const JsonValue& node : section["nodes"].items)
      for (const JsonValue& row : node["rows"].items)
        fromDocument.insert(toUtf8(node["path"].string + u"|" + row["name"].string + u"|" + row["label"].string));
  EXPECT_EQ(fromLines, fromDocument);
  EXPECT_EQ(doc["b"]["name"].string, fromUtf8(forged));

  std::string appPath = "z:";
  for (char c : tree.str() + "app") appPath.push_back(c == '/' ? '\\' : c);
  for (const std::string& args : {"show 2 --jsonl " + shellWord(appPath), std::string("search 2 . --section files --jsonl")}) {
    r = run(args);
    ASSERT_EQ(r.status, 0) << args << r.err;
    std::set<std::u16string> names;
    for (const std::string& line : lines(r.out)) {
      JsonValue v;
      ASSERT_TRUE(JsonReader::parse(line, &v)) << line;
      EXPECT_EQ(v["state"].string, u"unchanged");
      if (v["kind"].string == u"item") names.insert(v["name"].string);
    }
    expected.insert(u"readme.txt");
    if (args[1] == 'e') expected.insert(u"old.txt");  // search reaches app/sub
    EXPECT_EQ(names, expected) << args;
  }

  r = run("compare 1 2 --json --jsonl");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("options '--json' and '--jsonl' cannot be combined"), std::string::npos) << r.err;
  if (std::filesystem::exists("/dev/full")) {
    r = run("compare 1 2 --json >/dev/full");
    EXPECT_EQ(r.status, 2) << "a full disk is not success";
    EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << r.err;
  }
}

// Every kind of difference between two snapshots of a real folder, each printed line of the
// text form checked whole, and the JSON lines carrying the same rows in the same order: the
// printers write each row straight into the output, and a fault there shows as a changed byte.
TEST_F(CliEndToEnd, CompareOfEveryKindOfDifferencePrintsEachLineExactly) {
  const bool hadTz = std::getenv("TZ") != nullptr;
  const std::string savedTz = hadTz ? std::getenv("TZ") : "";
  setenv("TZ", "UTC0", 1);  // the dates below are UTC; the child inherits the zone
  auto restoreTz = [&] { hadTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ"); };
  auto writeAt = [](const std::string& path, const std::string& text, time_t when) {
    writeText(path, text);
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
  };
  const time_t t1 = 1577934245, t2 = 1623053350, t3 = 1668258855;  // 2020-01-02 03:04.05, 2021-06-07 08:09.10, 2022-11-12 13:14.15
  std::filesystem::remove_all(tree / "app");
  std::filesystem::create_directories(tree / "app/sub");
  writeAt(tree / "app/readme.txt", "hello", t1);
  writeAt(tree / "app/same.txt", "same", t1);
  writeAt(tree / "app/touched.txt", "x", t1);
  writeAt(tree / "app/big.bin", std::string(1234567, 'b'), t1);
  writeAt(tree / "app/\xd0\x94\xd0\xbe\xd0\xba \xf0\x9f\x98\x80.txt", "wide", t2);  // "Док 😀.txt"
  writeAt(tree / "app/sub/old.txt", "to go", t1);
  ASSERT_EQ(run("snapshot --name before --files " + shellWord(tree.str())).status, 0);
  writeAt(tree / "app/readme.txt", "hello, longer", t2);                // size and time
  writeAt(tree / "app/touched.txt", "x", t3);                           // time alone
  writeAt(tree / "app/big.bin", std::string(1234568, 'b'), t1);         // size alone
  std::filesystem::remove(tree / "app/\xd0\x94\xd0\xbe\xd0\xba \xf0\x9f\x98\x80.txt");
  writeAt(tree / "app/tab\tname.txt", "tab", t3);                       // added, escaped
  std::filesystem::remove_all(tree / "app/sub");                        // a folder deleted
  std::filesystem::create_directories(tree / "app/new");
  writeAt(tree / "app/new/inner.txt", "in", t2);                        // a folder added
  CliRun r = run("snapshot --name after --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;

  r = run("compare 1 2");
  restoreTz();
  EXPECT_EQ(r.status, 1) << r.err;
  // The folders on the way to the recorded one, then the recorded one itself.
  std::vector<std::string> expected = {"registry", "  no snapshot taken", "files"};
  std::string indent;
  std::vector<std::string> parts;
  std::string rest = tree.str();
  for (size_t at = 1; at < rest.size();) {
    size_t end = rest.find('/', at);
    parts.push_back(rest.substr(at, end - at));
    at = end + 1;
  }
  expected.push_back("z:\\  [excluded]");
  for (size_t i = 0; i < parts.size(); i++) {
    indent += "  ";
    expected.push_back(indent + parts[i] + (i + 1 < parts.size() ? "  [excluded]" : "  [modified]"));
  }
  std::string app = indent + "  ", rows = app + "    ";
  for (const std::string& line : std::vector<std::string>{
           app + "app  [modified, own content]",
           rows + "old  big.bin  1,234,567  2020-01-02 03:04.05",
           rows + "new  big.bin  1,234,568  2020-01-02 03:04.05",
           rows + "old  readme.txt  5  2020-01-02 03:04.05",
           rows + "new  readme.txt  13  2021-06-07 08:09.10",
           rows + "add  tab\\tname.txt  3  2022-11-12 13:14.15",
           rows + "old  touched.txt  1  2020-01-02 03:04.05",
           rows + "new  touched.txt  1  2022-11-12 13:14.15",
           rows + "del  \xd0\x94\xd0\xbe\xd0\xba \xf0\x9f\x98\x80.txt  4  2021-06-07 08:09.10",
           app + "  new  [added, own content]",
           rows + "  add  inner.txt  2  2021-06-07 08:09.10",
           app + "  sub  [deleted, own content]",
           rows + "  del  old.txt  5  2020-01-02 03:04.05",
           "apps", "  no snapshot taken"}) {
    expected.push_back(line);
  }
  std::vector<std::string> printed = lines(r.out);
  for (size_t i = 0; i < std::max(printed.size(), expected.size()); i++) {
    EXPECT_EQ(i < printed.size() ? printed[i] : "(none)", i < expected.size() ? expected[i] : "(none)")
        << "line " << i + 1 << " of\n" << r.out;
  }

  // The JSON lines: the same nodes and rows, one object each, in the same order.
  setenv("TZ", "UTC0", 1);
  r = run("compare 1 2 --jsonl");
  restoreTz();
  EXPECT_EQ(r.status, 1) << r.err;
  std::vector<std::string> fromLines;
  for (const std::string& line : lines(r.out)) {
    JsonValue v;
    ASSERT_TRUE(JsonReader::parse(line, &v)) << line;
    std::string name = toUtf8(v["name"].string);
    if (v["kind"].string == u"node") {
      fromLines.push_back(name + "  [" + toUtf8(v["state"].string) + (v["ownChanged"].boolean ? ", own content]" : "]"));
    } else {
      fromLines.push_back(toUtf8(v["label"].string) + "  " + printable(v["name"].string) + "  " +
                          toUtf8(v["sizeText"].string) + "  " + toUtf8(v["modifiedText"].string));
    }
  }
  std::vector<std::string> fromText;
  for (size_t i = 3; i + 2 < expected.size(); i++) {
    size_t start = expected[i].find_first_not_of(' ');
    fromText.push_back(expected[i].substr(start));
  }
  EXPECT_EQ(fromLines, fromText) << r.out;
}

TEST_F(CliEndToEnd, PathTakesWholeNamesInCompareAndDigest) {
  std::filesystem::create_directories(tree / "appendix");
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  writeText(tree / "app/in.txt", "1");
  writeText(tree / "appendix/out.txt", "1");
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  std::string app = "z:";
  for (char c : tree.str() + "APP") app.push_back(c == '/' ? '\\' : c);  // case does not matter
  for (const std::string& path : {" --path " + shellWord(app), " --path=" + shellWord(app + "\\")}) {
    CliRun r = run("compare 1 2" + path);
    EXPECT_EQ(r.status, 1) << path << r.err;
    EXPECT_NE(r.out.find("in.txt"), std::string::npos) << path << r.out;
    EXPECT_EQ(r.out.find("out.txt"), std::string::npos) << path << r.out;
    EXPECT_EQ(r.out.find("appendix"), std::string::npos) << path << r.out;
    r = run("digest --tree --section files" + path + " " + shellWord(home / "data/snap002.snp"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\\app\\sub\\\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("appendix"), std::string::npos) << r.out;
  }
  // Only the change outside the path: nothing to report there.
  CliRun r = run("compare 1 2 --path " + shellWord(app + "\\sub"));
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST_F(CliEndToEnd, FilesOptionRecordsTheCaseTwinItNames) {
  for (const char* rel : {"Twin/upper_only", "twin/lower_only"}) std::filesystem::create_directories(tree / rel);
  writeText(tree / "Twin/upper.txt", "U");
  writeText(tree / "twin/lower.txt", "l");
  int number = 0;
  for (const std::string twin : {"Twin", "twin"}) {
    CliRun r = run("snapshot --files " + shellWord(tree / twin));
    ASSERT_EQ(r.status, 0) << twin << r.err;
    char snap[32];
    std::snprintf(snap, sizeof snap, "data/snap%03d.snp", ++number);
    r = run("digest --tree --section files " + shellWord(home / snap));
    ASSERT_EQ(r.status, 0) << r.err;
    bool upper = twin == "Twin";
    EXPECT_EQ(r.out.find("\\" + twin + "\\" + (upper ? "upper_only" : "lower_only") + "\\\n") != std::string::npos, true)
        << twin << r.out;
    EXPECT_EQ(r.out.find(upper ? "lower_only" : "upper_only"), std::string::npos) << twin << r.out;
    // The stored scan filter stays lower case; the folder keeps its own name.
    r = run("info " + std::to_string(number));
    EXPECT_NE(r.out.find("\\twin\\"), std::string::npos) << r.out;
  }
}

TEST_F(CliEndToEnd, FilesOptionRecordsAFolderWhoseNameHoldsABackslash) {
  for (const char* rel : {"a\\b/inner", "a/b/wrong"}) std::filesystem::create_directories(tree / rel);
  writeText(tree / "a\\b/in.txt", "in");
  CliRun r = run("snapshot --files " + shellWord(tree / "a\\b"));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run("digest --tree --section files " + shellWord(home / "data/snap001.snp"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\\inner\\\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("wrong"), std::string::npos) << r.out;
}

// A system.reg whose key Software\A\k\...\k\hop (`aLevels` keys k) is a link to Software\B,
// a chain of `bLevels` keys k holding a value at its end.
std::string deepHive(size_t aLevels, size_t bLevels) {
  std::string out = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n";
  std::string a = "Software\\\\A", b = "Software\\\\B";
  for (size_t i = 0; i < aLevels; i++) a += "\\\\k";
  for (size_t i = 0; i < bLevels; i++) b += "\\\\k";
  out += "[" + b + "] 1796691962\n\"end\"=\"here\"\n\n";
  out += "[" + a + "\\\\hop] 1796691962\n#link\n\"SymbolicLinkValue\"=hex(6):";
  // UTF-16LE bytes, a line break every 16 characters as Wine breaks long values.
  std::string target = "\\Registry\\Machine\\Software\\B";
  for (size_t i = 0; i < target.size(); i++) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02x,00", unsigned(target[i]));
    if (i > 0) out += i % 16 == 0 ? ",\\\n  " : ",";
    out += hex;
  }
  return out + "\n\n";
}

TEST_F(CliEndToEnd, KeyDepthLimitRecordsTheCutKeyAndWarns) {
  // Keys: HKEY_LOCAL_MACHINE is at depth 1, Software\A\k(1) at depth 4, hop at aLevels + 4 and
  // the keys k of B after it; the key at depth kMaxKeyDepth (512) lists its subkeys unopened.
  const size_t aLevels = 300, bAtLimit = 512 - (aLevels + 4);
  TempFolder prefix;
  for (bool beyond : {false, true}) {
    writeText(prefix / "system.reg", deepHive(aLevels, bAtLimit + (beyond ? 1 : 0)));
    CliRun r = run("--wine-prefix " + shellWord(prefix.str()) +
                   " snapshot --registry 'HKLM\\Software\\A'");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string warning = "Too deep to scan, recorded empty: 0 folders, 1 keys";
    EXPECT_EQ(r.err.find(warning) != std::string::npos, beyond) << r.err;
    std::string log = testing_support::readText(home / "KeldrunLog.txt");
    EXPECT_EQ(log.find(warning) != std::string::npos, beyond) << log;
    std::string snap = beyond ? "data/snap002.snp" : "data/snap001.snp";
    r = run("digest --tree " + shellWord(home / snap));
    ASSERT_EQ(r.status, 0) << r.err;
    // The cut key is there by name, with zero digests; every other key holds something.
    std::vector<std::string> empty;
    for (size_t at = 0; (at = r.out.find("00000000 00000000 ", at)) != std::string::npos; at++)
      empty.push_back(r.out.substr(at + 18, r.out.find('\n', at) - at - 18));
    ASSERT_EQ(empty.size(), beyond ? 1u : 0u) << r.out.substr(0, 2000);
    if (beyond) {
      EXPECT_EQ(empty[0].substr(0, 18), "HKEY_LOCAL_MACHINE") << empty[0];
      EXPECT_EQ(std::count(empty[0].begin(), empty[0].end(), '\\'), 513) << empty[0];
    }
  }
}

TEST_F(CliEndToEnd, NamesInEveryScriptRoundTripThroughTheCatalog) {
  const std::string strasse = "Stra\xc3\x9f" "e";  // UTF-8, as typed
  CliRun r = run("snapshot --name " + shellWord(strasse) + " --files " + shellWord(tree.str()));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string stored = testing_support::readText(home / "data/snap001.snp");
  EXPECT_NE(stored.find("Stra\xdf" "e"), std::string::npos) << "the name field holds Latin-1";
  EXPECT_EQ(stored.find(strasse), std::string::npos);

  r = run("list --json");
  JsonValue v;
  ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
  EXPECT_EQ(v["snapshots"].items.at(0)["name"].string, u"Stra\xdf" u"e");
  EXPECT_NE(run("list").out.find(strasse + "  "), std::string::npos);
  EXPECT_NE(run("info 1").out.find("Name      " + strasse + "\n"), std::string::npos);

  // The HTML report's title, written as UTF-16.
  auto reportText = [&](const std::string& number) {
    EXPECT_EQ(run("report " + number + " --out " + shellWord(scratch / "r.htm")).status, 0);
    std::vector<uint8_t> page = readBytes(scratch / "r.htm");
    std::u16string wide;
    for (size_t i = 0; i + 1 < page.size(); i += 2) wide.push_back(char16_t(page[i] | page[i + 1] << 8));
    return wide;
  };
  EXPECT_NE(reportText("1").find(u"data - Stra\xdf" u"e"), std::u16string::npos);

  const std::string accented = "\xc3\x9cn\xc3\xaf \xc3\xbf";  // Ünï ÿ
  ASSERT_EQ(run("rename 1 " + shellWord(accented)).status, 0);
  r = run("list --json");
  ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
  EXPECT_EQ(v["snapshots"].items.at(0)["name"].string, u"\xdcn\xef \xff");

  // Names beyond 8 bits, given to snapshot --name and to rename, read back exactly everywhere.
  const std::string scripts[] = {
      "\xd0\xa1\xd0\xbd\xd0\xb8\xd0\xbc\xd0\xbe\xd0\xba",  // Снимок
      "\xe5\xbf\xab\xe7\x85\xa7 \xe4\xb8\x80",              // 快照 一
      "\xf0\x9f\x98\x80 Apr\xc3\xa8s",                      // 😀 Après
  };
  ASSERT_EQ(run("snapshot --name " + shellWord(scripts[0]) + " --files " + shellWord(tree.str())).status, 0);
  for (const std::string& name : scripts) {
    SCOPED_TRACE(name);
    if (&name != &scripts[0]) {
      ASSERT_EQ(run("rename 2 " + shellWord(name)).status, 0);
    }
    EXPECT_NE(testing_support::readText(home / "data/snap002.snp").find(name), std::string::npos)
        << "the name field holds UTF-8";
    r = run("list --json");
    ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
    EXPECT_EQ(v["snapshots"].items.at(1)["name"].string, fromUtf8(name));
    EXPECT_NE(run("list").out.find("2  " + name + "  "), std::string::npos);
    EXPECT_NE(run("info 2").out.find("Name      " + name + "\n"), std::string::npos);
    r = run("info 2 --json");
    ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
    EXPECT_EQ(v["name"].string, fromUtf8(name));
    r = run("compare 1 2 --json");
    ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
    EXPECT_EQ(v["b"]["name"].string, fromUtf8(name));
    EXPECT_EQ(run("show 2").out.substr(0, name.size() + 2), name + "  ");
  }
  EXPECT_NE(reportText("2").find(u"data - " + fromUtf8(scripts[2])), std::u16string::npos);

  // What is not UTF-8 is refused, and nothing changes.
  std::vector<uint8_t> cfg = readBytes(home / "Keldrun.cfg");
  std::vector<uint8_t> snap = readBytes(home / "data/snap002.snp");
  for (const std::string& args : {"rename 2 " + shellWord("raw\xff"),
                                  "snapshot --name " + shellWord("half \xd0") + " --files " + shellWord(tree.str())}) {
    r = run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("is not UTF-8 text"), std::string::npos) << r.err;
  }
  EXPECT_NE(r.err.find("'half \\xd0'"), std::string::npos) << r.err;
  EXPECT_EQ(readBytes(home / "Keldrun.cfg"), cfg);
  EXPECT_EQ(readBytes(home / "data/snap002.snp"), snap);
  EXPECT_EQ(dataFiles(), (std::set<std::string>{"snap001.snp", "snap002.snp"}));

  // File paths are UTF-8 and come back as such, beside the names.
  std::string accentedHome = scratch / "h\xc3\xa9me";
  ASSERT_EQ(run(accentedHome, "snapshot --files " + shellWord(tree.str())).status, 0);
  for (const char* args : {"list --json", "info 1 --json"}) {
    r = run(accentedHome, args);
    ASSERT_TRUE(JsonReader::parse(r.out, &v)) << r.out;
    const JsonValue& path = args[0] == 'l' ? v["snapshots"].items.at(0)["path"] : v["path"];
    EXPECT_EQ(path.string, fromUtf8(accentedHome + "/data/snap001.snp")) << r.out;
  }
}

// A snapshot with 64 KiB zeroed in its middle: every command that reads it prints what it can,
// names the damage on stderr and exits 2. compare reads only the tables whose digests differ,
// so it names the damage where its walk reaches the region, and comparing the damaged snapshot
// with a copy taken before the damage reads nothing of the region.
TEST_F(CliEndToEnd, DamagedSnapshotIsNamedAndFailsTheCommand) {
  auto fillTree = [&](int files) {
    for (int d = 0; d < 150; d++) {
      std::string folder = "app/d" + std::to_string(d);
      std::filesystem::create_directories(tree / folder);
      for (int f = 0; f < files; f++)
        writeText(tree / (folder + "/a_rather_long_file_name_" + std::to_string(f) + ".txt"), "x");
    }
  };
  fillTree(40);
  ASSERT_EQ(run("snapshot --name one --files " + shellWord(tree.str())).status, 0);
  fillTree(41);  // every folder changes
  ASSERT_EQ(run("snapshot --name two --files " + shellWord(tree.str())).status, 0);
  std::string two = home / "data/snap002.snp", copy = home / "copy-of-two.snp";
  std::vector<uint8_t> bytes = readBytes(two);
  ASSERT_TRUE(testing_support::writeBytes(copy, bytes));
  ASSERT_EQ(run("compare 1 2").status, 1);
  ASSERT_GT(bytes.size(), 3u * 65536u);
  size_t from = bytes.size() / 2 - 32768;
  std::fill(bytes.begin() + long(from), bytes.begin() + long(from + 65536), uint8_t(0));
  ASSERT_TRUE(testing_support::writeBytes(two, bytes));

  CliRun same = run("compare 2 " + shellWord(copy));
  EXPECT_EQ(same.status, 0) << same.out << same.err;
  EXPECT_EQ(same.err, "");
  for (const std::string& args : {std::string("compare 1 2"), std::string("compare 2 1 --full"),
                                 "report 1 2 --out " + shellWord(home / "r.htm"),
                                 "report 2 --out " + shellWord(home / "s.htm"), std::string("show 2")}) {
    SCOPED_TRACE(args);
    CliRun r = run(args);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("keldrun: snapshot 2 is damaged: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" tables unreadable, first at offset "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("snapshot 1 is damaged"), std::string::npos) << r.err;
    EXPECT_FALSE(r.out.empty()) << "what could be read is still printed";
  }
}

// The report of one snapshot writes everything: options that narrow a differences report are
// refused there, with status 2 and no file, instead of being ignored.
TEST_F(CliEndToEnd, OneSnapshotReportRefusesTheOptionsOfDifferences) {
  ASSERT_EQ(run("snapshot --name one --files " + shellWord(tree.str())).status, 0);
  for (const char* option : {"--no-added", "--no-modified", "--no-deleted", "--sections files",
                             "--path c:", "--binary-limit 5", "--string-limit 5"}) {
    SCOPED_TRACE(option);
    std::string out = home / "one.htm";
    CliRun r = run(std::string("report 1 --out ") + shellWord(out) + " " + option);
    EXPECT_EQ(r.status, 2) << r.out;
    std::string name = std::string(option).substr(0, std::string(option).find(' '));
    EXPECT_NE(r.err.find(name + " applies to the differences of two snapshots only"), std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(run("report 1 --out " + shellWord(home / "plain.htm")).status, 0);
}

TEST_F(CliEndToEnd, EveryCommandHasHelpWithAnExample) {
  CliRun r = run("--help");
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> names;
  size_t at = r.out.find("Commands:\n");
  ASSERT_NE(at, std::string::npos) << r.out;
  for (size_t line = at + 10; line < r.out.size() && r.out.compare(line, 2, "  ") == 0;) {
    size_t start = line + 2, end = r.out.find(' ', start);
    names.push_back(r.out.substr(start, end - start));
    line = r.out.find('\n', line) + 1;
  }
  for (const char* expected : {"snapshot", "list", "info", "rename", "delete", "show", "compare", "search",
                               "report", "export-reg", "export", "import"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  }
  for (const std::string& name : names) {
    r = run(name + " --help");
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_NE(r.out.find("usage: keldrun"), std::string::npos) << name;
    EXPECT_NE(r.out.find("example: keldrun " ), std::string::npos) << name;
  }
}

TEST_F(CliEndToEnd, ErrorsGiveStatusTwoNameTheProblemAndLoseNothing) {
  ASSERT_EQ(run("snapshot --name kept --files " + shellWord(tree.str())).status, 0);
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  // A damaged second snapshot: its header survives, its tables are garbage.
  std::string damaged = home / "data/snap002.snp";
  std::vector<uint8_t> bytes = readBytes(damaged);
  ASSERT_GT(bytes.size(), 64u);
  writeText(damaged, std::string(reinterpret_cast<const char*>(bytes.data()), 16) + std::string(200, '\xA5'));
  std::vector<uint8_t> cfg = readBytes(home / "Keldrun.cfg");
  std::vector<uint8_t> first = readBytes(home / "data/snap001.snp");
  // A prefix of drives alone: named folders can be recorded from it, its registry cannot.
  std::string drivesOnly = scratch / "drives-only";
  std::filesystem::create_directories(drivesOnly + "/dosdevices");
  std::string inPrefix = "--wine-prefix " + shellWord(drivesOnly) + " ";

  struct Case {
    std::string args, message;
  } cases[] = {
      {"compare 1 9", "9"},
      {"show 9", "9"},
      {"search 9 text", "9"},
      {"report 1 9 --out " + shellWord(scratch / "r.htm"), "9"},
      {"compare 1 2", "snap002.snp"},
      {"show 2", "snap002.snp"},
      {"search 2 readme --section files", "snap002.snp"},
      {"snapshot --files " + shellWord(tree / "missing"), "missing"},
      {"snapshot --files " + shellWord(tree / "app/readme.txt"), "not a folder"},
      {"snapshot --registry 'nowhere\\x'", "not a registry key"},
      {"--wine-prefix " + shellWord(scratch / "nowhere") + " snapshot --registry '*'",
       "'" + scratch / "nowhere" + "' is not a Wine prefix (it holds no system.reg, drive_c or dosdevices)"},
      {"snapshot --registry '*'", "no Wine prefix found (give --wine-prefix DIR or set WINEPREFIX)"},
      {"snapshot --name full", "; without one only --files DIR can be recorded"},
      {"snapshot --apps --files " + shellWord(tree.str()), "no Wine prefix found"},
      {inPrefix + "snapshot --registry HKLM", "'" + drivesOnly + "' holds no registry (system.reg)"},
      {"compare 1", "compare expects A B (see 'keldrun compare --help')"},
      {"compare 1 2 --bogus", "unknown option '--bogus' (see 'keldrun compare --help')"},
      {"show 1 --section nope", "invalid value 'nope' for --section (expected registry, files or apps)"},
      {"show 1 --section=nope", "invalid value 'nope' for --section"},
      {"search 1", "search expects N TEXT"},
      {"--bogus list", "--bogus"},
      {"nosuchcommand", "nosuchcommand"},
      {"compare 1 2 --section", "option '--section' needs a value (S)"},
      {"compare 1 2 --full=yes", "option '--full' takes no value"},
      {"snapshot --filter --apps", "options '--filter' and '--apps' cannot be combined"},
      {"snapshot --threads 0 --files " + shellWord(tree.str()), "invalid value '0' for --threads (expected a number from 1 to 8)"},
      {"snapshot --threads=9 --files " + shellWord(tree.str()), "invalid value '9' for --threads"},
      {"snapshot --threads two --files " + shellWord(tree.str()), "invalid value 'two' for --threads"},
  };
  for (const Case& c : cases) {
    CliRun r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
    EXPECT_EQ(r.err.rfind("keldrun: ", 0), 0u) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
  EXPECT_EQ(dataFiles(), (std::set<std::string>{"snap001.snp", "snap002.snp"}));
  EXPECT_EQ(readBytes(home / "Keldrun.cfg"), cfg);
  EXPECT_EQ(readBytes(home / "data/snap001.snp"), first);
  EXPECT_EQ(run("compare 1 1").status, 0);
  EXPECT_EQ(run(inPrefix + "snapshot --files " + shellWord(tree.str())).status, 0);
}

// A tree of 30,000 files, made once for the terminal tests: scanning it takes long enough to be
// seen and to be stopped.
class CliOnTerminal : public CliEndToEnd {
 protected:
  static void SetUpTestSuite() {
    large = new TempFolder;
    for (int d = 0; d < 150; d++) {
      std::string folder = *large / ("d" + std::to_string(d) + "/");
      std::filesystem::create_directories(folder);
      for (int f = 0; f < 200; f++) std::fclose(std::fopen((folder + std::to_string(f)).c_str(), "w"));
    }
  }
  static void TearDownTestSuite() {
    delete large;
    large = nullptr;
  }
  static TempFolder* large;
};
TempFolder* CliOnTerminal::large = nullptr;

TEST_F(CliOnTerminal, ProgressAndColourOnlyOnATerminalAndNeverWithNoColor) {
  CliRun r = run("snapshot --name piped --files " + shellWord(tree.str()) + " --files " + shellWord(large->str()));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("Elapsed"), std::string::npos) << "no progress when piped: " << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;

  r = runOnTerminal({"snapshot", "--name", "terminal", "--files", tree.str(), "--files", large->str()}, false);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Elapsed"), std::string::npos) << "progress on a terminal: " << r.out;
  EXPECT_NE(r.out.find("\x1b[J"), std::string::npos) << "the progress is wiped at the end: " << r.out;
  EXPECT_NE(r.out.find("30002 files"), std::string::npos) << r.out;

  writeText(tree / "app/readme.txt", "changed");
  ASSERT_EQ(run("snapshot --name after --files " + shellWord(tree.str())).status, 0);
  r = run("compare 1 3");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no colour when piped: " << r.out;
  EXPECT_NE(r.out.find("readme.txt"), std::string::npos) << r.out;
  CliRun coloured = runOnTerminal({"compare", "1", "3"}, false);
  EXPECT_EQ(coloured.status, 1);
  EXPECT_NE(coloured.out.find("\x1b["), std::string::npos) << "colour on a terminal: " << coloured.out;
  CliRun plain = runOnTerminal({"compare", "1", "3"}, true);
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out.find('\x1b'), std::string::npos) << "NO_COLOR: " << plain.out;
  // The same differences either way: the terminal only adds CR before LF.
  std::string lines;
  for (char c : plain.out)
    if (c != '\r') lines.push_back(c);
  EXPECT_EQ(lines, r.out);
}

TEST_F(CliOnTerminal, CtrlCDuringSnapshotStopsTheScanAndDeletesTheFile) {
  ASSERT_EQ(run("snapshot --name kept --files " + shellWord(tree.str())).status, 0);
  std::vector<uint8_t> cfg = readBytes(home / "Keldrun.cfg");
  CliRun r = runOnTerminal({"snapshot", "--name", "stopped", "--files", large->str()}, false, "Elapsed");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("snapshot stopped"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("snap002.snp deleted"), std::string::npos) << r.out;
  EXPECT_EQ(dataFiles(), std::set<std::string>{"snap001.snp"});
  EXPECT_EQ(readBytes(home / "Keldrun.cfg"), cfg) << "the catalog holds no trace of the stopped scan";
  r = run("list");
  EXPECT_EQ(r.out.find("stopped"), std::string::npos) << r.out;
  // The number is free again for the next snapshot.
  ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  EXPECT_EQ(dataFiles(), (std::set<std::string>{"snap001.snp", "snap002.snp"}));
}

TEST_F(CliEndToEnd, UnreadableFolderAndUnwritableWorkspaceFailCleanly) {
  // A workspace below a plain file cannot be made, whoever runs the test.
  writeText(scratch / "plain", "x");
  CliRun r = run(scratch / "plain/home", "snapshot --files " + shellWord(tree.str()));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.err.find("plain"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(scratch / "plain/home"));

  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::filesystem::create_directories(tree / "locked");
  std::filesystem::permissions(tree / "locked", std::filesystem::perms::none);
  r = run("snapshot --files " + shellWord(tree / "locked"));
  std::filesystem::permissions(tree / "locked", std::filesystem::perms::owner_all);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("locked"), std::string::npos) << r.err;
  EXPECT_TRUE(dataFiles().empty());

  std::filesystem::create_directories(scratch / "ro");
  std::filesystem::permissions(scratch / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  r = run(scratch / "ro", "snapshot --files " + shellWord(tree.str()));
  std::filesystem::permissions(scratch / "ro", std::filesystem::perms::owner_all);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ro"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace keldrun
