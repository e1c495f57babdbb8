// The noise list: registry keys and values, folders and files whose differences are hidden when
// two snapshots are compared, kept in "noise.txt" beside "scan_filter.txt". Snapshots keep
// everything; the list only decides what a comparison shows.
//
// The file is UTF-8 text, one entry a line. Blank lines and lines whose first non-blank character
// is '#' are comments. An entry is a path such as
//   HKEY_LOCAL_MACHINE\SYSTEM\*\Control\DeviceClasses
//   c:\Windows\Prefetch\*.pf
// in which "*" alone stands for one whole component (a SID, a GUID, a number) and any other
// component may be a name pattern ('*' for any run of characters, '?' for one: "*:" for every
// drive, "*.pf"). Case does not
// matter, trailing backslashes are ignored, and the roots HKLM, HKCU, HKCR, HKU and HKCC stand
// for their long names. An entry hides the key, value, folder or file it names with everything
// below it, except the locations that start with the machine (autostartLocations), which no entry
// hides, and the applications section, which is never hidden.
#ifndef KELDRUN_WORKSPACE_NOISE_H_
#define KELDRUN_WORKSPACE_NOISE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/file_system.h"

namespace keldrun {

// Longer lines are reported and skipped: the file may come from anywhere.
constexpr size_t kMaxNoiseLine = 4096;
// Entries beyond this count are reported and skipped.
constexpr size_t kMaxNoiseEntries = 100000;

// The normal form of an entry typed as `text`: blanks around it and trailing backslashes
// dropped, a short root name replaced by its long one. False, with the reason, when it is not a
// path an entry can be: empty, or with an empty component.
bool normaliseNoiseEntry(const std::u16string& text, std::u16string* entry, std::string* reason);

// The never-hidden location that `entry` (normal form) names or lies inside, with the text
// naming it; false when there is none. An entry that merely covers such a location (lies above
// it) is allowed: it hides everything else.
bool namesNeverHidden(const std::u16string& entry, std::u16string* location);
// Whether a never-hidden location lies at or below `entry` (normal form).
bool coversNeverHidden(const std::u16string& entry);

// The lines of a noise list file, kept as they were read so that adding or removing an entry
// leaves every comment and the order of the other lines alone.
class NoiseList {
 public:
  // Reads the file's text. Every line that is neither a comment nor an entry is skipped and
  // reported in *problems (may be null) as "FILE:LINE: reason".
  void parse(const std::string& text, const std::string& fileName,
             std::vector<std::string>* problems);
  // The entries in file order, each in normal form.
  std::vector<std::u16string> entries() const;
  // Whether the list holds an entry equal to `entry` (normal form) but for case.
  bool contains(const std::u16string& entry) const;
  // Appends the entry (normal form), after a comment line "# why" when `why` is not empty.
  // False when the list holds it already.
  bool add(const std::u16string& entry, const std::string& why = std::string());
  // Removes the entry's line (and a comment line directly above it that add wrote); false
  // when the list does not hold it.
  bool remove(const std::u16string& entry);
  // The file's text, each line ended by "\n".
  std::string text() const;

 private:
  struct Line {
    std::string raw;
    std::u16string entry;  // empty for comments, blank lines and skipped lines
  };
  int find(const std::u16string& entry) const;
  std::vector<Line> lines_;
};

// The noise list of a workspace: "noise.txt" in the program folder, its previous versions
// (newest first) in "noise.txt.undo" and, when the workspace has none, the default list shipped
// with the program.
class NoiseFile {
 public:
  // folder: the program folder with its trailing separator (Settings::folder()).
  explicit NoiseFile(const std::string& folder, FileSystem* fs = defaultFileSystem());
  std::string path() const;
  std::string undoPath() const;

  // Reads noise.txt; when there is none and useDefaults is set, the shipped default list.
  // Problems as NoiseList::parse reports them.
  void load(bool useDefaults, std::vector<std::string>* problems);
  NoiseList& list() { return list_; }
  // Whether load took the default list.
  bool fromDefaults() const { return fromDefaults_; }

  // Adds the entry typed as `text` and saves. False, with *message saying why, when it is not
  // a path, names a never-hidden location ("... starts with the machine and is never hidden"),
  // is listed already, or cannot be saved; *message says what was done otherwise.
  bool addEntry(const std::u16string& text, std::string* message);
  // Removes the entry typed as `text` and saves; false, with *message, when it is not listed or
  // cannot be saved.
  bool removeEntry(const std::u16string& text, std::string* message);

  // Writes the list as noise.txt, first keeping the text it replaces (or that there was none)
  // as the newest version in noise.txt.undo (at most kNoiseUndoDepth are kept). False when a file
  // cannot be written.
  bool save();
  // Puts the newest kept version back as noise.txt (or removes noise.txt when the workspace had
  // none), drops it from the undo file and loads the list again. False when there is nothing to
  // undo or a file cannot be written.
  bool undo(bool useDefaults);
  // How many versions undo can still put back.
  size_t undoDepth() const;

 private:
  struct Version {
    bool exists = false;  // false: the workspace had no noise.txt
    std::string text;
  };
  bool readVersions(std::vector<Version>* versions) const;
  bool writeVersions(const std::vector<Version>& versions);
  bool putBack(const Version& version);

  std::string folder_;
  FileSystem* fs_;
  NoiseList list_;
  bool fromDefaults_ = false;
};

// The shipped default list for Windows (its text), read when a workspace has no noise.txt.
const char* defaultNoiseText();
// Versions kept for undo.
constexpr size_t kNoiseUndoDepth = 20;

// What the comparison carries down the tree for one node: where the node stands in the prefix
// trees of the list and of the never-hidden locations.
struct NoiseMark {
  std::vector<int32_t> noise;  // nodes of the list's tree that the path has reached
  std::vector<int32_t> guard;  // nodes of the never-hidden tree the path has reached
  bool covered = false;        // an entry names this node or one above it
  bool guarded = false;        // this node is, or lies inside, a never-hidden location
  // Hidden: covered, not never-hidden, and not on the way to a never-hidden location (then only
  // the parts beside that way are hidden).
  bool hidden() const { return covered && !guarded && guard.empty(); }
};

// The list compiled into a prefix tree of path components, matched one component at a time as
// a comparison descends.
class NoiseMatcher {
 public:
  // entries in normal form; the never-hidden locations are always compiled in.
  explicit NoiseMatcher(const std::vector<std::u16string>& entries);
  bool empty() const { return entryCount_ == 0; }
  // The mark above the roots of a section.
  NoiseMark top() const;
  // The mark of the child `name` of the node whose mark is `parent`.
  NoiseMark step(const NoiseMark& parent, const std::u16string& name) const;
  // The mark of a whole path, stepped from the top one component at a time.
  NoiseMark markOf(const std::u16string& path) const;

 private:
  struct Node {
    std::unordered_map<std::u16string, int32_t> children;  // folded component -> node
    int32_t any = -1;                                       // the "*" child
    std::vector<std::pair<std::u16string, int32_t>> patterns;  // folded name patterns
    bool end = false;
  };
  struct Tree {
    std::vector<Node> nodes{Node()};
    void add(const std::u16string& entry);
    // Appends the nodes below `from` that `folded` reaches; sets *end when one of them ends an
    // entry.
    void advance(int32_t from, const std::u16string& folded, std::vector<int32_t>* out,
                 bool* end) const;
  };
  Tree noise_, guard_;
  size_t entryCount_ = 0;
};

class Settings;
// The list comparisons in the workspace of settings (loaded) see through: noise.txt, else the
// default list unless the setting "nd" is 0. Null when that leaves no entry. Problems of the
// file (may be null) as NoiseList::parse reports them.
std::shared_ptr<const NoiseMatcher> workspaceNoise(const Settings& settings,
                                                   std::vector<std::string>* problems);

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_NOISE_H_
