// The printers of compare, show and search, one per output form: text for the eye (or, for
// search, tab-separated lines), one JSON document (--json) or one JSON object per line (--jsonl).
// The commands walk the snapshots and hand each node and row to their printer; the printers
// write through one Output and keep nothing per row, so output of any length streams.
//
// A --jsonl line is a flat object that names everything needed to read it alone, so that the
// lines of many machines can share one table (docs/cli.md, "JSON lines"):
//   {"schema": kJsonLinesSchema, the identity of the snapshot the node or item comes from
//    (appendSnapshotIdentity), "side": "A"|"B" and both sides' ids and computers (compare),
//    "section", "kind": "node"|"item", "path": the key or folder (for an item: the one holding
//    it), "name", "label" (items), "state", "stateNumber", "columns": [...], and the item fields
//    of ItemColumns::json}
#ifndef KELDRUN_CLI_PRINTERS_H_
#define KELDRUN_CLI_PRINTERS_H_

#include <memory>
#include <string>

#include "cli/command.h"
#include "cli/output.h"
#include "engine/compare.h"
#include "engine/snapshot.h"
#include "views/search.h"

namespace keldrun {

enum class OutputForm { kText, kJson, kJsonLines };

// The form a command's --json and --jsonl ask for; false (after the error) when both are given.
bool chooseOutputForm(const CommandContext& ctx, OutputForm* form);
// An opened snapshot as the printers name it.
struct SnapshotRef {
  std::string path;
  const SnapshotInfo* info;
};

// The version of the --jsonl line layout, the first field of every line. Raised when a field is
// removed or changes its meaning; new fields do not raise it.
constexpr int kJsonLinesSchema = 1;

// 16 lower-case hex digits that name the snapshot a file holds, the same on every machine that
// reads the file: a 64-bit FNV-1a digest of its info record (computer, date, size, lists) and
// header (the section and info offsets). The number and the name are left out, as import and
// rename rewrite them in place: the snapshot stays the same snapshot.
std::string snapshotId(const SnapshotInfo& info);

// Appends "snapshot" (the path), "snapshotId", "computer", "snapshotName", "number" (-1 when
// unknown) and "date" of s, each preceded by a comma.
void appendSnapshotIdentity(std::string* out, const SnapshotRef& s);

// The start of a --jsonl line about s, without its closing brace: {"schema":..., the identity,
// "section":"...". Commands build it once per section and append the line's own fields.
std::string jsonLineHead(const SnapshotRef& s, int section);

// compare: per section, the nodes depth-first and after each node its rows.
class ComparePrinter {
 public:
  virtual ~ComparePrinter() = default;
  virtual void begin(const SnapshotRef& a, const SnapshotRef& b) = 0;
  virtual void beginSection(int section) = 0;
  // depth: 0 for a root. ownChanged: the node's own content changed.
  virtual void node(const std::u16string& path, const std::u16string& name, int depth, int state,
                    bool ownChanged) = 0;
  virtual void row(const ContentRow& row) = 0;
  // Whether the nodes that follow are on the noise list (shown by --with-noise); rows carry
  // their own mark (ContentRow::noise).
  void setNodeNoise(bool noise) { nodeNoise_ = noise; }
  // How many of the section's differences the noise list hid, given before endSection.
  void setHiddenNoise(size_t count) { hiddenNoise_ = count; }
  // message: why the section printed no nodes ("" when it printed some).
  virtual void endSection(const std::string& message) = 0;
  virtual void end(bool differences) = 0;

 protected:
  bool nodeNoise_ = false;
  size_t hiddenNoise_ = 0;
};
std::unique_ptr<ComparePrinter> makeComparePrinter(OutputForm form, Output* out, bool color);
// printer with its formatting and writing moved to a thread of its own, when the machine has a
// second core (else printer itself): the calls reach it in the order made, in batches of up to
// batchCalls, and all of them have once end() returns. begin() and the first inlineCalls calls
// go straight to printer, so a small compare starts no thread. Until end() returns, nothing
// else may use what printer writes to.
std::unique_ptr<ComparePrinter> printInBackground(std::unique_ptr<ComparePrinter> printer,
                                                  size_t batchCalls = 1024, size_t inlineCalls = 32768);

// show: one node of one snapshot, its children, then its rows (label and column texts).
class ShowPrinter {
 public:
  virtual ~ShowPrinter() = default;
  // path: the node shown ("" for the roots); message: why the section is empty, else "".
  virtual void begin(const SnapshotRef& snapshot, int section, const std::u16string& path,
                     const std::u16string& message) = 0;
  virtual void child(const std::u16string& name, bool hasChildren) = 0;
  // One item of the node's list, with the screen's label.
  virtual void row(const ContentRow& row) = 0;
  virtual void end() = 0;
};
std::unique_ptr<ShowPrinter> makeShowPrinter(OutputForm form, Output* out);

// search: the matches of one search, printed as the search finds them; what is known only
// once it has ended (the count, the status) comes at the end. Text goes as tab-separated lines,
// one per match.
class SearchPrinter : public SearchSink {
 public:
  virtual void begin(const SnapshotRef& snapshot, int section, const std::u16string& text) = 0;
  virtual void end(const SearchResult& result) = 0;
};
std::unique_ptr<SearchPrinter> makeSearchPrinter(OutputForm form, Output* out);

// The text forms (print_text.cpp), which the make*Printer functions above choose for kText.
std::unique_ptr<ComparePrinter> makeTextComparePrinter(Output* out, bool color);
std::unique_ptr<ShowPrinter> makeTextShowPrinter(Output* out);
std::unique_ptr<SearchPrinter> makeTextSearchPrinter(Output* out);

}  // namespace keldrun

#endif  // KELDRUN_CLI_PRINTERS_H_
