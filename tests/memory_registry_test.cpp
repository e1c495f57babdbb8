// The in-memory registry: Wine hive files, registry editor files, links, and the way the five
// roots are built from the stored tree.
#include "platform/memory_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

using testing_support::utf16;
using testing_support::utf16File;

std::vector<std::u16string> subkeys(RegistryKey* key) {
  std::vector<std::u16string> out;
  std::u16string name;
  for (uint32_t i = 0; key->enumKey(i, &name); i++) out.push_back(name);
  return out;
}

std::vector<RegValue> valuesOf(RegistryKey* key) {
  std::vector<RegValue> out;
  RegValue v;
  for (uint32_t i = 0; key->enumValue(i, &v.name, &v.type, &v.data); i++) out.push_back(v);
  return out;
}

std::unique_ptr<RegistryKey> open(MemoryRegistry* reg, int hive, const std::u16string& path) {
  std::unique_ptr<RegistryKey> root = reg->openHive(hive);
  return root ? root->openSubKey(path) : nullptr;
}

// The value named `name` of the key, or a value of type 0xDEAD when there is none.
RegValue valueOf(MemoryRegistry* reg, int hive, const std::u16string& path,
                 const std::u16string& name) {
  RegValue none;
  none.type = 0xDEAD;
  std::unique_ptr<RegistryKey> key = open(reg, hive, path);
  if (!key) return none;
  for (const RegValue& v : valuesOf(key.get()))
    if (v.name == name) return v;
  return none;
}

const char kSystemHive[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Classes\\\\.txt] 1796691962\n"
    "#time=1dd86b04b2b7e4a\n"
    "@=\"txtfile\"\n"
    "\"Content Type\"=\"text/plain\"\n"
    "\n"
    "[Software\\\\Test] 1796691962\n"
    "#time=1dd86b04b2b7e4a\n"
    "#class=\"klass\"\n"
    "\"Sz\"=\"a\\\\b\\\"c\\n\\t\\x4e00\\x100z\\033\\0end\"\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
    "\"Multi\"=str(7):\"one\\0two\\0\"\n"
    "\"Dword\"=dword:0000002a\n"
    "\"Bin\"=hex:01,02,ff\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
    "  17,18,19\n"
    "\"Empty\"=hex:\n"
    "\"None\"=hex(0):\n"
    "\"Big type\"=hex(80000001):aa\n"
    "\"Name \\\"with\\\" quotes\\\\\"=\"q\"\n"
    "\"\\x4e00\\x4e01\"=\"wide name\"\n"
    "\"Unterminated\"=hex(1):61,00\n"
    "\n"
    "[Software\\\\Test\\\\Sub\\] bracket] 1796691962\n"
    "\"x\"=dword:00000001\n"
    "\n"
    "[System\\\\ControlSet001\\\\Hardware Profiles\\\\0001\\\\Software] 1796691962\n"
    "\"Profile\"=\"one\"\n"
    "\n"
    "[System\\\\ControlSet001\\\\Services\\\\Svc] 1796691962\n"
    "\"Start\"=dword:00000002\n"
    "\n"
    "\n";

// A link key in hive syntax: "#link" and the target as a hex(6) value, broken as Wine does.
std::string linkKey(const std::string& path, const std::u16string& target) {
  std::string out = "[" + path + "] 1796691962\n#link\n\"SymbolicLinkValue\"=hex(6):";
  size_t count = out.size() - out.rfind('\n') - 1;
  std::vector<uint8_t> bytes = utf16(target, false);
  for (size_t i = 0; i < bytes.size(); i++) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    out += hex;
    count += 2;
    if (i + 1 < bytes.size()) {
      out += ",";
      if (++count > 76) {
        out += "\\\n  ";
        count = 2;
      }
    }
  }
  return out + "\n\n";
}

std::string systemHive() {
  return kSystemHive +
         linkKey("System\\\\ControlSet001\\\\Hardware Profiles\\\\Current",
                 u"\\Registry\\Machine\\System\\ControlSet001\\Hardware Profiles\\0001") +
         linkKey("System\\\\CurrentControlSet", u"\\REGISTRY\\MACHINE\\System\\ControlSet001") +
         linkKey("System\\\\Loop", u"\\Registry\\Machine\\System\\Loop");
}

const char kUserHive[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-7-7-7-1001\n"
    "\n"
    "[Software\\\\Classes\\\\.txt] 1796691962\n"
    "@=\"usertxt\"\n"
    "\n"
    "[Software\\\\Classes\\\\.mine] 1796691962\n"
    "@=\"minefile\"\n"
    "\n"
    "[Environment] 1796691962\n"
    "\"TEMP\"=str(2):\"%USERPROFILE%\\\\Temp\"\n";

const char kDefaultHive[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\.Default\n"
    "\n"
    "[Control Panel\\\\Desktop] 1796691962\n"
    "\"Wallpaper\"=\"\"\n";

class PrefixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.str();
    write("system.reg", systemHive());
    write("user.reg", kUserHive);
    write("userdef.reg", kDefaultHive);
  }
  void write(const char* name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::shared_ptr<MemoryRegistry> load() {
    std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
    std::u16string userBase;
    std::string error;
    EXPECT_TRUE(reg->loadHiveFile((dir_ / "system.reg").string(), u"", nullptr, &error)) << error;
    EXPECT_TRUE(reg->loadHiveFile((dir_ / "user.reg").string(), u"", &userBase, &error)) << error;
    EXPECT_TRUE(reg->loadHiveFile((dir_ / "userdef.reg").string(), u"", nullptr, &error)) << error;
    EXPECT_EQ(userBase, u"User\\S-1-5-21-7-7-7-1001");
    reg->setCurrentUser(u"S-1-5-21-7-7-7-1001");
    return reg;
  }
  testing_support::TempFolder folder_;
  std::filesystem::path dir_;
};

TEST_F(PrefixTest, HiveValuesDecodeExactly) {
  std::shared_ptr<MemoryRegistry> reg = load();
  MemoryRegistry* r = reg.get();
  const int M = kHiveLocalMachine;
  std::u16string sz = u"a\\b\"c\n\t\u4e00\u0100z\033";
  sz.push_back(0);
  sz += u"end";
  struct Expect {
    std::u16string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  std::vector<uint8_t> longBytes;
  for (int i = 0; i < 26; i++) longBytes.push_back(uint8_t(i));
  const Expect expect[] = {
      {u"Sz", 1, utf16(sz)},
      {u"Expand", 2, utf16(u"%SystemRoot%\\x")},
      {u"Multi", 7, utf16(std::u16string(u"one\0two\0", 8))},
      {u"Dword", 4, {0x2a, 0, 0, 0}},
      {u"Bin", 3, {1, 2, 0xff}},
      {u"Qword", 11, {1, 0, 0, 0, 0, 0, 0, 0}},
      {u"Long", 3, longBytes},
      {u"Empty", 3, {}},
      {u"None", 0, {}},
      {u"Big type", 0x80000001, {0xaa}},
      {u"Name \"with\" quotes\\", 1, utf16(u"q")},
      {u"\u4e00\u4e01", 1, utf16(u"wide name")},
      {u"Unterminated", 1, {0x61, 0}},
  };
  for (const Expect& e : expect) {
    SCOPED_TRACE(toUtf8(e.name));
    RegValue v = valueOf(r, M, u"Software\\Test", e.name);
    EXPECT_EQ(v.type, e.type);
    EXPECT_EQ(v.data, e.data);
  }
  std::unique_ptr<RegistryKey> test = open(r, M, u"Software\\Test");
  ASSERT_TRUE(test);
  EXPECT_EQ(valuesOf(test.get()).size(), sizeof expect / sizeof expect[0]);
  uint32_t maxName = 0, maxData = 0;
  ASSERT_TRUE(test->queryInfo(&maxName, &maxData));
  EXPECT_EQ(maxName, 19u);  // Name "with" quotes\ .
  EXPECT_EQ(maxData, utf16(sz).size());
  EXPECT_EQ(subkeys(test.get()), std::vector<std::u16string>{u"Sub] bracket"});
  EXPECT_EQ(valueOf(r, M, u"software\\TEST\\sub] BRACKET", u"x").type, 4u);
}

TEST_F(PrefixTest, RootsAreBuiltAsWindowsBuildsThem) {
  std::shared_ptr<MemoryRegistry> reg = load();
  MemoryRegistry* r = reg.get();
  // HKEY_CURRENT_USER is the user of user.reg; HKEY_USERS lists that user and .Default.
  EXPECT_EQ(valueOf(r, kHiveCurrentUser, u"Environment", u"TEMP").type, 2u);
  std::unique_ptr<RegistryKey> users = r->openHive(kHiveUsers);
  ASSERT_TRUE(users);
  std::vector<std::u16string> names = subkeys(users.get());
  EXPECT_NE(std::find(names.begin(), names.end(), u"S-1-5-21-7-7-7-1001"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), u".Default"), names.end());
  EXPECT_EQ(valueOf(r, kHiveUsers, u".Default\\Control Panel\\Desktop", u"Wallpaper").type, 1u);
  // HKEY_CLASSES_ROOT: the user's keys over the machine's.
  EXPECT_EQ(valueOf(r, kHiveClassesRoot, u".txt", u"").data, utf16(u"usertxt"));
  EXPECT_EQ(valueOf(r, kHiveClassesRoot, u".txt", u"Content Type").type, 0xDEADu);
  EXPECT_EQ(valueOf(r, kHiveClassesRoot, u".mine", u"").data, utf16(u"minefile"));
  std::unique_ptr<RegistryKey> classes = r->openHive(kHiveClassesRoot);
  ASSERT_TRUE(classes);
  std::vector<std::u16string> cls = subkeys(classes.get());
  std::sort(cls.begin(), cls.end());
  EXPECT_EQ(cls, (std::vector<std::u16string>{u".mine", u".txt"}));
  // HKEY_CURRENT_CONFIG through two links: CurrentControlSet and Hardware Profiles\Current.
  EXPECT_EQ(valueOf(r, kHiveCurrentConfig, u"Software", u"Profile").data, utf16(u"one"));
  EXPECT_EQ(valueOf(r, kHiveLocalMachine, u"System\\CurrentControlSet\\Services\\Svc", u"Start")
                .data,
            (std::vector<uint8_t>{2, 0, 0, 0}));
  // The link key is listed under its own name; a link to itself opens as itself, not followed.
  std::unique_ptr<RegistryKey> system = open(r, kHiveLocalMachine, u"System");
  ASSERT_TRUE(system);
  names = subkeys(system.get());
  EXPECT_NE(std::find(names.begin(), names.end(), u"CurrentControlSet"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), u"Loop"), names.end());
  std::unique_ptr<RegistryKey> loop = system->openSubKey(u"Loop");
  ASSERT_TRUE(loop);
  EXPECT_TRUE(subkeys(loop.get()).empty());
  ASSERT_EQ(valuesOf(loop.get()).size(), 1u);
  EXPECT_EQ(valuesOf(loop.get())[0].name, u"SymbolicLinkValue");
  // A link key shows the target's values, not its own link value.
  std::unique_ptr<RegistryKey> ccs = open(r, kHiveLocalMachine, u"System\\CurrentControlSet");
  ASSERT_TRUE(ccs);
  EXPECT_TRUE(valuesOf(ccs.get()).empty());
  EXPECT_EQ(subkeys(ccs.get()).size(), 2u);
}

TEST_F(PrefixTest, MissingHiveFilesLeaveEmptyRoots) {
  std::filesystem::remove(dir_ / "user.reg");
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string error;
  EXPECT_FALSE(reg->loadHiveFile((dir_ / "user.reg").string(), u"", nullptr, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(reg->openHive(kHiveCurrentUser));
  EXPECT_FALSE(reg->openHive(kHiveClassesRoot));
  EXPECT_FALSE(reg->openHive(kHiveCurrentConfig));
  EXPECT_FALSE(reg->loadHive("REGEDIT4\n", u"", nullptr, &error));
}

TEST(RegFileTest, AppliesEditorFilesWithDeletions) {
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n"
      u"\r\n"
      u"; a comment\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
      u"@=\"default\"\r\n"
      u"\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
      u"\"Dw\"=dword:ffffffff\r\n"
      u"\"Hex\"=hex:01,02,\\\r\n"
      u"  03\r\n"
      u"\"Exp\"=hex(2):25,00,00,00\r\n"
      u"\"Gone\"=\"soon\"\r\n"
      u"\"Wide\u4e00\"=\"\u4e01\"\r\n"
      u"\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\A\\Child]\r\n"
      u"\"x\"=\"y\"\r\n"
      u"[HKLM\\Software\\B]\r\n"
      u"[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
      u"\"Gone\"=-\r\n"
      u"[-HKEY_LOCAL_MACHINE\\Software\\B]\r\n"
      u"[HKEY_CURRENT_USER\\Software\\U]\r\n"
      u"\"u\"=dword:00000001\r\n";
  std::string error;
  ASSERT_TRUE(reg->applyReg(utf16File(text), &error)) << error;
  MemoryRegistry* r = reg.get();
  const int M = kHiveLocalMachine;
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"").data, utf16(u"default"));
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Path").data, utf16(u"C:\\Program Files\\\"x\""));
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Dw").data, (std::vector<uint8_t>{255, 255, 255, 255}));
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Hex").data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Exp").type, 2u);
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Gone").type, 0xDEADu);
  EXPECT_EQ(valueOf(r, M, u"Software\\A", u"Wide\u4e00").data, utf16(u"\u4e01"));
  EXPECT_EQ(valueOf(r, M, u"Software\\A\\Child", u"x").data, utf16(u"y"));
  EXPECT_FALSE(open(r, M, u"Software\\B"));
  EXPECT_EQ(valueOf(r, kHiveCurrentUser, u"Software\\U", u"u").type, 4u);

  // Deleting a key deletes its subtree; applying a second file changes the first's result.
  ASSERT_TRUE(reg->applyReg(
      "Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\Software\\A]\n", &error))
      << error;
  EXPECT_FALSE(open(r, M, u"Software\\A\\Child"));
  EXPECT_FALSE(open(r, M, u"Software\\A"));
}

TEST(RegFileTest, Regedit4FilesHoldEightBitStrings) {
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
      "\"Caf\xe9\"=\"cr\xe8me\"\r\n"
      "\"Exp\"=hex(2):25,41,25,00\r\n";
  std::string error;
  ASSERT_TRUE(reg->applyReg(text, &error)) << error;
  EXPECT_EQ(valueOf(reg.get(), kHiveLocalMachine, u"Software\\Old", u"Caf\u00e9").data,
            utf16(u"cr\u00e8me"));
  EXPECT_EQ(valueOf(reg.get(), kHiveLocalMachine, u"Software\\Old", u"Exp").data,
            utf16(u"%A%"));
}

TEST(RegFileTest, Utf8EditorFilesAndMalformedLines) {
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(reg->applyReg("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
                            "[HKEY_USERS\\S-1-5-21-0-0-0-1000\\K]\n\"n\"=\"\xE4\xB8\x80\"\n",
                            &error))
      << error;
  EXPECT_EQ(valueOf(reg.get(), kHiveCurrentUser, u"K", u"n").data, utf16(u"\u4e00"));

  struct Bad {
    const char* text;
    const char* error;
  } bad[] = {
      {"", "empty file"},
      {"Hello\n", "line 1: not a registry editor file"},
      {"REGEDIT4\n[HKEY_NOWHERE\\x]\n", "line 2: unknown root key"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\x\n", "line 2: key line without ']'"},
      {"REGEDIT4\n[HKLM\\x]\n\"a\"=dword:xyz\n", "line 3: value line cannot be read"},
      {"REGEDIT4\n[HKLM\\x]\n\"a\"=hex:1,2,300\n", "line 3: value line cannot be read"},
      {"REGEDIT4\n[HKLM\\x]\n\"a\"=\"unterminated\n", "line 3: value line cannot be read"},
      {"REGEDIT4\n[HKLM\\x]\n\n\nname=1\n", "line 5: value line cannot be read"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.text);
    std::shared_ptr<MemoryRegistry> r = MemoryRegistry::create();
    EXPECT_FALSE(r->applyReg(b.text, &error));
    EXPECT_EQ(error, b.error);
  }
}

TEST(RegFileTest, EditsAndLinksThroughTheApi) {
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  ASSERT_TRUE(reg->setValue(kHiveLocalMachine, u"A\\B", u"v", 3, {1}));
  ASSERT_TRUE(reg->createLink(kHiveLocalMachine, u"L", u"\\Registry\\Machine\\A"));
  EXPECT_EQ(valueOf(reg.get(), kHiveLocalMachine, u"L\\B", u"v").data, std::vector<uint8_t>{1});
  // Writing through a link writes into its target.
  ASSERT_TRUE(reg->setValue(kHiveLocalMachine, u"L\\B", u"w", 4, {2, 0, 0, 0}));
  EXPECT_EQ(valueOf(reg.get(), kHiveLocalMachine, u"A\\B", u"w").type, 4u);
  ASSERT_TRUE(reg->deleteValue(kHiveLocalMachine, u"A\\B", u"V"));  // names fold case
  EXPECT_EQ(valueOf(reg.get(), kHiveLocalMachine, u"A\\B", u"v").type, 0xDEADu);
  ASSERT_TRUE(reg->deleteKey(kHiveLocalMachine, u"a"));
  EXPECT_FALSE(open(reg.get(), kHiveLocalMachine, u"L"));  // a dangling link does not open
  // Keys deeper than Windows allows are refused rather than built.
  std::u16string deep;
  for (int i = 0; i < 600; i++) deep += u"k\\";
  EXPECT_FALSE(reg->createKey(kHiveLocalMachine, deep));
}

TEST(RegFileTest, LargeHiveLoadsAndCountsEveryKey) {
  std::string text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
  for (int i = 0; i < 20000; i++) {
    char line[128];
    std::snprintf(line, sizeof line, "[Software\\\\Gen\\\\K%03d\\\\Leaf%d] 1\n\"v\"=dword:%08x\n\n",
                  i % 100, i, i);
    text += line;
  }
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(reg->loadHive(text, u"", nullptr, &error)) << error;
  // REGISTRY, Machine, User, the user, Software, Gen, 100 K keys and 20,000 leaves.
  EXPECT_EQ(reg->keyCount(), 4u + 2 + 100 + 20000);
  RegValue v = valueOf(reg.get(), kHiveLocalMachine, u"Software\\Gen\\K042\\Leaf19942", u"v");
  EXPECT_EQ(v.data, (std::vector<uint8_t>{0xE6, 0x4D, 0, 0}));
}

// Names equal but for case (foldChar) are one value: it keeps the place of its first line and
// takes name, type and data from its last. Names that Windows' folding would not join stay apart.
TEST(RegFileTest, ValuesOfOneNameKeepTheFirstPlaceAndTheLastLine) {
  testing_support::TempFolder folder;
  std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
      "[Dup\\\\Lazy] 1\n"
      "\"a\"=dword:00000001\n\"B\"=dword:00000002\n\"A\"=dword:00000003\n"
      "@=dword:00000004\n\"\\xc9t\\xe9\"=dword:00000005\n\"\\x414\\x401\"=dword:00000006\n"
      "\"\\xe9T\\xc9\"=dword:00000007\n\"\\xff\"=dword:00000008\n\"\\x178\"=dword:00000009\n"
      "\"\\x3a3\"=dword:0000000a\n\"\\x3c2\"=dword:0000000b\n\"\\x434\\x451\"=dword:0000000c\n"
      "@=dword:0000000d\n\"a\"=dword:0000000e\n\n"
      "[Dup\\\\Twice] 1\n\"x\"=dword:00000001\n\"Y\"=dword:00000002\n\n"
      "[Dup\\\\Twice] 1\n\"y\"=dword:00000003\n\"z\"=dword:00000004\n\"X\"=dword:00000005\n\n"
      "[Dup\\\\Many] 1\n";
  // 2,000 names, then the first 1,000 again in capitals: past any small-table shortcut.
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < (pass ? 1000 : 2000); i++) {
      char line[64];
      std::snprintf(line, sizeof line, "\"%s%d\"=dword:%08x\n", pass ? "V" : "v", i, pass * 100000 + i);
      text += line;
    }
  }
  std::ofstream(folder / "system.reg", std::ios::binary) << text;
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  std::string error;
  ASSERT_TRUE(reg->loadHiveFile(folder / "system.reg", u"", nullptr, &error)) << error;

  using Expect = std::vector<std::pair<std::u16string, uint32_t>>;
  auto read = [&](const std::u16string& path) {
    Expect got;
    std::unique_ptr<RegistryKey> key = open(reg.get(), kHiveLocalMachine, path);
    if (!key) return got;
    for (const RegValue& v : valuesOf(key.get())) got.emplace_back(v.name, v.data.size() == 4 ? getU32(v.data.data()) : 0xDEADu);
    return got;
  };
  const Expect lazy = {{u"a", 14},         {u"B", 2},           {u"", 13},
                       {u"\xe9T\xc9", 7},  {u"\x434\x451", 12}, {u"\xff", 8},
                       {u"\x178", 9},      {u"\x3a3", 10},      {u"\x3c2", 11}};
  EXPECT_EQ(read(u"Dup\\Lazy"), lazy);
  EXPECT_EQ(read(u"Dup\\Twice"), (Expect{{u"X", 5}, {u"y", 3}, {u"z", 4}}));
  Expect many = read(u"Dup\\Many");
  ASSERT_EQ(many.size(), 2000u);
  for (size_t i = 0; i < many.size(); i += 333) {
    std::u16string digits = fromUtf8(std::to_string(i));
    EXPECT_EQ(many[i], (i < 1000 ? std::make_pair(u"V" + digits, uint32_t(100000 + i))
                                 : std::make_pair(u"v" + digits, uint32_t(i))));
  }
  // A value set on the loaded key replaces in place too.
  ASSERT_TRUE(reg->setValue(kHiveLocalMachine, u"Dup\\Lazy", u"b", 4, {15, 0, 0, 0}));
  Expect edited = lazy;
  edited[1] = {u"b", 15};
  EXPECT_EQ(read(u"Dup\\Lazy"), edited);
}

}  // namespace
}  // namespace keldrun
