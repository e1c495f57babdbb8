#include "base/text_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace keldrun {
namespace {

// Reads resources/texts.txt the way the generator does, so that a generated table that has gone
// stale against its source fails here.
std::map<int, std::string> readSource() {
  std::ifstream in(std::string(KELDRUN_SOURCE_DIR) + "/resources/texts.txt", std::ios::binary);
  std::map<int, std::string> entries;
  std::string line;
  int current = -1;
  std::string body;
  bool first = true;
  auto flush = [&] {
    if (current >= 0) entries[current] = body;
  };
  while (std::getline(in, line)) {
    if (line.rfind("@@#", 0) == 0) continue;
    if (line.rfind("@@@ ", 0) == 0) {
      flush();
      current = std::stoi(line.substr(4));
      body.clear();
      first = true;
      continue;
    }
    if (!first) body += '\n';
    body += line;
    first = false;
  }
  flush();
  return entries;
}

TEST(TextTable, EveryEntryMatchesItsSource) {
  std::map<int, std::string> source = readSource();
  ASSERT_GT(source.size(), 60u);
  for (int i = 0; i <= kTextLastEntry; i++) {
    auto it = source.find(i);
    std::string expected = it == source.end() ? "" : it->second;
    ASSERT_NE(text(i), nullptr) << i;
    EXPECT_EQ(std::string(text(i)), expected) << "entry " << i;
  }
}

TEST(TextTable, FixedTextsHaveTheirExactValues) {
  const std::pair<int, const char*> cases[] = {
      {6, "v1.6"}, {7, "$ver$"}, {11, "-uninstall"}, {12, "Uninstall complete"},
      {13, "Uninstall incomplete. Some items cannot be removed."}, {23, "res://%s/img/%d"},
      {24, "Keldrun.ini"}, {25, "Keldrun.cfg"},
      {31, "Invalid name"}, {32, "Stop"},
      {33, "Elapsed %s\n %d reg keys, %d values\n %d folders, %d files\n %d applications"},
      {34, "Snapshot done in %s\n%d reg keys, %d values\n%d folders, %d files\n%d applications"},
      {37, "DONE"}, {38, "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit"},
      {39, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}, {40, "SysTreeView32"},
      {41, "Registry Editor"}, {42, "regedit.exe"}, {43, "logo.gif"}, {44, "ico.gif"},
      {53, "Corvellan Software Keldrun"}, {55, " - "}, {61, "Snapshots"},
      {62, "Enter text"}, {63, "Searching ..."}, {64, "Not found"}, {65, "Select include options"},
      {66, "Found %d in %.02lf sec."}, {67, "Registry"}, {68, "Files"}, {70, "Applications"},
      {72, "About..."}, {77, "snap%03d.snp"}, {78, "Snapshot #%d"}, {84, ""},
      {88, "a1"}, {89, "d"}, {90, "e"}, {91, "f"}, {92, "g"}, {93, "h"}, {94, "i"}, {95, "j"},
      {96, "k"}, {101, "p"}, {102, "q"}, {106, "te1"}, {110, "te5"}, {115, "te10"}, {116, "te11"},
      {117, "teh1"}, {121, "teh5"},
      {124, "Setup will install Keldrun into the following folder:\n\n\n %s"},
  };
  for (const auto& [index, expected] : cases) {
    const char* t = text(index);
    ASSERT_NE(t, nullptr) << index;
    EXPECT_STREQ(t, expected) << "entry " << index;
  }
}

TEST(TextTable, IndexPageTemplateLines) {
  const char* expected =
      "<html>\n<style>\nbody{margin:0;overflow:auto;}\ntd,body{font-size:12px;font-family:arial;}\n"
      "a{color:navy;padding:3px;}\na:hover{background-color:navy;color:white;}\n"
      ".c{background-color:#444;color:white;font-weight:bold;}\n</style>\n<body>\n"
      "<table width='100%' height='100%' cellpadding=0 cellspacing=0>\n"
      "<tr><td style='height:20px;padding:3px;'>\nGo to page: \n$links$\n"
      "<tr><td style='border-top:1px solid #ccc;'>\n"
      "<iframe id=f style='width:100%;height:100%;' src='$pg$_000.htm' border=0 frameborder=0>"
      "</iframe>\n</table>\n<script>\nvar l=0;\n"
      "function go(x,e){document.getElementById('f').src='$pg$_'+x+'.htm';\n"
      "\tif(!l)l=document.getElementById('a0');\n"
      "\tif(l)l.className='';l=e;e.className='c';return false;}\n</script>\n</body></html>";
  EXPECT_STREQ(text(kTextIndexTemplate), expected);
}

TEST(TextTable, ViewerTemplateLines) {
  const char* expected =
      "<html>\n<style>\nbody{margin:3px;overflow:auto;}\ntd,body{font-size:12px;font-family:arial;}\n"
      "a{color:navy;padding:3px;}\na:hover{background-color:navy;color:white;}\n"
      ".c{background-color:#444;color:white;font-weight:bold;}\n</style>\n<body>\n\n"
      "<div style='padding:3px;border-bottom:1px solid #ccc;'>Go to page: $links$</div>\n"
      "$content$\n"
      "<div style='padding:3px;border-top:1px solid #ccc;'>Go to page: $links$</div>\n"
      "</body></html>";
  EXPECT_STREQ(text(kTextViewerTemplate), expected);
}

TEST(TextTable, HelpPagesCarryTheirPlaceholders) {
  std::string about = text(kTextAboutPage);
  EXPECT_NE(about.find("$ver$"), std::string::npos);
  EXPECT_NE(about.find("ico.gif"), std::string::npos);
  EXPECT_NE(about.find("logo.gif"), std::string::npos);
  for (int page : {kTextAgreementPage, kTextAboutPage, kTextHowToPage}) {
    std::string html = text(page);
    EXPECT_EQ(html.rfind("<html>", 0), 0u) << page;
    EXPECT_NE(html.find("oncontextmenu"), std::string::npos) << page;
    EXPECT_NE(html.find("onselectstart"), std::string::npos) << page;
    EXPECT_EQ(html.find('\r'), std::string::npos) << page;
  }
}

TEST(TextTable, RejectsIndexesOutOfRangeAndKeepsPointersStable) {
  EXPECT_EQ(text(-1), nullptr);
  EXPECT_EQ(text(kTextLastEntry + 1), nullptr);
  EXPECT_EQ(text(129), nullptr);
  EXPECT_EQ(text(1 << 30), nullptr);
  const char* first = text(kTextUninstallArg);
  EXPECT_EQ(text(kTextUninstallArg), first);
  // Unused entries are empty texts, never null; so are the entries that no code uses any more
  // (file modes, search patterns, the data folder, the settings record formats), whose numbers
  // stay free.
  for (int unused : {3, 26, 28, 29, 59, 60, 73, 76, 79, 80, 81, kTextLastEntry - 1}) {
    ASSERT_NE(text(unused), nullptr) << unused;
    EXPECT_STREQ(text(unused), "") << unused;
  }
}

// The enumerators of text_table.h with their entry numbers, as written there.
std::map<std::string, int> readEntryNames() {
  std::ifstream in(std::string(KELDRUN_SOURCE_DIR) + "/base/text_table.h");
  std::map<std::string, int> names;
  std::string line;
  while (std::getline(in, line)) {
    size_t at = line.find("kText");
    size_t eq = line.find(" = ");
    if (at == std::string::npos || eq == std::string::npos || line.find_first_not_of(' ') != at) continue;
    names[line.substr(at, eq - at)] = std::stoi(line.substr(eq + 3));
  }
  return names;
}

// Every line of the program's own sources with its // comments removed (outside literals), so
// that a name mentioned only in a comment does not count as a use.
std::string programSourcesWithoutComments() {
  namespace fs = std::filesystem;
  const char* const kFolders[] = {"base",  "platform", "engine", "workspace", "toolkit", "views",
                                  "reports", "shell",  "setup",  "cli"};
  std::string all;
  for (const char* folder : kFolders) {
    for (const auto& e : fs::recursive_directory_iterator(fs::path(KELDRUN_SOURCE_DIR) / folder)) {
      std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      if (e.path().filename() == "text_table.h") continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::string line;
      while (std::getline(in, line)) {
        char quote = 0;
        size_t end = line.size();
        for (size_t i = 0; i < line.size(); i++) {
          char c = line[i];
          if (quote) {
            if (c == '\\') i++;
            else if (c == quote) quote = 0;
          } else if (c == '"' || c == '\'') {
            quote = c;
          } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
            end = i;
            break;
          }
        }
        all.append(line, 0, end);
        all += '\n';
      }
    }
  }
  return all;
}

bool usesName(const std::string& sources, const std::string& name) {
  auto identifier = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = sources.find(name); at != std::string::npos; at = sources.find(name, at + 1)) {
    bool before = at > 0 && identifier(sources[at - 1]);
    bool after = at + name.size() < sources.size() && identifier(sources[at + name.size()]);
    if (!before && !after) return true;
  }
  return false;
}

TEST(TextTable, EveryNamedEntryIsUsedAndEveryTextIsNamed) {
  std::map<std::string, int> names = readEntryNames();
  ASSERT_GT(names.size(), 40u);
  ASSERT_EQ(names.count("kTextLastEntry"), 1u);
  EXPECT_EQ(names["kTextLastEntry"], kTextLastEntry);
  EXPECT_EQ(names["kTextSnapshotNameFormat"], kTextSnapshotNameFormat);

  std::string sources = programSourcesWithoutComments();
  for (const auto& [name, number] : names)
    EXPECT_TRUE(usesName(sources, name)) << name << " (entry " << number << ") is used by no code";

  // Runs of setting keys are reached from their first entry by adding to it.
  const std::pair<int, int> runs[] = {{kTextKeyFullScan, 9}, {kTextKeyReport1, 11}, {kTextKeyReportText1, 5}};
  std::set<int> named;
  for (const auto& entry : names) named.insert(entry.second);
  for (const auto& [first, count] : runs)
    for (int i = 0; i < count; i++) named.insert(first + i);
  for (const auto& entry : readSource())
    EXPECT_EQ(named.count(entry.first), 1u) << "entry " << entry.first << " has a text but no name";
}

}  // namespace
}  // namespace keldrun
