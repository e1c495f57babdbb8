#include "platform/memory_registry.h"

#include <unordered_map>

#include "base/files.h"
#include "base/text.h"
#include "platform/registry_text.h"

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

std::vector<std::u16string> splitPath(const std::u16string& path) {
  return splitNonEmpty(path, u'\\');
}

// Sets value v in values, in place of the value of the same name if there is one.
void putValue(std::vector<RegValue>* values, RegValue v) {
  for (RegValue& old : *values) {
    if (equalFolded(old.name, v.name)) {
      old = std::move(v);
      return;
    }
  }
  values->push_back(std::move(v));
}

// putValue for each of more in turn, indexing the names once: a key may hold tens of thousands
// of values.
void putValues(std::vector<RegValue>* values, std::vector<RegValue> more) {
  std::unordered_map<std::u16string, size_t> at;  // folded name -> place in values
  at.reserve(values->size() + more.size());
  for (size_t i = 0; i < values->size(); i++) at.emplace(fold((*values)[i].name), i);
  for (RegValue& v : more) {
    auto [it, added] = at.emplace(fold(v.name), values->size());
    if (added)
      values->push_back(std::move(v));
    else
      (*values)[it->second] = std::move(v);
  }
}

// Takes the target of a link key from v when v is its link value.
void noteLinkTarget(const RegValue& v, std::u16string* target) {
  if (!equalFolded(v.name, u"SymbolicLinkValue") || v.type != kTypeLink) return;
  target->clear();
  for (size_t i = 0; i + 1 < v.data.size(); i += 2)
    target->push_back(char16_t(v.data[i] | (v.data[i + 1] << 8)));
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

// Decodes a lazy key's value lines into out, the later of two equal names winning.
void decodeLazyValues(const Node* n, std::vector<RegValue>* out) {
  out->clear();
  if (!n->lazyText) return;
  std::vector<RegValue> lines;
  decodeHiveValues(*n->lazyText, n->lazyBegin, n->lazyEnd, &lines);
  putValues(out, std::move(lines));
}

// Makes a lazy key's values its own, before they are changed.
void materialize(Node* n) {
  if (!n->lazyText) return;
  std::vector<RegValue> decoded;
  decodeLazyValues(n, &decoded);
  n->lazyText = nullptr;
  putValues(&n->values, std::move(decoded));
}

void setNodeValue(Node* n, RegValue v) {
  materialize(n);
  noteLinkTarget(v, &n->linkTarget);
  putValue(&n->values, std::move(v));
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
  appendChars(&v.data, target.data(), target.size(), true);
  setNodeValue(n, std::move(v));
  return true;
}

bool MemoryRegistry::loadHive(std::string text, const std::u16string& base,
                              std::u16string* loadedBase, std::string* error) {
  if (!HiveReader::isHive(text)) {
    if (error) *error = "not a Wine registry file";
    return false;
  }
  texts_.push_back(std::make_unique<std::string>(std::move(text)));
  const std::string& t = *texts_.back();
  HiveReader reader(t);

  HiveReader::Key key;
  bool more = reader.next(&key);  // reads up to the first key line, where the base is known
  std::u16string basePath = base;
  if (base.empty()) {
    std::vector<std::u16string> parts = splitPath(reader.relativeTo());
    // "REGISTRY\Machine" or "\Registry\User\S-..." name the key from the top.
    if (!parts.empty() && equalFolded(parts[0], top_->name)) parts.erase(parts.begin());
    for (const std::u16string& p : parts) basePath += (basePath.empty() ? u"" : u"\\") + p;
  }
  Node* top = top_.get();
  Node* baseNode = walk(top, top, splitPath(basePath), true, Links::Keep);
  if (!baseNode && reader.keyLineSeen()) {
    if (error) *error = "the hive's base key cannot be created";
    return false;
  }
  for (; more; more = reader.next(&key)) {
    Node* n = walk(top, baseNode, splitPath(key.path), true, Links::Keep);
    if (!n || key.valuesEnd == key.valuesBegin) continue;
    if (key.link) n->isLink = true;
    materialize(n);  // a key listed twice keeps the values of both listings
    bool hadValues = !n->values.empty();
    n->lazyText = &t;
    n->lazyBegin = key.valuesBegin;
    n->lazyEnd = key.valuesEnd;
    if (hadValues || n->isLink) materialize(n);
    if (n->isLink)
      for (const RegValue& v : n->values) noteLinkTarget(v, &n->linkTarget);
  }
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

bool MemoryRegistry::applyReg(const std::string& bytes, std::string* error) {
  struct Apply : RegFileSink {
    MemoryRegistry* reg;
    Node* current = nullptr;

    explicit Apply(MemoryRegistry* r) : reg(r) {}
    bool openKey(int hive, const std::u16string& path) override {
      Node* root = reg->rootNode(hive, true);
      current = root ? walk(reg->top_.get(), root, splitPath(path), true) : nullptr;
      return current != nullptr;
    }
    void deleteKey(int hive, const std::u16string& path) override {
      reg->deleteKey(hive, path);  // deleting a key that is not there is no error
    }
    void setValue(const RegValue& v) override { setNodeValue(current, v); }
    void deleteValue(const std::u16string& name) override { removeNodeValue(current, name); }
  };
  Apply apply(this);
  return readRegFile(bytes, &apply, error);
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
