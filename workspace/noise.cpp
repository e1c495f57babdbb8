#include "workspace/noise.h"

#include <algorithm>

#include "base/files.h"
#include "base/text.h"
#include "engine/app_scan.h"
#include "workspace/settings.h"

namespace keldrun {

namespace {

std::u16string folded(const std::u16string& s) {
  std::u16string out(s);
  for (char16_t& c : out) c = foldChar(c);
  return out;
}

bool isPattern(const std::u16string& component) {
  return component != u"*" && component.find_first_of(u"*?") != std::u16string::npos;
}

// '*' any run of characters, '?' one; both folded. Iterative with one backtrack point, so a
// hostile pattern costs at most length x length.
bool globMatch(const std::u16string& pattern, const std::u16string& name) {
  size_t p = 0, n = 0, starP = std::u16string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      p++;
      n++;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') p++;
  return p == pattern.size();
}

const struct {
  const char16_t* shortName;
  const char16_t* longName;
} kRootNames[] = {
    {u"HKLM", u"HKEY_LOCAL_MACHINE"}, {u"HKCU", u"HKEY_CURRENT_USER"},
    {u"HKCR", u"HKEY_CLASSES_ROOT"},  {u"HKU", u"HKEY_USERS"},
    {u"HKCC", u"HKEY_CURRENT_CONFIG"},
};

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

bool normaliseNoiseEntry(const std::u16string& text, std::u16string* entry, std::string* reason) {
  size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) b++;
  while (e > b && (isBlank(text[e - 1]) || text[e - 1] == u'\\')) e--;
  std::u16string s = text.substr(b, e - b);
  if (s.empty()) {
    *reason = "empty path";
    return false;
  }
  size_t firstEnd = s.find(u'\\');
  std::u16string root = s.substr(0, firstEnd);
  for (const auto& r : kRootNames) {
    if (equalFolded(root, r.shortName)) {
      s.replace(0, root.size(), r.longName);
      break;
    }
  }
  if (s[0] == u'\\' || s.find(u"\\\\") != std::u16string::npos) {
    *reason = "empty path component";
    return false;
  }
  *entry = s;
  return true;
}

namespace {

std::vector<std::u16string> components(const std::u16string& path) {
  std::vector<std::u16string> out;
  for (const std::u16string& c : splitNonEmpty(path, u'\\')) out.push_back(folded(c));
  return out;
}

// Whether one component of an entry and one of a location can name the same key or folder.
bool meet(const std::u16string& a, const std::u16string& b) {
  if (a == u"*" || b == u"*" || a == b) return true;
  return (isPattern(a) && globMatch(a, b)) || (isPattern(b) && globMatch(b, a));
}

// Whether the first `count` components of an entry and of a location can meet.
bool meetOver(const std::vector<std::u16string>& e, const std::vector<std::u16string>& p, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (!meet(e[i], p[i])) return false;
  return true;
}

}  // namespace

bool namesNeverHidden(const std::u16string& entry, std::u16string* location) {
  std::vector<std::u16string> e = components(entry);
  for (const std::u16string& place : autostartLocations()) {
    std::vector<std::u16string> p = components(place);
    if (e.size() >= p.size() && meetOver(e, p, p.size())) {
      *location = place;
      return true;
    }
  }
  return false;
}

bool coversNeverHidden(const std::u16string& entry) {
  std::vector<std::u16string> e = components(entry);
  for (const std::u16string& place : autostartLocations()) {
    std::vector<std::u16string> p = components(place);
    if (e.size() <= p.size() && meetOver(e, p, e.size())) return true;
  }
  return false;
}

void NoiseList::parse(const std::string& text, const std::string& fileName,
                      std::vector<std::string>* problems) {
  lines_.clear();
  size_t entries = 0;
  int number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    number++;
    Line line;
    line.raw = text.substr(at, end - at);
    if (!line.raw.empty() && line.raw.back() == '\r') line.raw.pop_back();
    at = end + 1;
    auto report = [&](const std::string& why) {
      if (problems) problems->push_back(fileName + ":" + std::to_string(number) + ": " + why);
    };
    if (line.raw.size() > kMaxNoiseLine) {
      report("line longer than " + std::to_string(kMaxNoiseLine) + " bytes, skipped");
      line.raw = "# (skipped: line too long)";
      lines_.push_back(std::move(line));
      continue;
    }
    std::string body = trimmed(line.raw);
    if (!body.empty() && body[0] != '#') {
      std::string reason;
      if (entries >= kMaxNoiseEntries) {
        report("more than " + std::to_string(kMaxNoiseEntries) + " entries, skipped");
      } else if (!normaliseNoiseEntry(fromUtf8(body), &line.entry, &reason)) {
        report(reason + ", skipped");
      } else {
        entries++;
      }
    }
    lines_.push_back(std::move(line));
  }
}

std::vector<std::u16string> NoiseList::entries() const {
  std::vector<std::u16string> out;
  for (const Line& l : lines_)
    if (!l.entry.empty()) out.push_back(l.entry);
  return out;
}

int NoiseList::find(const std::u16string& entry) const {
  for (size_t i = 0; i < lines_.size(); i++)
    if (!lines_[i].entry.empty() && equalFolded(lines_[i].entry, entry)) return int(i);
  return -1;
}

bool NoiseList::contains(const std::u16string& entry) const { return find(entry) >= 0; }

bool NoiseList::add(const std::u16string& entry, const std::string& why) {
  if (contains(entry)) return false;
  if (!why.empty()) lines_.push_back({"# " + why, std::u16string()});
  lines_.push_back({toUtf8(entry), entry});
  return true;
}

bool NoiseList::remove(const std::u16string& entry) {
  int i = find(entry);
  if (i < 0) return false;
  size_t first = size_t(i);
  // The comment add wrote belongs to its entry; a comment above a blank line or another entry's
  // block stays.
  if (first > 0 && lines_[first - 1].entry.empty() && trimmed(lines_[first - 1].raw).rfind("# ", 0) == 0 &&
      (first + 1 == lines_.size() || !trimmed(lines_[first + 1].raw).empty()) &&
      (first < 2 || !lines_[first - 2].entry.empty()))
    first--;
  lines_.erase(lines_.begin() + long(first), lines_.begin() + i + 1);
  return true;
}

std::string NoiseList::text() const {
  std::string out;
  for (const Line& l : lines_) out += l.raw + "\n";
  return out;
}

// Undo file: the kept versions, newest first, each as one line "@@ N" giving its length in
// bytes, then exactly that many bytes; "@@ none" stands for a workspace without noise.txt
// (undo then removes the file, and the default list is back). Lengths rather than separators,
// so no list text can end a version early.
NoiseFile::NoiseFile(const std::string& folder, FileSystem* fs) : folder_(folder), fs_(fs) {}

std::string NoiseFile::path() const { return folder_ + "noise.txt"; }
std::string NoiseFile::undoPath() const { return folder_ + "noise.txt.undo"; }

void NoiseFile::load(bool useDefaults, std::vector<std::string>* problems) {
  std::string text;
  fromDefaults_ = false;
  if (readWholeFile(path(), &text)) {
    list_.parse(text, path(), problems);
    return;
  }
  if (useDefaults) {
    fromDefaults_ = true;
    list_.parse(defaultNoiseText(), "(default noise list)", problems);
  } else {
    list_.parse(std::string(), path(), problems);
  }
}

bool NoiseFile::readVersions(std::vector<Version>* versions) const {
  versions->clear();
  std::string all;
  if (!readWholeFile(undoPath(), &all)) return true;
  size_t at = 0;
  while (at < all.size()) {
    size_t eol = all.find('\n', at);
    if (eol == std::string::npos || all.compare(at, 3, "@@ ") != 0) return false;
    std::string word = all.substr(at + 3, eol - at - 3);
    at = eol + 1;
    if (word == "none") {
      versions->push_back({false, std::string()});
      continue;
    }
    if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos)
      return false;
    size_t n = size_t(std::stoul(word));
    if (n > all.size() - at) return false;
    versions->push_back({true, all.substr(at, n)});
    at += n;
  }
  return true;
}

bool NoiseFile::writeVersions(const std::vector<Version>& versions) {
  std::string all;
  for (const Version& v : versions)
    all += v.exists ? "@@ " + std::to_string(v.text.size()) + "\n" + v.text : "@@ none\n";
  if (versions.empty()) return !readWholeFile(undoPath(), &all) || fs_->removeFile(undoPath());
  return replaceFileContent(fs_, undoPath(), all.data(), all.size());
}

bool NoiseFile::putBack(const Version& version) {
  if (version.exists) return replaceFileContent(fs_, path(), version.text.data(), version.text.size());
  std::string text;
  return !readWholeFile(path(), &text) || fs_->removeFile(path());
}

bool NoiseFile::save() {
  std::vector<Version> versions;
  if (!readVersions(&versions)) versions.clear();  // a damaged history starts again
  Version previous;
  previous.exists = readWholeFile(path(), &previous.text);
  versions.insert(versions.begin(), previous);
  if (versions.size() > kNoiseUndoDepth) versions.resize(kNoiseUndoDepth);
  std::string text = list_.text();
  if (!writeVersions(versions)) return false;
  if (!replaceFileContent(fs_, path(), text.data(), text.size())) return false;
  fromDefaults_ = false;
  return true;
}

bool NoiseFile::undo(bool useDefaults) {
  std::vector<Version> versions;
  if (!readVersions(&versions) || versions.empty()) return false;
  Version back = versions.front();
  versions.erase(versions.begin());
  if (!putBack(back) || !writeVersions(versions)) return false;
  load(useDefaults, nullptr);
  return true;
}

size_t NoiseFile::undoDepth() const {
  std::vector<Version> versions;
  return readVersions(&versions) ? versions.size() : 0;
}

bool NoiseFile::addEntry(const std::u16string& text, std::string* message) {
  std::u16string entry, location;
  std::string reason;
  if (!normaliseNoiseEntry(text, &entry, &reason)) {
    *message = "not a noise entry: " + reason;
    return false;
  }
  if (namesNeverHidden(entry, &location)) {
    *message = toUtf8(location) + " starts with the machine and is never hidden";
    return false;
  }
  if (!list_.add(entry)) {
    *message = toUtf8(entry) + " is on the noise list already";
    return false;
  }
  if (!save()) {
    *message = "cannot write " + path();
    return false;
  }
  *message = "added " + toUtf8(entry);
  return true;
}

bool NoiseFile::removeEntry(const std::u16string& text, std::string* message) {
  std::u16string entry;
  std::string reason;
  if (!normaliseNoiseEntry(text, &entry, &reason) || !list_.remove(entry)) {
    *message = toUtf8(text) + " is not on the noise list";
    return false;
  }
  if (!save()) {
    *message = "cannot write " + path();
    return false;
  }
  *message = "removed " + toUtf8(entry);
  return true;
}

std::shared_ptr<const NoiseMatcher> workspaceNoise(const Settings& settings,
                                                   std::vector<std::string>* problems) {
  NoiseFile file(settings.folder());
  file.load(settings.noiseDefaults != 0, problems);
  std::vector<std::u16string> entries = file.list().entries();
  if (entries.empty()) return nullptr;
  return std::make_shared<NoiseMatcher>(entries);
}

void NoiseMatcher::Tree::add(const std::u16string& entry) {
  int32_t at = 0;
  size_t from = 0;
  for (;;) {
    size_t next = entry.find(u'\\', from);
    std::u16string part =
        folded(entry.substr(from, next == std::u16string::npos ? std::u16string::npos : next - from));
    int32_t child = -1;
    if (part == u"*") {
      child = nodes[size_t(at)].any;
    } else if (isPattern(part)) {
      for (const auto& p : nodes[size_t(at)].patterns)
        if (p.first == part) child = p.second;
    } else {
      auto found = nodes[size_t(at)].children.find(part);
      if (found != nodes[size_t(at)].children.end()) child = found->second;
    }
    if (child < 0) {
      child = int32_t(nodes.size());
      nodes.emplace_back();
      Node& parent = nodes[size_t(at)];
      if (part == u"*")
        parent.any = child;
      else if (isPattern(part))
        parent.patterns.emplace_back(part, child);
      else
        parent.children.emplace(part, child);
    }
    at = child;
    if (next == std::u16string::npos) break;
    from = next + 1;
  }
  nodes[size_t(at)].end = true;
}

void NoiseMatcher::Tree::advance(int32_t from, const std::u16string& name,
                                 std::vector<int32_t>* out, bool* end) const {
  const Node& n = nodes[size_t(from)];
  auto take = [&](int32_t child) {
    out->push_back(child);
    if (nodes[size_t(child)].end) *end = true;
  };
  auto found = n.children.find(name);
  if (found != n.children.end()) take(found->second);
  if (n.any >= 0) take(n.any);
  for (const auto& p : n.patterns)
    if (globMatch(p.first, name)) take(p.second);
}

NoiseMatcher::NoiseMatcher(const std::vector<std::u16string>& entries) {
  for (const std::u16string& e : entries) noise_.add(e);
  entryCount_ = entries.size();
  for (const std::u16string& e : autostartLocations()) guard_.add(e);
}

NoiseMark NoiseMatcher::top() const {
  NoiseMark m;
  if (entryCount_) m.noise.push_back(0);
  m.guard.push_back(0);
  return m;
}

NoiseMark NoiseMatcher::step(const NoiseMark& parent, const std::u16string& name) const {
  NoiseMark m;
  m.covered = parent.covered;
  m.guarded = parent.guarded;
  // Nothing can cover a node whose parent reached no entry, and a covered node with no
  // never-hidden location ahead stays hidden whatever lies below.
  if (!m.covered && parent.noise.empty()) return m;
  if (m.covered && !m.guarded && parent.guard.empty()) return m;
  // A drive's root is named with its backslash, as in "c:\ "; the list names it "c:".
  size_t length = name.size();
  while (length > 1 && name[length - 1] == u'\\') length--;
  std::u16string key = folded(name.substr(0, length));
  // Below a covered node the list's tree has nothing more to say, and below a guarded one the
  // guard's.
  if (!m.covered)
    for (int32_t n : parent.noise) noise_.advance(n, key, &m.noise, &m.covered);
  if (m.covered) m.noise.clear();
  if (!m.guarded)
    for (int32_t n : parent.guard) guard_.advance(n, key, &m.guard, &m.guarded);
  if (m.guarded) m.guard.clear();
  return m;
}

NoiseMark NoiseMatcher::markOf(const std::u16string& path) const {
  NoiseMark m = top();
  size_t from = 0;
  while (from < path.size()) {
    size_t next = path.find(u'\\', from);
    if (next == std::u16string::npos) next = path.size();
    if (next > from) m = step(m, path.substr(from, next - from));
    from = next + 1;
  }
  return m;
}

}  // namespace keldrun
