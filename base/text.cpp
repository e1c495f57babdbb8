#include "base/text.h"

#include <cstring>

namespace keldrun {

int compareNames(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; i++) {
    char16_t ca = foldAscii(a[i]), cb = foldAscii(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

std::u16string StoredText::str() const {
  std::u16string s(chars, u'\0');
  for (size_t i = 0; i < chars; i++) s[i] = at(i);
  return s;
}

namespace {

// Name order with ties broken by the exact code units: names that fold alike ("Twins" and
// "twins", possible on case-sensitive file systems and in hand-written hives) are still two
// names, and every table sort and every merge must agree on which comes first.
template <class CharA, class CharB>
int tableOrder(CharA a, size_t na, CharB b, size_t nb) {
  size_t n = na < nb ? na : nb;
  int tie = 0;
  for (size_t i = 0; i < n; i++) {
    char16_t ca = a(i), cb = b(i);
    if (ca == cb) continue;
    char16_t fa = foldAscii(ca), fb = foldAscii(cb);
    if (fa != fb) return fa < fb ? -1 : 1;
    if (tie == 0) tie = ca < cb ? -1 : 1;
  }
  if (na != nb) return na < nb ? -1 : 1;
  return tie;
}

}  // namespace

int compareStored(const StoredText& a, const StoredText& b) {
  // Most pairs a merge compares are one name on both sides: equal bytes end it at once.
  if (a.wide == b.wide && a.chars == b.chars &&
      (a.chars == 0 || std::memcmp(a.bytes, b.bytes, a.byteSize()) == 0)) {
    return 0;
  }
  if (!a.wide && !b.wide) {
    return tableOrder([&](size_t i) { return char16_t(a.bytes[i]); }, a.chars,
                      [&](size_t i) { return char16_t(b.bytes[i]); }, b.chars);
  }
  return tableOrder([&](size_t i) { return a.at(i); }, a.chars, [&](size_t i) { return b.at(i); },
                    b.chars);
}

int compareStoredFolded(const StoredText& a, const StoredText& b) {
  size_t n = a.chars < b.chars ? a.chars : b.chars;
  for (size_t i = 0; i < n; i++) {
    char16_t ca = foldAscii(a.at(i)), cb = foldAscii(b.at(i));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.chars == b.chars ? 0 : (a.chars < b.chars ? -1 : 1);
}

int compareTableOrder(const std::u16string& a, const std::u16string& b) {
  return tableOrder([&](size_t i) { return a[i]; }, a.size(), [&](size_t i) { return b[i]; },
                    b.size());
}

bool needsWide(const char16_t* s, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (s[i] > 0xFF) return true;
  return false;
}

void appendChars(std::vector<uint8_t>* out, const char16_t* s, size_t n, bool wide) {
  size_t at = out->size();
  out->resize(at + (wide ? 2 * n : n));
  uint8_t* p = out->data() + at;
  if (wide) {
    for (size_t i = 0; i < n; i++) {
      p[2 * i] = uint8_t(s[i]);
      p[2 * i + 1] = uint8_t(s[i] >> 8);
    }
  } else {
    for (size_t i = 0; i < n; i++) p[i] = uint8_t(s[i]);
  }
}

void appendStoredName(std::vector<uint8_t>* out, const std::u16string& s, size_t maxChars) {
  if (maxChars > kMaxStoredChars) maxChars = kMaxStoredChars;
  size_t n = s.size() < maxChars ? s.size() : maxChars;
  bool wide = needsWide(s.data(), n);
  appendU16(out, encodeTextLength(n, wide));
  appendChars(out, s.data(), n, wide);
}

std::u16string widen(const std::string& s) {
  std::u16string r(s.size(), u'\0');
  for (size_t i = 0; i < s.size(); i++) r[i] = char16_t(uint8_t(s[i]));
  return r;
}

std::u16string widen(const char* s) { return widen(std::string(s)); }

std::string lowBytes(const std::u16string& s) {
  std::string r(s.size(), '\0');
  for (size_t i = 0; i < s.size(); i++) r[i] = char(uint8_t(s[i]));
  return r;
}

namespace {

void appendUtf16(std::u16string* out, uint32_t cp) {
  if (cp < 0x10000) {
    out->push_back(char16_t(cp));
  } else {
    cp -= 0x10000;
    out->push_back(char16_t(0xD800 + (cp >> 10)));
    out->push_back(char16_t(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

void appendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(char(cp));
  } else if (cp < 0x800) {
    out->push_back(char(0xC0 | (cp >> 6)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(char(0xE0 | (cp >> 12)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (cp >> 18)));
    out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  }
}

std::u16string fromUtf8(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  appendFromUtf8(&out, s.data(), s.size());
  return out;
}

void appendFromUtf8(std::u16string* to, const char* s, size_t n) {
  std::u16string& out = *to;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
  size_t i = 0;
  while (i < n) {
    uint8_t b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      i++;
      continue;
    }
    size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    uint32_t cp = len == 4 ? (b & 0x07) : len == 3 ? (b & 0x0F) : (b & 0x1F);
    bool ok = len != 0 && b < 0xF5 && i + len <= n;
    for (size_t k = 1; ok && k < len; k++) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8: escape them byte-wise.
    if (ok) {
      static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
    }
    if (!ok) {
      out.push_back(char16_t(0xDC00 + b));
      i++;
      continue;
    }
    appendUtf16(&out, cp);
    i += len;
  }
}

std::string toUtf8(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); i++) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      appendUtf8(&out, 0x10000 + ((uint32_t(c - 0xD800) << 10) | (s[i + 1] - 0xDC00)));
      i++;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(char(c - 0xDC00));  // an escaped byte
    } else {
      appendUtf8(&out, c);  // a lone surrogate other than an escape is written as is (WTF-8)
    }
  }
  return out;
}

std::string utf8FromLatin1(const std::string& s) { return toUtf8(widen(s)); }

std::string validUtf8(const std::string& s) {
  std::u16string chars = fromUtf8(s);
  for (size_t i = 0; i < chars.size(); i++) {
    char16_t c = chars[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      i++;  // fromUtf8 gives a high surrogate only as the first half of a pair
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      chars[i] = char16_t(c - 0xDC00);  // an escaped byte becomes its Latin-1 character
    }
  }
  return toUtf8(chars);
}

std::vector<std::u16string> splitNonEmpty(const std::u16string& text, char16_t separator) {
  std::vector<std::u16string> parts;
  size_t from = 0;
  while (from < text.size()) {
    size_t to = text.find(separator, from);
    if (to == std::u16string::npos) to = text.size();
    if (to > from) parts.push_back(text.substr(from, to - from));
    from = to + 1;
  }
  return parts;
}

std::u16string lowerAscii(std::u16string s) {
  for (auto& c : s) c = foldAscii(c);
  return s;
}

bool startsWithFolded(const std::u16string& s, const std::u16string& prefix) {
  if (prefix.size() > s.size()) return false;
  for (size_t i = 0; i < prefix.size(); i++)
    if (foldAscii(s[i]) != foldAscii(prefix[i])) return false;
  return true;
}

char16_t foldChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return char16_t(c + 32);
  if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
  if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
  return c;
}

bool equalFolded(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i] != b[i] && foldChar(a[i]) != foldChar(b[i])) return false;
  return true;
}

void NameLookup::offer(const std::u16string& name) {
  if (name == typed_) {
    exact_ = true;
  } else if (equalFolded(name, typed_) && ++folded_ == 1) {
    found_ = name;
  }
}

std::u16string utf16LeText(const std::vector<uint8_t>& data) {
  std::u16string s;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = char16_t(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

}  // namespace keldrun
