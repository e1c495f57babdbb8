// Which paths of a section take part in a comparison or a view.
//
// Each snapshot stores, per section, the lower-case paths that were scanned (each ending in '\'),
// or the single item "*" for everything. A comparison can only say something about the paths
// both snapshots recorded, so its filter is the intersection of the two lists; viewing one
// snapshot uses that snapshot's own list.
#ifndef KELDRUN_ENGINE_SECTION_FILTER_H_
#define KELDRUN_ENGINE_SECTION_FILTER_H_

#include <string>
#include <vector>

#include "engine/snapshot.h"

namespace keldrun {

// Results of testPath.
constexpr int kPathOutside = 0;  // neither recorded nor on the way to a recorded path
constexpr int kPathOnTheWay = 1; // an ancestor of a recorded path, itself only partly recorded
constexpr int kPathInside = 2;   // at or below a recorded path

struct SectionFilter {
  // Folded (see foldPath), sorted by code unit, each ending in '\', none lying inside another.
  std::vector<std::u16string> items;
  // Every path takes part; items is then empty.
  bool all = false;
  // The two snapshots recorded no common path of this section (items empty, all false).
  bool noneInCommon = false;
};

// True when the stored list stands for the whole section: empty, or its first item starts
// with '*'.
bool listIsEverything(const FilterList& list);

// The filter of a comparison of two snapshots with these stored lists. When one list is
// everything the other is taken; otherwise the result holds the most specific paths that both
// lists cover. Items are normalised first (folded, '\' appended, sorted, nested items dropped),
// so a hand-edited or unsorted list still intersects correctly.
SectionFilter buildFilter(const FilterList& a, const FilterList& b);

// The filter of viewing one snapshot with this stored list.
SectionFilter copyFilter(const FilterList& a);

// kPathInside when all is set or some item is a prefix of the path (with '\' appended when it
// does not end in one); else kPathOnTheWay when the path is a prefix of some item; else
// kPathOutside. Case is folded as foldPath does.
int testPath(const SectionFilter& filter, const std::u16string& path);

// The case folding of filter items and tested paths: ASCII, Latin-1, Greek and Cyrillic capitals
// to their small letters. Items may come lower-cased by the system's rules, names as the
// system spells them; folding both the same way makes them meet.
std::u16string foldPath(const std::u16string& path);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_SECTION_FILTER_H_
