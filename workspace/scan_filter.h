// What a scan of selected items covers: the scan filter file "scan_filter.txt" that carries the
// user's choices from one take-snapshot dialog to the next, and the check-box tree ("My
// Computer" > Registry, Files, Applications) in which the user makes them. The tree is a model
// here; the dialog draws it and forwards expansions and clicks.
#ifndef KELDRUN_WORKSPACE_SCAN_FILTER_H_
#define KELDRUN_WORKSPACE_SCAN_FILTER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "engine/snapshot.h"
#include "platform/env.h"

namespace keldrun {

// Check states of a tree item.
constexpr int kUnchecked = 0;
constexpr int kChecked = 1;
constexpr int kPartlyChecked = 2;

// Reads scan filter text into the three stored lists (emptied first). Lines are separated by
// "\n" (the "\r"s before it are dropped); empty lines and lines beginning with "-" are skipped; a
// line equal to "Registry:", "Files:" or "Applications:" (ignoring case) makes that section
// current; any other line after a header is an item: given a trailing backslash unless it
// begins with "*" or ends in one, and lowered. Bytes become the code units of equal value,
// except that a line in UTF-8 holding a character above U+00FF is read as UTF-8 (that is how
// such items are written). Lines longer than kMaxFilterLine bytes are skipped.
void readFilterText(const std::string& text, FilterList lists[kSectionCount]);
constexpr size_t kMaxFilterLine = 32768;

// loadFilter: reads the file; when it cannot be opened every list becomes the single item "*".
void loadFilter(const std::string& fileName, FilterList lists[kSectionCount]);

// The file's text for three lists: each header, its items one per line, an empty line. An item
// whose characters are all below U+0100 is written one byte per character; others in UTF-8.
std::string filterText(const FilterList lists[kSectionCount]);
// Writes filterText as a text file of the platform (CR LF line ends on Windows) through fs, in
// place of the previous file only once it is whole. False when the file cannot be written.
bool writeFilterFile(const std::string& fileName, const FilterList lists[kSectionCount],
                     FileSystem* fs = defaultFileSystem());

// The state a path starts with, given a section's stored list: checked when the list is the
// single item "*" or holds an item that is the path or contains it; partly checked when an
// item lies below the path; unchecked otherwise. Compared ignoring case.
int initialState(const std::u16string& path, const FilterList& list);

// What the selection tree shows of the machine.
class SelectionSource {
 public:
  struct Child {
    std::u16string name;
    bool hasChildren = false;
  };
  virtual ~SelectionSource() = default;
  // Letters ('a'..'z') of the fixed drives, in order.
  virtual std::vector<char16_t> fixedDrives() = 0;
  // The subkeys (registry) or subfolders (files, names not beginning with ".") of a path such as
  // "HKEY_LOCAL_MACHINE\SOFTWARE\" or "c:\Program Files\", each with whether it has any of its
  // own. Empty when the path cannot be opened or listed.
  virtual std::vector<Child> children(int section, const std::u16string& path) = 0;
};

// A SelectionSource reading the registry and drives through an Env.
class EnvSelectionSource : public SelectionSource {
 public:
  explicit EnvSelectionSource(Env* env) : env_(env) {}
  std::vector<char16_t> fixedDrives() override;
  std::vector<Child> children(int section, const std::u16string& path) override;

 private:
  bool hasSubfolder(const std::u16string& folder);
  Env* env_;
};

// The check-box tree of the take-snapshot dialog and its three stored lists.
class SelectionTree {
 public:
  // Item data of the items, as the dialog's tree control carries it.
  static constexpr int kDataRootOrPlaceholder = -1;
  static constexpr int kDataUnfilled = -2;     // has children, not yet listed
  static constexpr int kDataLeafKey = 0;
  static constexpr int kDataLeafFolder = 1;
  static constexpr int kDataFilled = 254;
  static constexpr int kDataSection = 0x100;   // + section number

  struct Item {
    std::u16string text;
    int data = 0;
    int state = kUnchecked;
    int parent = -1;
    std::vector<int> children;
  };

  // Builds the root, the three sections, the hives and the fixed drives, each in the state its
  // path has in `stored` (normally what loadFilter read), with a placeholder child for later
  // expansion. The source must outlive the tree.
  SelectionTree(SelectionSource* source, const FilterList stored[kSectionCount]);

  int root() const { return 0; }
  int sectionItem(int section) const { return sections_[section]; }
  const Item& item(int id) const { return items_[size_t(id)]; }
  // Items ever added (ids run from 0 to itemCount() - 1; removed placeholders keep their ids).
  size_t itemCount() const { return items_.size(); }
  // The child of id with this text (compared exactly); -1 when there is none.
  int child(int id, const std::u16string& text) const;
  // "HKEY_LOCAL_MACHINE\SOFTWARE\", "c:\Windows\": the texts from below the section item down
  // to the item, each ended by one backslash. Empty for the root and the section items.
  std::u16string path(int id) const;
  int sectionOf(int id) const;  // -1 for the root

  // First expansion fills an unfilled item: the placeholder goes, the children are listed in
  // name order, each in a state that follows from the item's (partly checked: from the stored
  // list). Later expansions change nothing.
  void expand(int id);
  // A click on the item's check box: an unchecked item becomes checked, a checked or partly
  // checked one unchecked; the descendants follow it and the ancestors are recomputed. Unchecking
  // also drops the stored items related to the item's path.
  void click(int id);

  // The scan list of a section: "*" when the section is checked; otherwise the paths of its
  // checked items (lower case) and its stored items, sorted, without duplicates and without
  // items that lie inside another. Empty when the section is unchecked. Also leaves the result
  // in the stored list, which is what the dialog saves next.
  FilterList collect(int section);
  const FilterList& stored(int section) const { return stored_[section]; }

  // Writes the collected lists of the three sections as the scan filter file through fs. False
  // when it cannot be written.
  bool saveFilter(const std::string& fileName, FileSystem* fs = defaultFileSystem());

 private:
  int add(int parent, const std::u16string& text, int data, int state);
  void setSubtree(int id, int state);
  void updateAncestors(int id, int newState);
  void collectChecked(int id, FilterList* out) const;

  SelectionSource* source_;
  std::vector<Item> items_;
  int sections_[kSectionCount] = {-1, -1, -1};
  FilterList stored_[kSectionCount];
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_SCAN_FILTER_H_
