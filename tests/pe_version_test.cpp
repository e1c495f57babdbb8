#include "platform/pe_version.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/coding.h"

namespace keldrun {
namespace {

using Bytes = std::vector<uint8_t>;

void pad4(Bytes* b) {
  while (b->size() % 4) b->push_back(0);
}

void putWide(Bytes* b, const std::u16string& s, bool terminate) {
  for (char16_t c : s) {
    b->push_back(uint8_t(c));
    b->push_back(uint8_t(c >> 8));
  }
  if (terminate) b->insert(b->end(), {0, 0});
}

// One block of a version resource, laid out as resource compilers write it: header, key, value
// and children, each aligned to 4 bytes; the length excludes the padding after the last child.
Bytes block(const std::u16string& key, uint16_t type, uint16_t valueLength, const Bytes& value,
            const std::vector<Bytes>& children = {}) {
  Bytes b(6, 0);
  putWide(&b, key, true);
  pad4(&b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& c : children) {
    pad4(&b);
    b.insert(b.end(), c.begin(), c.end());
  }
  putU16(b.data(), uint16_t(b.size()));
  putU16(b.data() + 2, valueLength);
  putU16(b.data() + 4, type);
  return b;
}

Bytes text(const std::u16string& key, const std::u16string& value) {
  Bytes v;
  putWide(&v, value, true);
  return block(key, 1, uint16_t(value.size() + 1), v);
}

Bytes translations(std::vector<std::pair<uint16_t, uint16_t>> pairs) {
  Bytes v;
  for (auto [language, codePage] : pairs) {
    appendU16(&v, language);
    appendU16(&v, codePage);
  }
  return block(u"VarFileInfo", 1, 0, {}, {block(u"Translation", 0, uint16_t(v.size()), v)});
}

Bytes versionInfo(const std::vector<Bytes>& children) {
  Bytes fixed(52, 0);
  putU32(fixed.data(), 0xFEEF04BD);
  return block(u"VS_VERSION_INFO", 0, uint16_t(fixed.size()), fixed, children);
}

Bytes standardStrings(const std::u16string& table = u"040904b0") {
  return block(u"StringFileInfo", 1, 0, {},
               {block(table, 1, 0, {},
                      {text(u"CompanyName", u"Acme Tools"), text(u"FileVersion", u"1.2.3.4"),
                       text(u"ProductVersion", u"1.2")})});
}

Bytes standardResource() { return versionInfo({standardStrings(), translations({{0x0409, 0x04b0}})}); }

// A PE image with one resource section holding version resources in the given languages (each
// with its own bytes), under resource id `id`.
struct PeOptions {
  bool pe32Plus = true;
  uint32_t id = 1;
  std::vector<std::pair<uint16_t, Bytes>> languages;
  uint32_t sizeExtra = 0;  // added to the data entry's stated size
};

Bytes buildPe(const PeOptions& o) {
  const uint32_t kRsrcRva = 0x2000, kRsrcRaw = 0x400;
  // Resource section: three directory levels, data entries, then the data.
  Bytes rsrc;
  auto dir = [&](uint16_t ids) {
    Bytes d(16, 0);
    putU16(d.data() + 14, ids);
    rsrc.insert(rsrc.end(), d.begin(), d.end());
  };
  auto entry = [&](uint32_t id, uint32_t offset) {
    appendU32(&rsrc, id);
    appendU32(&rsrc, offset);
  };
  size_t n = o.languages.size();
  dir(1);
  entry(16, 0x80000000u | 24);
  dir(1);
  entry(o.id, 0x80000000u | 48);
  dir(uint16_t(n));
  size_t dataEntries = 48 + 16 + 8 * n;
  for (size_t i = 0; i < n; i++) entry(o.languages[i].first, uint32_t(dataEntries + 16 * i));
  size_t dataAt = dataEntries + 16 * n;
  std::vector<size_t> at;
  for (size_t i = 0; i < n; i++) {
    at.push_back(dataAt);
    dataAt += (o.languages[i].second.size() + 3) & ~size_t(3);
  }
  for (size_t i = 0; i < n; i++) {
    appendU32(&rsrc, uint32_t(kRsrcRva + at[i]));
    appendU32(&rsrc, uint32_t(o.languages[i].second.size() + o.sizeExtra));
    appendU32(&rsrc, 0);
    appendU32(&rsrc, 0);
  }
  for (size_t i = 0; i < n; i++) {
    rsrc.insert(rsrc.end(), o.languages[i].second.begin(), o.languages[i].second.end());
    if (i + 1 < n) pad4(&rsrc);
  }

  Bytes pe(kRsrcRaw, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  putU32(pe.data() + 0x3C, 0x80);
  uint8_t* h = pe.data() + 0x80;
  std::memcpy(h, "PE\0\0", 4);
  uint16_t optSize = o.pe32Plus ? 240 : 224;
  putU16(h + 4, o.pe32Plus ? 0x8664 : 0x14C);
  putU16(h + 6, 1);
  putU16(h + 20, optSize);
  uint8_t* opt = h + 24;
  putU16(opt, o.pe32Plus ? 0x20B : 0x10B);
  putU32(opt + 60, kRsrcRaw);
  size_t dirs = o.pe32Plus ? 112 : 96;
  putU32(opt + dirs - 4, 16);
  putU32(opt + dirs + 16, kRsrcRva);
  putU32(opt + dirs + 20, uint32_t(rsrc.size()));
  uint8_t* sec = opt + optSize;
  std::memcpy(sec, ".rsrc", 5);
  putU32(sec + 8, uint32_t(rsrc.size()));
  putU32(sec + 12, kRsrcRva);
  putU32(sec + 16, uint32_t(rsrc.size()));
  putU32(sec + 20, kRsrcRaw);
  pe.insert(pe.end(), rsrc.begin(), rsrc.end());
  return pe;
}

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
    Bytes v;
    putWide(&v, u"9.9", true);
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
