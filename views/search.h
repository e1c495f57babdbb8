// Search in the snapshot being viewed: folders and files, or keys and values, whose path,
// name or data contain a text.
#ifndef KELDRUN_VIEWS_SEARCH_H_
#define KELDRUN_VIEWS_SEARCH_H_

#include <string>
#include <vector>

#include "views/comparison_context.h"

namespace keldrun {

struct SearchOptions {
  bool matchCase = false;
  bool paths = false;  // folder paths / key paths
  bool names = true;   // value names (registry)
  bool data = true;    // value data (registry)
};

struct SearchRow {
  std::u16string path;  // folder or key path
  std::u16string name;  // file name, value name, or "*" for a matching path
  std::u16string data;  // registry only
};

struct SearchResult {
  std::vector<SearchRow> rows;  // empty when the matches went to a SearchSink
  size_t count = 0;             // the matches found
  // The text table's kTextEnterText, kTextSelectIncludeOptions, kTextNotFound, or
  // kTextFoundFormat with the count and the seconds.
  std::string status;
  bool searched = false;  // the walk ran (the text and options were usable)
};

// Receives the matches of a search one by one, as the walk finds them. The row is reused for
// the next match.
class SearchSink {
 public:
  virtual ~SearchSink() = default;
  virtual void match(const SearchRow& row) = 0;
};

// True when candidate contains text: code unit for code unit with matchCase, else with A-Z
// folded to a-z on both sides (folded is text already folded).
bool searchMatches(const char16_t* candidate, size_t length, const std::u16string& text,
                   const std::u16string& folded, bool matchCase);

// Files: a folder whose path matches (with options.paths) gives one row (path, "*") and its
// files are not tested; otherwise one row per matching file name. Folders outside the recorded
// paths are not visited; unreadable file tables are skipped.
SearchResult searchFiles(ComparisonContext* context, const std::u16string& text,
                         const SearchOptions& options);
// Registry: a key whose path matches (with options.paths) gives (path, "*", ""); otherwise a
// row per value whose name (with options.names; "(Default)" for the unnamed value) or search
// text (with options.data) matches, with the search text as data when data is included, else
// the display text.
SearchResult searchRegistry(ComparisonContext* context, const std::u16string& text,
                            const SearchOptions& options);
// searchFiles (kSectionFiles) or searchRegistry (kSectionRegistry) handing each match to sink
// instead of keeping it, so a search of any size runs in little memory; result.rows stays empty.
SearchResult searchSection(ComparisonContext* context, int section, const std::u16string& text,
                           const SearchOptions& options, SearchSink* sink);

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_SEARCH_H_
