// Search over real snapshot files.
#include "views/search.h"

#include <gtest/gtest.h>

#include "engine/value_entry.h"
#include "tests/report_support.h"

namespace keldrun {
namespace {

using namespace report_testing;

std::vector<std::string> rows(const SearchResult& r) {
  std::vector<std::string> out;
  for (const SearchRow& row : r.rows) out.push_back(toUtf8(row.path + u"|" + row.name + u"|" + row.data));
  return out;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SnapSpec s;
    s.registry = MemoryRegistry::create();
    s.registry->setValue(kHiveLocalMachine, u"Software\\Acme", u"Path", kRegSz, utf16(u"C:\\Acme\\bin"));
    s.registry->setValue(kHiveLocalMachine, u"Software\\Acme", u"", kRegSz, utf16(u"acme default"));
    s.registry->setValue(kHiveLocalMachine, u"Software\\Acme", u"Count", kRegDword, {42, 0, 0, 0});
    s.registry->setValue(kHiveLocalMachine, u"Software\\Acme", u"Blob", kRegBinary, {'a', 'c', 'm', 'e'});
    s.registry->setValue(kHiveLocalMachine, u"Software\\Other", u"AcmeName", kRegSz, utf16(u"nothing"));
    DirSpec c{u"c:\\", {}, {}};
    DirSpec docs{u"Docs", {{u"ReadMeToo", {}, {{u"x.txt", 1, 1}}}}, {{u"README.TXT", 1, 1}, {u"ReadMe.md", 1, 1}, {u"notes", 1, 1}}};
    c.dirs.push_back(docs);
    c.files.push_back({u"readme", 1, 1});
    s.drives.push_back(c);
    ASSERT_TRUE(writeSnapshot(dir_ / "s.snp", s));
    ASSERT_TRUE(context_.openFiles(dir_ / "s.snp", "", kModeView, true));
  }
  TempFolder dir_;
  ComparisonContext context_;
};

TEST_F(SearchTest, FileNamesWithAndWithoutCase) {
  SearchOptions o;
  o.paths = false;
  SearchResult r = searchFiles(&context_, u"readme", o);
  EXPECT_EQ(rows(r), (std::vector<std::string>{"c:\\|readme|", "c:\\Docs|ReadMe.md|", "c:\\Docs|README.TXT|"}));
  EXPECT_EQ(r.status.find("Found 3 in "), 0u);
  EXPECT_EQ(r.status.substr(r.status.size() - 5), " sec.");
  o.matchCase = true;
  EXPECT_EQ(rows(searchFiles(&context_, u"readme", o)), (std::vector<std::string>{"c:\\|readme|"}));
  EXPECT_EQ(searchFiles(&context_, u"README.md", o).status, "Not found");
}

// Searching a comparison leaves out what its noise list hides, unless noise is shown; viewing
// one snapshot hides nothing.
TEST_F(SearchTest, NoiseOfAComparisonIsNotFound) {
  auto noise = std::make_shared<NoiseMatcher>(std::vector<std::u16string>{u"c:\\docs\\readmetoo", u"C:\\Docs\\*.MD"});
  SearchOptions o;
  o.paths = true;
  ComparisonContext compared;
  ASSERT_TRUE(compared.openFiles(dir_ / "s.snp", dir_ / "s.snp", kModeCompare, true));
  compared.setNoise(noise);
  EXPECT_EQ(rows(searchFiles(&compared, u"readme", o)),
            (std::vector<std::string>{"c:\\|readme|", "c:\\Docs|README.TXT|"}));
  compared.setShowNoise(true);
  EXPECT_EQ(rows(searchFiles(&compared, u"readme", o)).size(), 4u);
  context_.setNoise(noise);
  EXPECT_EQ(rows(searchFiles(&context_, u"readme", o)).size(), 4u);
}

TEST_F(SearchTest, MatchingFolderPathsStandForTheirFiles) {
  SearchOptions o;
  o.paths = true;
  SearchResult r = searchFiles(&context_, u"docs", o);
  EXPECT_EQ(rows(r), (std::vector<std::string>{"c:\\Docs|*|", "c:\\Docs\\ReadMeToo|*|"}));
}

TEST_F(SearchTest, RegistryNamesDataAndPaths) {
  SearchOptions o;  // names and data
  EXPECT_EQ(rows(searchRegistry(&context_, u"acme", o)),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Acme|(Default)|acme default",
                                      "HKEY_LOCAL_MACHINE\\Software\\Acme|Path|C:\\Acme\\bin",
                                      "HKEY_LOCAL_MACHINE\\Software\\Other|AcmeName|nothing"}))
      << "binary data is not searched";
  o.data = false;
  EXPECT_EQ(rows(searchRegistry(&context_, u"acmename", o)),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Other|AcmeName|nothing"}));
  o.names = false;
  o.data = true;
  EXPECT_EQ(rows(searchRegistry(&context_, u"42", o)),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Acme|Count|0x0000002a (42)"}));
  SearchOptions paths;
  paths.paths = true;
  paths.names = paths.data = false;
  EXPECT_EQ(rows(searchRegistry(&context_, u"software\\acme", paths)),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Acme|*|"}));
}

TEST_F(SearchTest, StatusTexts) {
  SearchOptions o;
  EXPECT_EQ(searchRegistry(&context_, u"", o).status, "Enter text");
  SearchOptions none;
  none.paths = none.names = none.data = false;
  SearchResult r = searchRegistry(&context_, u"x", none);
  EXPECT_EQ(r.status, "Select include options");
  EXPECT_FALSE(r.searched);
  // A section the snapshot did not record.
  SnapSpec filesOnly;
  filesOnly.drives.push_back(DirSpec{u"c:\\", {}, {{u"acme", 1, 1}}});
  ASSERT_TRUE(writeSnapshot(dir_ / "f.snp", filesOnly));
  ComparisonContext c;
  ASSERT_TRUE(c.openFiles(dir_ / "f.snp", "", kModeView, true));
  EXPECT_EQ(searchRegistry(&c, u"acme", o).status, "Not found");
}

// The matches streamed to a sink are the ones the pane keeps, in the same order, although the
// sink is handed one reused row: a path match after a value match carries no data of its own,
// and a files match after a registry one none either.
TEST_F(SearchTest, StreamedMatchesAreTheKeptOnesWithNothingLeftOver) {
  SnapSpec s;
  s.registry = MemoryRegistry::create();
  s.registry->setValue(kHiveLocalMachine, u"Software\\Acme", u"Long", kRegSz, utf16(u"acme " + std::u16string(500, u'x')));
  s.registry->setValue(kHiveLocalMachine, u"Software\\Other", u"AcmeName", kRegSz, utf16(u"nothing"));
  s.registry->setValue(kHiveLocalMachine, u"Software\\Zacme", u"v", kRegSz, utf16(u"z"));
  s.drives.push_back(DirSpec{u"c:\\", {{u"acme dir", {}, {{u"a.txt", 1, 1}}}}, {{u"acme.txt", 1, 1}}});
  ASSERT_TRUE(writeSnapshot(dir_ / "z.snp", s));
  ComparisonContext c;
  ASSERT_TRUE(c.openFiles(dir_ / "z.snp", "", kModeView, true));

  class Copy : public SearchSink {
   public:
    void match(const SearchRow& row) override { result.rows.push_back(row); }
    SearchResult result;
  } copy;
  SearchOptions all;
  all.paths = true;
  SearchOptions names = all;
  names.data = false;
  for (const SearchOptions& o : {all, names}) {
    SearchResult kept = searchRegistry(&c, u"acme", o);
    SearchResult streamed = searchSection(&c, kSectionRegistry, u"acme", o, &copy);
    EXPECT_TRUE(streamed.rows.empty());
    EXPECT_EQ(streamed.count, kept.rows.size());
    EXPECT_EQ(kept.count, kept.rows.size());
    EXPECT_EQ(rows(copy.result), rows(kept));
    copy.result.rows.clear();
  }
  EXPECT_EQ(rows(searchRegistry(&c, u"acme", names)),
            (std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Acme|*|",
                                      "HKEY_LOCAL_MACHINE\\Software\\Other|AcmeName|nothing",
                                      "HKEY_LOCAL_MACHINE\\Software\\Zacme|*|"}));
  SearchResult files = searchSection(&c, kSectionFiles, u"acme", all, &copy);
  EXPECT_EQ(files.count, 2u);
  EXPECT_EQ(rows(copy.result), (std::vector<std::string>{"c:\\|acme.txt|", "c:\\acme dir|*|"}));
}

TEST(SearchMatchTest, Table) {
  struct Case {
    std::u16string candidate, text;
    bool matchCase, expected;
  } cases[] = {
      {u"README.TXT", u"readme", false, true},  {u"README.TXT", u"readme", true, false},
      {u"xReadMe", u"ReadMe", true, true},      {u"abc", u"abcd", false, false},
      {u"ab", u"", false, true},                {u"\u00c4pfel", u"\u00e4pfel", false, false},
      {u"aaab", u"aab", false, true},           {u"", u"a", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(searchMatches(c.candidate.data(), c.candidate.size(), c.text, lowerAscii(c.text), c.matchCase),
              c.expected)
        << toUtf8(c.candidate) << " / " << toUtf8(c.text);
  }
}

}  // namespace
}  // namespace keldrun
