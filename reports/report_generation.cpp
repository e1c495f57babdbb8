#include "reports/report_generation.h"

#include <cstdio>

#include "reports/report_rows.h"
#include "views/screen_model.h"

namespace keldrun {

namespace {

std::string cannotExport(const std::string& path) { return "Cannot export to file [" + path + "]"; }

ReportSource sourceOf(ComparisonContext* context) {
  ReportSource source;
  source.fileA = context->fileA();
  source.fileB = context->fileB();
  source.nameA = context->infoA().name;
  source.nameB = context->infoB().name;
  source.view = context->mode() == kModeView;
  return source;
}

// The walk of differences reports: for each changed node inside the recorded paths, hands the
// node pair to writeDifferenceRows; descends into every node that is not unchanged.
class DifferencesNodeCallback : public TreeVisitor {
 public:
  DifferencesNodeCallback(ComparisonContext* context, ReportWriter* writer)
      : context_(context), writer_(writer) {}
  bool visit(const std::u16string& path, const std::u16string&, const TreeEntry* a,
             const TreeEntry* b, int filterResult) override {
    if (context_->nodeState(a, b, filterResult).state == kUnchanged) return false;
    if (filterResult == kPathInside) writer_->writeDifferenceRows(path, a, b);
    return true;
  }

 private:
  ComparisonContext* context_;
  ReportWriter* writer_;
};

// A section that cannot be compared (or, alone, shown) says why, as its screen does, rather
// than leave an empty table that reads as "no differences". True when it did.
bool noteUncompared(ComparisonContext* context, int section, int mode, ReportWriter* writer) {
  const char16_t* why = uncomparedMessage(context, section);
  if (why) writeSectionNote(writer, section, mode, why);
  return why != nullptr;
}

}  // namespace

DisplayLimits DifferencesReportOptions::displayLimits() const {
  DisplayLimits limits;
  if (limitBinary) limits.binaryBytes = binaryLimit;
  if (limitString) limits.stringChars = stringLimit;
  return limits;
}

int differencesPageLimit(bool split, int linesPerFile) {
  if (!split) return 0;
  return linesPerFile < kMinLinesPerFile ? kMinLinesPerFile : linesPerFile;
}

int snapshotExportPageLimit(bool split, int linesPerFile) {
  if (!split || linesPerFile <= 0) return 0;
  return linesPerFile < kMinLinesPerFile ? kMinLinesPerFile : linesPerFile;
}

bool generateDifferencesReport(ComparisonContext* context, const DifferencesReportOptions& options,
                               const std::string& path, ReportWriter* writer, std::string* message) {
  ReportSource source = sourceOf(context);
  writer->setSource(&source);
  if (!writer->open(path, differencesPageLimit(options.split, options.linesPerFile))) {
    *message = cannotExport(path);
    return false;
  }
  writer->setPrefixFilter(options.pathPrefix);
  writer->setIncludedStates(options.added, options.modified, options.deleted);
  writer->setDisplayLimits(options.displayLimits());
  DifferencesNodeCallback callback(context, writer);
  writer->setNoiseJudge([context](int section, const Item& item, int state, bool fromB) {
    return context->hiddenItem(section, item, state, fromB);
  });
  context->resetHiddenCounts();
  for (int section = 0; section < kSectionCount; section++) {
    if (!options.sections[section]) continue;
    writer->beginSection(section, reportSectionRows(section, kReportDifferences));
    if (!noteUncompared(context, section, kReportDifferences, writer)) {
      context->walkSection(section, &callback);
      if (context->hiddenCount(section))
        writeSectionNote(writer, section, kReportDifferences, hiddenNoiseText(context->hiddenCount(section)));
    }
  }
  writer->setNoiseJudge(nullptr);
  if (!writer->finish()) {
    *message = cannotExport(path);
    return false;
  }
  return true;
}

bool generateSnapshotReport(ComparisonContext* context, const std::string& path, int pageLimit,
                            ReportWriter* writer, std::string* message) {
  ReportSource source = sourceOf(context);
  writer->setSource(&source);
  if (!writer->open(path, pageLimit)) {
    *message = cannotExport(path);
    return false;
  }
  for (int section = 0; section < kSectionCount; section++) {
    DataNodeWriter nodes(writer, section);
    writer->beginSection(section, reportSectionRows(section, kReportData));
    if (!noteUncompared(context, section, kReportData, writer)) context->walkSection(section, &nodes);
  }
  if (!writer->finish()) {
    *message = cannotExport(path);
    return false;
  }
  return true;
}

std::string exportDoneMessage(const ReportWriter& writer) {
  if (writer.lastPageIndex() == 0) return "Export done.";
  char buf[64];
  std::snprintf(buf, sizeof buf, "Export done. %d files saved.", writer.lastPageIndex() + 1);
  return buf;
}

std::u16string writeSnapshotSummary(const SnapshotInfo& info) {
  static const char* const kHeadings[kSectionCount] = {"Registry:", "Files:", "Applications:"};
  std::u16string out =
      u"<style>body, td{font-size: 12px;font-family:font-family:microsoft sans serif,arial;"
      u"font-size:11px;}body{margin:0;border:1px solid gray;padding:4px;background-color:#e2ecfd;"
      u"cursor:default;}</style><body oncontextmenu='return false' scroll=auto>";
  for (int section = 0; section < kSectionCount; section++) {
    out += u"<b>";
    out += widen(kHeadings[section]);
    out += u"</b><br>";
    const FilterList& list = info.filterList[section];
    for (const std::u16string& item : list) {
      std::u16string buffer;
      out += ReportWriter::escapeHtml(item, &buffer);
      out += u"<br>";
    }
    if (list.empty()) out += u"-<br>";
    out += u"<br>";
  }
  out += u"</body>";
  return out;
}

}  // namespace keldrun
