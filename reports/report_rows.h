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

// The section's title with its placeholders ("$pg_title$", "$snap_name$") for the report mode;
// empty for other modes.
const char* reportTitle(int section, int mode);
// The table opening and header row of the section; mode 1 adds the "Info" column.
std::string reportHeader(int section, int mode);

// The differences report writers of a section.
HeadingWriter reportHeadingWriter(int section);
ItemWriter reportItemWriter(int section);

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
