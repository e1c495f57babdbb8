#include "platform/memory_registry.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "base/files.h"
#include "base/reg_syntax.h"
#include "base/text.h"

namespace keldrun {

namespace {

constexpr uint32_t kTypeLink = 6;
// Deeper key paths than Windows allows are refused, so that no walk of the tree (nor the
// destruction of a subtree) recurses without bound.
constexpr size_t kMaxDepth = 512;
// Chains of symbolic links longer than this are taken as loops.
constexpr int kMaxLinkHops = 16;
// A key indexes its subkeys by folded name once it has more than this many.
constexpr size_t kIndexThreshold = 8;

std::u16string fold(const std::u16string& s) {
  std::u16string r(s);
  for (char16_t& c : r) c = foldChar(c);
  return r;
}

bool equalFolded(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i] != b[i] && foldChar(a[i]) != foldChar(b[i])) return false;
  return true;
}

std::vector<std::u16string> splitPath(const std::u16string& path) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); i++) {
    if (i == path.size() || path[i] == u'\\') {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void appendUtf16Bytes(std::vector<uint8_t>* out, const std::u16string& s) {
  size_t at = out->size();
  out->resize(at + 2 * s.size());
  for (size_t i = 0; i < s.size(); i++) {
    (*out)[at + 2 * i] = uint8_t(s[i]);
    (*out)[at + 2 * i + 1] = uint8_t(s[i] >> 8);
  }
}

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
    appendUtf16Bytes(&v->data, s);
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
    appendUtf16Bytes(&v->data, s);
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

}  // namespace

// A key. Subkeys are owned by their parent; the lazy fields point at a key's value lines in a
// loaded hive text until the key's values are changed.
struct MemoryRegistry::Node {
  std::u16string name;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
  std::unique_ptr<std::unordered_map<std::u16string, Node*>> index;  // folded name -> subkey
  std::vector<RegValue> values;
  const std::string* lazyText = nullptr;
  size_t lazyBegin = 0, lazyEnd = 0;
  bool isLink = false;
  std::u16string linkTarget;
  size_t depth = 0;

  Node* find(const std::u16string& childName) const {
    if (index) {
      auto it = index->find(fold(childName));
      return it == index->end() ? nullptr : it->second;
    }
    for (const auto& c : children)
      if (equalFolded(c->name, childName)) return c.get();
    return nullptr;
  }

  Node* add(const std::u16string& childName) {
    if (depth + 1 > kMaxDepth) return nullptr;
    auto node = std::make_unique<Node>();
    node->name = childName;
    node->parent = this;
    node->depth = depth + 1;
    Node* raw = node.get();
    children.push_back(std::move(node));
    if (index) {
      index->emplace(fold(childName), raw);
    } else if (children.size() > kIndexThreshold) {
      index = std::make_unique<std::unordered_map<std::u16string, Node*>>();
      for (const auto& c : children) index->emplace(fold(c->name), c.get());
    }
    return raw;
  }

  Node* findOrAdd(const std::u16string& childName) {
    Node* n = find(childName);
    return n ? n : add(childName);
  }

  void remove(Node* child) {
    if (index) index->erase(fold(child->name));
    for (size_t i = 0; i < children.size(); i++) {
      if (children[i].get() == child) {
        // Empty the subtree level by level, so that no deep tree is destroyed recursively.
        std::vector<std::unique_ptr<Node>> pending;
        pending.push_back(std::move(children[i]));
        children.erase(children.begin() + long(i));
        while (!pending.empty()) {
          std::unique_ptr<Node> n = std::move(pending.back());
          pending.pop_back();
          for (auto& c : n->children) pending.push_back(std::move(c));
          n->children.clear();
        }
        return;
      }
    }
  }

  size_t count() const {
    size_t n = 0;
    std::vector<const Node*> stack{this};
    while (!stack.empty()) {
      const Node* k = stack.back();
      stack.pop_back();
      n++;
      for (const auto& c : k->children) stack.push_back(c.get());
    }
    return n;
  }
};

namespace {

using Node = MemoryRegistry::Node;

// Decodes a lazy key's value lines into out, the later of two equal names winning. Lines that
// do not parse are skipped.
void decodeLazyValues(const Node* n, std::vector<RegValue>* out) {
  out->clear();
  if (!n->lazyText) return;
  std::u16string text = fromUtf8(n->lazyText->substr(n->lazyBegin, n->lazyEnd - n->lazyBegin));
  LineReader lines(text.data(), text.data() + text.size());
  std::u16string line;
  size_t number;
  RegValue v;
  while (lines.next(&line, &number)) {
    if (line.empty() || (line[0] != u'"' && line[0] != u'@')) continue;
    Cursor c{line.data(), line.data() + line.size()};
    bool remove;
    if (!parseValueLine(&c, Dialect::Wine, &v, &remove)) continue;
    bool replaced = false;
    for (RegValue& old : *out) {
      if (equalFolded(old.name, v.name)) {
        old = v;
        replaced = true;
        break;
      }
    }
    if (!replaced) out->push_back(v);
  }
}

// Makes a lazy key's values its own, before they are changed.
void materialize(Node* n) {
  if (!n->lazyText) return;
  std::vector<RegValue> decoded;
  decodeLazyValues(n, &decoded);
  n->lazyText = nullptr;
  for (RegValue& v : decoded) {
    bool replaced = false;
    for (RegValue& old : n->values)
      if (equalFolded(old.name, v.name)) {
        old = std::move(v);
        replaced = true;
        break;
      }
    if (!replaced) n->values.push_back(std::move(v));
  }
}

void setNodeValue(Node* n, RegValue v) {
  materialize(n);
  if (equalFolded(v.name, u"SymbolicLinkValue") && v.type == kTypeLink) {
    n->linkTarget.clear();
    for (size_t i = 0; i + 1 < v.data.size(); i += 2)
      n->linkTarget.push_back(char16_t(v.data[i] | (v.data[i + 1] << 8)));
  }
  for (RegValue& old : n->values) {
    if (equalFolded(old.name, v.name)) {
      old = std::move(v);
      return;
    }
  }
  n->values.push_back(std::move(v));
}

bool removeNodeValue(Node* n, const std::u16string& name) {
  materialize(n);
  for (size_t i = 0; i < n->values.size(); i++) {
    if (equalFolded(n->values[i].name, name)) {
      n->values.erase(n->values.begin() + long(i));
      return true;
    }
  }
  return false;
}

// Follows a link key to its target (itself when it is no link); null when the target does not
// exist or the chain does not end.
Node* resolve(Node* top, Node* n, int hops = 0);

enum class Links { Follow, Keep };

// Walks components from start; creates missing keys when create is set. With Links::Follow,
// every link met is followed, the last component's included. Hive files describe the stored
// tree itself, so their loader keeps links as they are.
Node* walk(Node* top, Node* start, const std::vector<std::u16string>& parts, bool create,
           Links links = Links::Follow) {
  Node* n = start;
  for (size_t i = 0; i < parts.size() && n; i++) {
    Node* next = n->find(parts[i]);
    if (!next) {
      if (!create) return nullptr;
      next = n->add(parts[i]);
      if (!next) return nullptr;
    }
    n = links == Links::Follow ? resolve(top, next) : next;
  }
  return n;
}

Node* resolve(Node* top, Node* n, int hops) {
  while (n && n->isLink) {
    if (++hops > kMaxLinkHops) return nullptr;
    std::vector<std::u16string> parts = splitPath(n->linkTarget);
    if (parts.empty() || !equalFolded(parts[0], top->name)) return nullptr;
    parts.erase(parts.begin());
    Node* at = top;
    for (size_t i = 0; i < parts.size() && at; i++) {
      at = at->find(parts[i]);
      if (at && at->isLink) at = resolve(top, at, hops);
    }
    n = at;
  }
  return n;
}

// True when `target` is one of the keys on `path` or holds one of them below it.
bool holdsAny(const Node* target, const std::vector<Node*>& path) {
  for (const Node* n : path) {
    for (const Node* up = n; up; up = up->parent) {
      if (up == target) return true;
    }
  }
  return false;
}

// The key a link's target path names, its last component not followed when that is a link
// itself (as for a link to itself); null when there is none.
Node* linkTargetNode(Node* top, const Node* link) {
  std::vector<std::u16string> parts = splitPath(link->linkTarget);
  if (parts.empty() || !equalFolded(parts[0], top->name)) return nullptr;
  std::u16string last = parts.back();
  parts.erase(parts.begin());
  if (parts.empty()) return top;
  parts.pop_back();
  Node* parent = walk(top, top, parts, false);
  return parent ? parent->find(last) : nullptr;
}

// Walks parts below start for an open key whose keys so far are *path, appending the keys it
// enters. Links are followed, except a link to a key on the path or to one that holds a key on
// it (the link itself and its ancestors included): following it would walk into a key being
// walked, without end. Such a link is entered as the key it is, with its link value and no
// subkeys.
Node* walkOpen(Node* top, Node* start, const std::vector<std::u16string>& parts, std::vector<Node*>* path) {
  Node* n = start;
  for (size_t i = 0; i < parts.size() && n; i++) {
    Node* next = n->find(parts[i]);
    if (next && next->isLink) {
      Node* named = linkTargetNode(top, next);
      Node* target = resolve(top, next);
      if (named == next || (named && holdsAny(named, *path)) || (target && holdsAny(target, *path))) {
        target = next;
      }
      next = target;
    }
    if (next) path->push_back(next);
    n = next;
  }
  return n;
}

// An open key: one node, or for HKEY_CLASSES_ROOT the user's node over the machine's. path_
// holds the keys entered from the root to this one (both sides for HKEY_CLASSES_ROOT).
class MemoryKey : public RegistryKey {
 public:
  MemoryKey(std::shared_ptr<MemoryRegistry> owner, Node* top, Node* primary, Node* secondary,
            std::vector<Node*> path)
      : owner_(std::move(owner)), top_(top), primary_(primary), secondary_(secondary), path_(std::move(path)) {}

  std::unique_ptr<RegistryKey> openSubKey(const std::u16string& path) override {
    std::vector<std::u16string> parts = splitPath(path);
    std::vector<Node*> onPath = path_;
    Node* p = primary_ ? walkOpen(top_, primary_, parts, &onPath) : nullptr;
    Node* s = secondary_ ? walkOpen(top_, secondary_, parts, &onPath) : nullptr;
    if (!p && !s) return nullptr;
    if (!p) std::swap(p, s);
    return std::make_unique<MemoryKey>(owner_, top_, p, s, std::move(onPath));
  }

  bool queryInfo(uint32_t* maxValueName, uint32_t* maxValueData) override {
    const std::vector<RegValue>& vs = values();
    uint32_t name = 0, data = 0;
    for (const RegValue& v : vs) {
      if (v.name.size() > name) name = uint32_t(v.name.size());
      if (v.data.size() > data) data = uint32_t(v.data.size());
    }
    *maxValueName = name;
    *maxValueData = data;
    return true;
  }

  bool enumKey(uint32_t index, std::u16string* name) override {
    if (!secondary_) {
      if (index >= primary_->children.size()) return false;
      *name = primary_->children[index]->name;
      return true;
    }
    if (!mergedBuilt_) {
      for (const auto& c : primary_->children) merged_.push_back(c->name);
      for (const auto& c : secondary_->children)
        if (!primary_->find(c->name)) merged_.push_back(c->name);
      mergedBuilt_ = true;
    }
    if (index >= merged_.size()) return false;
    *name = merged_[index];
    return true;
  }

  bool enumValue(uint32_t index, std::u16string* name, uint32_t* type,
                 std::vector<uint8_t>* data) override {
    const std::vector<RegValue>& vs = values();
    if (index >= vs.size()) return false;
    *name = vs[index].name;
    *type = vs[index].type;
    *data = vs[index].data;
    return true;
  }

 private:
  // The values come from the user's key where it exists (HKEY_CLASSES_ROOT's rule); a lazy
  // key is decoded once per open key, leaving the shared tree untouched.
  const std::vector<RegValue>& values() {
    Node* n = primary_;
    if (!n->lazyText) return n->values;
    if (!decoded_) {
      decodeLazyValues(n, &lazy_);
      decoded_ = true;
    }
    return lazy_;
  }

  std::shared_ptr<MemoryRegistry> owner_;
  Node* top_;
  Node* primary_;
  Node* secondary_;
  std::vector<Node*> path_;
  std::vector<std::u16string> merged_;
  bool mergedBuilt_ = false;
  std::vector<RegValue> lazy_;
  bool decoded_ = false;
};

// Skips the text up to and including the next '\n'.
size_t nextLineStart(const std::string& t, size_t at) {
  const void* nl = std::memchr(t.data() + at, '\n', t.size() - at);
  return nl ? size_t(static_cast<const char*>(nl) - t.data()) + 1 : t.size();
}

}  // namespace

MemoryRegistry::MemoryRegistry() : top_(std::make_unique<Node>()) { top_->name = u"REGISTRY"; }

MemoryRegistry::~MemoryRegistry() {
  // Subtrees are emptied level by level (see Node::remove).
  std::vector<std::unique_ptr<Node>> pending;
  for (auto& c : top_->children) pending.push_back(std::move(c));
  top_->children.clear();
  while (!pending.empty()) {
    std::unique_ptr<Node> n = std::move(pending.back());
    pending.pop_back();
    for (auto& c : n->children) pending.push_back(std::move(c));
    n->children.clear();
  }
}

std::shared_ptr<MemoryRegistry> MemoryRegistry::create(const std::u16string& userSid) {
  std::shared_ptr<MemoryRegistry> r(new MemoryRegistry());
  r->currentUser_ = userSid;
  r->top_->add(u"Machine");
  r->top_->add(u"User")->add(userSid);
  return r;
}

size_t MemoryRegistry::keyCount() const { return top_->count(); }

MemoryRegistry::Node* MemoryRegistry::rootNode(int hive, bool forWriting) {
  Node* top = top_.get();
  switch (hive) {
    case kHiveLocalMachine:
      return walk(top, top, {u"Machine"}, forWriting);
    case kHiveUsers:
      return walk(top, top, {u"User"}, forWriting);
    case kHiveCurrentUser:
      return walk(top, top, {u"User", currentUser_}, forWriting);
    case kHiveClassesRoot: {
      // Writes go to the user's classes where that key exists, else to the machine's.
      Node* user = walk(top, top, {u"User", currentUser_, u"Software", u"Classes"}, false);
      if (user) return user;
      return walk(top, top, {u"Machine", u"Software", u"Classes"}, forWriting);
    }
    case kHiveCurrentConfig:
      return walk(top, top,
                  {u"Machine", u"System", u"CurrentControlSet", u"Hardware Profiles", u"Current"},
                  forWriting);
    default:
      return nullptr;
  }
}

std::unique_ptr<RegistryKey> MemoryRegistry::openHive(int hive) {
  Node* top = top_.get();
  if (hive == kHiveClassesRoot) {
    Node* user = walk(top, top, {u"User", currentUser_, u"Software", u"Classes"}, false);
    Node* machine = walk(top, top, {u"Machine", u"Software", u"Classes"}, false);
    if (!user && !machine) return nullptr;
    if (!user) std::swap(user, machine);
    std::vector<Node*> path = {user};
    if (machine) path.push_back(machine);
    return std::make_unique<MemoryKey>(shared_from_this(), top, user, machine, std::move(path));
  }
  Node* n = rootNode(hive, false);
  if (!n) return nullptr;
  return std::make_unique<MemoryKey>(shared_from_this(), top, n, nullptr, std::vector<Node*>{n});
}

bool MemoryRegistry::createKey(int hive, const std::u16string& path) {
  Node* root = rootNode(hive, true);
  return root && walk(top_.get(), root, splitPath(path), true) != nullptr;
}

bool MemoryRegistry::setValue(int hive, const std::u16string& path, const std::u16string& name,
                              uint32_t type, const std::vector<uint8_t>& data) {
  Node* root = rootNode(hive, true);
  Node* n = root ? walk(top_.get(), root, splitPath(path), true) : nullptr;
  if (!n) return false;
  RegValue v;
  v.name = name;
  v.type = type;
  v.data = data;
  setNodeValue(n, std::move(v));
  return true;
}

bool MemoryRegistry::deleteValue(int hive, const std::u16string& path,
                                 const std::u16string& name) {
  Node* root = rootNode(hive, false);
  Node* n = root ? walk(top_.get(), root, splitPath(path), false) : nullptr;
  return n && removeNodeValue(n, name);
}

bool MemoryRegistry::deleteKey(int hive, const std::u16string& path) {
  std::vector<std::u16string> parts = splitPath(path);
  if (parts.empty()) return false;
  std::u16string last = parts.back();
  parts.pop_back();
  Node* root = rootNode(hive, false);
  Node* parent = root ? walk(top_.get(), root, parts, false) : nullptr;
  Node* n = parent ? parent->find(last) : nullptr;
  if (!n) return false;
  parent->remove(n);
  return true;
}

bool MemoryRegistry::createLink(int hive, const std::u16string& path,
                                const std::u16string& target) {
  Node* root = rootNode(hive, true);
  Node* n = root ? walk(top_.get(), root, splitPath(path), true, Links::Keep) : nullptr;
  if (!n) return false;
  n->isLink = true;
  RegValue v;
  v.name = u"SymbolicLinkValue";
  v.type = kTypeLink;
  appendUtf16Bytes(&v.data, target);
  setNodeValue(n, std::move(v));
  return true;
}

bool MemoryRegistry::loadHive(std::string text, const std::u16string& base,
                              std::u16string* loadedBase, std::string* error) {
  static const char kMagic[] = "WINE REGISTRY Version 2";
  if (text.compare(0, sizeof kMagic - 1, kMagic) != 0) {
    if (error) *error = "not a Wine registry file";
    return false;
  }
  texts_.push_back(std::make_unique<std::string>(std::move(text)));
  const std::string& t = *texts_.back();

  Node* top = top_.get();
  Node* baseNode = nullptr;
  std::u16string basePath = base;
  Node* current = nullptr;
  size_t pos = nextLineStart(t, 0);
  size_t valuesBegin = 0;

  auto closeKey = [&](size_t end) {
    if (!current) return;
    if (end > valuesBegin) {
      materialize(current);  // a key listed twice keeps the values of both listings
      bool hadValues = !current->values.empty();
      current->lazyText = &t;
      current->lazyBegin = valuesBegin;
      current->lazyEnd = end;
      if (hadValues || current->isLink) materialize(current);
      if (current->isLink) {
        for (const RegValue& v : current->values)
          if (equalFolded(v.name, u"SymbolicLinkValue") && v.type == kTypeLink) {
            current->linkTarget.clear();
            for (size_t i = 0; i + 1 < v.data.size(); i += 2)
              current->linkTarget.push_back(char16_t(v.data[i] | (v.data[i + 1] << 8)));
          }
      }
    }
    current = nullptr;
  };

  while (pos < t.size()) {
    size_t lineEnd = nextLineStart(t, pos);
    char first = t[pos];
    if (first == '[') {
      closeKey(pos);
      if (!baseNode) {
        baseNode = walk(top, top, splitPath(basePath), true, Links::Keep);
        if (!baseNode) {
          if (error) *error = "the hive's base key cannot be created";
          return false;
        }
      }
      size_t stop = lineEnd;
      while (stop > pos && (t[stop - 1] == '\n' || t[stop - 1] == '\r')) stop--;
      std::u16string line = fromUtf8(t.substr(pos + 1, stop - pos - 1));
      Cursor c{line.data(), line.data() + line.size()};
      std::u16string path;
      if (readQuoted(&c, Dialect::Wine, u']', &path)) {
        current = walk(top, baseNode, splitPath(path), true, Links::Keep);
        valuesBegin = lineEnd;
      }
    } else if (first == ';' && !baseNode && t.compare(pos, 24, ";; All keys relative to ") == 0) {
      if (base.empty()) {
        size_t stop = lineEnd;
        while (stop > pos && (t[stop - 1] == '\n' || t[stop - 1] == '\r')) stop--;
        std::u16string line = fromUtf8(t.substr(pos + 24, stop - pos - 24));
        line.push_back(u'"');
        Cursor c{line.data(), line.data() + line.size()};
        std::u16string rel;
        if (readQuoted(&c, Dialect::Wine, u'"', &rel)) {
          std::vector<std::u16string> parts = splitPath(rel);
          // "REGISTRY\Machine" or "\Registry\User\S-..." name the key from the top.
          if (!parts.empty() && equalFolded(parts[0], top->name)) parts.erase(parts.begin());
          basePath.clear();
          for (const std::u16string& p : parts) basePath += (basePath.empty() ? u"" : u"\\") + p;
        }
      }
    } else if (first == '#' && current && t.compare(pos, 5, "#link") == 0) {
      current->isLink = true;
    }
    pos = lineEnd;
  }
  closeKey(t.size());
  if (!baseNode) baseNode = walk(top, top, splitPath(basePath), true, Links::Keep);
  if (loadedBase) *loadedBase = basePath;
  return baseNode != nullptr;
}

bool MemoryRegistry::loadHiveFile(const std::string& path, const std::u16string& base,
                                  std::u16string* loadedBase, std::string* error) {
  std::string text;
  if (!readWholeFile(path, &text)) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  return loadHive(std::move(text), base, loadedBase, error);
}

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

bool MemoryRegistry::applyReg(const std::string& bytes, std::string* error) {
  std::u16string text = decodeRegText(bytes);
  LineReader lines(text.data(), text.data() + text.size());
  std::u16string line;
  size_t number = 0;
  Dialect dialect = Dialect::Reg5;
  bool headerSeen = false;
  Node* current = nullptr;
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
      current = nullptr;
      if (remove) {
        deleteKey(hive, rest);  // deleting a key that is not there is no error
      } else {
        Node* root = rootNode(hive, true);
        current = root ? walk(top_.get(), root, splitPath(rest), true) : nullptr;
        if (!current) return failAt("key cannot be created");
      }
      continue;
    }
    Cursor c{line.data() + a, line.data() + b};
    bool remove = false;
    if (!parseValueLine(&c, dialect, &v, &remove)) return failAt("value line cannot be read");
    if (!current) continue;  // values after a key deletion have no key to go to
    if (remove)
      removeNodeValue(current, v.name);
    else
      setNodeValue(current, v);
  }
  if (!headerSeen) {
    if (error) *error = "empty file";
    return false;
  }
  return true;
}

bool MemoryRegistry::applyRegFile(const std::string& path, std::string* error) {
  std::string bytes;
  if (!readWholeFile(path, &bytes)) {
    if (error) *error = "cannot read " + path;
    return false;
  }
  return applyReg(bytes, error);
}

}  // namespace keldrun
