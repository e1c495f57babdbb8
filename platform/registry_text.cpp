#include "platform/registry_text.h"

#include <cstdio>
#include <cstring>

#include "base/reg_syntax.h"
#include "base/text.h"
#include "platform/env.h"

namespace keldrun {

namespace {

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The syntax a line comes from: Wine's hive files escape like C (\n, \x4e00, octal), registry
// editor files escape only '"' and '\'; REGEDIT4 files hold 8-bit string data in hex(n) forms.
enum class Dialect { Wine, Reg5, Reg4 };

// A cursor over one logical line (continuations already joined).
struct Cursor {
  const char16_t* p;
  const char16_t* end;

  bool atEnd() const { return p >= end; }
  bool eat(char16_t c) {
    if (p < end && *p == c) {
      p++;
      return true;
    }
    return false;
  }
  bool eatWord(const char16_t* w) {
    size_t n = 0;
    while (w[n]) n++;
    if (size_t(end - p) < n) return false;
    for (size_t i = 0; i < n; i++)
      if (foldChar(p[i]) != foldChar(w[i])) return false;
    p += n;
    return true;
  }
  void skipBlanks() {
    while (p < end && isBlank(*p)) p++;
  }
};

// Reads a quoted string whose opening quote has been consumed, up to its closing quote.
bool readQuoted(Cursor* c, Dialect dialect, char16_t close, std::u16string* out) {
  out->clear();
  while (c->p < c->end) {
    char16_t ch = *c->p++;
    if (ch == close) return true;
    if (ch != u'\\') {
      out->push_back(ch);
      continue;
    }
    if (c->p >= c->end) return false;
    char16_t e = *c->p++;
    if (dialect != Dialect::Wine) {
      if (isRegEscaped(e)) {
        out->push_back(e);
      } else {
        out->push_back(u'\\');
        out->push_back(e);
      }
      continue;
    }
    switch (e) {
      case u'a': out->push_back(7); break;
      case u'b': out->push_back(8); break;
      case u'e': out->push_back(27); break;
      case u'f': out->push_back(12); break;
      case u'n': out->push_back(10); break;
      case u'r': out->push_back(13); break;
      case u't': out->push_back(9); break;
      case u'v': out->push_back(11); break;
      case u'x': {
        uint32_t v = 0;
        for (int i = 0; i < 4 && c->p < c->end && hexDigit(*c->p) >= 0; i++)
          v = v * 16 + uint32_t(hexDigit(*c->p++));
        out->push_back(char16_t(v));
        break;
      }
      default:
        if (e >= u'0' && e <= u'7') {
          uint32_t v = uint32_t(e - u'0');
          for (int i = 1; i < 3 && c->p < c->end && *c->p >= u'0' && *c->p <= u'7'; i++)
            v = v * 8 + uint32_t(*c->p++ - u'0');
          out->push_back(char16_t(v));
        } else {
          out->push_back(e);
        }
        break;
    }
  }
  return false;
}

bool readHexNumber(Cursor* c, int maxDigits, uint32_t* out) {
  uint32_t v = 0;
  int digits = 0;
  while (c->p < c->end && digits < maxDigits && hexDigit(*c->p) >= 0) {
    v = v * 16 + uint32_t(hexDigit(*c->p++));
    digits++;
  }
  if (digits == 0) return false;
  *out = v;
  return true;
}

// "01,02,ff" with optional blanks; an empty list is allowed.
bool readHexBytes(Cursor* c, std::vector<uint8_t>* out) {
  c->skipBlanks();
  if (c->atEnd()) return true;
  for (;;) {
    c->skipBlanks();
    uint32_t b;
    if (!readHexNumber(c, 2, &b)) return false;
    out->push_back(uint8_t(b));
    c->skipBlanks();
    if (c->atEnd()) return true;
    if (!c->eat(u',')) return false;
    c->skipBlanks();
    if (c->atEnd()) return true;  // a trailing comma
  }
}

// Parses the data part of a value line (after '='). *remove is set for "-".
bool parseValueData(Cursor* c, Dialect dialect, RegValue* v, bool* remove) {
  *remove = false;
  v->data.clear();
  c->skipBlanks();
  if (dialect != Dialect::Wine && c->eat(u'-')) {
    c->skipBlanks();
    *remove = true;
    return c->atEnd();
  }
  std::u16string s;
  if (c->eat(u'"')) {
    v->type = 1;
    if (!readQuoted(c, dialect, u'"', &s)) return false;
    s.push_back(0);
    appendChars(&v->data, s.data(), s.size(), true);
    c->skipBlanks();
    return c->atEnd();
  }
  if (dialect == Dialect::Wine && c->eatWord(u"str(")) {
    uint32_t type;
    if (!readHexNumber(c, 8, &type) || !c->eat(u')') || !c->eat(u':') || !c->eat(u'"'))
      return false;
    v->type = type;
    if (!readQuoted(c, dialect, u'"', &s)) return false;
    s.push_back(0);
    appendChars(&v->data, s.data(), s.size(), true);
    c->skipBlanks();
    return c->atEnd();
  }
  if (c->eatWord(u"dword:")) {
    uint32_t d;
    if (!readHexNumber(c, 8, &d)) return false;
    c->skipBlanks();
    if (!c->atEnd()) return false;
    v->type = 4;
    for (int i = 0; i < 4; i++) v->data.push_back(uint8_t(d >> (8 * i)));
    return true;
  }
  if (c->eatWord(u"hex")) {
    uint32_t type = 3;
    if (c->eat(u'(')) {
      if (!readHexNumber(c, 8, &type) || !c->eat(u')')) return false;
    }
    if (!c->eat(u':')) return false;
    v->type = type;
    if (!readHexBytes(c, &v->data)) return false;
    if (dialect == Dialect::Reg4 && (type == 1 || type == 2 || type == 7)) {
      // 8-bit string data: one character per byte.
      std::vector<uint8_t> wide(2 * v->data.size(), 0);
      for (size_t i = 0; i < v->data.size(); i++) wide[2 * i] = v->data[i];
      v->data.swap(wide);
    }
    return true;
  }
  return false;
}

// Parses a whole value line: name, '=', data.
bool parseValueLine(Cursor* c, Dialect dialect, RegValue* v, bool* remove) {
  c->skipBlanks();
  v->name.clear();
  if (c->eat(u'@')) {
    // the default value
  } else if (c->eat(u'"')) {
    if (!readQuoted(c, dialect, u'"', &v->name)) return false;
  } else {
    return false;
  }
  c->skipBlanks();
  if (!c->eat(u'=')) return false;
  return parseValueData(c, dialect, v, remove);
}

// Splits text into logical lines: "\r\n", "\n" or "\r" end a line; a line whose last non-blank
// character is '\' inside a hex or plain data form goes on in the next line, whose leading
// blanks are dropped.
class LineReader {
 public:
  LineReader(const char16_t* p, const char16_t* end) : p_(p), end_(end) {}

  // The next logical line; false at the end of the text. *number is its first line's number.
  bool next(std::u16string* line, size_t* number) {
    if (p_ >= end_) return false;
    line->clear();
    *number = lineNo_ + 1;
    bool first = true;
    bool hexForm = false;  // decided on the first physical line, so joining stays linear
    for (;;) {
      const char16_t* start = p_;
      while (p_ < end_ && *p_ != u'\n' && *p_ != u'\r') p_++;
      const char16_t* stop = p_;
      if (p_ < end_ && *p_ == u'\r') p_++;
      if (p_ < end_ && *p_ == u'\n') p_++;
      lineNo_++;
      if (!first)
        while (start < stop && isBlank(*start)) start++;
      line->append(start, stop);
      size_t k = line->size();
      while (k > 0 && isBlank((*line)[k - 1])) k--;
      if (first) hexForm = k > 0 && (*line)[k - 1] == u'\\' && continues(*line);
      first = false;
      if (!hexForm || k == 0 || (*line)[k - 1] != u'\\' || p_ >= end_) break;
      line->resize(k - 1);
    }
    return true;
  }

 private:
  // A trailing backslash continues the line only in a hex form (a quoted string may end in an
  // escaped backslash, and a key line never continues).
  static bool continues(const std::u16string& line) {
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) i++;
    if (i >= line.size()) return false;
    if (line[i] == u'"') {
      for (i++; i < line.size() && line[i] != u'"'; i++)
        if (line[i] == u'\\') i++;
      if (i >= line.size()) return false;
    } else if (line[i] != u'@') {
      return false;
    }
    for (i++; i < line.size() && isBlank(line[i]); i++) {
    }
    if (i >= line.size() || line[i] != u'=') return false;
    for (i++; i < line.size() && isBlank(line[i]); i++) {
    }
    if (line.size() - i < 3 || foldChar(line[i]) != u'h' || foldChar(line[i + 1]) != u'e' ||
        foldChar(line[i + 2]) != u'x')
      return false;
    size_t colon = line.find(u':', i);
    if (colon == std::u16string::npos) return false;
    for (size_t k = colon + 1; k < line.size(); k++) {
      char16_t ch = line[k];
      if (!(hexDigit(ch) >= 0 || ch == u',' || isBlank(ch) || ch == u'\\')) return false;
    }
    return true;
  }

  const char16_t* p_;
  const char16_t* end_;
  size_t lineNo_ = 0;
};

std::string lineError(size_t line, const char* what) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "line %zu: %s", line, what);
  return buf;
}

// Skips the text up to and including the next '\n'.
size_t nextLineStart(const std::string& t, size_t at) {
  const void* nl = std::memchr(t.data() + at, '\n', t.size() - at);
  return nl ? size_t(static_cast<const char*>(nl) - t.data()) + 1 : t.size();
}

// The text of a hive line from `from` to its line end (lineEnd: the next line's start).
std::u16string hiveLine(const std::string& t, size_t from, size_t lineEnd) {
  size_t stop = lineEnd;
  while (stop > from && (t[stop - 1] == '\n' || t[stop - 1] == '\r')) stop--;
  return fromUtf8(t.substr(from, stop - from));
}

constexpr char kHiveMagic[] = "WINE REGISTRY Version 2";
constexpr char kRelativeTo[] = ";; All keys relative to ";
constexpr size_t kRelativeToSize = sizeof kRelativeTo - 1;

}  // namespace

int hiveIndexOfRegName(const std::u16string& name) {
  static const struct {
    const char16_t* longName;
    const char16_t* shortName;
    int hive;
  } kRoots[] = {{u"HKEY_CLASSES_ROOT", u"HKCR", kHiveClassesRoot},
                {u"HKEY_CURRENT_USER", u"HKCU", kHiveCurrentUser},
                {u"HKEY_LOCAL_MACHINE", u"HKLM", kHiveLocalMachine},
                {u"HKEY_USERS", u"HKU", kHiveUsers},
                {u"HKEY_CURRENT_CONFIG", u"HKCC", kHiveCurrentConfig}};
  for (const auto& r : kRoots)
    if (equalFolded(name, r.longName) || equalFolded(name, r.shortName)) return r.hive;
  return -1;
}

std::u16string decodeRegText(const std::string& bytes) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    std::u16string out;
    out.reserve((n - 2) / 2);
    for (size_t i = 2; i + 1 < n; i += 2) out.push_back(char16_t(p[i] | (p[i + 1] << 8)));
    return out;
  }
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return fromUtf8(bytes.substr(3));
  if (widen(bytes.substr(0, 8)) == kRegFile4Header) return widen(bytes);
  return fromUtf8(bytes);
}

bool readRegFile(const std::string& bytes, RegFileSink* sink, std::string* error) {
  std::u16string text = decodeRegText(bytes);
  LineReader lines(text.data(), text.data() + text.size());
  std::u16string line;
  size_t number = 0;
  Dialect dialect = Dialect::Reg5;
  bool headerSeen = false;
  bool inKey = false;
  RegValue v;
  auto failAt = [&](const char* what) {
    if (error) *error = lineError(number, what);
    return false;
  };
  while (lines.next(&line, &number)) {
    size_t a = 0, b = line.size();
    while (a < b && isBlank(line[a])) a++;
    while (b > a && isBlank(line[b - 1])) b--;
    if (a == b) continue;
    if (!headerSeen) {
      std::u16string head = line.substr(a, b - a);
      if (head == kRegFileHeader) {
        dialect = Dialect::Reg5;
      } else if (head == kRegFile4Header) {
        dialect = Dialect::Reg4;
      } else {
        return failAt("not a registry editor file");
      }
      headerSeen = true;
      continue;
    }
    char16_t first = line[a];
    if (first == u';') continue;
    if (first == u'[') {
      size_t close = line.rfind(u']', b - 1);
      if (close == std::u16string::npos || close <= a) return failAt("key line without ']'");
      bool remove = line[a + 1] == u'-';
      std::u16string path = line.substr(a + 1 + (remove ? 1 : 0), close - a - 1 - (remove ? 1 : 0));
      size_t slash = path.find(u'\\');
      int hive = hiveIndexOfRegName(path.substr(0, slash));
      if (hive < 0) return failAt("unknown root key");
      std::u16string rest = slash == std::u16string::npos ? u"" : path.substr(slash + 1);
      inKey = !remove;
      if (remove) {
        sink->deleteKey(hive, rest);
      } else if (!sink->openKey(hive, rest)) {
        return failAt("key cannot be created");
      }
      continue;
    }
    Cursor c{line.data() + a, line.data() + b};
    bool remove = false;
    if (!parseValueLine(&c, dialect, &v, &remove)) return failAt("value line cannot be read");
    if (!inKey) continue;
    if (remove)
      sink->deleteValue(v.name);
    else
      sink->setValue(v);
  }
  if (!headerSeen) {
    if (error) *error = "empty file";
    return false;
  }
  return true;
}

HiveReader::HiveReader(const std::string& text) : text_(text), pos_(nextLineStart(text, 0)) {}

bool HiveReader::isHive(const std::string& text) {
  return text.compare(0, sizeof kHiveMagic - 1, kHiveMagic) == 0;
}

bool HiveReader::next(Key* key) {
  const std::string& t = text_;
  while (pos_ < t.size()) {
    size_t lineEnd = nextLineStart(t, pos_);
    if (t[pos_] == '[') {
      keyLineSeen_ = true;
      std::u16string line = hiveLine(t, pos_ + 1, lineEnd);
      Cursor c{line.data(), line.data() + line.size()};
      pos_ = lineEnd;
      if (!readQuoted(&c, Dialect::Wine, u']', &key->path)) continue;
      key->valuesBegin = lineEnd;
      key->link = false;
      while (pos_ < t.size() && t[pos_] != '[') {
        if (t.compare(pos_, 5, "#link") == 0) key->link = true;
        pos_ = nextLineStart(t, pos_);
      }
      key->valuesEnd = pos_;
      return true;
    }
    if (!keyLineSeen_ && t.compare(pos_, kRelativeToSize, kRelativeTo) == 0) {
      std::u16string line = hiveLine(t, pos_ + kRelativeToSize, lineEnd);
      line.push_back(u'"');
      Cursor c{line.data(), line.data() + line.size()};
      std::u16string rel;
      if (readQuoted(&c, Dialect::Wine, u'"', &rel)) relativeTo_ = rel;
    }
    pos_ = lineEnd;
  }
  return false;
}

void decodeHiveValues(const std::string& text, size_t begin, size_t end,
                      std::vector<RegValue>* out) {
  out->clear();
  std::u16string lineText = fromUtf8(text.substr(begin, end - begin));
  LineReader lines(lineText.data(), lineText.data() + lineText.size());
  std::u16string line;
  size_t number;
  RegValue v;
  while (lines.next(&line, &number)) {
    if (line.empty() || (line[0] != u'"' && line[0] != u'@')) continue;
    Cursor c{line.data(), line.data() + line.size()};
    bool remove;
    if (parseValueLine(&c, Dialect::Wine, &v, &remove)) out->push_back(v);
  }
}

}  // namespace keldrun
