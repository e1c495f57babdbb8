#include "base/coding.h"

#include <gtest/gtest.h>

#include <vector>

namespace keldrun {
namespace {

TEST(TextLength, WordsAndTheirReadsThroughASlice) {
  struct Case {
    const char* what;
    size_t chars;
    bool wide;
    uint8_t low, high;  // the length word's bytes
    size_t present;     // bytes of characters behind the word in the slice
    bool readable;
  };
  const Case cases[] = {
      {"empty", 0, false, 0x00, 0x00, 0, true},
      {"narrow", 5, false, 0x05, 0x00, 5, true},
      {"wide", 3, true, 0x03, 0x80, 6, true},
      {"narrow at the limit", kMaxStoredChars, false, 0xFF, 0x7F, kMaxStoredChars, true},
      {"wide at the limit", kMaxStoredChars, true, 0xFF, 0xFF, 2 * kMaxStoredChars, true},
      {"narrow past the slice", 5, false, 0x05, 0x00, 4, false},
      {"wide past the slice by one byte", 3, true, 0x03, 0x80, 5, false},
      {"wide read as if narrow would fit", 4, true, 0x04, 0x80, 4, false},
      {"wide at the limit past the slice", kMaxStoredChars, true, 0xFF, 0xFF, kMaxStoredChars, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint16_t word = encodeTextLength(c.chars, c.wide);
    std::vector<uint8_t> bytes;
    appendU16(&bytes, word);
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], c.low);
    EXPECT_EQ(bytes[1], c.high);

    size_t chars = 99;
    bool wide = !c.wide;
    decodeTextLength(word, &chars, &wide);
    EXPECT_EQ(chars, c.chars);
    EXPECT_EQ(wide, c.wide);
    EXPECT_EQ(textLengthBytes(word), c.wide ? 2 * c.chars : c.chars);

    // The characters, then one byte the slice does not hold: a read must not reach it.
    for (size_t i = 0; i < c.present; i++) bytes.push_back(uint8_t('a' + i % 26));
    bytes.push_back(0xEE);
    Slice s(bytes.data(), bytes.size() - 1);
    const uint8_t* text = nullptr;
    chars = 99;
    wide = !c.wide;
    bool ok = s.readText(&text, &chars, &wide);
    ASSERT_EQ(ok, c.readable);
    if (ok) {
      EXPECT_EQ(text, bytes.data() + 2);
      EXPECT_EQ(chars, c.chars);
      EXPECT_EQ(wide, c.wide);
      EXPECT_TRUE(s.empty());
    } else {
      // A failed read leaves the slice and the outputs as they were.
      EXPECT_EQ(s.data(), bytes.data());
      EXPECT_EQ(s.size(), bytes.size() - 1);
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(chars, 99u);
      EXPECT_EQ(wide, !c.wide);
    }
  }
}

TEST(TextLength, EveryWordDecodesToWhatEncodesItAgain) {
  for (uint32_t w = 0; w <= 0xFFFF; w++) {
    size_t chars;
    bool wide;
    decodeTextLength(uint16_t(w), &chars, &wide);
    ASSERT_LE(chars, kMaxStoredChars);
    ASSERT_EQ(encodeTextLength(chars, wide), w);
  }
}

TEST(TextLength, ASliceTooShortForTheWordReadsNothing) {
  const uint8_t word[] = {0x00, 0x00};  // an empty text: readable were both bytes there
  for (size_t size : {size_t(0), size_t(1)}) {
    Slice s(word, size);
    const uint8_t* text = nullptr;
    size_t chars = 7;
    bool wide = true;
    EXPECT_FALSE(s.readText(&text, &chars, &wide)) << size;
    EXPECT_EQ(s.size(), size);
    EXPECT_EQ(chars, 7u);
  }
}

}  // namespace
}  // namespace keldrun
