// Generation of the two HTML reports from the options their dialogs collect: the differences
// report of two snapshots and the data report (export) of one snapshot; and the snapshot
// summary of the properties dialog.
#ifndef KELDRUN_REPORTS_REPORT_GENERATION_H_
#define KELDRUN_REPORTS_REPORT_GENERATION_H_

#include <cstdint>
#include <string>

#include "engine/snapshot.h"
#include "engine/value_text.h"
#include "reports/report_writer.h"
#include "views/comparison_context.h"

namespace keldrun {

// Smallest page of a split report, in rows.
constexpr int kMinLinesPerFile = 10000;

struct DifferencesReportOptions {
  bool limitBinary = true;
  uint32_t binaryLimit = 50;   // bytes of binary-like data per value
  bool limitString = true;
  uint32_t stringLimit = 300;  // characters of string data per value
  bool added = true;
  bool modified = true;
  bool deleted = true;
  bool sections[kSectionCount] = {true, true, true};
  // Only groups at or below this path; empty for all. (From the snapshot list the dialog
  // passes an empty prefix; from a view, that view's section alone and its current path.)
  std::u16string pathPrefix;
  bool split = true;
  int linesPerFile = 30000;

  // The limits on value data that the report's rows show.
  DisplayLimits displayLimits() const;
};

// The page limit of a differences report: 0 when not split, else the lines raised to the
// minimum (0 and negative numbers included).
int differencesPageLimit(bool split, int linesPerFile);
// The page limit of a snapshot export: 0 when not split or lines is 0 (no split), lines from
// 1 to 9999 raised to the minimum.
int snapshotExportPageLimit(bool split, int linesPerFile);

// Writes the differences report of the context (compare mode) to path with writer. False with
// *message when the report file cannot be created ("Cannot export to file [%s]") or any page,
// the page move or the index page could not be written whole.
bool generateDifferencesReport(ComparisonContext* context, const DifferencesReportOptions& options,
                               const std::string& path, ReportWriter* writer, std::string* message);

// Writes the data report of the context's snapshot (view mode) to path: every section, every
// node with all its items. pageLimit 0 = one file. False with *message as above.
bool generateSnapshotReport(ComparisonContext* context, const std::string& path, int pageLimit,
                            ReportWriter* writer, std::string* message);

// "Export done. %d files saved." for a split report, else "Export done.".
std::string exportDoneMessage(const ReportWriter& writer);

// The summary of a snapshot's scanned roots for the properties dialog: per section a bold
// heading and the filter list items (escaped), "-" for an empty list. UTF-16, so that an item's
// characters above 255 reach the browser control as they are.
std::u16string writeSnapshotSummary(const SnapshotInfo& info);

}  // namespace keldrun

#endif  // KELDRUN_REPORTS_REPORT_GENERATION_H_
