#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace keldrun {
namespace {

TEST(NameOrder, FoldsOnlyAsciiLettersAndPutsShorterFirst) {
  EXPECT_EQ(compareNames(u"ABC", u"abc"), 0);
  EXPECT_LT(compareNames(u"ab", u"abc"), 0);
  EXPECT_GT(compareNames(u"b", u"Abc"), 0);
  // Folding maps 'A' to 0x61, so '_' (0x5F) sorts before it.
  EXPECT_LT(compareNames(u"_", u"A"), 0);
  // Letters outside A-Z are not folded: 0xC4 and 0xE4 differ.
  EXPECT_NE(compareNames(u"\u00C4", u"\u00E4"), 0);
}

TEST(NameOrder, StoredNarrowAndWideCompareByCodeUnit) {
  std::vector<uint8_t> a, b;
  appendStoredName(&a, u"Zeta");
  appendStoredName(&b, u"zeta\u0101");
  StoredText ta{a.data() + 2, 4, false}, tb{b.data() + 2, 5, true};
  EXPECT_LT(compareStored(ta, tb), 0);
  EXPECT_EQ(tb.str(), u"zeta\u0101");
}

TEST(StoredName, NarrowBelow256WideOtherwise) {
  std::vector<uint8_t> out;
  appendStoredName(&out, u"caf\u00E9");
  ASSERT_EQ(out.size(), 2u + 4u);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 0);
  out.clear();
  appendStoredName(&out, u"\u0100");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[1], 0x80);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0x01);
}

TEST(Utf8, InvalidBytesRoundTripThroughEscapes) {
  const std::string cases[] = {"plain", "caf\xC3\xA9", "\xF0\x9F\x98\x80 smile", "bad\xFF\xFE",
                               "\xC0\xAF overlong", "\xED\xA0\x80 surrogate", "cut\xE2\x82"};
  for (const std::string& s : cases) EXPECT_EQ(toUtf8(fromUtf8(s)), s) << s;
  EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(fromUtf8("a\xFF"), std::u16string(u"a\xDCFF"));
}

TEST(Utf8, Latin1AndStrayBytesBecomeTheirCharacters) {
  struct Case {
    const char* in;
    const char* latin1;  // utf8FromLatin1
    const char* valid;   // validUtf8
  } cases[] = {
      {"plain", "plain", "plain"},
      {"Apr\xE8s", "Apr\xC3\xA8s", "Apr\xC3\xA8s"},
      {"Apr\xC3\xA8s", "Apr\xC3\x83\xC2\xA8s", "Apr\xC3\xA8s"},
      // U+10080: the low half of its pair lies among the escapes of stray bytes.
      {"\xF0\x90\x82\x80", "\xC3\xB0\xC2\x90\xC2\x82\xC2\x80", "\xF0\x90\x82\x80"},
      {"\xD0\xA1\xD0", "\xC3\x90\xC2\xA1\xC3\x90", "\xD0\xA1\xC3\x90"},
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8FromLatin1(c.in), c.latin1) << c.in;
    EXPECT_EQ(validUtf8(c.in), c.valid) << c.in;
    EXPECT_EQ(validUtf8(c.valid), c.valid) << c.in;
  }
}

TEST(NameLookup, TheIdenticalNameElseTheOnlyOneEqualButForCase) {
  const struct {
    const char* what;
    std::u16string typed;
    std::vector<std::u16string> names;
    std::u16string found;
  } cases[] = {
      {"one in another case", u"myvendor", {u"Other", u"MyVendor"}, u"MyVendor"},
      {"beyond ASCII", u"\u00e9diteur", {u"\u00C9diteur"}, u"\u00C9diteur"},
      {"the identical name wins", u"dir", {u"Dir", u"dir"}, u"dir"},
      {"two in other cases: neither", u"DIR", {u"Dir", u"dir"}, u"DIR"},
      {"none", u"absent", {u"present"}, u"absent"},
      {"no entries", u"x", {}, u"x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    NameLookup lookup(c.typed);
    for (const std::u16string& n : c.names) lookup.offer(n);
    EXPECT_EQ(lookup.name(), c.found);
  }
}

TEST(SplitNonEmpty, DropsEmptyPiecesAtBothEndsAndBetweenRepeatedSeparators) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(splitNonEmpty(u"\\\\HKLM\\\\Software\\Run\\", u'\\'), (V{u"HKLM", u"Software", u"Run"}));
  EXPECT_EQ(splitNonEmpty(u"c:\\bin;;d:\\x;", u';'), (V{u"c:\\bin", u"d:\\x"}));
  EXPECT_EQ(splitNonEmpty(u"one", u'\\'), (V{u"one"}));
  EXPECT_TRUE(splitNonEmpty(u"\\\\\\", u'\\').empty());
  EXPECT_TRUE(splitNonEmpty(u"", u'\\').empty());
}

}  // namespace
}  // namespace keldrun
