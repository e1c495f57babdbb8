#include "cli/output.h"

namespace keldrun {

namespace {

const char kHex[] = "0123456789abcdef";

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void appendEscape(std::string* out, char kind, unsigned value, int digits) {
  out->push_back('\\');
  out->push_back(kind);
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out->push_back(kHex[(value >> shift) & 0xF]);
}

// unit(i) gives the i-th UTF-16 code unit of a text of n units.
template <class Unit>
void escapeText(std::string* out, size_t n, Unit unit) {
  for (size_t i = 0; i < n; i++) {
    char16_t c = unit(i);
    if (c >= 0x20 && c < 0x7F) {
      out->push_back(char(c));
    } else if (c == u'\t' || c == u'\n' || c == u'\r') {
      out->push_back('\\');
      out->push_back(c == u'\t' ? 't' : c == u'\n' ? 'n' : 'r');
    } else if (isControl(c)) {
      appendEscape(out, 'x', c, 2);
    } else if (c == 0x2028 || c == 0x2029) {
      appendEscape(out, 'u', c, 4);  // line and paragraph separators start lines for some readers
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      appendEscape(out, 'x', c - 0xDC00, 2);  // a byte that was not UTF-8
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      char16_t low = unit(++i);
      appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (low - 0xDC00));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      appendEscape(out, 'u', c, 4);
    } else {
      appendUtf8(out, c);
    }
  }
}

// Printable ASCII, nearly every character of a name, gathers in a small block appended at once:
// a push_back per character was the larger part of the time of a dump.
template <class Unit>
void escapeJson(std::string* out, size_t n, Unit unit) {
  char block[256];
  size_t k = 0;
  block[k++] = '"';
  for (size_t i = 0; i < n; i++) {
    char16_t c = unit(i);
    if (c >= 0x20 && c < 0x7F) {
      if (k + 3 > sizeof block) {  // room for an escaped character and the closing quote
        out->append(block, k);
        k = 0;
      }
      if (c == u'"' || c == u'\\') block[k++] = '\\';
      block[k++] = char(c);
      continue;
    }
    out->append(block, k);
    k = 0;
    if (c == u'\t' || c == u'\n' || c == u'\r') {
      out->push_back('\\');
      out->push_back(c == u'\t' ? 't' : c == u'\n' ? 'n' : 'r');
    } else if (isControl(c) || (c >= 0xD800 && c <= 0xDFFF)) {
      appendEscape(out, 'u', c, 4);
    } else {
      appendUtf8(out, c);
    }
  }
  block[k++] = '"';
  out->append(block, k);
}

struct WideUnits {
  const char16_t* s;
  char16_t operator()(size_t i) const { return s[i]; }
};
struct ByteUnits {
  const uint8_t* s;
  char16_t operator()(size_t i) const { return s[i]; }
};
struct StoredUnits {
  const StoredText* s;
  char16_t operator()(size_t i) const { return s->at(i); }
};

const uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

void appendText(std::string* out, const char16_t* s, size_t n) { escapeText(out, n, WideUnits{s}); }

void appendText(std::string* out, const StoredText& s) {
  if (s.wide)
    escapeText(out, s.chars, StoredUnits{&s});
  else
    escapeText(out, s.chars, ByteUnits{s.bytes});
}

std::string printable(const std::u16string& s) {
  std::string out;
  appendText(&out, s.data(), s.size());
  return out;
}

void appendLatin1Text(std::string* out, const std::string& s) { escapeText(out, s.size(), ByteUnits{bytesOf(s)}); }

void appendUtf8Text(std::string* out, const std::string& utf8) {
  std::u16string s = fromUtf8(utf8);
  appendText(out, s.data(), s.size());
}

void appendJson(std::string* out, const char16_t* s, size_t n) { escapeJson(out, n, WideUnits{s}); }

void appendJson(std::string* out, const StoredText& s) {
  if (s.wide)
    escapeJson(out, s.chars, StoredUnits{&s});
  else
    escapeJson(out, s.chars, ByteUnits{s.bytes});
}

void appendLatin1Json(std::string* out, const std::string& s) { escapeJson(out, s.size(), ByteUnits{bytesOf(s)}); }

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

void appendNumber(std::string* out, uint64_t n) {
  char digits[24];
  size_t i = sizeof digits;
  do {
    digits[--i] = char('0' + n % 10);
    n /= 10;
  } while (n);
  out->append(digits + i, sizeof digits - i);
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
