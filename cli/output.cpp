#include "cli/output.h"

#include <cstring>

#include "base/coding.h"

namespace keldrun {

namespace {

const char kHex[] = "0123456789abcdef";

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

size_t putEscape(char* p, char kind, unsigned value, int digits) {
  p[0] = '\\';
  p[1] = kind;
  for (int i = 0; i < digits; i++) p[2 + i] = kHex[(value >> (4 * (digits - 1 - i))) & 0xF];
  return size_t(2 + digits);
}

inline size_t putUtf8(char* p, char32_t c) {
  if (c < 0x80) {
    p[0] = char(c);
    return 1;
  }
  if (c < 0x800) {
    p[0] = char(0xC0 | (c >> 6));
    p[1] = char(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    p[0] = char(0xE0 | (c >> 12));
    p[1] = char(0x80 | ((c >> 6) & 0x3F));
    p[2] = char(0x80 | (c & 0x3F));
    return 3;
  }
  p[0] = char(0xF0 | (c >> 18));
  p[1] = char(0x80 | ((c >> 12) & 0x3F));
  p[2] = char(0x80 | ((c >> 6) & 0x3F));
  p[3] = char(0x80 | (c & 0x3F));
  return 4;
}

// Eight bytes or four code units in one word, a lane each, the first lowest: the lanes of a
// word of either kind (lanes8 or lanes16 times a lane's value).
constexpr uint64_t kLanes8 = 0x0101010101010101ull, kLanes16 = 0x0001000100010001ull;

// Whether every lane of w is printable ASCII (0x20..0x7E), and for JSON none is a quote or a
// backslash: then each is written as its one byte. Once no lane is 0x80 or more, adding 0x60
// sets a lane's bit 7 from 0x20 up and adding 0x01 from 0x7F up; a lane of x is 0 when
// x - 1 borrows into bit 7 (a borrow into the next lane matters only when one is 0).
template <bool kJson>
inline bool plainWord(uint64_t w, uint64_t lanes) {
  if (w & ~(0x7F * lanes)) return false;
  uint64_t top = 0x80 * lanes;
  if (((w + 0x60 * lanes) & ~(w + 0x01 * lanes) & top) != top) return false;
  auto hasLane = [&](char c) {
    uint64_t x = w ^ (uint64_t(c) * lanes);
    return ((x - lanes) & ~x & top) != 0;
  };
  return !kJson || (!hasLane('"') && !hasLane('\\'));
}

// Writes the escapes of the n code units of unit at p, at most 6 bytes a unit, and returns
// the end (unit(i) gives the i-th, unit.four(i) the four from i as 16-bit lanes; unit.narrow()
// the bytes of a narrow text, else null). put(p, unit, &i, n) writes the escape of the
// character at i at p and steps i past it; four units that need no escape (plainWord) are
// copied in one step, as most of a name is.
template <bool kJson, class Unit, class Put>
char* escapeUnits(char* p, size_t n, Unit unit, Put put) {
  for (size_t i = 0; i < n;) {
    if (n - i >= 4) {
      uint64_t w = unit.four(i);
      if (plainWord<kJson>(w, kLanes16)) {
        for (int k = 0; k < 4; k++) p[k] = char(w >> (16 * k));
        p += 4;
        i += 4;
        continue;
      }
    }
    p += put(p, unit, &i, n);
  }
  return p;
}

// Whether a narrow text needs no escape at all, so that it is copied whole: most names, and
// the program's own numbers and dates. Eight bytes a step.
template <bool kJson>
bool plainNarrow(const uint8_t* s, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    if (!plainWord<kJson>(getU64(s + i), kLanes8)) return false;
  for (; i < n; i++) {
    if (s[i] < 0x20 || s[i] >= 0x7F || (kJson && (s[i] == '"' || s[i] == '\\'))) return false;
  }
  return true;
}

template <class Unit>
size_t putText(char* p, Unit unit, size_t* at, size_t n) {
  size_t i = (*at)++;
  char16_t c = unit(i);
  if (c >= 0x20 && c < 0x7F) {
    p[0] = char(c);
    return 1;
  }
  if (c >= 0xA0 && (c < 0xD800 || c > 0xDFFF) && c != 0x2028 && c != 0x2029) return putUtf8(p, c);  // most others
  if (c == u'\t' || c == u'\n' || c == u'\r') {
    p[0] = '\\';
    p[1] = c == u'\t' ? 't' : c == u'\n' ? 'n' : 'r';
    return 2;
  }
  if (isControl(c)) return putEscape(p, 'x', c, 2);
  if (c == 0x2028 || c == 0x2029) return putEscape(p, 'u', c, 4);  // they start lines for some readers
  if (c >= 0xDC80 && c <= 0xDCFF) return putEscape(p, 'x', c - 0xDC00, 2);  // a byte that was not UTF-8
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
    char16_t low = unit((*at)++);
    return putUtf8(p, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (low - 0xDC00));
  }
  return putEscape(p, 'u', c, 4);  // a lone surrogate
}

template <class Unit>
size_t putJson(char* p, Unit unit, size_t* at, size_t) {
  char16_t c = unit((*at)++);
  if (c >= 0x20 && c < 0x7F) {
    size_t k = 0;
    if (c == u'"' || c == u'\\') p[k++] = '\\';
    p[k++] = char(c);
    return k;
  }
  if (c == u'\t' || c == u'\n' || c == u'\r') {
    p[0] = '\\';
    p[1] = c == u'\t' ? 't' : c == u'\n' ? 'n' : 'r';
    return 2;
  }
  if (isControl(c) || (c >= 0xD800 && c <= 0xDFFF)) return putEscape(p, 'u', c, 4);
  return putUtf8(p, c);
}

// The text (or JSON, without quotes) escapes of n units at p, room for 6 bytes a unit; returns
// the end.
template <bool kJson, class Unit>
char* escapeChars(char* p, size_t n, Unit unit) {
  if (unit.narrow() && plainNarrow<kJson>(unit.narrow(), n)) {
    std::memcpy(p, unit.narrow(), n);
    return p + n;
  }
  // A lambda, not the function's address, so that the writer is inlined into the loop.
  return escapeUnits<kJson>(p, n, unit, [](char* q, Unit u, size_t* at, size_t count) {
    return kJson ? putJson(q, u, at, count) : putText(q, u, at, count);
  });
}

// The JSON string literal of n units at p (room for 6 bytes a unit and the quotes); returns the end.
template <class Unit>
char* escapeJson(char* p, size_t n, Unit unit) {
  *p++ = '"';
  p = escapeChars<true>(p, n, unit);
  *p++ = '"';
  return p;
}

struct WideUnits {
  const char16_t* s;
  char16_t operator()(size_t i) const { return s[i]; }
  uint64_t four(size_t i) const {
    return uint64_t(s[i]) | uint64_t(s[i + 1]) << 16 | uint64_t(s[i + 2]) << 32 | uint64_t(s[i + 3]) << 48;
  }
  const uint8_t* narrow() const { return nullptr; }
};
struct ByteUnits {
  const uint8_t* s;
  char16_t operator()(size_t i) const { return s[i]; }
  uint64_t four(size_t i) const {
    return uint64_t(s[i]) | uint64_t(s[i + 1]) << 16 | uint64_t(s[i + 2]) << 32 | uint64_t(s[i + 3]) << 48;
  }
  const uint8_t* narrow() const { return s; }
};
// The code units of a wide stored text: little-endian pairs of bytes.
struct PairUnits {
  const uint8_t* s;
  char16_t operator()(size_t i) const { return char16_t(s[2 * i] | (s[2 * i + 1] << 8)); }
  uint64_t four(size_t i) const { return getU64(s + 2 * i); }
  const uint8_t* narrow() const { return nullptr; }
};

const uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

void appendText(std::string* out, const char16_t* s, size_t n) { RowWriter(out, 6 * n).text(s, n); }

void appendText(std::string* out, const StoredText& s) { RowWriter(out, 6 * s.chars).text(s); }

std::string printable(const std::u16string& s) {
  std::string out;
  appendText(&out, s.data(), s.size());
  return out;
}

void appendLatin1Text(std::string* out, const std::string& s) {
  RowWriter w(out, 6 * s.size());
  w.latin1(s);
}

void appendUtf8Text(std::string* out, const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  appendText(out, s.data(), s.size());
}

void appendJson(std::string* out, const char16_t* s, size_t n) { RowWriter(out, 6 * n + 2).json(s, n); }

void appendJson(std::string* out, const StoredText& s) { RowWriter(out, 6 * s.chars + 2).json(s); }

void appendLatin1Json(std::string* out, const std::string& s) { RowWriter(out, 6 * s.size() + 2).jsonLatin1(s); }

void appendUtf8Json(std::string* out, const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  appendJson(out, s.data(), s.size());
}

std::string jsonString(const std::u16string& text) {
  std::string out;
  appendJson(&out, text.data(), text.size());
  return out;
}

std::string jsonString(const std::string& text) {
  std::string out;
  appendLatin1Json(&out, text);
  return out;
}

Output::Output(FILE* file) : file_(file) { buffer_.reserve(kBlock + 4096); }

Output::~Output() { flush(); }

void appendNumber(std::string* out, uint64_t n) { RowWriter(out, 20).number(n); }

RowWriter::RowWriter(std::string* out, size_t guess) : out_(out) {
  size_t used = out->size();
  out->resize(used + guess);
  p_ = &(*out)[0] + used;
  end_ = &(*out)[0] + out->size();
}

RowWriter::~RowWriter() { out_->resize(size_t(p_ - out_->data())); }

void RowWriter::grow(size_t n) {
  size_t used = size_t(p_ - out_->data());
  out_->resize(used + n + 256);
  p_ = &(*out_)[0] + used;
  end_ = &(*out_)[0] + out_->size();
}

RowWriter& RowWriter::again(size_t offset, size_t n) {
  char* p = room(n);
  std::memcpy(p, out_->data() + offset, n);
  p_ += n;
  return *this;
}

RowWriter& RowWriter::spaces(size_t n) {
  std::memset(room(n), ' ', n);
  p_ += n;
  return *this;
}

RowWriter& RowWriter::number(uint64_t n) {
  // Two digits a step, and eight a step of 64-bit division: the FILETIMEs and file ids of a
  // JSON row have eighteen or more.
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[20];
  char* p = digits + sizeof digits;
  auto pair = [&p](uint32_t twoDigits) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * twoDigits, 2);
  };
  for (; n >= 100000000; n /= 100000000) {
    uint32_t eight = uint32_t(n % 100000000);
    for (int k = 0; k < 4; k++, eight /= 100) pair(eight % 100);
  }
  uint32_t rest = uint32_t(n);
  for (; rest >= 100; rest /= 100) pair(rest % 100);
  if (rest >= 10) pair(rest);
  else *--p = char('0' + rest);
  return put(p, size_t(digits + sizeof digits - p));
}

RowWriter& RowWriter::text(const char16_t* s, size_t n) {
  p_ = escapeChars<false>(room(6 * n), n, WideUnits{s});
  return *this;
}

RowWriter& RowWriter::text(const StoredText& s) {
  char* p = room(6 * s.chars);
  p_ = s.wide ? escapeChars<false>(p, s.chars, PairUnits{s.bytes}) : escapeChars<false>(p, s.chars, ByteUnits{s.bytes});
  return *this;
}

RowWriter& RowWriter::latin1(const std::string& s) {
  p_ = escapeChars<false>(room(6 * s.size()), s.size(), ByteUnits{bytesOf(s)});
  return *this;
}

RowWriter& RowWriter::json(const char16_t* s, size_t n) {
  p_ = escapeJson(room(6 * n + 2), n, WideUnits{s});
  return *this;
}

RowWriter& RowWriter::jsonChars(const char16_t* s, size_t n) {
  p_ = escapeChars<true>(room(6 * n), n, WideUnits{s});
  return *this;
}

RowWriter& RowWriter::json(const StoredText& s) {
  char* p = room(6 * s.chars + 2);
  p_ = s.wide ? escapeJson(p, s.chars, PairUnits{s.bytes}) : escapeJson(p, s.chars, ByteUnits{s.bytes});
  return *this;
}

RowWriter& RowWriter::jsonLatin1(const std::string& s) {
  p_ = escapeJson(room(6 * s.size() + 2), s.size(), ByteUnits{bytesOf(s)});
  return *this;
}

Output& Output::number(uint64_t n) {
  appendNumber(&buffer_, n);
  return *this;
}

void Output::flush() {
  if (!buffer_.empty() && !failed_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
    failed_ = true;
  buffer_.clear();
}

bool Output::finish() {
  flush();
  if (std::fflush(file_) != 0 || std::ferror(file_)) failed_ = true;
  return !failed_;
}

}  // namespace keldrun
