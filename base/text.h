// Text helpers shared by the whole engine.
//
// Registry and file names are UTF-16 (std::u16string) throughout. The program's own 8-bit
// strings convert code unit by code unit (byte to the code unit of equal value, code unit to its
// low byte). UTF-8 appears only at the POSIX edges; bytes that are not valid UTF-8 travel through
// UTF-16 as the lone surrogates U+DC80..U+DCFF, so a name converts back to exactly its bytes.
#ifndef KELDRUN_BASE_TEXT_H_
#define KELDRUN_BASE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/coding.h"

namespace keldrun {

inline char16_t foldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }
// Case folding for key, value and path names: ASCII, Latin-1, Greek and Cyrillic letters, which
// covers what Windows' own upper-casing does for the names found in practice.
char16_t foldChar(char16_t c);
// True when a and b are one name whatever their case (foldChar).
bool equalFolded(const std::u16string& a, const std::u16string& b);
// Finds, among the names of one key or folder offered one by one, the entry a typed name
// stands for: that very name, else the only one equal to it but for case (foldChar). Names typed
// by the user, such as the lower-case items of a scan filter, are thus recorded in the case the
// registry or file system holds.
class NameLookup {
 public:
  explicit NameLookup(std::u16string typed) : typed_(std::move(typed)) {}
  void offer(const std::u16string& name);
  // The name found; the typed name when no entry, or more than one, is equal to it but for case.
  const std::u16string& name() const { return exact_ || folded_ != 1 ? typed_ : found_; }

 private:
  std::u16string typed_, found_;
  bool exact_ = false;
  int folded_ = 0;  // entries equal to typed_ but for case, and not identical
};

// The text of UTF-16LE data (a string value's bytes) up to the first NUL or the end.
std::u16string utf16LeText(const std::vector<uint8_t>& data);

// Name order: A-Z folded to a-z, code-unit order over the shorter length, then the shorter
// first. Returns <0, 0 or >0.
int compareNames(const char16_t* a, size_t na, const char16_t* b, size_t nb);
inline int compareNames(const std::u16string& a, const std::u16string& b) {
  return compareNames(a.data(), a.size(), b.data(), b.size());
}

// A name or string as stored in a table entry: one byte per character (narrow) or UTF-16LE
// (wide). `chars` counts characters in either form.
struct StoredText {
  const uint8_t* bytes = nullptr;
  size_t chars = 0;
  bool wide = false;

  size_t byteSize() const { return wide ? 2 * chars : chars; }
  char16_t at(size_t i) const {
    return wide ? char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)) : char16_t(bytes[i]);
  }
  std::u16string str() const;
};

// Table order: name order, and names equal in name order by their exact code units, so that
// only identical names compare equal. Every sorted table and every merge of two tables uses it
// (a narrow byte compares as the code unit of equal value).
int compareStored(const StoredText& a, const StoredText& b);
int compareTableOrder(const std::u16string& a, const std::u16string& b);
// Name order alone (names equal but for case compare equal): the order of application tables,
// whose names, like the services they come from, are one name whatever their case.
int compareStoredFolded(const StoredText& a, const StoredText& b);

// True when some character is 256 or above, so the text must be stored wide.
bool needsWide(const char16_t* s, size_t n);
inline bool needsWide(const std::u16string& s) { return needsWide(s.data(), s.size()); }

// Appends the characters of s (no length word) narrow or wide as `wide` says.
void appendChars(std::vector<uint8_t>* out, const char16_t* s, size_t n, bool wide);

// Appends a 16-bit length word and the characters, narrow when possible. The length is cut to
// maxChars (at most kMaxStoredChars).
void appendStoredName(std::vector<uint8_t>* out, const std::u16string& s,
                      size_t maxChars = kMaxStoredChars);

// 8-bit <-> UTF-16, code unit by code unit.
std::u16string widen(const std::string& s);
std::u16string widen(const char* s);
std::string lowBytes(const std::u16string& s);

// UTF-8 <-> UTF-16 with the lossless escape described above.
std::u16string fromUtf8(const std::string& s);
// fromUtf8 of the n bytes at s, appended to out (whose capacity a caller may reuse).
void appendFromUtf8(std::u16string* out, const char* s, size_t n);
std::string toUtf8(const std::u16string& s);
// Appends the UTF-8 bytes of one code point.
void appendUtf8(std::string* out, uint32_t codePoint);
// The UTF-8 text of 8-bit text whose every byte is the character of equal value (Latin-1).
std::string utf8FromLatin1(const std::string& s);
// s as valid UTF-8: its UTF-8 characters as they are, and every byte that does not belong to
// one taken as the character of equal value (Latin-1). Valid UTF-8 comes back unchanged.
std::string validUtf8(const std::string& s);

std::u16string lowerAscii(std::u16string s);
// The non-empty pieces of text between separators: a path's components, a list's entries.
std::vector<std::u16string> splitNonEmpty(const std::u16string& text, char16_t separator);
bool startsWithFolded(const std::u16string& s, const std::u16string& prefix);

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_H_
