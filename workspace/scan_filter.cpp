#include "workspace/scan_filter.h"

#include <algorithm>
#include <cstdio>

#include "base/files.h"
#include "engine/registry_scan.h"
#include "platform/env.h"

namespace keldrun {

namespace {

const char* const kHeaders[kSectionCount] = {"Registry:", "Files:", "Applications:"};
constexpr size_t kMaxSubkeyName = 1024;
// The path the applications section item is looked up under in its stored list.
const char16_t kApplicationsPath[] = u"a";

bool equalsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

// True when the bytes are well-formed UTF-8 and encode at least one character above U+00FF:
// the form filterText gives items that one byte per character cannot hold.
bool isWideUtf8(const std::string& s) {
  bool wide = false;
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; k++)
      if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
    if (n > 2 || c >= 0xC4) wide = true;
    i += n;
  }
  return wide;
}

// Two paths related as the one containing the other (ignoring case, over the shorter length).
bool related(const std::u16string& a, const std::u16string& b) {
  return a.size() <= b.size() ? startsWithFolded(b, a) : startsWithFolded(a, b);
}

}  // namespace

void readFilterText(const std::string& text, FilterList lists[kSectionCount]) {
  for (int s = 0; s < kSectionCount; s++) lists[s].clear();
  int current = -1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    // Every carriage return of the line end goes: a file passed twice through a text-mode
    // conversion ends its lines in "\r\r\n", and an item never ends in one.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '-' || line.size() > kMaxFilterLine) continue;
    bool header = false;
    for (int s = 0; s < kSectionCount; s++)
      if (equalsIgnoringCase(line, kHeaders[s])) {
        current = s;
        header = true;
      }
    if (header || current < 0) continue;
    std::u16string item = isWideUtf8(line) ? fromUtf8(line) : widen(line);
    if (item[0] != u'*' && item.back() != u'\\') item += u'\\';
    lists[current].push_back(lowerAscii(item));
  }
}

void loadFilter(const std::string& fileName, FilterList lists[kSectionCount]) {
  std::string text;
  if (!readWholeFile(fileName, &text)) {
    for (int s = 0; s < kSectionCount; s++) lists[s] = {u"*"};
    return;
  }
  readFilterText(text, lists);
}

std::string filterText(const FilterList lists[kSectionCount]) {
  std::string out;
  for (int s = 0; s < kSectionCount; s++) {
    out += kHeaders[s];
    out += '\n';
    for (const std::u16string& item : lists[s]) {
      out += needsWide(item) ? toUtf8(item) : lowBytes(item);
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

bool writeFilterFile(const std::string& fileName, const FilterList lists[kSectionCount],
                     FileSystem* fs) {
  std::string text = filterText(lists);
#ifdef _WIN32
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  text.swap(crlf);
#endif
  return replaceFileContent(fs, fileName, text.data(), text.size());
}

int initialState(const std::u16string& path, const FilterList& list) {
  if (list.size() == 1 && !list[0].empty() && list[0][0] == u'*') return kChecked;
  int state = kUnchecked;
  for (const std::u16string& item : list) {
    if (item.size() <= path.size() && startsWithFolded(path, item)) return kChecked;
    if (item.size() > path.size() && startsWithFolded(item, path)) state = kPartlyChecked;
  }
  return state;
}

// ---- EnvSelectionSource ----

std::vector<char16_t> EnvSelectionSource::fixedDrives() {
  std::vector<char16_t> drives;
  uint32_t mask = env_->logicalDrives();
  for (int i = 0; i < 26; i++)
    if ((mask & (1u << i)) && env_->driveType(char16_t(u'a' + i)) == kDriveFixed)
      drives.push_back(char16_t(u'a' + i));
  return drives;
}

bool EnvSelectionSource::hasSubfolder(const std::u16string& folder) {
  std::unique_ptr<FolderListing> listing = env_->listFolder(folder);
  if (!listing) return false;
  DirEntry e;
  while (listing->next(&e))
    if (e.isFolder && !e.name.empty() && e.name[0] != u'.') return true;
  return false;
}

std::vector<SelectionSource::Child> EnvSelectionSource::children(int section,
                                                                 const std::u16string& path) {
  std::vector<Child> out;
  if (section == kSectionRegistry) {
    std::unique_ptr<RegistryKey> key = openKeyPath(env_, path);
    if (!key) return out;
    std::u16string name;
    for (uint32_t i = 0; key->enumKey(i, &name); i++) {
      if (name.size() > kMaxSubkeyName) continue;
      Child c;
      c.name = name;
      std::unique_ptr<RegistryKey> sub = key->openSubKey(name);
      std::u16string grandchild;
      c.hasChildren = sub && sub->enumKey(0, &grandchild);
      out.push_back(std::move(c));
    }
  } else if (section == kSectionFiles) {
    std::unique_ptr<FolderListing> listing = env_->listFolder(path);
    if (!listing) return out;
    DirEntry e;
    while (listing->next(&e)) {
      if (!e.isFolder || e.name.empty() || e.name[0] == u'.') continue;
      Child c;
      c.name = e.name;
      c.hasChildren = hasSubfolder(path + e.name + u'\\');
      out.push_back(std::move(c));
    }
  }
  return out;
}

// ---- SelectionTree ----

SelectionTree::SelectionTree(SelectionSource* source, const FilterList stored[kSectionCount])
    : source_(source) {
  for (int s = 0; s < kSectionCount; s++) stored_[s] = stored[s];
  add(-1, u"My Computer", kDataRootOrPlaceholder, kUnchecked);
  const char16_t* names[kSectionCount] = {u"Registry", u"Files", u"Applications"};
  for (int s = 0; s < kSectionCount; s++)
    sections_[s] = add(0, names[s], kDataSection + s, kUnchecked);

  auto addExpandable = [&](int section, const std::u16string& text) {
    int parent = sections_[section];
    int id = add(parent, text, kDataUnfilled, kUnchecked);
    int state = initialState(path(id), stored_[section]);
    items_[size_t(id)].state = state;
    add(id, u"-", kDataRootOrPlaceholder, state);
  };
  for (int h = 0; h < kHiveCount; h++) addExpandable(kSectionRegistry, kHiveNames[h]);
  for (char16_t letter : source_->fixedDrives())
    addExpandable(kSectionFiles, std::u16string(1, letter) + u":\\");
  items_[size_t(sections_[kSectionApps])].state = initialState(kApplicationsPath, stored_[kSectionApps]);

  // Sections and root from their children.
  for (int id : {sections_[0], sections_[1], sections_[2], 0}) {
    Item& it = items_[size_t(id)];
    if (it.children.empty()) continue;
    bool all1 = true, all0 = true;
    for (int c : it.children) {
      all1 = all1 && items_[size_t(c)].state == kChecked;
      all0 = all0 && items_[size_t(c)].state == kUnchecked;
    }
    it.state = all1 ? kChecked : all0 ? kUnchecked : kPartlyChecked;
  }
}

int SelectionTree::add(int parent, const std::u16string& text, int data, int state) {
  Item it;
  it.text = text;
  it.data = data;
  it.state = state;
  it.parent = parent;
  items_.push_back(std::move(it));
  int id = int(items_.size() - 1);
  if (parent >= 0) items_[size_t(parent)].children.push_back(id);
  return id;
}

int SelectionTree::child(int id, const std::u16string& text) const {
  for (int c : items_[size_t(id)].children)
    if (items_[size_t(c)].text == text) return c;
  return -1;
}

int SelectionTree::sectionOf(int id) const {
  for (; id > 0; id = items_[size_t(id)].parent) {
    int data = items_[size_t(id)].data;
    if (data >= kDataSection && data < kDataSection + kSectionCount) return data - kDataSection;
  }
  return -1;
}

std::u16string SelectionTree::path(int id) const {
  std::vector<int> chain;
  for (; id > 0 && items_[size_t(id)].data < kDataSection; id = items_[size_t(id)].parent)
    chain.push_back(id);
  std::u16string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += items_[size_t(*it)].text;
    if (out.empty() || out.back() != u'\\') out += u'\\';
  }
  return out;
}

void SelectionTree::expand(int id) {
  Item& it = items_[size_t(id)];
  if ((it.data != kDataUnfilled && it.data != kDataLeafKey) || it.children.empty()) return;
  int section = sectionOf(id);
  // The placeholder is the only child; its record stays behind, unlinked.
  it.children.clear();
  it.data = kDataFilled;
  std::u16string base = path(id);
  std::vector<SelectionSource::Child> list = source_->children(section, base);
  std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    return compareNames(a.name, b.name) < 0;
  });
  int parentState = items_[size_t(id)].state;
  for (const SelectionSource::Child& c : list) {
    int state = parentState == kPartlyChecked
                    ? initialState(base + c.name + u'\\', stored_[section])
                    : parentState;
    int leaf = section == kSectionRegistry ? kDataLeafKey : kDataLeafFolder;
    int childId = add(id, c.name, c.hasChildren ? kDataUnfilled : leaf, state);
    if (c.hasChildren) add(childId, u"-", kDataRootOrPlaceholder, state);
  }
}

void SelectionTree::setSubtree(int id, int state) {
  items_[size_t(id)].state = state;
  for (int c : items_[size_t(id)].children) setSubtree(c, state);
}

void SelectionTree::updateAncestors(int id, int newState) {
  for (int p = items_[size_t(id)].parent; p >= 0; p = items_[size_t(p)].parent) {
    bool all1 = true, anyNot0 = false;
    for (int c : items_[size_t(p)].children) {
      int s = items_[size_t(c)].state;
      all1 = all1 && s == kChecked;
      anyNot0 = anyNot0 || s != kUnchecked;
    }
    if (newState == kChecked)
      items_[size_t(p)].state = all1 ? kChecked : kPartlyChecked;
    else
      items_[size_t(p)].state = anyNot0 ? kPartlyChecked : kUnchecked;
  }
}

void SelectionTree::click(int id) {
  int newState = items_[size_t(id)].state == kUnchecked ? kChecked : kUnchecked;
  if (newState == kUnchecked) {
    if (id == root()) {
      for (FilterList& l : stored_) l.clear();
    } else {
      int section = sectionOf(id);
      std::u16string p = path(id);
      FilterList& l = stored_[section];
      l.erase(std::remove_if(l.begin(), l.end(), [&](const std::u16string& item) { return related(item, p); }),
              l.end());
    }
  }
  setSubtree(id, newState);
  updateAncestors(id, newState);
}

void SelectionTree::collectChecked(int id, FilterList* out) const {
  for (int c : items_[size_t(id)].children) {
    const Item& it = items_[size_t(c)];
    if (it.data == kDataRootOrPlaceholder) continue;
    if (it.state == kChecked)
      out->push_back(lowerAscii(path(c)));
    else if (it.state == kPartlyChecked)
      collectChecked(c, out);
  }
}

FilterList SelectionTree::collect(int section) {
  const Item& sec = items_[size_t(sections_[section])];
  FilterList& l = stored_[section];
  // An unchecked section scans nothing, even when its stored list still says "*" because its
  // children were unchecked one by one, or names items the tree does not show.
  if (sec.state == kUnchecked) {
    l.clear();
    return l;
  }
  if (sec.state == kChecked) {
    l = {u"*"};
    return l;
  }
  FilterList out;
  if (section == kSectionApps)
    l.clear();
  else
    collectChecked(sections_[section], &out);
  for (const std::u16string& item : l) out.push_back(lowerAscii(item));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  if (out.size() > 1 && !out[0].empty() && out[0][0] == u'*') out.erase(out.begin());
  // Sorted, an item's descendants follow it directly.
  FilterList outer;
  for (std::u16string& item : out)
    if (outer.empty() || outer.back()[0] == u'*' || item.compare(0, outer.back().size(), outer.back()) != 0)
      outer.push_back(std::move(item));
  l = outer;
  return outer;
}

bool SelectionTree::saveFilter(const std::string& fileName, FileSystem* fs) {
  FilterList lists[kSectionCount];
  for (int s = 0; s < kSectionCount; s++) lists[s] = collect(s);
  return writeFilterFile(fileName, lists, fs);
}

}  // namespace keldrun
