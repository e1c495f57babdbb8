// A strict JSON reader for the tests of the command line's JSON output: it refuses what a
// careful consumer would (raw control characters in strings, bad escapes, trailing bytes,
// invalid UTF-8), and decodes strings to UTF-16 so that escaped surrogates come back exactly.
#ifndef KELDRUN_TESTS_JSON_READER_H_
#define KELDRUN_TESTS_JSON_READER_H_

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace keldrun {
namespace testing_support {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::u16string string;
  std::vector<JsonValue> items;               // array
  std::map<std::string, JsonValue> members;   // object (keys are ASCII in our output)

  const JsonValue& operator[](const std::string& key) const {
    static const JsonValue none;
    auto it = members.find(key);
    return it == members.end() ? none : it->second;
  }
  bool has(const std::string& key) const { return members.count(key) != 0; }
};

class JsonReader {
 public:
  // Parses the whole of text as one value. False (with the offset in *where) on any fault.
  static bool parse(const std::string& text, JsonValue* out, size_t* where = nullptr) {
    JsonReader r(text);
    r.space();
    bool ok = r.value(out, 0);
    r.space();
    if (ok && r.at_ == text.size()) return true;
    if (where) *where = r.at_;
    return false;
  }

 private:
  explicit JsonReader(const std::string& t) : t_(t) {}

  void space() {
    while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\n' || t_[at_] == '\r' || t_[at_] == '\t')) at_++;
  }
  bool literal(const char* word) {
    size_t n = std::string(word).size();
    if (t_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }
  bool value(JsonValue* v, int depth) {
    if (depth > 64 || at_ >= t_.size()) return false;
    char c = t_[at_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v->kind = JsonValue::kString;
      return string(&v->string);
    }
    if (literal("true") || literal("false")) {
      v->kind = JsonValue::kBool;
      v->boolean = t_[at_ - 1] == 'e' && t_[at_ - 2] == 'u';
      return true;
    }
    if (literal("null")) return true;
    size_t start = at_;
    if (at_ < t_.size() && t_[at_] == '-') at_++;
    while (at_ < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[at_])) || t_[at_] == '.' ||
                               t_[at_] == 'e' || t_[at_] == 'E' || t_[at_] == '+' || t_[at_] == '-'))
      at_++;
    if (at_ == start) return false;
    v->kind = JsonValue::kNumber;
    v->number = std::stod(t_.substr(start, at_ - start));
    return true;
  }
  bool object(JsonValue* v, int depth) {
    v->kind = JsonValue::kObject;
    at_++;
    space();
    if (at_ < t_.size() && t_[at_] == '}') return ++at_, true;
    for (;;) {
      std::u16string key;
      space();
      if (at_ >= t_.size() || t_[at_] != '"' || !string(&key)) return false;
      space();
      if (at_ >= t_.size() || t_[at_++] != ':') return false;
      space();
      JsonValue member;
      if (!value(&member, depth + 1)) return false;
      v->members[std::string(key.begin(), key.end())] = std::move(member);
      space();
      if (at_ >= t_.size()) return false;
      if (t_[at_] == '}') return ++at_, true;
      if (t_[at_++] != ',') return false;
    }
  }
  bool array(JsonValue* v, int depth) {
    v->kind = JsonValue::kArray;
    at_++;
    space();
    if (at_ < t_.size() && t_[at_] == ']') return ++at_, true;
    for (;;) {
      space();
      v->items.emplace_back();
      if (!value(&v->items.back(), depth + 1)) return false;
      space();
      if (at_ >= t_.size()) return false;
      if (t_[at_] == ']') return ++at_, true;
      if (t_[at_++] != ',') return false;
    }
  }
  bool hex4(unsigned* out) {
    if (at_ + 4 > t_.size()) return false;
    *out = 0;
    for (int i = 0; i < 4; i++) {
      char c = t_[at_++];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      *out = *out * 16 + unsigned(d);
    }
    return true;
  }
  bool string(std::u16string* s) {
    at_++;  // the opening quote
    while (at_ < t_.size()) {
      unsigned char c = static_cast<unsigned char>(t_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (at_ >= t_.size()) return false;
        char e = t_[at_++];
        static const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        size_t k = plain.find(e);
        if (k != std::string::npos) {
          s->push_back(char16_t(meant[k]));
        } else if (e == 'u') {
          unsigned u;
          if (!hex4(&u)) return false;
          s->push_back(char16_t(u));
        } else {
          return false;
        }
        continue;
      }
      // UTF-8, strictly: shortest form, no surrogates, at most U+10FFFF.
      char32_t cp;
      int more;
      if (c < 0x80) cp = c, more = 0;
      else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, more = 1;
      else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, more = 2;
      else if ((c & 0xF8) == 0xF0) cp = c & 0x07, more = 3;
      else return false;
      for (int i = 0; i < more; i++) {
        if (at_ >= t_.size() || (static_cast<unsigned char>(t_[at_]) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (static_cast<unsigned char>(t_[at_++]) & 0x3F);
      }
      static const char32_t least[] = {0, 0x80, 0x800, 0x10000};
      if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
      if (cp >= 0x10000) {
        s->push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
        s->push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        s->push_back(char16_t(cp));
      }
    }
    return false;
  }

  const std::string& t_;
  size_t at_ = 0;
};

}  // namespace testing_support
}  // namespace keldrun

#endif  // KELDRUN_TESTS_JSON_READER_H_
