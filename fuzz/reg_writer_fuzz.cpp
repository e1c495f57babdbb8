// The .reg writer on registry trees with hostile names: every line of the script it writes that
// opens a key or a value must name a key or value of the input, and every other line must be a
// comment, an empty line, the format line or the continuation of a hex dump.
//
// Input: a flag byte (mode: content, CHANGE or RESTORE), then snapshot A's tree, then B's. A tree
// is a root key; a key is its name, a count byte and that many values, a count byte and that
// many subkeys (at most 4 levels). A name is a length byte and one byte per character, read
// through a table of the characters that matter to the syntax, or (byte 0xFF) two raw bytes.
// Values are a name, a type byte and a length byte with that many data bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/value_text.h"
#include "fuzz/scratch.h"
#include "reports/reg_export.h"
#include "tests/compare_support.h"
#include "views/comparison_context.h"

namespace {

using namespace keldrun;
using testing_support::KeySpec;
using testing_support::ValueSpec;

class Input {
 public:
  Input(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }

  std::u16string name() {
    static const char16_t kChars[] = {u'a',  u'B', u'[', u']', u'-',    u'"',    u'\\', u'@',
                                      u'=',  u';', u' ', u'\r', u'\n', 0x2028, 0,     0x85};
    std::u16string s;
    for (uint8_t n = byte() % 8; n > 0; n--) {
      uint8_t b = byte();
      if (b == 0xFF) {
        char16_t lo = byte();
        s.push_back(char16_t(lo | (byte() << 8)));
      } else {
        s.push_back(kChars[b % 16]);
      }
    }
    return s;
  }

  KeySpec key(int depth) {
    KeySpec k;
    k.name = name();
    for (uint8_t n = byte() % 4; n > 0; n--) {
      ValueSpec v;
      v.name = name();
      v.type = byte() % 12;
      for (uint8_t len = byte() % 16; len > 0; len--) v.data.push_back(byte());
      k.values.push_back(std::move(v));
    }
    if (depth < 4) {
      for (uint8_t n = byte() % 4; n > 0; n--) k.keys.push_back(key(depth + 1));
    }
    return k;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// Names compared as the registry compares them.
std::u16string folded(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) c = foldChar(c);
  return out;
}

// The keys (as component lists) and the values (key, name) of a tree.
struct Named {
  std::set<std::vector<std::u16string>> keys;
  std::set<std::pair<std::vector<std::u16string>, std::u16string>> values;

  void add(const KeySpec& k, std::vector<std::u16string> path) {
    path.push_back(folded(k.name));
    keys.insert(path);
    for (const ValueSpec& v : k.values) values.insert({path, folded(v.name)});
    for (const KeySpec& c : k.keys) add(c, path);
  }
};

std::vector<std::u16string> components(const std::u16string& path) {
  std::vector<std::u16string> out(1);
  for (char16_t c : path) {
    if (c == u'\\') out.emplace_back();
    else out.back().push_back(foldChar(c));
  }
  return out;
}

std::u16string readUtf16(const std::string& path) {
  std::u16string text;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return text;
  int lo, hi;
  while ((lo = std::fgetc(f)) != EOF && (hi = std::fgetc(f)) != EOF) text.push_back(char16_t(lo | (hi << 8)));
  std::fclose(f);
  return text;
}

// Checks each line of the script; traps on the first that names what the input does not hold.
void checkScript(const std::u16string& text, const Named& named) {
  if (text.empty() || text[0] != 0xFEFF) __builtin_trap();
  std::vector<std::u16string> lines(1);
  for (size_t i = 1; i < text.size(); i++) {
    if (breaksRegLine(text[i])) lines.emplace_back();
    else lines.back().push_back(text[i]);
  }
  bool inKey = false, continues = false;
  std::vector<std::u16string> key;
  for (const std::u16string& line : lines) {
    bool continued = continues;
    continues = !line.empty() && line.back() == u'\\';
    if (line.empty() || line[0] == u';' || line == u"Windows Registry Editor Version 5.00") continue;
    if (line.compare(0, 2, u"  ") == 0) {
      if (!continued) __builtin_trap();
      continue;
    }
    if (line[0] == u'[') {
      bool deleted = line.size() > 1 && line[1] == u'-';
      if (line.back() != u']') __builtin_trap();
      size_t from = deleted ? 2 : 1;
      key = components(line.substr(from, line.size() - 1 - from));
      for (const std::u16string& part : key) {
        if (part.empty()) __builtin_trap();
      }
      if (!named.keys.count(key)) __builtin_trap();
      inKey = !deleted;
      continue;
    }
    if (line[0] != u'@' && line[0] != u'"') __builtin_trap();
    if (!inKey) __builtin_trap();
    std::u16string name;
    size_t at = 1;
    if (line[0] == u'"') {
      for (; at < line.size() && line[at] != u'"'; at++) {
        if (line[at] == u'\\' && at + 1 < line.size()) at++;
        name.push_back(foldChar(line[at]));
      }
      at++;
    }
    if (at >= line.size() || line[at] != u'=') __builtin_trap();
    if (!named.values.count({key, name})) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Input in(data, size);
  int mode = kRegExportContent + in.byte() % 3;
  KeySpec a = in.key(0);
  KeySpec b = in.key(0);
  b.name = a.name;  // one root on both sides, so that the scripts have something to compare

  const std::string& folder = fuzz_support::scratchFolder();
  std::string fileA = folder + "/a.snp", fileB = folder + "/b.snp", reg = folder + "/out.reg";
  if (!testing_support::writeRegistrySnapshot(fileA, {a}, "a") ||
      !testing_support::writeRegistrySnapshot(fileB, {b}, "b")) {
    std::abort();
  }
  ComparisonContext context;
  bool compare = mode != kRegExportContent;
  if (!context.openFiles(fileA, compare ? fileB : std::string(), compare ? kModeCompare : kModeView, true)) {
    return 0;
  }
  std::string message;
  std::vector<std::u16string> leftOut;
  if (!exportKey(&context, mode, a.name, reg, &message, &leftOut)) return 0;
  Named named;
  named.add(a, {});
  named.add(b, {});
  checkScript(readUtf16(reg), named);
  return 0;
}
