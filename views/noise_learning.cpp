#include "views/noise_learning.h"

#include <algorithm>
#include <map>

#include "base/text.h"

namespace keldrun {

namespace {

bool isHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isNumber(const std::u16string& s) {
  if (s.empty()) return false;
  for (char16_t c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces optional.
bool isGuid(const std::u16string& s) {
  std::u16string g = s;
  if (g.size() == 38 && g.front() == u'{' && g.back() == u'}') g = g.substr(1, 36);
  if (g.size() != 36) return false;
  for (size_t i = 0; i < g.size(); i++) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? g[i] != u'-' : !isHex(g[i])) return false;
  }
  return true;
}

// "S-1-5-21-...-1001", and the "_Classes" hive beside a user's.
bool isSid(const std::u16string& s) {
  if (s.size() < 5 || (s[0] != u'S' && s[0] != u's') || s[1] != u'-') return false;
  std::u16string rest = s.substr(2);
  size_t classes = rest.size() >= 8 ? rest.size() - 8 : std::u16string::npos;
  if (classes != std::u16string::npos && equalFolded(rest.substr(classes), u"_classes")) rest.resize(classes);
  for (const std::u16string& part : splitNonEmpty(rest, u'-'))
    if (!isNumber(part)) return false;
  return rest.find(u"--") == std::u16string::npos && !rest.empty() && rest.back() != u'-';
}

std::u16string generalised(const std::u16string& path) {
  std::u16string out;
  for (const std::u16string& c : splitNonEmpty(path, u'\\')) {
    if (!out.empty()) out += u'\\';
    out += (isNumber(c) || isGuid(c) || isSid(c)) ? std::u16string(u"*") : c;
  }
  return out;
}

std::u16string parentOf(const std::u16string& path) {
  size_t at = path.rfind(u'\\');
  return at == std::u16string::npos ? std::u16string() : path.substr(0, at);
}

std::u16string folded(const std::u16string& s) {
  std::u16string out(s);
  for (char16_t& c : out) c = foldChar(c);
  return out;
}

}  // namespace

NoiseLearning proposeNoise(const std::vector<std::u16string>& changedPaths) {
  NoiseLearning out;
  // Folded entry -> proposal, so that paths differing only in case or by a generalised part meet.
  std::map<std::u16string, NoiseProposal> found;
  for (const std::u16string& path : changedPaths) {
    std::u16string entry, location;
    std::string reason;
    if (!normaliseNoiseEntry(generalised(path), &entry, &reason)) continue;
    if (namesNeverHidden(entry, &location)) {
      out.skipped.push_back({path, location});
      continue;
    }
    NoiseProposal& p = found[folded(entry)];
    p.entry = entry;
    p.changes++;
  }
  // Siblings -> parent, one level: a parent two levels up would already be a guess.
  std::map<std::u16string, std::vector<std::u16string>> byParent;
  for (const auto& f : found) byParent[parentOf(f.first)].push_back(f.first);
  for (const auto& group : byParent) {
    const std::u16string& parent = group.first;
    if (group.second.size() < kNoiseSiblingsForParent || parent.find(u'\\') == std::u16string::npos)
      continue;
    std::u16string parentEntry = parentOf(found[group.second.front()].entry);
    if (coversNeverHidden(parentEntry)) continue;
    NoiseProposal merged;
    merged.entry = parentEntry;
    for (const std::u16string& child : group.second) {
      merged.changes += found[child].changes;
      found.erase(child);
    }
    NoiseProposal& p = found[parent];
    merged.changes += p.changes;
    p = merged;
  }
  // Drop what another proposal covers.
  std::vector<std::u16string> entries;
  for (const auto& f : found) entries.push_back(f.second.entry);
  for (const auto& f : found) {
    std::vector<std::u16string> others;
    for (const std::u16string& e : entries)
      if (!equalFolded(e, f.second.entry)) others.push_back(e);
    NoiseMatcher cover(others);
    if (!cover.markOf(f.second.entry).covered) out.proposals.push_back(f.second);
  }
  return out;
}

namespace {

class ChangeCollector : public TreeVisitor {
 public:
  ChangeCollector(ComparisonContext* context, int section, std::vector<std::u16string>* out)
      : context_(context), section_(section), out_(out) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
             const TreeEntry* b, int f) override {
    NodeState s = context_->nodeState(a, b, f);
    if (s.state == kAdded || s.state == kDeleted) {
      out_->push_back(path);
      return false;
    }
    if (s.state == kModified && s.ownChanged && f == kPathInside &&
        context_->compareContent(section_, a->contentTable, b->contentTable, &content_)) {
      for (const ContentRow& row : content_.rows()) {
        if (row.state == kModified && row.fromB) continue;  // the pair is one difference
        std::u16string name = itemName(section_, row.item);
        // The unnamed value has no path of its own: its key stands for it.
        out_->push_back(name.empty() ? path : path + u"\\" + name);
      }
    }
    return s.expandable;
  }

 private:
  ComparisonContext* context_;
  int section_;
  std::vector<std::u16string>* out_;
  ContentComparison content_;
};

class ApplicationCounter : public TreeVisitor {
 public:
  explicit ApplicationCounter(ComparisonContext* context) : context_(context) {}
  bool visit(const std::u16string&, const std::u16string&, const TreeEntry* a, const TreeEntry* b,
             int f) override {
    if (a && b && context_->compareContent(kSectionApps, a->contentTable, b->contentTable, &content_))
      count += content_.rows().size();
    return true;
  }
  size_t count = 0;

 private:
  ComparisonContext* context_;
  ContentComparison content_;
};

}  // namespace

std::u16string proposalText(const NoiseProposal& proposal) {
  return proposal.entry + u"  (" + widen(differencesText(proposal.changes)) + u")";
}

NoiseLearning learnNoise(ComparisonContext* context) {
  std::vector<std::u16string> paths;
  bool full = context->full();
  context->setFull(false);
  for (int section : {kSectionRegistry, kSectionFiles}) {
    ChangeCollector collector(context, section, &paths);
    context->walkSection(section, &collector);
  }
  ApplicationCounter apps(context);
  context->walkSection(kSectionApps, &apps);
  context->setFull(full);
  NoiseLearning out = proposeNoise(paths);
  out.applicationChanges = apps.count;
  return out;
}

}  // namespace keldrun
