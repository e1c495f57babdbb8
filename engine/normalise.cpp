#include "engine/normalise.h"

#include <algorithm>

#include "engine/value_entry.h"

namespace keldrun {

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Letters, digits and '_': the characters that continue a word. Every character beyond ASCII
// counts, since computer names and folder names may hold them.
bool isWordChar(char16_t c) {
  return isDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c >= 0x80;
}

bool wordStartsAt(const std::u16string& t, size_t start) { return start == 0 || !isWordChar(t[start - 1]); }
bool wordEndsAt(const std::u16string& t, size_t end) { return end == t.size() || !isWordChar(t[end]); }
// A folder's name ends where no name character continues it: "C:\users\al" is not in
// "C:\users\alice" nor in "C:\users\al.old".
bool folderEndsAt(const std::u16string& t, size_t end) {
  return end == t.size() || !(isWordChar(t[end]) || t[end] == u'.' || t[end] == u'-');
}

bool equalFoldedAt(const std::u16string& text, size_t at, const std::u16string& part) {
  if (part.empty() || at + part.size() > text.size()) return false;
  for (size_t i = 0; i < part.size(); i++)
    if (foldChar(text[at + i]) != foldChar(part[i])) return false;
  return true;
}

// Replaces each occurrence of `part` (case does not matter) that `ends` accepts at both of its
// ends by `by`.
template <typename Ends>
std::u16string replaceFolded(const std::u16string& text, const std::u16string& part,
                             const std::u16string& by, Ends ends) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (equalFoldedAt(text, i, part) && ends(text, i, i + part.size())) {
      out += by;
      i += part.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// A SID's subauthorities after "S-1-5-21": the position after them, and the last one.
size_t readSubauthorities(const std::u16string& text, size_t at, int* count, std::u16string* last) {
  *count = 0;
  while (at + 1 < text.size() && text[at] == u'-' && isDigit(text[at + 1])) {
    size_t start = ++at;
    while (at < text.size() && isDigit(text[at])) at++;
    *last = text.substr(start, at - start);
    ++*count;
  }
  return at;
}

struct Node {
  std::u16string name;
  uint32_t childTable = 0;
  uint32_t contentTable = 0;
};

// The entries of the tree table at offset; none when it cannot be read.
std::vector<Node> children(SnapshotFile* file, uint32_t offset) {
  std::vector<Node> nodes;
  std::vector<uint8_t> block;
  size_t length = 0;
  if (offset == 0 || !file->readBlock(offset, &block, 0, &length) || length > block.size())
    return nodes;
  Slice s(block.data(), length);
  TreeEntry e;
  while (TreeEntry::parse(&s, &e)) nodes.push_back({e.name.str(), e.childTable, e.contentTable});
  return nodes;
}

const Node* findChild(const std::vector<Node>& nodes, const char16_t* name) {
  for (const Node& n : nodes)
    if (equalFolded(n.name, name)) return &n;
  return nullptr;
}

std::vector<std::u16string> profilesFromRegistry(SnapshotFile* file, uint32_t root) {
  static const char16_t* const kPath[] = {u"HKEY_LOCAL_MACHINE", u"Software", u"Microsoft",
                                          u"Windows NT", u"CurrentVersion", u"ProfileList"};
  std::vector<std::u16string> profiles;
  uint32_t table = root;
  Node key;
  for (const char16_t* name : kPath) {
    std::vector<Node> level = children(file, table);
    const Node* n = findChild(level, name);
    if (!n) return profiles;
    key = *n;
    table = n->childTable;
  }
  for (const Node& sid : children(file, key.childTable)) {
    // The profiles of well-known accounts (S-1-5-18 ...) are the same on every machine.
    if (mapSids(sid.name) == sid.name) continue;
    ValueListReader values;
    if (sid.contentTable == 0 || !values.open(file, sid.contentTable)) continue;
    Item item;
    ValueEntry v;
    while (values.next(&item)) {
      if (!parseValueEntry(item.p, item.size, &v) || v.legacyCrc || !isStringType(v.type) ||
          !equalFolded(v.name.str(), u"ProfileImagePath"))
        continue;
      std::u16string data;
      for (size_t i = 0; i < v.dataLength() && v.charAt(i) != 0; i++) data.push_back(v.charAt(i));
      std::u16string profile = profileFromImagePath(data);
      if (profile.empty()) continue;
      profiles.push_back(profile);
      // Values may name the folder in the profile list's own form ("%SystemDrive%\Users\x").
      while (!data.empty() && data.back() == u'\\') data.pop_back();
      if (data != profile) profiles.push_back(data);
    }
  }
  return profiles;
}

std::vector<std::u16string> profilesFromFolders(SnapshotFile* file, uint32_t root) {
  static const char16_t* const kShared[] = {u"Public", u"Default", u"Default User", u"All Users"};
  std::vector<std::u16string> profiles;
  for (const Node& drive : children(file, root)) {
    std::u16string prefix = drive.name;
    if (!prefix.empty() && prefix.back() != u'\\') prefix.push_back(u'\\');
    for (const Node& folder : children(file, drive.childTable)) {
      if (!equalFolded(folder.name, u"users") && !equalFolded(folder.name, u"Documents and Settings"))
        continue;
      for (const Node& user : children(file, folder.childTable)) {
        bool shared = false;
        for (const char16_t* s : kShared) shared = shared || equalFolded(user.name, s);
        if (!shared) profiles.push_back(prefix + folder.name + u'\\' + user.name);
      }
    }
  }
  return profiles;
}

}  // namespace

std::u16string mapSids(const std::u16string& text) {
  static const std::u16string kStart = u"S-1-5-21";
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    if (equalFoldedAt(text, i, kStart) && wordStartsAt(text, i)) {
      int count = 0;
      std::u16string rid;
      size_t end = readSubauthorities(text, i + kStart.size(), &count, &rid);
      // "S-1-5-21-...-1001_Classes" names the user's classes key: '_' ends the SID.
      if ((count == 3 || count == 4) && (wordEndsAt(text, end) || text[end] == u'_')) {
        out += count == 4 ? u"<SID-" + rid + u">" : u"<SID>";
        i = end;
        continue;
      }
    }
    out.push_back(text[i++]);
  }
  return out;
}

std::u16string profileFromImagePath(const std::u16string& data) {
  std::u16string path = data;
  static const std::u16string kSystemDrive = u"%SystemDrive%";
  if (equalFoldedAt(path, 0, kSystemDrive)) path.replace(0, kSystemDrive.size(), u"C:");
  while (!path.empty() && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  return path;
}

MachineIdentity recordedIdentity(SnapshotFile* file, const SnapshotInfo& info) {
  MachineIdentity id;
  id.computer = widen(info.computer);
  id.profiles = profilesFromRegistry(file, info.sectionOffset[kSectionRegistry]);
  if (id.profiles.empty()) id.profiles = profilesFromFolders(file, info.sectionOffset[kSectionFiles]);
  return id;
}

Normaliser::Normaliser(MachineIdentity a, MachineIdentity b) : sides_{std::move(a), std::move(b)} {
  // Longest first, so that "C:\users\alice smith" is mapped whole before "C:\users\alice".
  for (MachineIdentity& side : sides_) {
    std::stable_sort(side.profiles.begin(), side.profiles.end(),
                     [](const std::u16string& x, const std::u16string& y) { return x.size() > y.size(); });
  }
}

std::u16string Normaliser::name(int side, const std::u16string& parentPath,
                                const std::u16string& name) const {
  std::u16string path = parentPath;
  if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
  path += name;
  for (const std::u16string& profile : sides_[side].profiles)
    if (equalFolded(path, profile)) return u"%USERPROFILE%";
  return mapSids(name);
}

std::u16string Normaliser::text(int side, const std::u16string& text) const {
  const MachineIdentity& id = sides_[side];
  std::u16string out = mapSids(text);
  auto inFolder = [](const std::u16string& t, size_t, size_t end) { return folderEndsAt(t, end); };
  auto folder = [](const std::u16string& t, size_t start, size_t end) {
    return wordStartsAt(t, start) && folderEndsAt(t, end);
  };
  auto word = [](const std::u16string& t, size_t start, size_t end) {
    return wordStartsAt(t, start) && wordEndsAt(t, end);
  };
  for (const std::u16string& profile : id.profiles)
    out = replaceFolded(out, profile, u"%USERPROFILE%", inFolder);
  for (const std::u16string& profile : id.profiles) {
    // The same folder without its drive (HOMEPATH), and the folder's name as a whole text
    // (USERNAME): a user's name inside other words is too common to map.
    if (profile.find(u':') == 1 && profile.size() > 2)
      out = replaceFolded(out, profile.substr(2), u"%HOMEPATH%", folder);
    size_t slash = profile.rfind(u'\\');
    size_t end = out.find_last_not_of(u'\0') + 1;  // string data ends in its terminators
    if (slash != std::u16string::npos && equalFolded(out.substr(0, end), profile.substr(slash + 1)))
      out.replace(0, end, u"%USERNAME%");
  }
  if (!id.computer.empty()) out = replaceFolded(out, id.computer, u"%COMPUTERNAME%", word);
  return out;
}

bool Normaliser::sameMapped(int section, const Item& a, const Item& b) const {
  if (section != kSectionRegistry) return false;
  ValueEntry x, y;
  if (!parseValueEntry(a.p, a.size, &x) || !parseValueEntry(b.p, b.size, &y)) return false;
  if (x.legacyCrc || y.legacyCrc || x.type != y.type || !isStringType(x.type)) return false;
  auto chars = [](const ValueEntry& v) {
    std::u16string s;
    for (size_t i = 0; i < v.dataLength(); i++) s.push_back(v.charAt(i));
    return s;
  };
  return text(kSideA, chars(x)) == text(kSideB, chars(y));
}

}  // namespace keldrun
