// The noise list: its file (parse, problems, writer, undo), the prefix-tree matching, the rule
// that nothing starting with the machine is hidden, the shipped default list, and learning.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/app_scan.h"
#include "tests/test_support.h"
#include "views/noise_learning.h"
#include "workspace/noise.h"

namespace keldrun {
namespace {

using testing_support::TempFolder;
using testing_support::writeText;

bool hides(const std::vector<std::u16string>& entries, const std::u16string& path) {
  std::vector<std::u16string> normal;
  for (const std::u16string& e : entries) {
    std::u16string n;
    std::string reason;
    EXPECT_TRUE(normaliseNoiseEntry(e, &n, &reason)) << toUtf8(e) << ": " << reason;
    normal.push_back(n);
  }
  NoiseMatcher m(normal);
  // Stepping down the path one component at a time, as a walk does, and matching it whole agree.
  NoiseMark stepped = m.top();
  for (const std::u16string& c : splitNonEmpty(path, u'\\')) stepped = m.step(stepped, c);
  EXPECT_EQ(stepped.hidden(), m.markOf(path).hidden()) << toUtf8(path);
  return stepped.hidden();
}

struct MatchCase {
  const char16_t* entry;
  const char16_t* path;
  bool hidden;
};

TEST(NoiseMatch, WildcardsCaseTrailingBackslashAndEverySection) {
  const MatchCase cases[] = {
      // registry keys and values
      {u"HKEY_LOCAL_MACHINE\\Software\\Wine", u"HKEY_LOCAL_MACHINE\\Software\\Wine", true},
      {u"HKEY_LOCAL_MACHINE\\Software\\Wine", u"HKEY_LOCAL_MACHINE\\Software\\Wine\\Drivers\\x", true},
      {u"HKEY_LOCAL_MACHINE\\Software\\Wine", u"HKEY_LOCAL_MACHINE\\Software\\Wines", false},
      {u"HKEY_LOCAL_MACHINE\\Software\\Wine", u"HKEY_LOCAL_MACHINE\\Software", false},
      {u"hklm\\SOFTWARE\\wine\\", u"HKEY_LOCAL_MACHINE\\Software\\Wine\\Fonts", true},
      {u"HKLM\\Software\\Wine\\\\\\", u"HKEY_LOCAL_MACHINE\\Software\\Wine", true},
      {u"HKCU\\Software\\App\\LastRun", u"HKEY_CURRENT_USER\\Software\\App\\LastRun", true},
      {u"HKCU\\Software\\App\\LastRun", u"HKEY_CURRENT_USER\\Software\\App\\LastRunTime", false},
      {u"HKU\\*\\Software\\App", u"HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\App\\k", true},
      {u"HKU\\*\\Software\\App", u"HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Other", false},
      {u"HKLM\\System\\*\\Enum\\*\\*\\*\\Properties", u"HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Enum\\PCI\\VEN\\3&11\\Properties\\x", true},
      {u"HKLM\\System\\*\\Enum\\*\\*\\*\\Properties", u"HKEY_LOCAL_MACHINE\\System\\ControlSet001\\Enum\\PCI\\VEN\\Properties", false},
      // folders and files, name patterns
      {u"c:\\Windows\\Prefetch\\*.pf", u"C:\\WINDOWS\\prefetch\\APP.EXE-1234.PF", true},
      {u"c:\\Windows\\Prefetch\\*.pf", u"C:\\Windows\\Prefetch\\Layout.ini", false},
      {u"*:\\Windows\\Temp", u"d:\\windows\\temp\\a\\b.tmp", true},
      {u"*:\\Windows\\Temp", u"d:\\windows\\temporary", false},
      {u"c:\\logs\\app?.log", u"c:\\logs\\app7.log", true},
      {u"c:\\logs\\app?.log", u"c:\\logs\\app77.log", false},
      {u"c:\\*\\cache", u"c:\\users\\cache\\x", true},
      {u"c:\\*\\cache", u"c:\\cache", false},
      // non-ASCII names fold as Windows folds them
      {u"c:\\Users\\\u00c9lodie\\Cache", u"c:\\users\\\u00e9LODIE\\cache\\f", true},
  };
  for (const MatchCase& c : cases)
    EXPECT_EQ(hides({c.entry}, c.path), c.hidden) << toUtf8(c.entry) << " ~ " << toUtf8(c.path);
}

TEST(NoiseMatch, BadEntriesAreRefusedWithAReason) {
  for (const char16_t* bad : {u"", u"   ", u"\\\\", u"\\c:\\x", u"c:\\\\x"}) {
    std::u16string out;
    std::string reason;
    EXPECT_FALSE(normaliseNoiseEntry(bad, &out, &reason)) << toUtf8(bad);
    EXPECT_FALSE(reason.empty());
  }
}

TEST(NoiseNeverHidden, AnEntryCoveringARunKeyHidesItsSiblingsNeverTheRunKey) {
  const std::u16string run = u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  for (const char16_t* entry : {u"HKLM\\Software\\*", u"HKLM\\Software", u"HKLM",
                                u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"}) {
    EXPECT_TRUE(hides({entry}, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\x")) << toUtf8(entry);
    EXPECT_FALSE(hides({entry}, run)) << toUtf8(entry);
    EXPECT_FALSE(hides({entry}, run + u"\\DemoApp")) << toUtf8(entry) << ": a value of the Run key";
    EXPECT_FALSE(hides({entry}, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft")) << "on the way to the Run key";
    EXPECT_FALSE(hides({entry}, u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\x"));
  }
  EXPECT_TRUE(hides({u"HKLM\\Software\\*"}, u"HKEY_LOCAL_MACHINE\\Software\\Wine\\Drivers"));
  EXPECT_FALSE(hides({u"HKLM\\System"}, u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\demo\\ImagePath"));
  EXPECT_TRUE(hides({u"HKLM\\System"}, u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\x"));
  EXPECT_FALSE(hides({u"HKU\\*"}, u"HKEY_USERS\\S-1-5-21-9\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
  EXPECT_FALSE(hides({u"*:\\users"}, u"c:\\users\\bob\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\app.lnk"));
  EXPECT_TRUE(hides({u"*:\\users"}, u"c:\\users\\bob\\AppData\\Local\\Temp\\x"));
}

TEST(NoiseNeverHidden, EntriesNamingALocationAreRefusedWithItsName) {
  TempFolder home;
  NoiseFile file(home.str());
  file.load(false, nullptr);
  std::string message;
  for (const char16_t* entry :
       {u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\x",
        u"HKLM\\Software\\*\\Windows\\CurrentVersion\\Run", u"HKLM\\System\\ControlSet001\\Services",
        u"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
        u"c:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\*.lnk"}) {
    EXPECT_FALSE(file.addEntry(entry, &message)) << toUtf8(entry);
    EXPECT_NE(message.find("starts with the machine and is never hidden"), std::string::npos) << message;
  }
  EXPECT_FALSE(file.addEntry(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", &message));
  EXPECT_NE(message.find("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"), std::string::npos) << message;
  EXPECT_FALSE(std::filesystem::exists(file.path())) << "nothing refused is written";
  // Covering one is allowed: it hides everything else.
  EXPECT_TRUE(file.addEntry(u"HKLM\\Software\\*", &message)) << message;
}

// Each location of the applications scan's table is protected, whatever its spelling.
TEST(NoiseNeverHidden, EveryAutostartLocationIsRefused) {
  for (const std::u16string& place : autostartLocations()) {
    std::u16string location;
    EXPECT_TRUE(namesNeverHidden(place, &location)) << toUtf8(place);
    EXPECT_FALSE(hides({u"HKLM", u"HKCU", u"HKU", u"*:"}, place)) << toUtf8(place);
  }
}

TEST(NoiseList, ProblemsNameFileAndLineAndCommentsSurviveEdits) {
  std::string longLine(kMaxNoiseLine + 1, 'a');
  std::string text = "# top comment\r\n\nHKLM\\Software\\A\n  # indented comment\nc:\\\\x\n" + longLine +
                     "\nc:\\temp\\\n";
  NoiseList list;
  std::vector<std::string> problems;
  list.parse(text, "ws/noise.txt", &problems);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].rfind("ws/noise.txt:5: ", 0), 0u) << problems[0];
  EXPECT_EQ(problems[1].rfind("ws/noise.txt:6: ", 0), 0u) << problems[1];
  EXPECT_EQ(list.entries(), (std::vector<std::u16string>{u"HKEY_LOCAL_MACHINE\\Software\\A", u"c:\\temp"}));

  EXPECT_TRUE(list.add(u"d:\\cache", "why it is noise"));
  EXPECT_FALSE(list.add(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\a")) << "case does not make a new entry";
  EXPECT_TRUE(list.remove(u"HKEY_LOCAL_MACHINE\\software\\A"));
  EXPECT_FALSE(list.remove(u"HKEY_LOCAL_MACHINE\\software\\A"));
  std::string out = list.text();
  EXPECT_EQ(out, "# top comment\n\n  # indented comment\nc:\\\\x\n# (skipped: line too long)\nc:\\temp\\\n"
                 "# why it is noise\nd:\\cache\n");
  EXPECT_TRUE(list.remove(u"d:\\cache"));
  EXPECT_EQ(list.text().find("why it is noise"), std::string::npos) << "its comment goes with it";
}

TEST(NoiseFile, EveryChangeIsUndoneBackToNoFileAndTheDefaults) {
  TempFolder home;
  NoiseFile file(home.str());
  file.load(true, nullptr);
  EXPECT_TRUE(file.fromDefaults());
  size_t defaults = file.list().entries().size();
  ASSERT_GT(defaults, 20u);
  std::string message;
  ASSERT_TRUE(file.addEntry(u"c:\\one", &message)) << message;
  ASSERT_TRUE(file.addEntry(u"c:\\two", &message)) << message;
  ASSERT_TRUE(file.removeEntry(u"C:\\ONE\\", &message)) << message;
  EXPECT_EQ(file.undoDepth(), 3u);

  NoiseFile again(home.str());  // what another process reads
  again.load(true, nullptr);
  EXPECT_FALSE(again.fromDefaults());
  EXPECT_EQ(again.list().entries().size(), defaults + 1);
  ASSERT_TRUE(again.undo(true));
  EXPECT_TRUE(again.list().contains(u"c:\\one"));
  EXPECT_TRUE(again.list().contains(u"c:\\two"));
  ASSERT_TRUE(again.undo(true));
  EXPECT_FALSE(again.list().contains(u"c:\\two"));
  EXPECT_TRUE(again.list().contains(u"c:\\one"));
  ASSERT_TRUE(again.undo(true));
  EXPECT_FALSE(std::filesystem::exists(again.path())) << "the workspace had no noise.txt";
  EXPECT_TRUE(again.fromDefaults());
  EXPECT_FALSE(again.undo(true)) << "nothing left to undo";

  // A damaged history is refused, not followed.
  writeText(again.undoPath(), "@@ 999\nshort");
  EXPECT_FALSE(again.undo(true));
}

TEST(NoiseDefaults, EveryEntryParsesHasAReasonAndHidesNothingThatStartsWithTheMachine) {
  NoiseList list;
  std::vector<std::string> problems;
  list.parse(defaultNoiseText(), "defaults", &problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  std::vector<std::u16string> entries = list.entries();
  ASSERT_GT(entries.size(), 20u);
  for (const std::u16string& e : entries) {
    std::u16string location;
    EXPECT_FALSE(namesNeverHidden(e, &location)) << toUtf8(e) << " names " << toUtf8(location);
  }
  // Each entry, or the group it opens, follows a comment saying why.
  std::string text = defaultNoiseText();
  size_t at = 0;
  std::string previous;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line[0] != '#') {
      EXPECT_FALSE(previous.empty()) << line << " has no comment above it";
    }
    previous = line;
  }
  for (const std::u16string& place : autostartLocations())
    EXPECT_FALSE(hides(entries, place)) << toUtf8(place);
  EXPECT_TRUE(hides(entries, u"c:\\Windows\\Prefetch\\CMD.EXE-1234.pf"));
  EXPECT_TRUE(hides(entries, u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\{GUID}\\Count"));
}

TEST(NoiseLearning, GeneralisesSidGuidNumberAndSiblingsAndSkipsAutostart) {
  NoiseLearning l = proposeNoise({
      u"HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-1001\\Software\\App\\Stamp",
      u"HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-1002\\Software\\App\\Stamp",
      u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\{6F9619FF-8B86-D011-B42D-00C04FC964FF}\\Seen",
      u"c:\\logs\\2026\\run.log",
      u"c:\\cache\\a", u"c:\\cache\\b", u"c:\\CACHE\\c",
      u"c:\\other\\a", u"c:\\other\\b",
      u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Demo",
  });
  std::vector<std::u16string> entries;
  for (const NoiseProposal& p : l.proposals) entries.push_back(p.entry);
  EXPECT_EQ(entries, (std::vector<std::u16string>{
                         u"c:\\cache", u"c:\\logs\\*\\run.log", u"c:\\other\\a", u"c:\\other\\b",
                         u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\*\\Seen",
                         u"HKEY_USERS\\*\\Software\\App\\Stamp"}));
  for (const NoiseProposal& p : l.proposals) {
    if (p.entry == u"c:\\cache") {
      EXPECT_EQ(p.changes, 3u);
    }
    if (p.entry == u"HKEY_USERS\\*\\Software\\App\\Stamp") {
      EXPECT_EQ(p.changes, 2u);
    }
  }
  ASSERT_EQ(l.skipped.size(), 1u);
  EXPECT_EQ(l.skipped[0].location, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

  // Siblings of a key on the way to the Run key do not propose it.
  l = proposeNoise({u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\A",
                    u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\B",
                    u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\C"});
  EXPECT_EQ(l.proposals.size(), 3u);
}

}  // namespace
}  // namespace keldrun
