#include "workspace/scan_filter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::readBytes;
using testing_support::TempFolder;
using testing_support::writeText;

FilterList L(std::initializer_list<const char16_t*> items) {
  FilterList out;
  for (const char16_t* i : items) out.push_back(i);
  return out;
}

// ---- The file ----

TEST(ScanFilterFile, ReadsSectionsItemsAndLineForms) {
  FilterList lists[kSectionCount];
  readFilterText(
      "ignored before a header\n"
      "REGISTRY:\r\n"
      "HKEY_LOCAL_MACHINE\\Software\r\n"
      "hkey_users\\\n"
      "\n"
      "-- a comment\n"
      "Files:\n"
      "c:\\windows\\system32\n"
      "*\n"
      "D:\\Data\\\n"
      "applications:\n"
      "*\n",
      lists);
  EXPECT_EQ(lists[0], L({u"hkey_local_machine\\software\\", u"hkey_users\\"}));
  EXPECT_EQ(lists[1], L({u"c:\\windows\\system32\\", u"*", u"d:\\data\\"}));
  EXPECT_EQ(lists[2], L({u"*"}));
}

TEST(ScanFilterFile, MissingFileSelectsEverything) {
  TempFolder dir;
  FilterList lists[kSectionCount] = {L({u"x\\"}), {}, {}};
  loadFilter(dir / "scan_filter.txt", lists);
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(lists[s], L({u"*"})) << s;
}

TEST(ScanFilterFile, WrittenFormAndRoundTrip) {
  TempFolder dir;
  FilterList lists[kSectionCount] = {L({u"hkey_current_user\\software\\", u"hkey_users\\"}),
                                     L({u"c:\\caf\u00e9\\", u"c:\\\u0436\u0443\u0440\u043d\u0430\u043b\\"}),
                                     {}};
  ASSERT_TRUE(writeFilterFile(dir / "scan_filter.txt", lists));
  std::vector<uint8_t> bytes = readBytes(dir / "scan_filter.txt");
  std::string text(bytes.begin(), bytes.end());
#ifdef _WIN32
  std::string nl = "\r\n";
#else
  std::string nl = "\n";
#endif
  std::string expected = "Registry:" + nl + "hkey_current_user\\software\\" + nl + "hkey_users\\" + nl + nl +
                         "Files:" + nl + "c:\\caf\xe9\\" + nl + "c:\\\xd0\xb6\xd1\x83\xd1\x80\xd0\xbd\xd0\xb0\xd0\xbb\\" +
                         nl + nl + "Applications:" + nl + nl;
  EXPECT_EQ(text, expected);
  FilterList back[kSectionCount];
  loadFilter(dir / "scan_filter.txt", back);
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(back[s], lists[s]) << s;
}

// A file converted to CRLF twice ends its lines in "\r\r\n": the headers still count and no item
// keeps a carriage return, so what was read writes back and reads again unchanged.
TEST(ScanFilterFile, DoubledCarriageReturnsAreLineEnds) {
  TempFolder dir;
  writeText(dir / "scan_filter.txt",
            "Registry:\r\r\nHKEY_USERS\\\r\r\n*\x01x\r\r\n\r\r\nFiles:\r\r\nc:\\windows\r\r\n");
  FilterList lists[kSectionCount];
  loadFilter(dir / "scan_filter.txt", lists);
  EXPECT_EQ(lists[0], L({u"hkey_users\\", u"*\x01x"}));
  EXPECT_EQ(lists[1], L({u"c:\\windows\\"}));
  ASSERT_TRUE(writeFilterFile(dir / "again.txt", lists));
  FilterList back[kSectionCount];
  loadFilter(dir / "again.txt", back);
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(back[s], lists[s]) << s;
}

TEST(ScanFilterFile, LongLinesAreSkippedWhole) {
  FilterList lists[kSectionCount];
  std::string longItem = "c:\\" + std::string(kMaxFilterLine, 'a');
  std::string mid = "c:\\" + std::string(2000, 'b') + "\\";
  readFilterText("Files:\n" + longItem + "\n" + mid + "\nc:\\x\\\n", lists);
  ASSERT_EQ(lists[1].size(), 2u);
  EXPECT_EQ(lists[1][0].size(), mid.size());  // longer than the older 1024-byte cap, kept whole
  EXPECT_EQ(lists[1][1], u"c:\\x\\");
}

TEST(ScanFilterFile, InitialStateOfAPath) {
  struct Case {
    std::u16string path;
    FilterList list;
    int state;
  } cases[] = {
      {u"HKEY_USERS\\", L({u"*"}), kChecked},
      {u"a", L({u"*"}), kChecked},
      {u"a", {}, kUnchecked},
      {u"HKEY_USERS\\", L({u"hkey_users\\"}), kChecked},
      {u"HKEY_LOCAL_MACHINE\\", L({u"hkey_local_machine\\software\\"}), kPartlyChecked},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", L({u"hkey_local_machine\\software\\"}), kChecked},
      {u"HKEY_LOCAL_MACHINE\\SYSTEM\\", L({u"hkey_local_machine\\software\\"}), kUnchecked},
      {u"c:\\", L({u"d:\\x\\", u"c:\\windows\\"}), kPartlyChecked},
      // An enclosing item decides, wherever it stands in the list.
      {u"c:\\windows\\", L({u"c:\\windows\\system32\\", u"c:\\"}), kChecked},
      {u"c:\\windows\\fonts\\", L({u"c:\\windows\\"}), kChecked},
      {u"c:\\", L({u"*", u"c:\\x\\"}), kPartlyChecked},
  };
  for (const Case& c : cases)
    EXPECT_EQ(initialState(c.path, c.list), c.state) << std::string(c.path.begin(), c.path.end());
}

// ---- The tree over an in-memory machine ----

class FakeSource : public SelectionSource {
 public:
  std::vector<char16_t> drives;
  std::map<std::u16string, std::vector<Child>> tree[kSectionCount];
  int listings = 0;

  std::vector<char16_t> fixedDrives() override { return drives; }
  std::vector<Child> children(int section, const std::u16string& path) override {
    listings++;
    auto it = tree[section].find(path);
    return it == tree[section].end() ? std::vector<Child>{} : it->second;
  }
};

class SelectionTreeTest : public ::testing::Test {
 protected:
  SelectionTreeTest() {
    src.drives = {u'c', u'd'};
    src.tree[kSectionFiles][u"c:\\"] = {{u"Windows", true}, {u"Program Files", true}, {u"boot", false}};
    src.tree[kSectionFiles][u"c:\\Windows\\"] = {{u"system32", false}, {u"Fonts", false}};
    src.tree[kSectionFiles][u"c:\\Program Files\\"] = {{u"Keldrun", false}};
    src.tree[kSectionRegistry][u"HKEY_LOCAL_MACHINE\\"] = {{u"SYSTEM", true}, {u"SOFTWARE", true}};
    src.tree[kSectionRegistry][u"HKEY_LOCAL_MACHINE\\SOFTWARE\\"] = {{u"Wine", false}};
  }
  std::unique_ptr<SelectionTree> make(const FilterList stored[kSectionCount]) {
    return std::make_unique<SelectionTree>(&src, stored);
  }
  int hive(SelectionTree& t, const char16_t* name) { return t.child(t.sectionItem(kSectionRegistry), name); }
  int drive(SelectionTree& t, const char16_t* name) { return t.child(t.sectionItem(kSectionFiles), name); }
  FakeSource src;
  const FilterList all[kSectionCount] = {L({u"*"}), L({u"*"}), L({u"*"})};
};

TEST_F(SelectionTreeTest, EverythingCheckedFromStarFile) {
  auto t = make(all);
  EXPECT_EQ(t->item(t->root()).text, u"My Computer");
  EXPECT_EQ(t->item(t->root()).state, kChecked);
  const SelectionTree::Item& reg = t->item(t->sectionItem(kSectionRegistry));
  EXPECT_EQ(reg.text, u"Registry");
  EXPECT_EQ(reg.data, 256);
  ASSERT_EQ(reg.children.size(), 5u);
  EXPECT_EQ(t->item(reg.children[0]).text, u"HKEY_CLASSES_ROOT");
  EXPECT_EQ(t->item(reg.children[4]).text, u"HKEY_CURRENT_CONFIG");
  const SelectionTree::Item& files = t->item(t->sectionItem(kSectionFiles));
  ASSERT_EQ(files.children.size(), 2u);
  EXPECT_EQ(t->item(files.children[0]).text, u"c:\\");
  EXPECT_EQ(t->item(files.children[0]).data, SelectionTree::kDataUnfilled);
  EXPECT_EQ(t->item(t->sectionItem(kSectionApps)).data, 258);
  EXPECT_EQ(t->item(t->sectionItem(kSectionApps)).state, kChecked);
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(t->collect(s), L({u"*"})) << s;
}

TEST_F(SelectionTreeTest, UncheckingOneHiveLeavesTheOtherFourSorted) {
  auto t = make(all);
  int hkcr = hive(*t, u"HKEY_CLASSES_ROOT");
  t->click(hkcr);
  EXPECT_EQ(t->item(hkcr).state, kUnchecked);
  EXPECT_EQ(t->item(t->sectionItem(kSectionRegistry)).state, kPartlyChecked);
  EXPECT_EQ(t->item(t->root()).state, kPartlyChecked);
  EXPECT_EQ(t->collect(kSectionRegistry),
            L({u"hkey_current_config\\", u"hkey_current_user\\", u"hkey_local_machine\\", u"hkey_users\\"}));
  EXPECT_EQ(t->collect(kSectionFiles), L({u"*"}));
  // Checking it again makes the whole section checked: "*".
  t->click(hkcr);
  EXPECT_EQ(t->item(t->sectionItem(kSectionRegistry)).state, kChecked);
  EXPECT_EQ(t->item(t->root()).state, kChecked);
  EXPECT_EQ(t->collect(kSectionRegistry), L({u"*"}));
}

TEST_F(SelectionTreeTest, ExpansionFollowsTheStoredListAndShowsLeaves) {
  FilterList stored[kSectionCount] = {{}, L({u"c:\\windows\\system32\\", u"c:\\program files\\"}), {}};
  auto t = make(stored);
  int c = drive(*t, u"c:\\");
  EXPECT_EQ(t->item(c).state, kPartlyChecked);
  EXPECT_EQ(t->item(drive(*t, u"d:\\")).state, kUnchecked);
  EXPECT_EQ(t->item(t->sectionItem(kSectionFiles)).state, kPartlyChecked);
  EXPECT_EQ(t->item(t->sectionItem(kSectionRegistry)).state, kUnchecked);
  t->expand(c);
  const SelectionTree::Item& ci = t->item(c);
  EXPECT_EQ(ci.data, SelectionTree::kDataFilled);
  ASSERT_EQ(ci.children.size(), 3u);  // the placeholder is gone; children in name order
  EXPECT_EQ(t->item(ci.children[0]).text, u"boot");
  EXPECT_EQ(t->item(ci.children[1]).text, u"Program Files");
  EXPECT_EQ(t->item(ci.children[2]).text, u"Windows");
  EXPECT_EQ(t->item(ci.children[0]).state, kUnchecked);
  EXPECT_EQ(t->item(ci.children[0]).data, SelectionTree::kDataLeafFolder);
  EXPECT_TRUE(t->item(ci.children[0]).children.empty());  // no expand button
  EXPECT_EQ(t->item(ci.children[1]).state, kChecked);
  EXPECT_EQ(t->item(ci.children[2]).state, kPartlyChecked);
  EXPECT_EQ(t->path(ci.children[2]), u"c:\\Windows\\");
  int listings = src.listings;
  t->expand(c);  // filled once only
  EXPECT_EQ(src.listings, listings);
  EXPECT_EQ(t->item(c).children.size(), 3u);

  int win = ci.children[2];
  t->expand(win);
  int sys32 = t->child(win, u"system32");
  ASSERT_GE(sys32, 0);
  EXPECT_EQ(t->item(sys32).state, kChecked);
  EXPECT_EQ(t->item(t->child(win, u"Fonts")).state, kUnchecked);
  EXPECT_EQ(t->collect(kSectionFiles), L({u"c:\\program files\\", u"c:\\windows\\system32\\"}));
}

TEST_F(SelectionTreeTest, ChildrenOfACheckedItemAreChecked) {
  auto t = make(all);
  int hklm = hive(*t, u"HKEY_LOCAL_MACHINE");
  t->expand(hklm);
  ASSERT_EQ(t->item(hklm).children.size(), 2u);
  int software = t->child(hklm, u"SOFTWARE");
  EXPECT_EQ(t->item(software).state, kChecked);
  EXPECT_EQ(t->path(software), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\");
  t->expand(software);
  int wine = t->child(software, u"Wine");
  EXPECT_EQ(t->item(wine).data, SelectionTree::kDataLeafKey);
  // Unchecking one deep key: every ancestor becomes partly checked, the rest stays in the list.
  t->click(wine);
  EXPECT_EQ(t->item(software).state, kUnchecked);  // Wine was its only child
  EXPECT_EQ(t->item(hklm).state, kPartlyChecked);
  EXPECT_EQ(t->item(t->sectionItem(kSectionRegistry)).state, kPartlyChecked);
  EXPECT_EQ(t->collect(kSectionRegistry),
            L({u"hkey_classes_root\\", u"hkey_current_config\\", u"hkey_current_user\\",
               u"hkey_local_machine\\system\\", u"hkey_users\\"}));
}

TEST_F(SelectionTreeTest, UncheckingDropsRelatedStoredItems) {
  FilterList stored[kSectionCount] = {L({u"hkey_local_machine\\software\\wine\\", u"hkey_users\\"}),
                                      L({u"c:\\windows\\"}), L({u"*"})};
  auto t = make(stored);
  int hklm = hive(*t, u"HKEY_LOCAL_MACHINE");
  EXPECT_EQ(t->item(hklm).state, kPartlyChecked);
  // A partly checked item becomes unchecked; the stored item below it goes.
  t->click(hklm);
  EXPECT_EQ(t->item(hklm).state, kUnchecked);
  EXPECT_EQ(t->stored(kSectionRegistry), L({u"hkey_users\\"}));
  EXPECT_EQ(t->collect(kSectionRegistry), L({u"hkey_users\\"}));
  // Unchecking the root empties every list.
  t->click(t->root());
  EXPECT_EQ(t->item(t->root()).state, kUnchecked);
  for (int s = 0; s < kSectionCount; s++) {
    EXPECT_TRUE(t->stored(s).empty()) << s;
    EXPECT_TRUE(t->collect(s).empty()) << s;
  }
  // Checking the root selects everything.
  t->click(t->root());
  for (int s = 0; s < kSectionCount; s++) EXPECT_EQ(t->collect(s), L({u"*"})) << s;
}

TEST_F(SelectionTreeTest, SectionUncheckedChildByChildScansNothing) {
  auto t = make(all);
  int files = t->sectionItem(kSectionFiles);
  for (int c : std::vector<int>(t->item(files).children)) t->click(c);
  EXPECT_EQ(t->item(files).state, kUnchecked);
  EXPECT_EQ(t->stored(kSectionFiles), L({u"*"}));  // never clicked itself
  EXPECT_TRUE(t->collect(kSectionFiles).empty());
  t->click(t->sectionItem(kSectionApps));
  EXPECT_TRUE(t->collect(kSectionApps).empty());
  EXPECT_EQ(t->collect(kSectionRegistry), L({u"*"}));
}

TEST_F(SelectionTreeTest, CollectDropsDuplicatesAndNestedItems) {
  FilterList stored[kSectionCount] = {
      {}, L({u"c:\\windows\\fonts\\", u"c:\\windows\\", u"C:\\Windows\\", u"d:\\a\\", u"d:\\ab\\"}), {}};
  auto t = make(stored);
  EXPECT_EQ(t->collect(kSectionFiles), L({u"c:\\windows\\", u"d:\\a\\", u"d:\\ab\\"}));
}

TEST_F(SelectionTreeTest, SaveFilterWritesCollectedListsAndReloads) {
  TempFolder dir;
  auto t = make(all);
  t->click(hive(*t, u"HKEY_USERS"));
  t->click(t->sectionItem(kSectionApps));
  ASSERT_TRUE(t->saveFilter(dir / "scan_filter.txt"));
  FilterList back[kSectionCount];
  loadFilter(dir / "scan_filter.txt", back);
  EXPECT_EQ(back[kSectionRegistry], L({u"hkey_classes_root\\", u"hkey_current_config\\",
                                       u"hkey_current_user\\", u"hkey_local_machine\\"}));
  EXPECT_EQ(back[kSectionFiles], L({u"*"}));
  EXPECT_TRUE(back[kSectionApps].empty());
  // The next dialog shows the same choices.
  auto again = make(back);
  EXPECT_EQ(again->item(hive(*again, u"HKEY_USERS")).state, kUnchecked);
  EXPECT_EQ(again->item(hive(*again, u"HKEY_CURRENT_USER")).state, kChecked);
  EXPECT_EQ(again->item(again->sectionItem(kSectionApps)).state, kUnchecked);
  EXPECT_EQ(again->item(again->sectionItem(kSectionFiles)).state, kChecked);
}

// ---- The tree over an Env ----

// A small machine: an in-memory registry and folder tree.
class FakeEnv : public Env {
 public:
  struct Key {
    std::map<std::u16string, Key> subkeys;
  };
  class FakeKey : public RegistryKey {
   public:
    explicit FakeKey(const Key* k) : k_(k) {}
    std::unique_ptr<RegistryKey> openSubKey(const std::u16string& path) override {
      const Key* k = k_;
      size_t start = 0;
      while (start < path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        std::u16string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        const Key* next = nullptr;
        for (const auto& [name, sub] : k->subkeys)
          if (lowerAscii(name) == lowerAscii(part)) next = &sub;
        if (!next) return nullptr;
        k = next;
      }
      return std::make_unique<FakeKey>(k);
    }
    bool queryInfo(uint32_t*, uint32_t*) override { return true; }
    bool enumKey(uint32_t index, std::u16string* name) override {
      if (index >= k_->subkeys.size()) return false;
      auto it = k_->subkeys.begin();
      std::advance(it, index);
      *name = it->first;
      return true;
    }
    bool enumValue(uint32_t, std::u16string*, uint32_t*, std::vector<uint8_t>*) override { return false; }

   private:
    const Key* k_;
  };
  class FakeListing : public FolderListing {
   public:
    explicit FakeListing(std::vector<DirEntry> e) : e_(std::move(e)) {}
    bool next(DirEntry* out) override {
      if (i_ >= e_.size()) return false;
      *out = e_[i_++];
      return true;
    }

   private:
    std::vector<DirEntry> e_;
    size_t i_ = 0;
  };

  Key hives[kHiveCount];
  std::map<std::u16string, std::vector<DirEntry>> folders;

  uint32_t logicalDrives() override { return (1u << 2) | (1u << 3) | (1u << 4); }  // c d e
  int driveType(char16_t letter) override { return letter == u'd' ? kDriveCdrom : kDriveFixed; }
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    auto it = folders.find(folder);
    if (it == folders.end()) return nullptr;
    return std::make_unique<FakeListing>(it->second);
  }
  std::unique_ptr<RegistryKey> openHive(int hive) override {
    return hive >= 0 && hive < kHiveCount ? std::make_unique<FakeKey>(&hives[hive]) : nullptr;
  }
  std::u16string computerName() override { return u"FAKE"; }
};

DirEntry folder(const char16_t* name) {
  DirEntry e;
  e.name = name;
  e.isFolder = true;
  return e;
}
DirEntry file(const char16_t* name) {
  DirEntry e;
  e.name = name;
  return e;
}

TEST(EnvSelectionSourceTest, FixedDrivesKeysAndFolders) {
  FakeEnv env;
  env.hives[kHiveLocalMachine].subkeys[u"SOFTWARE"].subkeys[u"Wine"];
  env.hives[kHiveLocalMachine].subkeys[u"HARDWARE"];
  env.folders[u"c:\\"] = {folder(u"."), folder(u".."), folder(u".git"), folder(u"users"), folder(u"temp"),
                          file(u"pagefile.sys")};
  env.folders[u"c:\\users\\"] = {folder(u"."), folder(u".."), folder(u"alice"), file(u"x")};
  env.folders[u"c:\\temp\\"] = {folder(u"."), folder(u".."), folder(u".cache"), file(u"a.log")};
  EnvSelectionSource source(&env);
  EXPECT_EQ(source.fixedDrives(), (std::vector<char16_t>{u'c', u'e'}));

  auto keys = source.children(kSectionRegistry, u"hkey_local_machine\\");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].name, u"HARDWARE");
  EXPECT_FALSE(keys[0].hasChildren);
  EXPECT_EQ(keys[1].name, u"SOFTWARE");
  EXPECT_TRUE(keys[1].hasChildren);
  EXPECT_TRUE(source.children(kSectionRegistry, u"HKEY_LOCAL_MACHINE\\NOPE\\").empty());
  EXPECT_TRUE(source.children(kSectionRegistry, u"HKEY_NOWHERE\\").empty());

  auto dirs = source.children(kSectionFiles, u"c:\\");
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[0].name, u"users");
  EXPECT_TRUE(dirs[0].hasChildren);
  EXPECT_EQ(dirs[1].name, u"temp");
  EXPECT_FALSE(dirs[1].hasChildren);  // only a dot-folder and a file below
  EXPECT_TRUE(source.children(kSectionFiles, u"q:\\").empty());

  FilterList all[kSectionCount] = {L({u"*"}), L({u"*"}), L({u"*"})};
  SelectionTree tree(&source, all);
  EXPECT_EQ(tree.item(tree.sectionItem(kSectionFiles)).children.size(), 2u);  // c: and e:
}

#ifndef _WIN32
TEST(EnvSelectionSourceTest, RealFoldersThroughThePosixSeam) {
  TempFolder dir;
  std::filesystem::create_directories(dir / "with/inner");
  std::filesystem::create_directories(dir / "without");
  std::filesystem::create_directories(dir / "dotonly/.hidden");
  std::filesystem::create_directories(dir / ".skipped");
  writeText(dir / "without/file.txt", "x");
  std::unique_ptr<Env> env = newPosixEnv("");
  ASSERT_TRUE(env);
  std::string native = dir.str();
  std::u16string path = u"z:";
  for (char c : native) path += c == '/' ? u'\\' : char16_t(c);
  EnvSelectionSource source(env.get());
  auto dirs = source.children(kSectionFiles, path);
  std::map<std::u16string, bool> got;
  for (const auto& c : dirs) got[c.name] = c.hasChildren;
  EXPECT_EQ(got, (std::map<std::u16string, bool>{{u"dotonly", false}, {u"with", true}, {u"without", false}}));
}
#endif

}  // namespace
}  // namespace keldrun
