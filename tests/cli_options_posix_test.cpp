// The option values that several commands share, through the real keldrun binary over real
// snapshots of a real folder: every spelling of a section, a number, a snapshot and a path, the
// result each command prints for it or its refusal, worded alike, with status 2.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/cli_support.h"

namespace keldrun {
namespace {

using testing_support::CliRun;
using testing_support::readBytes;
using testing_support::shellWord;
using testing_support::TempFolder;
using testing_support::writeText;

constexpr int kRefused = -1;

// Two snapshots of one folder: the second has a file more, so the files section differs and
// the registry and applications sections hold nothing (recorded in neither).
class CliSharedOptions : public testing_support::KeldrunCliTest {
 protected:
  void SetUp() override {
    KeldrunCliTest::SetUp();
    if (IsSkipped()) return;
    testing_support::makeAppFolder(tree);
    ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
    writeText(tree / "app/sub/new.txt", "added");
    ASSERT_EQ(run("snapshot --files " + shellWord(tree.str())).status, 0);
  }
  using KeldrunCliTest::run;
  CliRun run(const std::string& args) { return run(home.str(), args); }

  // The sections a run printed: the section numbers of the JSON, the "section K" lines of
  // digest, the section headings of a report file.
  std::set<int> printedSections(const CliRun& r, const std::string& reportFile) {
    std::set<int> found;
    if (!reportFile.empty()) {
      // The report's pages are UTF-16LE; their headings are ASCII.
      std::string text;
      for (uint8_t b : readBytes(reportFile))
        if (b) text.push_back(char(b));
      const char* headings[] = {"Registry differences", "Files and folders differences", "Applications differences"};
      for (int k = 0; k < 3; k++)
        if (text.find(headings[k]) != std::string::npos) found.insert(k);
      return found;
    }
    for (int k = 0; k < 3; k++) {
      std::string number = std::to_string(k);
      if (r.out.find("\"sectionNumber\":" + number) != std::string::npos ||
          r.out.find("section " + number + " ") != std::string::npos)
        found.insert(k);
    }
    return found;
  }

  TempFolder home, tree;
};

TEST_F(CliSharedOptions, EverySpellingOfASectionAsEachCommandTakesIt) {
  std::string report = scratch / "r.htm", snap = shellWord(home / "data/snap002.snp");
  // Which section each spelling names for the three kinds of section option; kRefused where it
  // names none. Case matters everywhere.
  struct Spelling {
    std::string value;
    int any, registryOrFiles, longNames;
  } spellings[] = {
      {"registry", 0, 0, 0},      {"files", 1, 1, 1},        {"apps", 2, kRefused, kRefused},
      {"applications", 2, kRefused, 2},
      {"0", 0, 0, 0},             {"1", 1, 1, 1},            {"2", 2, kRefused, 2},
      {"3", kRefused, kRefused, kRefused},     {"", kRefused, kRefused, kRefused},
      {"Registry", kRefused, kRefused, kRefused}, {"FILES", kRefused, kRefused, kRefused},
      {"Apps", kRefused, kRefused, kRefused},  {"Applications", kRefused, kRefused, kRefused},
      {" 1", kRefused, kRefused, kRefused},    {"-1", kRefused, kRefused, kRefused},
      {"files,", kRefused, kRefused, kRefused},
  };
  enum Choice { kAny, kRegistryOrFiles, kLongNames };
  struct Command {
    std::string before, after;  // the arguments around the value
    const char* option;
    Choice choice;
    std::string expected;       // the refusal's list of what it takes
    int status[3];              // the exit status of a run limited to each section
    std::string reportFile;
  } commands[] = {
      {"compare 1 2 --json --section ", "", "--section", kAny, "registry, files or apps", {0, 1, 0}, ""},
      {"show 2 --json --section ", "", "--section", kAny, "registry, files or apps", {0, 0, 0}, ""},
      {"search 2 readme --json --section ", "", "--section", kRegistryOrFiles, "registry or files", {1, 0, 0}, ""},
      {"digest --tree --section ", " " + snap, "--section", kLongNames, "registry, files or applications",
       {0, 0, 0}, ""},
      {"report 1 2 --out " + shellWord(report) + " --sections ", "", "--sections", kAny,
       "a list of registry, files or apps", {0, 0, 0}, report},
  };
  for (const Command& c : commands) {
    for (const Spelling& s : spellings) {
      std::filesystem::remove(report);
      CliRun r = run(c.before + shellWord(s.value) + c.after);
      SCOPED_TRACE(c.before + "'" + s.value + "'");
      int section = c.choice == kAny ? s.any : c.choice == kRegistryOrFiles ? s.registryOrFiles : s.longNames;
      if (section == kRefused) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "keldrun: invalid value '" + s.value + "' for " + c.option + " (expected " + c.expected +
                             ")\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(report));
        continue;
      }
      EXPECT_EQ(r.status, c.status[section]) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(printedSections(r, c.reportFile), std::set<int>{section}) << r.out;
    }
  }
}

TEST_F(CliSharedOptions, ListsOfSectionsForTheReport) {
  std::string report = scratch / "r.htm";
  struct Case {
    std::string value;
    std::set<int> sections;  // empty: refused
  } cases[] = {
      {"registry,files", {0, 1}}, {"files,apps", {1, 2}},  {"apps,applications,0", {0, 2}},
      {"1,2", {1, 2}},            {"files,files", {1}},    {"2,registry,1", {0, 1, 2}},
      {"registry,", {}},          {",files", {}},          {"files,,apps", {}},
      {"files,Apps", {}},         {"files;apps", {}},      {"files, apps", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::filesystem::remove(report);
    CliRun r = run("report 1 2 --out " + shellWord(report) + " --sections " + shellWord(c.value));
    if (c.sections.empty()) {
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, "keldrun: invalid value '" + c.value +
                           "' for --sections (expected a list of registry, files or apps)\n");
      EXPECT_FALSE(std::filesystem::exists(report));
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(printedSections(r, report), c.sections);
  }
}

TEST_F(CliSharedOptions, NumbersAreDecimalDigitsWithinTheOptionsRange) {
  std::string report = scratch / "r.htm";
  // --threads is read before the folder is looked at: a number it takes ends at the missing
  // folder instead.
  std::string missing = shellWord(scratch / "missing");
  struct Option {
    std::string before, after;
    const char* option;
    const char* expected;
    const char* accepted;  // what stdout or stderr holds when the value is taken
    long long min, max;
  } options[] = {
      {"report 1 2 --out " + shellWord(report) + " --split ", "", "--split", "a number of lines", "Export done.", 0,
       2147483647},
      {"report 1 --out " + shellWord(report) + " --split ", "", "--split", "a number of lines", "Export done.", 0,
       2147483647},
      {"report 1 2 --out " + shellWord(report) + " --binary-limit ", "", "--binary-limit", "a number, 0 = no limit",
       "Export done.", 0, 2147483647},
      {"report 1 2 --out " + shellWord(report) + " --string-limit ", "", "--string-limit", "a number, 0 = no limit",
       "Export done.", 0, 2147483647},
      {"snapshot --threads ", " --files " + missing, "--threads", "a number from 1 to 8", "missing", 1, 8},
  };
  struct Value {
    std::string text;
    long long number;  // -1: not a number at all
  } values[] = {
      {"0", 0},   {"1", 1},   {"8", 8},         {"9", 9},          {"08", 8},           {"008", 8},
      {"10000", 10000},       {"0010000", 10000},                  {"2147483647", 2147483647},
      {"2147483648", 2147483648LL},             {"99999999999999999999", -1},
      {"", -1},   {"-0", -1}, {"-1", -1},       {"+5", -1},        {" 5", -1},          {"5 ", -1},
      {"0x10", -1},           {"abc", -1},      {"1e3", -1},
  };
  for (const Option& o : options) {
    for (const Value& v : values) {
      SCOPED_TRACE(o.before + "'" + v.text + "'");
      CliRun r = run(o.before + shellWord(v.text) + o.after);
      bool taken = v.number >= o.min && v.number <= o.max;
      if (!taken) {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "keldrun: invalid value '" + v.text + "' for " + o.option + " (expected " + o.expected + ")\n");
        continue;
      }
      EXPECT_NE((r.out + r.err).find(o.accepted), std::string::npos) << r.out << r.err;
      EXPECT_EQ(r.err.find("invalid value"), std::string::npos) << r.err;
    }
  }
}

TEST_F(CliSharedOptions, SnapshotNumbersOfTheWorkspaceAndOfTheCatalog) {
  std::string first = home / "data/snap001.snp";
  // show takes a number of the data folder (up to six digits) or a file's path; info a number
  // of the catalog (up to nine digits).
  struct Case {
    std::string ref;
    std::string show;  // the snapshot file shown, or the start of the error
    std::string info;  // the "number" info prints, or the start of the error
  } cases[] = {
      {"1", first, "\"number\":1,"},
      {"01", first, "\"number\":1,"},
      {"0000001", first, "\"number\":1,"},
      {"0", "no snapshot 0 (", "'0' is not a snapshot number"},
      {"3", "no snapshot 3 (", "snapshot 3 is not in the catalog"},
      {"1234567", "cannot find snapshot file 1234567", "snapshot 1234567 is not in the catalog"},
      {"1234567890", "cannot find snapshot file 1234567890", "'1234567890' is not a snapshot number"},
      {"+1", "cannot find snapshot file +1", "'+1' is not a snapshot number"},
      {first, first, "'" + first + "' is not a snapshot number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ref);
    CliRun shown = run("show --json " + shellWord(c.ref));
    if (c.show == first) {
      EXPECT_EQ(shown.status, 0) << shown.err;
      EXPECT_NE(shown.out.find("{\"snapshot\":{\"path\":\"" + first + "\""), std::string::npos) << shown.out;
    } else {
      EXPECT_EQ(shown.status, 2);
      EXPECT_EQ(shown.err.rfind("keldrun: " + c.show, 0), 0u) << shown.err;
    }
    CliRun info = run("info --json " + shellWord(c.ref));
    if (c.info[0] == '"') {
      EXPECT_EQ(info.status, 0) << info.err;
      EXPECT_NE(info.out.find(c.info), std::string::npos) << info.out;
    } else {
      EXPECT_EQ(info.status, 2);
      EXPECT_EQ(info.err.rfind("keldrun: " + c.info, 0), 0u) << info.err;
    }
  }
}

TEST_F(CliSharedOptions, PathPrefixOfCompareAndDigest) {
  // The Windows form of the tree's folder on the drive z: that maps "/".
  std::string folder = "z:";
  for (char c : tree.str()) folder.push_back(c == '/' ? '\\' : c);
  std::string upper = folder;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  struct Case {
    bool given;
    std::string path;
    bool sub;          // the folder sub, below the prefix, is printed
  } cases[] = {
      {false, "", true},
      {true, folder + "app", true},
      {true, upper + "APP\\", true},
      {true, folder + "ap", false},  // whole names only
      {true, folder + "other", false},
      {true, "", false},  // an empty prefix keeps nothing
  };
  std::string snap = shellWord(home / "data/snap002.snp");
  for (const Case& c : cases) {
    std::string option = c.given ? " --path " + shellWord(c.path) : "";
    SCOPED_TRACE(option);
    CliRun compared = run("compare 1 2 --section files" + option);
    EXPECT_EQ(compared.status, c.sub ? 1 : 0) << compared.err;
    EXPECT_EQ(compared.out.find("sub  [modified, own content]") != std::string::npos, c.sub) << compared.out;
    CliRun digested = run("digest --tree --section files" + option + " " + snap);
    EXPECT_EQ(digested.status, 0) << digested.err;
    EXPECT_EQ(digested.out.find(folder + "app\\sub\\\n") != std::string::npos, c.sub) << digested.out;
    EXPECT_EQ(digested.out.rfind("section 1 files partial\n", 0), 0u) << digested.out;
  }
}

}  // namespace
}  // namespace keldrun
