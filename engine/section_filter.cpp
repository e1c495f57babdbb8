#include "engine/section_filter.h"

#include <algorithm>

namespace keldrun {

namespace {

bool hasPrefix(const std::u16string& s, const std::u16string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Folded, each ending in '\', sorted, without duplicates and without items that lie inside an
// earlier one (which add nothing to what the earlier one covers).
std::vector<std::u16string> normalise(const FilterList& list) {
  std::vector<std::u16string> items;
  items.reserve(list.size());
  for (const std::u16string& item : list) {
    if (item.empty()) continue;
    std::u16string folded = foldPath(item);
    if (folded.back() != u'\\') folded.push_back(u'\\');
    items.push_back(std::move(folded));
  }
  std::sort(items.begin(), items.end());
  std::vector<std::u16string> kept;
  for (std::u16string& item : items) {
    if (!kept.empty() && hasPrefix(item, kept.back())) continue;
    kept.push_back(std::move(item));
  }
  return kept;
}

// Compares over the length of the shorter item.
int compareShorter(const std::u16string& a, const std::u16string& b) {
  size_t n = std::min(a.size(), b.size());
  int c = a.compare(0, n, b, 0, n);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

std::u16string foldPath(const std::u16string& path) {
  std::u16string s = path;
  for (char16_t& c : s) c = foldChar(c);
  return s;
}

bool listIsEverything(const FilterList& list) { return list.empty() || (!list[0].empty() && list[0][0] == u'*'); }

SectionFilter buildFilter(const FilterList& a, const FilterList& b) {
  SectionFilter f;
  bool allA = listIsEverything(a), allB = listIsEverything(b);
  if (allA && allB) {
    f.all = true;
    return f;
  }
  if (allA || allB) {
    f.items = normalise(allA ? b : a);
    f.noneInCommon = f.items.empty();
    return f;
  }
  std::vector<std::u16string> la = normalise(a), lb = normalise(b);
  // Neither list has nested items, so when one item is a prefix of the other the longer one is
  // the common part, and the shorter may still cover the next items of the other list.
  size_t i = 0, j = 0;
  while (i < la.size() && j < lb.size()) {
    int c = compareShorter(la[i], lb[j]);
    if (c == 0) {
      if (la[i].size() == lb[j].size()) {
        f.items.push_back(la[i]);
        i++;
        j++;
      } else if (la[i].size() > lb[j].size()) {
        f.items.push_back(la[i++]);
      } else {
        f.items.push_back(lb[j++]);
      }
    } else if (c < 0) {
      i++;
    } else {
      j++;
    }
  }
  f.noneInCommon = f.items.empty();
  return f;
}

SectionFilter copyFilter(const FilterList& a) {
  SectionFilter f;
  if (listIsEverything(a)) {
    f.all = true;
    return f;
  }
  f.items = normalise(a);
  f.noneInCommon = f.items.empty();
  return f;
}

int testPath(const SectionFilter& filter, const std::u16string& path) {
  if (filter.all) return kPathInside;
  std::u16string p = foldPath(path);
  if (p.empty() || p.back() != u'\\') p.push_back(u'\\');
  bool onTheWay = false;
  for (const std::u16string& item : filter.items) {
    if (hasPrefix(p, item)) return kPathInside;
    if (hasPrefix(item, p)) onTheWay = true;
  }
  return onTheWay ? kPathOnTheWay : kPathOutside;
}

}  // namespace keldrun
