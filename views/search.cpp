#include "views/search.h"

#include <cstdio>

#include "base/text_table.h"
#include "engine/file_entry.h"
#include "engine/progress.h"
#include "engine/section_filter.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"

namespace keldrun {

namespace {

class Matcher : public TreeVisitor {
 public:
  Matcher(ComparisonContext* context, int section, const std::u16string& text,
          const SearchOptions& options, SearchSink* sink)
      : context_(context), section_(section), text_(text), folded_(lowerAscii(text)),
        options_(options), sink_(sink), reader_(makeItemReader(section)) {}

  size_t count = 0;  // the matches handed on

  bool matches(const std::u16string& s) const {
    return searchMatches(s.data(), s.size(), text_, folded_, options_.matchCase);
  }

  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
             const TreeEntry*, int filterResult) override {
    if (!a || filterResult != kPathInside) return true;
    if (a->contentTable && !reader_->open(context_->fileA(), a->contentTable)) return true;
    if (options_.paths && matches(path)) {
      row_.name = u"*";
      row_.data.clear();
      found(path);
      return true;
    }
    if (!a->contentTable) return true;
    Item item;
    // name_ and search_ are reused from item to item: only a match makes strings of its own.
    if (section_ == kSectionFiles) {
      FileEntry f;
      while (reader_->next(&item)) {
        if (!FileEntry::parse(item.p, item.size, &f) || hidden(item)) continue;
        setName(f.name);
        if (matches(name_)) {
          row_.name = name_;
          row_.data.clear();
          found(path);
        }
      }
      return true;
    }
    if (!options_.names && !options_.data) return true;
    ValueEntry v;
    while (reader_->next(&item)) {
      if (!parseValueEntry(item.p, item.size, &v) || hidden(item)) continue;
      if (v.name.chars == 0) name_ = u"(Default)";  // valueName
      else setName(v.name);
      search_.clear();
      if (options_.data) appendSearchText(&search_, v);
      if ((options_.names && matches(name_)) || (options_.data && matches(search_))) {
        row_.name = name_;
        if (options_.data) {
          row_.data = search_;
        } else {
          row_.data.clear();
          appendDisplayText(&row_.data, v);
        }
        found(path);
      }
    }
    return true;
  }

 private:
  ComparisonContext* context_;
  int section_;
  std::u16string text_, folded_;
  SearchOptions options_;
  SearchSink* sink_;
  std::unique_ptr<ItemListReader> reader_;
  std::u16string name_, search_;
  SearchRow row_;  // the match handed on, reused from match to match

  // A value or file on the noise list of a comparison, unless the noise is shown.
  bool hidden(const Item& item) {
    return context_->hiddenItem(section_, item, kUnchanged, false);
  }

  void found(const std::u16string& path) {
    row_.path = path;
    count++;
    sink_->match(row_);
  }

  void setName(const StoredText& name) {
    name_.resize(name.chars);
    for (size_t i = 0; i < name.chars; i++) name_[i] = name.at(i);
  }
};

// Keeps every match, for the search pane.
class Collector : public SearchSink {
 public:
  explicit Collector(std::vector<SearchRow>* rows) : rows_(rows) {}
  void match(const SearchRow& row) override { rows_->push_back(row); }

 private:
  std::vector<SearchRow>* rows_;
};

}  // namespace

bool searchMatches(const char16_t* candidate, size_t length, const std::u16string& text,
                   const std::u16string& folded, bool matchCase) {
  const std::u16string& want = matchCase ? text : folded;
  size_t n = want.size();
  if (n == 0) return true;
  if (n > length) return false;
  for (size_t i = 0; i + n <= length; i++) {
    size_t k = 0;
    if (matchCase) {
      while (k < n && candidate[i + k] == want[k]) k++;
    } else {
      while (k < n && foldAscii(candidate[i + k]) == want[k]) k++;
    }
    if (k == n) return true;
  }
  return false;
}

SearchResult searchSection(ComparisonContext* context, int section, const std::u16string& text,
                           const SearchOptions& options, SearchSink* sink) {
  Stopwatch watch;
  SearchResult result;
  if (text.empty()) {
    result.status = keldrun::text(kTextEnterText);
    return result;
  }
  if (section == kSectionRegistry && !options.paths && !options.names && !options.data) {
    result.status = keldrun::text(kTextSelectIncludeOptions);
    return result;
  }
  result.searched = true;
  Matcher matcher(context, section, text, options, sink);
  context->walkSection(section, &matcher);
  result.count = matcher.count;
  if (result.count == 0) {
    result.status = keldrun::text(kTextNotFound);
  } else {
    char buf[96];
    std::snprintf(buf, sizeof buf, keldrun::text(kTextFoundFormat), int(result.count), watch.elapsedSeconds());
    result.status = buf;
  }
  return result;
}

SearchResult searchFiles(ComparisonContext* context, const std::u16string& text,
                         const SearchOptions& options) {
  std::vector<SearchRow> rows;
  Collector collector(&rows);
  SearchResult result = searchSection(context, kSectionFiles, text, options, &collector);
  result.rows = std::move(rows);
  return result;
}

SearchResult searchRegistry(ComparisonContext* context, const std::u16string& text,
                            const SearchOptions& options) {
  std::vector<SearchRow> rows;
  Collector collector(&rows);
  SearchResult result = searchSection(context, kSectionRegistry, text, options, &collector);
  result.rows = std::move(rows);
  return result;
}

}  // namespace keldrun
