#include "platform/pe_version.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/coding.h"
#include "tests/pe_image_support.h"

namespace keldrun {
namespace {

using testing_support::Bytes;
using testing_support::block;
using testing_support::buildPe;
using testing_support::PeOptions;
using testing_support::text;
using testing_support::translations;
using testing_support::utf16;
using testing_support::versionInfo;

Bytes standardStrings(const std::u16string& table = u"040904b0") {
  return block(u"StringFileInfo", 1, 0, {},
               {block(table, 1, 0, {},
                      {text(u"CompanyName", u"Acme Tools"), text(u"FileVersion", u"1.2.3.4"),
                       text(u"ProductVersion", u"1.2")})});
}

Bytes standardResource() { return versionInfo({standardStrings(), translations({{0x0409, 0x04b0}})}); }

Bytes standardPe(bool pe32Plus = true) {
  PeOptions o;
  o.pe32Plus = pe32Plus;
  o.languages = {{0x0409, standardResource()}};
  return buildPe(o);
}

std::string utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(PeVersion, ReadsStringsOfBothImageKinds) {
  for (bool plus : {false, true}) {
    Bytes pe = standardPe(plus);
    FileVersionInfo v;
    ASSERT_TRUE(readPeVersion(pe.data(), pe.size(), &v)) << plus;
    EXPECT_EQ(utf8(v.productVersion), "1.2");
    EXPECT_EQ(utf8(v.fileVersion), "1.2.3.4");
    EXPECT_EQ(utf8(v.companyName), "Acme Tools");
  }
}

struct ResourceCase {
  const char* what;
  Bytes resource;
  bool found;
  const char* product;
  const char* company;
};

TEST(PeVersion, ResourceVariants) {
  Bytes twoTables = versionInfo(
      {block(u"StringFileInfo", 1, 0, {},
             {block(u"040904b0", 1, 0, {}, {text(u"ProductVersion", u"english")}),
              block(u"040704b0", 1, 0, {},
                    {text(u"ProductVersion", u"german"), text(u"CompanyName", u"GmbH")})}),
       translations({{0x0407, 0x04b0}, {0x0409, 0x04b0}})});
  Bytes lowerKeys = versionInfo(
      {block(u"stringfileinfo", 1, 0, {},
             {block(u"040904B0", 1, 0, {}, {text(u"productversion", u"7"),
                                              text(u"COMPANYNAME", u"Loud")})}),
       translations({{0x0409, 0x04b0}})});
  Bytes overlong;  // value length beyond the string: read up to the NUL
  {
    Bytes v = utf16(u"9.9");
    overlong = versionInfo({block(u"StringFileInfo", 1, 0, {},
                                  {block(u"040904b0", 1, 0, {},
                                         {block(u"ProductVersion", 1, 200, v)})}),
                            translations({{0x0409, 0x04b0}})});
  }
  Bytes emptyValue = versionInfo({block(u"StringFileInfo", 1, 0, {},
                                        {block(u"040904b0", 1, 0, {},
                                               {block(u"ProductVersion", 1, 0, {})})}),
                                  translations({{0x0409, 0x04b0}})});
  Bytes shortTranslation = versionInfo(
      {standardStrings(), block(u"VarFileInfo", 1, 0, {}, {block(u"Translation", 0, 2, {9, 4})})});
  std::vector<ResourceCase> cases = {
      {"standard", standardResource(), true, "1.2", "Acme Tools"},
      {"no fixed file information",
       block(u"VS_VERSION_INFO", 0, 0, {}, {standardStrings(), translations({{0x0409, 0x04b0}})}), true, "1.2",
       "Acme Tools"},
      {"first translation chooses the table", twoTables, true, "german", "GmbH"},
      {"keys compare case-insensitively", lowerKeys, true, "7", "Loud"},
      {"value length past the text", overlong, true, "9.9", ""},
      {"empty value", emptyValue, true, "", ""},
      {"translation without a table", versionInfo({standardStrings(), translations({{0x0419, 0x04e3}})}),
       true, "", ""},
      {"no translation entry", versionInfo({standardStrings()}), false, "", ""},
      {"translation shorter than one pair", shortTranslation, false, "", ""},
  };
  for (const ResourceCase& c : cases) {
    SCOPED_TRACE(c.what);
    FileVersionInfo v;
    EXPECT_EQ(parseVersionResource(c.resource.data(), c.resource.size(), &v), c.found);
    EXPECT_EQ(utf8(v.productVersion), c.product);
    EXPECT_EQ(utf8(v.companyName), c.company);
    // The same bytes inside an image give the same answer.
    PeOptions o;
    o.languages = {{0, c.resource}};
    Bytes pe = buildPe(o);
    FileVersionInfo w;
    EXPECT_EQ(readPeVersion(pe.data(), pe.size(), &w), c.found);
    EXPECT_EQ(w.productVersion, v.productVersion);
  }
}

Bytes resourceWithCompany(const std::u16string& company) {
  return versionInfo({block(u"StringFileInfo", 1, 0, {},
                            {block(u"040904b0", 1, 0, {}, {text(u"CompanyName", company)})}),
                      translations({{0x0409, 0x04b0}})});
}

TEST(PeVersion, ChoosesNeutralThenEnglishThenFirstLanguage) {
  struct Case {
    std::vector<uint16_t> languages;
    const char* expected;
  };
  std::vector<Case> cases = {
      {{0x0407, 0x0409}, "l0409"}, {{0x0407, 0x0000, 0x0409}, "l0000"}, {{0x0407, 0x040C}, "l0407"}};
  for (const Case& c : cases) {
    PeOptions o;
    for (uint16_t l : c.languages) {
      char name[8];
      std::snprintf(name, sizeof name, "l%04x", l);
      std::u16string company(name, name + std::strlen(name));
      o.languages.push_back({l, resourceWithCompany(company)});
    }
    Bytes pe = buildPe(o);
    FileVersionInfo v;
    ASSERT_TRUE(readPeVersion(pe.data(), pe.size(), &v));
    std::string got = utf8(v.companyName);
    for (char& ch : got) ch = char(std::tolower(ch));
    std::string want = c.expected;
    for (char& ch : want) ch = char(std::tolower(ch));
    EXPECT_EQ(got, want);
  }
}

TEST(PeVersion, RejectsImagesWithoutAVersionResourceOfId1) {
  PeOptions o;
  o.id = 2;
  o.languages = {{0x0409, standardResource()}};
  Bytes pe = buildPe(o);
  FileVersionInfo v;
  EXPECT_FALSE(readPeVersion(pe.data(), pe.size(), &v));
  Bytes good = standardPe();
  Bytes noMz = good;
  noMz[0] = 'X';
  EXPECT_FALSE(readPeVersion(noMz.data(), noMz.size(), &v));
  Bytes noPe = good;
  noPe[0x81] = 'X';
  EXPECT_FALSE(readPeVersion(noPe.data(), noPe.size(), &v));
  Bytes badMagic = good;
  putU16(badMagic.data() + 0x80 + 24, 0x107);
  EXPECT_FALSE(readPeVersion(badMagic.data(), badMagic.size(), &v));
}

TEST(PeVersion, StatedSizePastTheSectionFallsBackToTheBlockLength) {
  PeOptions o;
  o.languages = {{0x0409, standardResource()}};
  o.sizeExtra = 0x1000;
  Bytes pe = buildPe(o);
  FileVersionInfo v;
  ASSERT_TRUE(readPeVersion(pe.data(), pe.size(), &v));
  EXPECT_EQ(utf8(v.companyName), "Acme Tools");
}

TEST(PeVersion, EveryTruncationFailsCleanly) {
  // The version data ends the file, so every shorter prefix lacks some of it.
  Bytes pe = standardPe();
  FileVersionInfo v;
  for (size_t n = 0; n < pe.size(); n++) {
    Bytes cut(pe.begin(), pe.begin() + n);
    EXPECT_FALSE(readPeVersion(cut.data(), cut.size(), &v)) << n;
  }
  Bytes resource = standardResource();
  for (size_t n = 0; n < resource.size(); n++) {
    Bytes cut(resource.begin(), resource.begin() + n);
    if (parseVersionResource(cut.data(), cut.size(), &v)) {
      // Only a cut inside the strings can still find the translation (it comes last here, so no
      // cut can); anything found must come from inside the kept bytes.
      ADD_FAILURE() << "found at " << n;
    }
  }
}

TEST(PeVersion, ForgedFieldsNeverReadOutsideTheImage) {
  // Every 16-bit word of the image set to extreme values in turn; run under the sanitizers this
  // proves every offset and length is checked. Results must stay plausible.
  Bytes pe = standardPe();
  for (size_t at = 0; at + 2 <= pe.size(); at += 2) {
    for (uint16_t forged : {uint16_t(0), uint16_t(0xFFFF), uint16_t(0x8000), uint16_t(7)}) {
      Bytes copy = pe;
      putU16(copy.data() + at, forged);
      FileVersionInfo v;
      if (readPeVersion(copy.data(), copy.size(), &v)) {
        EXPECT_LE(v.companyName.size() + v.productVersion.size() + v.fileVersion.size(),
                  copy.size());
      }
    }
  }
}

TEST(PeVersion, FileAndMemoryReadersAgree) {
  Bytes pe = standardPe();
  std::string path = ::testing::TempDir() + "pe_version_test.exe";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(pe.data(), 1, pe.size(), f), pe.size());
  std::fclose(f);
  FileVersionInfo v;
  ASSERT_TRUE(readPeVersionFile(path, &v));
  EXPECT_EQ(utf8(v.fileVersion), "1.2.3.4");
  std::remove(path.c_str());
  EXPECT_FALSE(readPeVersionFile(path, &v));
  EXPECT_TRUE(v.companyName.empty());
}

bool holdsVersionKey(const std::string& path) {
  // The UTF-16 key every version resource begins with, found by a plain byte search.
  static const std::string kKey = [] {
    std::string k;
    for (char c : std::string("VS_VERSION_INFO")) k += std::string{c, '\0'};
    return k;
  }();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  return data.find(kKey) != std::string::npos;
}

// Wine's own Windows binaries: the reader finds a version resource in exactly those that hold
// the resource's key, and every one it finds has a file version.
TEST(PeVersion, ReadsWineBuiltinBinaries) {
  const std::string folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/";
  DIR* dir = opendir(folder.c_str());
  if (!dir) GTEST_SKIP() << "no Wine Windows binaries in " << folder;
  int read = 0, withVersion = 0;
  while (dirent* d = readdir(dir)) {
    std::string name = d->d_name;
    if (name.size() < 4) continue;
    std::string ext = name.substr(name.size() - 4);
    if (ext != ".exe" && ext != ".sys") continue;
    FileVersionInfo v;
    read++;
    bool found = readPeVersionFile(folder + name, &v);
    EXPECT_EQ(found, holdsVersionKey(folder + name)) << name;
    if (found) {
      withVersion++;
      EXPECT_FALSE(v.fileVersion.empty()) << name;
    }
  }
  closedir(dir);
  EXPECT_GT(read, 50);
  EXPECT_GT(withVersion, 10);
}

}  // namespace
}  // namespace keldrun
