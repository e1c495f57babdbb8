// The .reg export: files read back through the registry's .reg loader, rescanned by the real
// registry scan and compared with the snapshots they came from.
#include "reports/reg_export.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/value_entry.h"
#include "tests/report_support.h"

namespace keldrun {
namespace {

using namespace report_testing;
using testing_support::KeySpec;
using testing_support::writeRegistrySnapshot;

const std::u16string kKey = u"Software\\Vendor";
const std::u16string kKeyPath = u"HKEY_LOCAL_MACHINE\\Software\\Vendor";

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(uint8_t(b));
  return out;
}

// Values of every type, with the strings a quoted .reg string cannot carry; two subkeys with
// subkeys of their own, named `kept` and `gone`.
void fillNamed(MemoryRegistry* r, const std::u16string& kept, const std::u16string& gone) {
  auto set = [&](const std::u16string& sub, const std::u16string& name, uint32_t type,
                 const std::vector<uint8_t>& data) {
    r->setValue(kHiveLocalMachine, sub.empty() ? kKey : kKey + u"\\" + sub, name, type, data);
  };
  set(u"", u"", kRegSz, utf16(u"default A"));
  set(u"", u"none", kRegNone, bytes({1, 2}));
  set(u"", u"sz", kRegSz, utf16(u"text with \"quotes\" and \\ backslash"));
  set(u"", u"expand", kRegExpandSz, utf16(u"%SystemRoot%\\a"));
  set(u"", u"binary", kRegBinary, std::vector<uint8_t>(100, 0x5A));
  set(u"", u"dword", kRegDword, bytes({1, 2, 3, 4}));
  set(u"", u"bigendian", kRegDwordBigEndian, bytes({0, 0, 0, 9}));
  set(u"", u"multi", kRegMultiSz, utf16(std::u16string(u"one\0two\0", 8)));
  set(u"", u"resource", kRegResourceList, bytes({8, 8}));
  set(u"", u"full", kRegFullResourceDescriptor, bytes({9}));
  set(u"", u"requirements", kRegResourceRequirementsList, bytes({10, 10, 10}));
  set(u"", u"qword", kRegQword, bytes({1, 0, 0, 0, 0, 0, 0, 0x80}));
  set(u"", u"linebreak", kRegSz, utf16(u"line one\r\nline two"));
  set(u"", u"embedded nul", kRegSz, utf16(std::u16string(u"a\0b", 3)));
  set(u"", u"no terminator", kRegSz, utf16(u"open", false));
  set(u"", u"wide \u0416", kRegSz, utf16(u"\u0416\u4e2d"));
  set(u"", u"name \"q\" \\ b", kRegDword, bytes({5, 0, 0, 0}));
  set(u"", u"to delete", kRegSz, utf16(u"bye"));
  set(kept, u"k", kRegDword, bytes({1, 0, 0, 0}));
  set(kept + u"\\Deep", u"d", kRegSz, utf16(u"deep"));
  set(gone, u"g", kRegSz, utf16(u"gone"));
  set(gone + u"\\Child", u"c", kRegBinary, bytes({1}));
}

void fillA(MemoryRegistry* r) { fillNamed(r, u"Kept", u"Gone"); }

// A with changes in every value type, the default value, added and deleted keys and values.
void fillB(MemoryRegistry* r) {
  fillA(r);
  auto set = [&](const std::u16string& sub, const std::u16string& name, uint32_t type,
                 const std::vector<uint8_t>& data) {
    r->setValue(kHiveLocalMachine, sub.empty() ? kKey : kKey + u"\\" + sub, name, type, data);
  };
  set(u"", u"", kRegSz, utf16(u"default B"));
  set(u"", u"none", kRegNone, bytes({3}));
  set(u"", u"sz", kRegSz, utf16(u"changed"));
  set(u"", u"expand", kRegExpandSz, utf16(u"%TEMP%"));
  set(u"", u"binary", kRegBinary, bytes({}));
  set(u"", u"dword", kRegDword, bytes({4, 3, 2, 1}));
  set(u"", u"bigendian", kRegDwordBigEndian, bytes({1, 0, 0, 0}));
  set(u"", u"multi", kRegMultiSz, utf16(std::u16string(u"three\0", 6)));
  set(u"", u"resource", kRegResourceList, bytes({}));
  set(u"", u"full", kRegFullResourceDescriptor, bytes({9, 9}));
  set(u"", u"requirements", kRegResourceRequirementsList, bytes({11}));
  set(u"", u"qword", kRegQword, bytes({2, 0, 0, 0, 0, 0, 0, 0}));
  set(u"", u"linebreak", kRegSz, utf16(u"new\nbreak"));
  set(u"", u"embedded nul", kRegSz, utf16(std::u16string(u"\0\0x", 3)));
  set(u"", u"type change", kRegDword, bytes({7, 0, 0, 0}));
  set(u"", u"added", kRegMultiSz, utf16(std::u16string(u"x\0", 2)));
  r->deleteValue(kHiveLocalMachine, kKey, u"to delete");
  r->deleteValue(kHiveLocalMachine, kKey, u"name \"q\" \\ b");
  r->deleteKey(kHiveLocalMachine, kKey + u"\\Gone");
  set(u"Kept\\Deep", u"d", kRegSz, utf16(u"deeper"));
  set(u"New", u"n", kRegSz, utf16(u"new"));
  set(u"New\\Below", u"b", kRegQword, bytes({1, 2, 3, 4, 5, 6, 7, 8}));
  r->createKey(kHiveLocalMachine, kKey + u"\\New\\Empty");
}

class RegExportTest : public ::testing::Test {
 protected:
  std::shared_ptr<MemoryRegistry> make(void (*fill)(MemoryRegistry*)) {
    auto r = MemoryRegistry::create();
    fill(r.get());
    return r;
  }
  std::string snap(const std::string& name, std::shared_ptr<MemoryRegistry> r) {
    SnapSpec spec;
    spec.name = name;
    spec.registry = std::move(r);
    std::string path = dir_ / (name + ".snp");
    EXPECT_TRUE(writeSnapshot(path, spec));
    return path;
  }
  // The key's digests in two snapshot files agree: nothing below it differs.
  void expectSameKey(const std::string& x, const std::string& y) {
    ComparisonContext c;
    ASSERT_TRUE(c.openFiles(x, y, kModeCompare, false));
    LocatedKey k;
    ASSERT_TRUE(locateRegistryKey(&c, kKeyPath, &k));
    ASSERT_TRUE(k.inA && k.inB);
    EXPECT_EQ(k.a.contentHash, k.b.contentHash) << "values of the key differ";
    EXPECT_EQ(k.a.childHash, k.b.childHash) << "subkeys differ";
  }
  std::string exportFrom(const std::string& a, const std::string& b, int mode, const char* out) {
    ComparisonContext c;
    EXPECT_TRUE(c.openFiles(a, b, b.empty() ? kModeView : kModeCompare, true));
    std::string message;
    EXPECT_TRUE(exportKey(&c, mode, u"hkey_local_machine\\software\\vendor", dir_ / out, &message))
        << message;
    return dir_ / out;
  }
  TempFolder dir_;
};

TEST_F(RegExportTest, ContentExportRoundTripsThroughLoaderAndScan) {
  std::string a = snap("a", make(fillA));
  std::string reg = exportFrom(a, "", kRegExportContent, "content.reg");
  auto loaded = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(loaded->applyRegFile(reg, &error)) << error;
  expectSameKey(a, snap("reloaded", loaded));

  std::string text = readUtf16(reg);
  EXPECT_EQ(text.find("Windows Registry Editor Version 5.00\r\n; Generated by Keldrun\r\n; Content of a\r\n"
                      "; HKEY_LOCAL_MACHINE\\Software\\Vendor\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"),
            0u);
  // Strings a quoted form cannot carry are written as hex(1).
  EXPECT_NE(text.find("\"linebreak\"=hex(1):"), std::string::npos);
  EXPECT_NE(text.find("\"embedded nul\"=hex(1):"), std::string::npos);
  EXPECT_NE(text.find("\"no terminator\"=hex(1):"), std::string::npos);
  EXPECT_EQ(text.find("line two"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Gone\\Child]\r\n"), std::string::npos);
}

TEST_F(RegExportTest, ChangeTurnsAIntoBAndRestoreTurnsBIntoA) {
  std::string a = snap("a", make(fillA));
  std::string b = snap("b", make(fillB));
  std::string change = exportFrom(a, b, kRegExportChange, "change.reg");
  std::string restore = exportFrom(a, b, kRegExportRestore, "restore.reg");
  std::string error;

  auto fromA = make(fillA);
  ASSERT_TRUE(fromA->applyRegFile(change, &error)) << error;
  expectSameKey(snap("a_changed", fromA), b);

  auto fromB = make(fillB);
  ASSERT_TRUE(fromB->applyRegFile(restore, &error)) << error;
  expectSameKey(snap("b_restored", fromB), a);

  std::string c = readUtf16(change);
  EXPECT_NE(c.find("; CHANGE from a to b\r\n"), std::string::npos);
  EXPECT_NE(c.find("[-HKEY_LOCAL_MACHINE\\Software\\Vendor\\Gone]\r\n\r\n"), std::string::npos);
  EXPECT_EQ(c.find("Gone\\Child"), std::string::npos) << "nothing below a deleted key";
  EXPECT_NE(c.find("\"to delete\"=-\r\n"), std::string::npos);
  EXPECT_EQ(c.find("\"sz\"=\"text"), std::string::npos) << "CHANGE writes B's data only";
  EXPECT_EQ(c.find("[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Kept]"), std::string::npos)
      << "a key whose only change lies below it has no block";
  EXPECT_NE(c.find("[HKEY_LOCAL_MACHINE\\Software\\Vendor\\New\\Empty]\r\n\r\n"), std::string::npos);
  std::string r = readUtf16(restore);
  EXPECT_NE(r.find("; RESTORE from b to a\r\n"), std::string::npos);
  EXPECT_NE(r.find("[-HKEY_LOCAL_MACHINE\\Software\\Vendor\\New]\r\n\r\n"), std::string::npos);
  EXPECT_NE(r.find("\"added\"=-\r\n"), std::string::npos);
  EXPECT_NE(c.find("\"name \\\"q\\\" \\\\ b\"=-\r\n"), std::string::npos);
  EXPECT_NE(r.find("\"name \\\"q\\\" \\\\ b\"=dword:00000005\r\n"), std::string::npos);
}

// A script neither sets, deletes nor restores what the noise list hides, and applies cleanly.
TEST_F(RegExportTest, ChangeAndRestoreLeaveNoiseAlone) {
  std::string a = snap("a", make(fillA));
  std::string b = snap("b", make(fillB));
  auto noise = std::make_shared<NoiseMatcher>(std::vector<std::u16string>{
      kKeyPath + u"\\sz", kKeyPath + u"\\to delete", kKeyPath + u"\\New", kKeyPath + u"\\Gone"});
  for (int mode : {kRegExportChange, kRegExportRestore}) {
    ComparisonContext c;
    ASSERT_TRUE(c.openFiles(a, b, kModeCompare, true));
    c.setNoise(noise);
    std::string message;
    ASSERT_TRUE(exportKey(&c, mode, kKeyPath, dir_ / "noise.reg", &message)) << message;
    std::string text = readUtf16(dir_ / "noise.reg");
    for (const char* hidden : {"\"sz\"", "\"to delete\"", "Vendor\\New", "Vendor\\Gone"})
      EXPECT_EQ(text.find(hidden), std::string::npos) << mode << ": " << hidden << "\n" << text;
    EXPECT_NE(text.find("\"dword\"=dword:"), std::string::npos) << text;
    EXPECT_EQ(c.hiddenCount(kSectionRegistry), 4u) << mode;
    auto target = make(mode == kRegExportChange ? fillA : fillB);
    std::string error;
    EXPECT_TRUE(target->applyRegFile(dir_ / "noise.reg", &error)) << error;
  }
}

TEST_F(RegExportTest, CommentLinesNameSnapshotsInAnyScript) {
  const std::string latin1 = "Apr\xC3\xA8s", cyrillic = "\xD0\xA1\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA",
                    emoji = "\xE5\xBF\xAB \xF0\x9F\x98\x80";
  std::string a = snap(latin1, make(fillA));
  std::string b = snap(cyrillic, make(fillB));
  std::string c = snap(emoji, make(fillB));
  EXPECT_NE(readUtf16(exportFrom(a, "", kRegExportContent, "n1.reg")).find("; Content of " + latin1 + "\r\n"),
            std::string::npos);
  EXPECT_NE(readUtf16(exportFrom(a, b, kRegExportChange, "n2.reg")).find("; CHANGE from " + latin1 + " to " + cyrillic + "\r\n"),
            std::string::npos);
  EXPECT_NE(readUtf16(exportFrom(a, c, kRegExportRestore, "n3.reg")).find("; RESTORE from " + emoji + " to " + latin1 + "\r\n"),
            std::string::npos);
}

TEST_F(RegExportTest, DeletedDefaultValueAndUnchangedKey) {
  auto ra = make(fillA);
  auto rb = make(fillA);
  rb->deleteValue(kHiveLocalMachine, kKey, u"");
  std::string a = snap("a", ra), b = snap("b", rb);
  std::string c = readUtf16(exportFrom(a, b, kRegExportChange, "c.reg"));
  EXPECT_NE(c.find("[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n@=-\r\n\r\n"), std::string::npos);

  std::string same = readUtf16(exportFrom(a, a, kRegExportChange, "same.reg"));
  EXPECT_EQ(same, "Windows Registry Editor Version 5.00\r\n; Generated by Keldrun\r\n; CHANGE from a to a\r\n"
                  "; HKEY_LOCAL_MACHINE\\Software\\Vendor\r\n\r\n");
}

// A subkey renamed with nothing else changed, in the same place among its siblings and in
// another: CHANGE and RESTORE undo each other for every pair of snapshots written with and
// without names in the digests.
TEST_F(RegExportTest, RenamedKeyIsChangedAndRestoredWhateverTheDigestsCover) {
  const struct {
    const char16_t *kept, *gone, *from, *to;
  } renames[] = {{u"Kepx", u"Gone", u"Kept", u"Kepx"}, {u"Kept", u"Zone", u"Gone", u"Zone"}};
  for (const auto& rename : renames) {
    for (int pair = 0; pair < 4; pair++) {
      bool oldA = pair & 1, oldB = pair & 2;
      SCOPED_TRACE(toUtf8(rename.to) + (oldA ? " old" : " new") + (oldB ? "/old" : "/new"));
      auto ra = make(fillA);
      auto rb = MemoryRegistry::create();
      fillNamed(rb.get(), rename.kept, rename.gone);
      SnapSpec sa, sb;
      sa.name = "a";
      sa.registry = ra;
      sa.oldDigests = oldA;
      sb.name = "b";
      sb.registry = rb;
      sb.oldDigests = oldB;
      std::string a = dir_ / "a.snp", b = dir_ / "b.snp";
      ASSERT_TRUE(writeSnapshot(a, sa));
      ASSERT_TRUE(writeSnapshot(b, sb));
      std::string change = exportFrom(a, b, kRegExportChange, "change.reg");
      std::string restore = exportFrom(a, b, kRegExportRestore, "restore.reg");
      std::string c = readUtf16(change), r = readUtf16(restore);
      std::string from = "HKEY_LOCAL_MACHINE\\Software\\Vendor\\" + toUtf8(rename.from);
      std::string to = "HKEY_LOCAL_MACHINE\\Software\\Vendor\\" + toUtf8(rename.to);
      EXPECT_NE(c.find("[-" + from + "]\r\n"), std::string::npos) << c;
      EXPECT_NE(c.find("[" + to + "]\r\n"), std::string::npos) << c;
      EXPECT_NE(r.find("[-" + to + "]\r\n"), std::string::npos) << r;
      EXPECT_NE(r.find("[" + from + "]\r\n"), std::string::npos) << r;

      std::string error;
      auto fromA = make(fillA);
      ASSERT_TRUE(fromA->applyRegFile(change, &error)) << error;
      expectSameKey(snap("a_changed", fromA), snap("b_new", rb));
      ASSERT_TRUE(rb->applyRegFile(restore, &error)) << error;
      expectSameKey(snap("b_restored", rb), snap("a_new", ra));
    }
  }
}

TEST_F(RegExportTest, SnapshotNameCannotAddLinesToTheFile) {
#ifdef _WIN32
  GTEST_SKIP() << "line breaks cannot stand in a Windows file name";
#endif
  std::string a = snap("x\r\n[HKEY_LOCAL_MACHINE\\Software\\Injected]\r\n\"v\"=\"1\"", make(fillA));
  // The file name holds the line breaks too; write it under a plain name.
  std::string reg = exportFrom(a, "", kRegExportContent, "c.reg");
  auto loaded = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(loaded->applyRegFile(reg, &error)) << error;
  std::unique_ptr<RegistryKey> hklm = loaded->openHive(kHiveLocalMachine);
  ASSERT_TRUE(hklm);
  EXPECT_FALSE(hklm->openSubKey(u"Software\\Injected"));
  EXPECT_TRUE(hklm->openSubKey(u"Software\\Vendor"));
}

// Hostile names: what a compromised machine may leave in its registry, or a forged snapshot in
// its tables. A name the .reg syntax cannot carry would put lines of its own into the script.
std::vector<KeySpec> victimTree() {
  KeySpec microsoft{u"Microsoft", {}, {{u"keep", kRegDword, {1, 0, 0, 0}}}};
  KeySpec vendor{u"Vendor", {}, {{u"v", kRegDword, {2, 0, 0, 0}}}};
  return {KeySpec{u"HKEY_CURRENT_USER", {KeySpec{u"Software", {microsoft, vendor}, {}}}, {}}};
}

std::vector<KeySpec> hostileTree() {
  std::vector<KeySpec> roots = victimTree();
  KeySpec& software = roots[0].keys[0];
  KeySpec& vendor = software.keys[1];
  vendor.keys.push_back({u"x]\r\n[-HKEY_CURRENT_USER]\r\n;", {}, {{u"a", kRegDword, {3, 0, 0, 0}}}});
  vendor.keys.push_back({u"y]\n[-HKEY_CURRENT_USER]\n;", {}, {}});
  vendor.keys.push_back({u"z]\u2028[-HKEY_CURRENT_USER]", {}, {}});
  vendor.values.push_back({u"w\r\n[-HKEY_CURRENT_USER]\r\n\"n\"", kRegDword, {4, 0, 0, 0}});
  vendor.values.push_back({std::u16string(u"w\0x", 3), kRegDword, {4, 0, 0, 0}});
  vendor.keys.push_back({u"Fine", {}, {{u"f", kRegSz, utf16(u"fine")}}});
  software.keys.push_back({u"Microsoft\\Windows", {}, {}});  // no registry key holds a '\'
  software.keys.push_back({u"", {}, {}});
  return roots;
}

TEST_F(RegExportTest, NamesTheSyntaxCannotCarryAreLeftOutAndNamed) {
  std::string a = dir_ / "a.snp", b = dir_ / "b.snp";
  ASSERT_TRUE(writeRegistrySnapshot(a, victimTree(), "a"));
  ASSERT_TRUE(writeRegistrySnapshot(b, hostileTree(), "b"));
  const std::u16string vendor = u"HKEY_CURRENT_USER\\Software\\Vendor";
  const std::vector<std::u16string> keysLeftOut = {  // sorted
      u"[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows]",
      u"[" + vendor + u"\\x]\r\n[-HKEY_CURRENT_USER]\r\n;]",
      u"[" + vendor + u"\\y]\n[-HKEY_CURRENT_USER]\n;]",
      u"[" + vendor + u"\\z]\u2028[-HKEY_CURRENT_USER]]",
      u"[HKEY_CURRENT_USER\\Software\\]",
  };
  const std::set<std::string> keyLines = {
      "[HKEY_CURRENT_USER]", "[HKEY_CURRENT_USER\\Software]", "[HKEY_CURRENT_USER\\Software\\Microsoft]",
      "[HKEY_CURRENT_USER\\Software\\Vendor]", "[HKEY_CURRENT_USER\\Software\\Vendor\\Fine]",
      "[-HKEY_CURRENT_USER\\Software\\Vendor\\Fine]"};
  const std::set<std::string> valueNames = {"\"keep\"", "\"v\"", "\"f\""};
  for (auto [mode, file] : {std::pair{kRegExportContent, "content.reg"}, std::pair{kRegExportChange, "change.reg"},
                            std::pair{kRegExportRestore, "restore.reg"}}) {
    SCOPED_TRACE(file);
    ComparisonContext context;
    bool compare = mode != kRegExportContent;
    ASSERT_TRUE(context.openFiles(compare ? a : b, compare ? b : "", compare ? kModeCompare : kModeView, true));
    std::string message;
    std::vector<std::u16string> leftOut;
    ASSERT_TRUE(exportKey(&context, mode, u"HKEY_CURRENT_USER", dir_ / file, &message, &leftOut))
        << message;
    std::vector<std::u16string> keys, values;
    for (const std::u16string& name : leftOut) (name.back() == u']' ? keys : values).push_back(name);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, keysLeftOut);
    EXPECT_EQ(values.size(), 2u);

    // Every line that opens a key or a value names one the snapshots hold.
    std::string text = readUtf16(dir_ / file);
    for (size_t at = 0; at < text.size();) {
      size_t end = std::min(text.find_first_of("\r\n", at), text.size());
      std::string line = text.substr(at, end - at);
      at = end + 1;
      if (line.empty()) continue;
      if (line[0] == '[') {
        EXPECT_EQ(keyLines.count(line), 1u) << line;
      } else if (line[0] == '"') {
        EXPECT_EQ(valueNames.count(line.substr(0, line.find('='))), 1u) << line;
      }
    }

    // Imported by a registry editor, the script harms nothing it does not name.
    auto victim = MemoryRegistry::create();
    victim->setValue(kHiveCurrentUser, u"Software\\Microsoft", u"keep", kRegDword, {1, 0, 0, 0});
    std::string error;
    ASSERT_TRUE(victim->applyRegFile(dir_ / file, &error)) << error;
    std::unique_ptr<RegistryKey> hkcu = victim->openHive(kHiveCurrentUser);
    ASSERT_TRUE(hkcu);
    EXPECT_TRUE(hkcu->openSubKey(u"Software\\Microsoft"));
    EXPECT_EQ(bool(hkcu->openSubKey(u"Software\\Vendor\\Fine")), mode != kRegExportRestore);
  }
}

// "[-HKEY_CURRENT_USER]" deletes the hive's keys: a hostile file's root named so stays out.
TEST_F(RegExportTest, RootNamedLikeADeletionIsLeftOut) {
  std::string file = dir_ / "dash.snp", reg = dir_ / "dash.reg";
  KeySpec root{u"-HKEY_CURRENT_USER", {{u"Software", {}, {}}}, {{u"v", kRegDword, {1, 0, 0, 0}}}};
  ASSERT_TRUE(writeRegistrySnapshot(file, {root}, "dash"));
  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(file, "", kModeView, true));
  std::string message;
  std::vector<std::u16string> leftOut;
  ASSERT_TRUE(exportKey(&context, kRegExportContent, u"-HKEY_CURRENT_USER", reg, &message, &leftOut))
      << message;
  EXPECT_EQ(leftOut, std::vector<std::u16string>{u"[-HKEY_CURRENT_USER]"});
  std::string text = readUtf16(reg);
  EXPECT_EQ(text.find('['), std::string::npos) << text;
}

TEST_F(RegExportTest, FailuresAreNotReportedAsExported) {
  std::string a = snap("a", make(fillA));
  ComparisonContext c;
  ASSERT_TRUE(c.openFiles(a, "", kModeView, true));
  std::string message;
  EXPECT_FALSE(exportKey(&c, kRegExportContent, kKeyPath, dir_ / "no/such/x.reg", &message));
  EXPECT_EQ(message, "Cannot create file [" + dir_ / "no/such/x.reg" + "]");
  EXPECT_FALSE(exportKey(&c, kRegExportContent, u"HKEY_LOCAL_MACHINE\\Software\\Nothing", dir_ / "y.reg",
                         &message));
  EXPECT_FALSE(exportKey(&c, kRegExportChange, kKeyPath, dir_ / "z.reg", &message))
      << "a script needs two snapshots";
  EXPECT_TRUE(exportKey(&c, kRegExportContent, kKeyPath, dir_ / "ok.reg", &message)) << message;
}

// An export that met unreadable tables is not called done. The values of Kept\Deep, which
// differ between A and B, are cut short in the damaged copies: every mode that reads them ends
// in a warning naming each damaged snapshot and its count, A first; and so does a second export
// in the same context, whose tables the first had already found damaged (as a screen showing
// the key finds them before its export).
TEST_F(RegExportTest, DamagedTablesEndInAWarningNamingTheSnapshot) {
  auto damaged = [&](const std::string& name, void (*fill)(MemoryRegistry*)) {
    std::string path = snap(name, make(fill));
    ComparisonContext c;
    EXPECT_TRUE(c.openFiles(path, "", kModeView, true));
    LocatedKey k;
    EXPECT_TRUE(locateRegistryKey(&c, kKeyPath + u"\\Kept\\Deep", &k));
    c.close();
    EXPECT_TRUE(cutTableShort(path, k.a.contentTable));
    return path;
  };
  std::string a = snap("a", make(fillA)), b = snap("b", make(fillB));
  std::string da = damaged("da", fillA), db = damaged("db", fillB);
  const std::string lineA = "Snapshot [da] is damaged: 1 table could not be read and was left out.";
  const std::string lineB = "Snapshot [db] is damaged: 1 table could not be read and was left out.";
  struct Case {
    std::string a, b;
    int mode;
    MessageKind kind;
    std::string text;
  } cases[] = {
      {da, "", kRegExportContent, MessageKind::Warning, "Export incomplete.\n" + lineA},
      {a, db, kRegExportChange, MessageKind::Warning, "Export incomplete.\n" + lineB},
      {a, db, kRegExportRestore, MessageKind::Warning, "Export incomplete.\n" + lineB},
      {da, db, kRegExportRestore, MessageKind::Warning, "Export incomplete.\n" + lineA + "\n" + lineB},
      {a, "", kRegExportContent, MessageKind::Information, "Key exported"},
      {a, b, kRegExportChange, MessageKind::Information, "Key exported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " " + c.b + " mode " + std::to_string(c.mode));
    ComparisonContext context;
    ASSERT_TRUE(context.openFiles(c.a, c.b, c.b.empty() ? kModeView : kModeCompare, true));
    for (int round = 0; round < 2; round++) {
      ExportDamage damage(&context);
      std::string message;
      std::vector<std::u16string> leftOut;
      bool done = exportKey(&context, c.mode, kKeyPath, dir_ / "x.reg", &message, &leftOut);
      ASSERT_TRUE(done) << message;
      ShellMessage shown = regExportMessage(done, message, leftOut, damage);
      EXPECT_EQ(shown.kind, c.kind) << round;
      EXPECT_EQ(shown.text, c.text) << round;
    }
    // The rest of the key is written all the same.
    EXPECT_NE(readUtf16(dir_ / "x.reg").find("\r\n[HKEY_LOCAL_MACHINE\\Software\\Vendor"), std::string::npos);
  }

  // Names a .reg file cannot carry and damage together: both said; a failure is an error.
  ComparisonContext context;
  ASSERT_TRUE(context.openFiles(da, "", kModeView, true));
  ExportDamage damage(&context);
  std::string message;
  ASSERT_TRUE(exportKey(&context, kRegExportContent, kKeyPath, dir_ / "y.reg", &message));
  ShellMessage both = regExportMessage(true, "", {u"[HKEY_LOCAL_MACHINE\\x\ny]"}, damage);
  EXPECT_EQ(both.kind, MessageKind::Warning);
  EXPECT_EQ(both.text, "Key exported without 1 keys or values that a .reg file cannot name:\n"
                       "[HKEY_LOCAL_MACHINE\\x\ny]\n" + lineA);
  ShellMessage failed = regExportMessage(false, "Cannot write file [y.reg]", {}, damage);
  EXPECT_EQ(failed.kind, MessageKind::Error);
  EXPECT_EQ(failed.text, "Cannot write file [y.reg]");
}

}  // namespace
}  // namespace keldrun
