#include "base/text_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
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
  ASSERT_GT(source.size(), 70u);
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
      {24, "Keldrun.ini"}, {25, "Keldrun.cfg"}, {26, "rt"}, {28, "rb"}, {29, "wb"},
      {31, "Invalid name"}, {32, "Stop"},
      {33, "Elapsed %s\n %d reg keys, %d values\n %d folders, %d files\n %d applications"},
      {34, "Snapshot done in %s\n%d reg keys, %d values\n%d folders, %d files\n%d applications"},
      {37, "DONE"}, {38, "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Regedit"},
      {39, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}, {40, "SysTreeView32"},
      {41, "Registry Editor"}, {42, "regedit.exe"}, {43, "logo.gif"}, {44, "ico.gif"},
      {53, "Corvellan Software Keldrun"}, {55, " - "}, {59, "*.*"}, {60, "*"}, {61, "Snapshots"},
      {62, "Enter text"}, {63, "Searching ..."}, {64, "Not found"}, {65, "Select include options"},
      {66, "Found %d in %.02lf sec."}, {67, "Registry"}, {68, "Files"}, {70, "Applications"},
      {72, "About..."}, {73, "data\\"}, {76, "%ssnap%03d.snp"}, {77, "snap%03d.snp"},
      {78, "Snapshot #%d"}, {79, "%s%c%d"}, {80, "%s%c%s"}, {81, "%d"}, {84, ""},
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
  // Unused entries are empty texts, never null.
  ASSERT_NE(text(3), nullptr);
  EXPECT_STREQ(text(3), "");
  EXPECT_STREQ(text(kTextLastEntry - 1), "");
}

}  // namespace
}  // namespace keldrun
