// The Normaliser's mapping on hand-made names and texts, the identity read back from snapshot
// files, and normalised comparisons of two machines' snapshot files through the comparison
// context.
#include "engine/normalise.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"
#include "tests/compare_support.h"
#include "tests/test_support.h"
#include "views/comparison_context.h"

namespace keldrun {
namespace {

using testing_support::DirSpec;
using testing_support::KeySpec;
using testing_support::TempFolder;
using testing_support::ValueSpec;
using testing_support::Written;

struct TextCase {
  const char16_t* in;
  const char16_t* out;
};

TEST(NormaliseSids, UserAndMachineSidsOfEveryFormMapAndOthersStay) {
  const TextCase cases[] = {
      {u"S-1-5-21-111-222-333-1001", u"<SID-1001>"},
      {u"S-1-5-21-111-222-333-1001_Classes", u"<SID-1001>_Classes"},
      {u"s-1-5-21-4294967295-1-2-500", u"<SID-500>"},
      {u"S-1-5-21-111-222-333", u"<SID>"},
      {u"HKEY_USERS\\S-1-5-21-1-2-3-1000\\Software", u"HKEY_USERS\\<SID-1000>\\Software"},
      {u"S-1-5-21-1-2-3-1000;S-1-5-21-7-8-9-1001", u"<SID-1000>;<SID-1001>"},
      {u"S-1-5-18", u"S-1-5-18"},                          // well known: the same everywhere
      {u"S-1-5-21-1-2", u"S-1-5-21-1-2"},                  // too few parts
      {u"S-1-5-21-1-2-3-4-5", u"S-1-5-21-1-2-3-4-5"},      // too many
      {u"XS-1-5-21-1-2-3-1000", u"XS-1-5-21-1-2-3-1000"},  // inside a word
      {u"S-1-5-21-1-2-3-1000x", u"S-1-5-21-1-2-3-1000x"},
      {u"S-1-5-21-1-2-3-", u"<SID>-"},
      {u"", u""},
  };
  for (const TextCase& c : cases) EXPECT_EQ(toUtf8(mapSids(c.in)), toUtf8(c.out)) << toUtf8(c.in);
}

Normaliser twoMachines() {
  return Normaliser({u"PC1", {u"C:\\users\\alice", u"C:\\users\\al"}},
                    {u"GOLDEN", {u"C:\\Documents and Settings\\bob"}});
}

// Each case maps a text of one side, or, with a parent path, a node's name below that parent.
TEST(NormaliseMapping, ProfilesComputerNameAndSidsOfEachSide) {
  Normaliser n = twoMachines();
  const struct {
    int side;
    const char16_t* parent;  // null: value data
    const char16_t* in;
    const char16_t* out;
  } cases[] = {
      {0, nullptr, u"C:\\users\\alice\\Desktop", u"%USERPROFILE%\\Desktop"},
      {0, nullptr, u"c:\\USERS\\ALICE", u"%USERPROFILE%"},
      {0, nullptr, u"C:\\users\\al\\x", u"%USERPROFILE%\\x"},  // a profile that is a prefix of another
      {0, nullptr, u"C:\\users\\alice2\\x", u"C:\\users\\alice2\\x"},
      {0, nullptr, u"C:\\users\\alice.old", u"C:\\users\\alice.old"},
      {0, nullptr, u"PATH=C:\\users\\alice;C:\\users\\alice\\bin", u"PATH=%USERPROFILE%;%USERPROFILE%\\bin"},
      {0, nullptr, u"\"C:\\users\\alice\\app.exe\" -x", u"\"%USERPROFILE%\\app.exe\" -x"},
      {0, nullptr, u"\\\\PC1\\share", u"\\\\%COMPUTERNAME%\\share"},
      {0, nullptr, u"pc1", u"%COMPUTERNAME%"},
      {0, nullptr, u"PC12", u"PC12"},  // a computer name inside a longer word stays
      {0, nullptr, u"MYPC1", u"MYPC1"},
      {0, nullptr, u"PC1_X", u"PC1_X"},
      {0, nullptr, u"PC1.corp", u"%COMPUTERNAME%.corp"},
      {0, nullptr, u"C:\\Documents and Settings\\bob", u"C:\\Documents and Settings\\bob"},  // B's own
      {1, nullptr, u"C:\\Documents and Settings\\Bob\\x", u"%USERPROFILE%\\x"},
      {1, nullptr, u"C:\\users\\alice", u"C:\\users\\alice"},
      {1, nullptr, u"GOLDEN S-1-5-21-9-9-9-1000", u"%COMPUTERNAME% <SID-1000>"},
      {0, nullptr, u"\\users\\alice", u"%HOMEPATH%"},
      {0, nullptr, u"D:\\users\\alice\\x", u"D:%HOMEPATH%\\x"},
      {0, nullptr, u"\\users\\alice2", u"\\users\\alice2"},
      {0, nullptr, u"Alice", u"%USERNAME%"},
      {0, nullptr, u"alice smith", u"alice smith"},  // a user name inside other words stays
      {1, nullptr, u"alice", u"alice"},
      {0, u"C:\\users", u"alice", u"%USERPROFILE%"},
      {0, u"C:\\USERS\\", u"Alice", u"%USERPROFILE%"},
      {0, u"C:\\users", u"alice2", u"alice2"},
      {0, u"C:\\users\\alice", u"Desktop", u"Desktop"},
      {0, u"D:\\users", u"alice", u"alice"},
      {1, u"C:\\Documents and Settings", u"bob", u"%USERPROFILE%"},
      {1, u"C:\\users", u"alice", u"alice"},
      {0, u"HKEY_USERS", u"S-1-5-21-1-2-3-1001", u"<SID-1001>"},
      {1, u"HKEY_USERS", u"S-1-5-21-4-5-6-1001_Classes", u"<SID-1001>_Classes"},
      {0, u"HKEY_USERS", u"PC1", u"PC1"},  // the computer name maps in value data only
  };
  EXPECT_EQ(toUtf8(n.text(0, std::u16string(u"alice\0\0", 7))), toUtf8(std::u16string(u"%USERNAME%\0\0", 12)));
  for (const auto& c : cases) {
    std::u16string got = c.parent ? n.name(c.side, c.parent, c.in) : n.text(c.side, c.in);
    EXPECT_EQ(toUtf8(got), toUtf8(c.out)) << c.side << " " << toUtf8(c.in);
  }
}

TEST(NormaliseNames, ProfileImagePathData) {
  EXPECT_EQ(toUtf8(profileFromImagePath(u"%SystemDrive%\\Users\\alice")), "C:\\Users\\alice");
  EXPECT_EQ(toUtf8(profileFromImagePath(u"C:\\users\\bob\\")), "C:\\users\\bob");
  EXPECT_EQ(toUtf8(profileFromImagePath(u"")), "");
}

// ---- two machines' snapshot files -------------------------------------------------------------

ValueSpec text(const std::u16string& name, const std::u16string& data, uint32_t type = kRegSz) {
  return {name, type, testing_support::utf16(data)};
}

struct Machine {
  std::string computer;
  std::u16string sid;      // the user's SID
  std::u16string user;     // the profile folder's name under C:\users
  bool profileList = true;  // the registry names the profiles
  std::u16string desktopFile = u"readme.txt";
  std::u16string theme = u"blue";
};

KeySpec registryOf(const Machine& m) {
  std::u16string profile = u"C:\\users\\" + m.user;
  KeySpec hklm{u"HKEY_LOCAL_MACHINE", {}, {}};
  KeySpec software{u"SOFTWARE", {}, {}};
  if (m.profileList) {
    KeySpec list{u"ProfileList", {{m.sid, {}, {text(u"ProfileImagePath", u"%SystemDrive%\\users\\" + m.user, kRegExpandSz)}},
                                  {u"S-1-5-18", {}, {text(u"ProfileImagePath", u"%systemroot%\\system32\\config\\systemprofile", kRegExpandSz)}}},
                 {}};
    software.keys.push_back({u"Microsoft", {{u"Windows NT", {{u"CurrentVersion", {list}, {}}}, {}}}, {}});
  }
  software.keys.push_back({u"Vendor", {}, {text(u"Host", u"\\\\" + widen(m.computer) + u"\\share"),
                                           text(u"Owner", m.sid)}});
  hklm.keys.push_back(software);
  return hklm;
}

std::vector<KeySpec> registryRoots(const Machine& m) {
  std::u16string profile = u"C:\\users\\" + m.user;
  KeySpec users{u"HKEY_USERS",
                {{m.sid, {{u"Environment", {}, {text(u"TEMP", profile + u"\\Temp"), text(u"Theme", m.theme)}}}, {}},
                 {m.sid + u"_Classes", {{u".txt", {}, {text(u"", u"txtfile")}}}, {}},
                 {u".DEFAULT", {{u"Console", {}, {text(u"Font", u"Lucida")}}}, {}}},
                {}};
  return {registryOf(m), users};
}

DirSpec driveOf(const Machine& m) {
  DirSpec profile{m.user, {{u"Desktop", {}, {{m.desktopFile, 100, 5}}}, {u"AppData", {}, {{u"cache.db", 200, 9}}}}, {}};
  return {u"C:\\", {{u"users", {profile, {u"Public", {}, {{u"shared.txt", 300, 1}}}}, {}}, {u"Windows", {}, {{u"win.ini", 400, 2}}}}, {}};
}

// Writes one machine's snapshot: both sections, recorded whole, under its computer name.
bool writeMachine(const std::string& path, const Machine& m) {
  SnapshotFile file;
  if (!file.create(path)) return false;
  for (const KeySpec& r : registryRoots(m)) {
    Written w = testing_support::writeKeyTree(&file, r);
    file.addRoot(kSectionRegistry, r.name, w.childHash, w.contentHash, w.childTable, w.contentTable);
  }
  Written w = testing_support::writeDir(&file, driveOf(m));
  file.addRoot(kSectionFiles, u"C:\\", w.childHash, w.contentHash, w.childTable, w.contentTable);
  SnapshotInfo info;
  FilterList lists[kSectionCount] = {{u"*"}, {u"*"}, {}};
  info.fillNew(m.computer, 1, lists);
  info.computer = m.computer;
  bool ok = file.finish(&info);
  return file.close() && ok;
}

// Every node and row a full walk of the comparison shows, as "state path" and
// "label path\name".
class Differences : public TreeVisitor {
 public:
  Differences(ComparisonContext* context, int section) : context_(context), section_(section) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (s.state != kUnchanged) found.insert(std::to_string(s.state) + " " + toUtf8(path));
    if (s.ownChanged) {
      ContentComparison content;
      if (context_->compareContent(section_, a ? a->contentTable : 0, b ? b->contentTable : 0, &content)) {
        for (const ContentRow& r : content.rows()) {
          if (r.state == kUnchanged) continue;
          std::u16string name;
          if (section_ == kSectionRegistry) {
            ValueEntry v;
            if (parseValueEntry(r.item.p, r.item.size, &v)) name = v.name.str();
          } else {
            name = u"item";
          }
          found.insert(std::string(r.label) + " " + toUtf8(path) + "\\" + toUtf8(name));
        }
      }
    }
    return s.expandable;
  }
  std::set<std::string> found;

 private:
  ComparisonContext* context_;
  int section_;
};

std::set<std::string> differences(ComparisonContext* context, int section) {
  Differences d(context, section);
  context->walkSection(section, &d);
  return d.found;
}

class NormaliseCompare : public ::testing::Test {
 protected:
  void compare(const Machine& a, const Machine& b, bool normalise) {
    ASSERT_TRUE(writeMachine(dir_ / "a.snp", a));
    ASSERT_TRUE(writeMachine(dir_ / "b.snp", b));
    ASSERT_TRUE(context_.openFiles(dir_ / "a.snp", dir_ / "b.snp", kModeCompare, false));
    context_.setNormalise(normalise);
    ASSERT_EQ(context_.normalise(), normalise);
  }
  TempFolder dir_;
  ComparisonContext context_;
  Machine golden_{"GOLDEN", u"S-1-5-21-10-20-30-1001", u"admin"};
  Machine pc_{"PC07", u"S-1-5-21-40-50-60-1001", u"alice"};
};

TEST_F(NormaliseCompare, AsRecordedEveryMachineBoundPartDiffers) {
  compare(golden_, pc_, false);
  std::set<std::string> registry = differences(&context_, kSectionRegistry);
  for (const char* expected :
       {"3 HKEY_USERS\\S-1-5-21-10-20-30-1001", "2 HKEY_USERS\\S-1-5-21-40-50-60-1001",
        "old HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Host", "new HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Owner"})
    EXPECT_EQ(registry.count(expected), 1u) << expected;
  std::set<std::string> files = differences(&context_, kSectionFiles);
  EXPECT_EQ(files.count("3 C:\\users\\admin"), 1u);
  EXPECT_EQ(files.count("2 C:\\users\\alice"), 1u);
}

TEST_F(NormaliseCompare, NormalisedTwoMachinesThatDifferByMachineAloneAreEqual) {
  compare(golden_, pc_, true);
  EXPECT_EQ(differences(&context_, kSectionRegistry), std::set<std::string>());
  EXPECT_EQ(differences(&context_, kSectionFiles), std::set<std::string>());
}

TEST_F(NormaliseCompare, NormalisedRealDifferencesRemainUnderMappedPaths) {
  pc_.desktopFile = u"secret.txt";
  pc_.theme = u"red";
  compare(golden_, pc_, true);
  EXPECT_EQ(differences(&context_, kSectionRegistry),
            (std::set<std::string>{"1 HKEY_USERS", "1 HKEY_USERS\\<SID-1001>",
                                   "1 HKEY_USERS\\<SID-1001>\\Environment",
                                   "old HKEY_USERS\\<SID-1001>\\Environment\\Theme",
                                   "new HKEY_USERS\\<SID-1001>\\Environment\\Theme"}));
  EXPECT_EQ(differences(&context_, kSectionFiles),
            (std::set<std::string>{"1 C:\\", "1 C:\\users", "1 C:\\users\\%USERPROFILE%",
                                   "1 C:\\users\\%USERPROFILE%\\Desktop",
                                   "del C:\\users\\%USERPROFILE%\\Desktop\\item",
                                   "add C:\\users\\%USERPROFILE%\\Desktop\\item"}));
}

TEST_F(NormaliseCompare, WithoutAProfileListTheFoldersUnderUsersNameTheProfiles) {
  golden_.profileList = pc_.profileList = false;
  compare(golden_, pc_, true);
  EXPECT_EQ(differences(&context_, kSectionFiles), std::set<std::string>());
  // Still SIDs map by their form, and the registry's values by the folders' profiles.
  EXPECT_EQ(differences(&context_, kSectionRegistry), std::set<std::string>());
}

TEST_F(NormaliseCompare, TwoUsersOfOneMachineStayApart) {
  pc_.sid = u"S-1-5-21-40-50-60-1002";
  compare(golden_, pc_, true);
  std::set<std::string> registry = differences(&context_, kSectionRegistry);
  EXPECT_EQ(registry.count("3 HKEY_USERS\\<SID-1001>"), 1u);
  EXPECT_EQ(registry.count("2 HKEY_USERS\\<SID-1002>"), 1u);
}

TEST(NormaliseIdentity, ReadFromTheProfileListElseTheFolders) {
  TempFolder dir;
  Machine m{"PC07", u"S-1-5-21-40-50-60-1001", u"alice"};
  ASSERT_TRUE(writeMachine(dir / "m.snp", m));
  SnapshotFile file;
  SnapshotInfo info;
  ASSERT_TRUE(file.open(dir / "m.snp", &info));
  MachineIdentity id = recordedIdentity(&file, info);
  EXPECT_EQ(toUtf8(id.computer), "PC07");
  std::vector<std::string> profiles;
  for (const auto& p : id.profiles) profiles.push_back(toUtf8(p));
  // The well-known system account's profile is the same everywhere; the data's own form maps
  // in values too.
  EXPECT_EQ(profiles, (std::vector<std::string>{"C:\\users\\alice", "%SystemDrive%\\users\\alice"}));

  m.profileList = false;
  ASSERT_TRUE(writeMachine(dir / "n.snp", m));
  SnapshotFile other;
  ASSERT_TRUE(other.open(dir / "n.snp", &info));
  id = recordedIdentity(&other, info);
  profiles.clear();
  for (const auto& p : id.profiles) profiles.push_back(toUtf8(p));
  EXPECT_EQ(profiles, (std::vector<std::string>{"C:\\users\\alice"}));  // Public is shared
}

}  // namespace
}  // namespace keldrun
