// The paged HTML report writer: turns the rows of the Registry, Files and Applications views
// into one UTF-16 page file or, when split, a numbered series of page files ("<name>_000.htm",
// "<name>_001.htm", ...) with an index page under the report's own name.
//
// The writer owns the page skeleton, the style sheet, the page files, the page breaks, the page
// links and the escaping; the section titles, header markup and row writers come from the report
// rows (report_rows.h), the walk from the report generation.
//
// Use: setSource, optionally setIncludedStates, setPrefixFilter and setDisplayLimits, open; then
// for each section
// beginSection and the walk of its nodes; finish. Every write does nothing while no page is
// open. One writer per report, on one thread.
//
// Pages are written to temporary files and put in place together by finish, so that a report
// that fails (a full disk, say) leaves any earlier report of that name as it was and no page
// behind.
#ifndef KELDRUN_REPORTS_REPORT_WRITER_H_
#define KELDRUN_REPORTS_REPORT_WRITER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "base/text_output.h"
#include "engine/compare.h"
#include "engine/snapshot.h"
#include "engine/value_text.h"

namespace keldrun {

// Report modes.
constexpr int kReportDifferences = 1;
constexpr int kReportData = 2;

class ReportWriter;

// A view's group heading row writer (registry key, folder, application group) and item row
// writer (value, file, application record) for differences reports.
using HeadingWriter = void (*)(ReportWriter* writer, const std::u16string& path, int state,
                               const char* label);
using ItemWriter = void (*)(ReportWriter* writer, const Item& item, int state, const char* label);

// What a report is written from: the snapshot files whose content tables the rows read, and
// the names the section titles show.
struct ReportSource {
  SnapshotFile* fileA = nullptr;
  SnapshotFile* fileB = nullptr;  // null for a data report
  std::string nameA;  // UTF-8
  std::string nameB;
  bool view = false;  // one snapshot viewed: $pg_title$ is "view " and its name
};

// A section's part of a report: its title (with the placeholders $pg_title$, $snap_name$ and
// $snap2_name$; empty for none), its table opening and header row, and for differences
// reports its row writers.
struct SectionRows {
  std::string title;
  std::string header;
  HeadingWriter heading = nullptr;
  ItemWriter item = nullptr;
};

// The two forms of the page link bar.
enum class LinkForm { kIndexPage, kViewer };

class ReportWriter {
 public:
  static constexpr int kDefaultPageLimit = 10000;

  // Pages are written through fs.
  explicit ReportWriter(FileSystem* fs = defaultFileSystem());
  // A report that stopped early without a failure: closes the open page with its closing markup
  // and puts the pages written so far in place; writes no index page. After a failure: removes
  // every page.
  ~ReportWriter();
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // Keeps a copy of the source (null: none, titles keep their placeholders and no rows are
  // read), includes all states, clears the prefix filter and lifts the display limits.
  void setSource(const ReportSource* source);
  void setIncludedStates(bool added, bool modified, bool deleted);
  // How much of each value's data the rows show.
  void setDisplayLimits(const DisplayLimits& limits) { limits_ = limits; }
  const DisplayLimits& displayLimits() const { return limits_; }
  // Only groups at or below this path (case-insensitive, whole components) are written; empty
  // for everything.
  void setPrefixFilter(const std::u16string& prefix);
  // Asked, while writeDifferenceRows runs, whether an item is noise: such items are left out
  // (the judge counts them). Null: none is.
  using NoiseJudge = std::function<bool(int section, const Item& item, int state, bool fromB)>;
  void setNoiseJudge(NoiseJudge judge) { noiseJudge_ = std::move(judge); }

  // Starts the report at path (UTF-8; its file name ends in ".htm"): the first page with the
  // title "Keldrun export". pageLimit 0 never splits. False when the file cannot be created;
  // nothing else is then written.
  bool open(const std::string& path, int pageLimit);

  // Called before a section's rows: a new page when the report is already split, else the
  // section follows on the current page; then the title and the header markup. The row
  // writers serve the section's differences rows.
  void beginSection(int section, const SectionRows& rows);
  // Called by a row writer before each row. A heading row (mayBreak) that reaches the page
  // limit starts a continuation page, which repeats the section's header row.
  void countRow(bool mayBreak);

  void writeAscii(const char* text);
  void writeAscii(const char* text, size_t length) { out_.writeAscii(text, length); }
  void writeAscii(const std::string& text) { out_.writeAscii(text); }
  void writeWide(const char16_t* text, size_t length) { out_.writeWide(text, length); }
  void writeWide(const std::u16string& text) { out_.writeWide(text); }
  // Writes text with "<" as "&lt;" and "&" as "&amp;".
  void writeEscaped(const std::u16string& text);

  // The differences walk for one node pair (either may be null, not both): writes a row for
  // every differing child item, behind the node's heading, as the included states and the
  // prefix filter allow.
  void writeDifferenceRows(const std::u16string& path, const TreeEntry* oldNode,
                           const TreeEntry* newNode);

  // Closes the open page and puts the pages in place: a single page under the report path;
  // else the first page under page name 0, the others under theirs, and the index page under
  // the report path. False when any page, move or the index page failed: nothing of this
  // report is then left on disk.
  bool finish();

  int lastPageIndex() const { return lastPage_; }
  // Full path of page file i: the report path minus its last 4 characters, "_%03d.htm".
  std::string pageFileName(int i) const;
  // The link bar for pages 0..lastPageIndex, page `current` marked, " | " before the first
  // page of the Files and of the Applications section.
  std::string pageLinks(int current, LinkForm form) const;
  // The index page text of the report as it stands.
  std::string indexPage() const;
  // Some page write, page creation, move or the index page failed.
  bool failed() const { return failed_ || out_.failed(); }

  const ReportSource* source() const { return hasSource_ ? &source_ : nullptr; }
  bool stateIncluded(int state) const { return state >= 1 && state <= 3 && included_[state]; }

  // "<" becomes "&lt;", "&" becomes "&amp;"; nothing else changes. Returns text itself when it
  // needs no change, else *buffer filled with the escaped text.
  static const std::u16string& escapeHtml(const std::u16string& text, std::u16string* buffer);
  // The same over 8-bit text.
  static std::string escapeHtml(const std::string& text);

 private:
  void writeHead(const char* title);
  bool createPage(const std::string& path);  // a new page file, head not yet written
  void closePage();
  bool startPage();  // the next page file, head with an empty title
  // Puts the written pages in place (page 0 under firstPagePath); false, removing every page
  // of this report, when one cannot be.
  bool commitPages(const std::string& firstPagePath);
  bool insidePrefix(const std::u16string& path) const;
  void flushPending();
  void writeDeferred();
  void writeChild(const Item& item, int state, const char* label);

  ReportSource source_;
  bool hasSource_ = false;
  int pageLimit_ = kDefaultPageLimit;
  int rowsOnPage_ = 0;
  int lastPage_ = 0;
  std::string pattern_;   // report path minus its last 4 characters
  std::string basePath_;
  std::string storedHeader_;
  bool tableOpen_ = false;
  int filesFirstPage_ = -1;
  int appsFirstPage_ = -1;
  bool included_[4] = {false, true, true, true};
  std::u16string prefix_;  // folded, without a trailing '\'
  DisplayLimits limits_;
  bool outside_ = false;
  bool failed_ = false;
  FileSystem* fs_;
  std::vector<std::unique_ptr<ReplacingFile>> pages_;  // page i in pages_[i]
  TextOutput out_;
  HeadingWriter heading_;
  ItemWriter item_;
  int section_ = kSectionRegistry;
  NoiseJudge noiseJudge_;
  std::unique_ptr<ItemListReader> oldReader_, newReader_;
  std::u16string escapeBuffer_;

  // The group of the differences walk in progress.
  struct Heading {
    bool held = false;
    std::u16string path;
    int state = 0;
    const char* label = "";
  };
  Heading pending_, deferred_;
};

}  // namespace keldrun

#endif  // KELDRUN_REPORTS_REPORT_WRITER_H_
