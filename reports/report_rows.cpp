#include "reports/report_rows.h"

#include <cstdio>

#include "base/date_text.h"
#include "engine/app_record.h"
#include "engine/file_entry.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"
#include "views/list_columns.h"

namespace keldrun {

namespace {

const char* const kTitles[kSectionCount][2] = {
    {"Registry differences: $pg_title$", "Registry data - $snap_name$"},
    {"Files and folders differences: $pg_title$", "Files and folders data - $snap_name$"},
    {"Applications differences: $pg_title$", "Applications data - $snap_name$"},
};

const char* const kTableOpening[kSectionCount] = {
    "<table cellpadding=1px cellspacing=1px style='table-layout:fixed;width:100%;'>"
    "<col width='30%'><col width='15%'><col width='55%'>",
    "<table cellpadding=1px cellspacing=1px style='table-layout: fixed;width:100%;'>"
    "<col width='80%'><col width='130px' align=center><col width='100px' align=right>",
    "<table cellpadding=1px cellspacing=1px style='table-layout: fixed;width:100%;'>"
    "<col width='150px'><col width='80px'><col width='110px'><col width='40px'><col width='50px'>"
    "<col width='180px'><col width='110px' align=center><col width='80px' align=right>",
};

const char* const kHeaderRow[kSectionCount] = {
    "<tr><td id=h>Name<td id=h>Type<td id=h>Value",
    "<tr><td id=h>Name<td id=h>Data<td id=h>Size",
    ("<tr><td id=h>Name<td id=h>Version<td id=h>Company<td id=h>Status<td id=h>Startup"
     "<td id=h>File name<td id=h>Modified<td id=h>File size"),
};

void writeRowStart(ReportWriter* w, const char* format, int state) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, state);
  w->writeAscii(buf);
}

void writeHeading(ReportWriter* w, const char* format, const std::u16string& path, int state,
                  const char* label) {
  w->countRow(true);
  writeRowStart(w, format, state);
  w->writeEscaped(path);
  w->writeAscii("<td id=h>");
  w->writeAscii(label);
}

void registryHeading(ReportWriter* w, const std::u16string& path, int state, const char* label) {
  writeHeading(w, "<tr id=c%d><td colspan=3 id=h>", path, state, label);
}
void filesHeading(ReportWriter* w, const std::u16string& path, int state, const char* label) {
  writeHeading(w, "<tr id=c%d><td colspan=3 id=h>", path, state, label);
}
void appsHeading(ReportWriter* w, const std::u16string& path, int state, const char* label) {
  writeHeading(w, "<tr id=c%d><td colspan=8 id=h>", path, state, label);
}

// The cells of one item after its opening "<td>", without a trailing cell.
void writeRegistryCells(ReportWriter* w, const Item& item) {
  ValueEntry v;
  if (!parseValueEntry(item.p, item.size, &v)) {
    w->writeAscii("<td><td>");
    return;
  }
  w->writeEscaped(valueName(v));
  w->writeAscii("<td>");
  w->writeEscaped(typeName(v));
  w->writeAscii("<td>");
  w->writeEscaped(displayText(v, w->displayLimits()));
}

void writeFileCells(ReportWriter* w, const Item& item) {
  FileEntry f;
  if (!item.p || !FileEntry::parse(item.p, item.size, &f)) {
    w->writeAscii("<td><td>");
    return;
  }
  w->writeEscaped(f.name.str());
  w->writeAscii("<td>" + fileTimeText(f.lastWrite) + "<td>" + groupedSize(f.size));
}

void writeAppCells(ReportWriter* w, const Item& item) {
  AppRecord r;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) {
    w->writeAscii("<td><td><td><td><td><td><td>");
    return;
  }
  w->writeEscaped(r.name);
  w->writeAscii("<td>");
  w->writeEscaped(r.version);
  w->writeAscii("<td>");
  w->writeEscaped(r.company);
  w->writeAscii(std::string("<td>") + appStatusText(r.state) + "<td>" + appStartupText(r.startType) +
                "<td>");
  w->writeEscaped(r.file);
  w->writeAscii("<td>" + fileTimeText(r.modified) + "<td>" + groupedSize(r.size));
}

void writeItem(ReportWriter* w, void (*cells)(ReportWriter*, const Item&), const Item& item,
               int state, const char* label) {
  w->countRow(false);
  writeRowStart(w, "<tr id=c%d><td>", state);
  cells(w, item);
  w->writeAscii("<td>");
  w->writeAscii(label);
}

void registryItem(ReportWriter* w, const Item& item, int state, const char* label) {
  writeItem(w, writeRegistryCells, item, state, label);
}
void filesItem(ReportWriter* w, const Item& item, int state, const char* label) {
  writeItem(w, writeFileCells, item, state, label);
}
void appsItem(ReportWriter* w, const Item& item, int state, const char* label) {
  writeItem(w, writeAppCells, item, state, label);
}

}  // namespace

SectionRows reportSectionRows(int section, int mode) {
  SectionRows rows;
  if (section < 0 || section >= kSectionCount) return rows;
  bool differences = mode == kReportDifferences;
  if (differences || mode == kReportData) rows.title = kTitles[section][differences ? 0 : 1];
  rows.header = kTableOpening[section];
  if (differences) rows.header += "<col width='40px' align=center>";
  rows.header += kHeaderRow[section];
  if (differences) rows.header += "<td id=h>Info";
  if (!differences) return rows;
  const HeadingWriter headings[kSectionCount] = {registryHeading, filesHeading, appsHeading};
  const ItemWriter items[kSectionCount] = {registryItem, filesItem, appsItem};
  rows.heading = headings[section];
  rows.item = items[section];
  return rows;
}

void writeSectionNote(ReportWriter* writer, int section, int mode, const std::u16string& text) {
  // The columns of the header row, and the differences report's "Info".
  int columns = (section == kSectionApps ? 8 : 3) + (mode == kReportDifferences ? 1 : 0);
  writer->countRow(false);
  writer->writeAscii("<tr><td colspan=" + std::to_string(columns) + ">");
  writer->writeEscaped(text);
}

DataNodeWriter::DataNodeWriter(ReportWriter* writer, int section)
    : writer_(writer), section_(section), reader_(makeItemReader(section)) {}

bool DataNodeWriter::visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
                           const TreeEntry*, int filterResult) {
  if (!a) return true;
  // A node on the way to recorded paths was not recorded itself: its items are not known.
  uint32_t content = filterResult == kPathInside ? a->contentTable : 0;
  const ReportSource* source = writer_->source();
  bool haveItems = content != 0 && source && source->fileA && reader_->open(source->fileA, content);
  if (content != 0 && !haveItems) return true;
  writer_->countRow(true);
  writer_->writeAscii(section_ == kSectionApps ? "<tr><td colspan=8 id=h>"
                                               : "<tr><td colspan=3 id=h>");
  writer_->writeEscaped(path);
  if (!haveItems) return true;
  void (*cells)(ReportWriter*, const Item&) =
      section_ == kSectionRegistry ? writeRegistryCells
      : section_ == kSectionFiles  ? writeFileCells
                                   : writeAppCells;
  Item item;
  while (reader_->next(&item)) {
    writer_->countRow(false);
    writer_->writeAscii("<tr><td>");
    cells(writer_, item);
  }
  return true;
}

}  // namespace keldrun
