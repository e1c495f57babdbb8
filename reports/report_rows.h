// The report rows of the Registry, Files and Applications views: each section's title, table
// header markup, and the rows of differences reports (a group heading writer and an item
// writer) and of snapshot data reports (one node writer per section).
//
// The writers only format; which rows appear and where pages break is the report writer's
// business. Every text that comes from a snapshot (paths, names, types, data, application
// texts) is written escaped, so a hostile name cannot add markup or script to a report.
#ifndef KELDRUN_REPORTS_REPORT_ROWS_H_
#define KELDRUN_REPORTS_REPORT_ROWS_H_

#include <string>

#include "engine/compare.h"
#include "reports/report_writer.h"

namespace keldrun {

// A section's title with its placeholders ("$pg_title$", "$snap_name$") for the report mode
// (empty for other modes), its table opening and header row (kReportDifferences adds the
// "Info" column), and for differences reports its row writers.
SectionRows reportSectionRows(int section, int mode);

// A row across the section's whole table that says, instead of its rows, why the section has
// none ("no snapshot taken", say), escaped. mode as for reportSectionRows.
void writeSectionNote(ReportWriter* writer, int section, int mode, const std::u16string& text);

// The data report writer of a section: for every node, its heading and all its items.
class DataNodeWriter : public TreeVisitor {
 public:
  DataNodeWriter(ReportWriter* writer, int section);
  bool visit(const std::u16string& path, const std::u16string& name, const TreeEntry* a,
             const TreeEntry* b, int filterResult) override;

 private:
  ReportWriter* writer_;
  int section_;
  std::unique_ptr<ItemListReader> reader_;
};

}  // namespace keldrun

#endif  // KELDRUN_REPORTS_REPORT_ROWS_H_
