#include "shell/snapshot_commands.h"

#include "base/files.h"
#include "reports/report_writer.h"
#include "workspace/noise.h"

namespace keldrun {

namespace {

const char kCannotOpenSnapshot[] = "Cannot open snapshot";
const char kCannotOpenSnapshots[] = "Cannot open snapshots";

}  // namespace

bool openSelectedSnapshot(const SnapshotList& list, ComparisonContext* context,
                          ShellMessage* message) {
  int32_t number;
  if (!list.chosenSnapshot(&number)) return false;
  if (context->open(number, 0, kModeView, true)) return true;
  *message = ShellMessage::error(kCannotOpenSnapshot);
  return false;
}

bool openChosenPair(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
                    ShellMessage* message) {
  int32_t older, newer;
  if (list.chosenPair(&older, &newer) &&
      context->open(older, newer, kModeCompare, settings.viewMode == 0)) {
    context->setNoise(workspaceNoise(settings, nullptr));
    return true;
  }
  *message = ShellMessage::error(kCannotOpenSnapshots);
  return false;
}

DifferencesReportOptions differencesOptions(const Settings& settings) {
  const Settings::Report& r = settings.report;
  DifferencesReportOptions o;
  o.limitBinary = r.limitBinary != 0;
  o.binaryLimit = r.binaryLimit > 0 ? uint32_t(r.binaryLimit) : 0;
  o.limitString = r.limitString != 0;
  o.stringLimit = r.stringLimit > 0 ? uint32_t(r.stringLimit) : 0;
  o.added = r.includeAdded != 0;
  o.modified = r.includeModified != 0;
  o.deleted = r.includeDeleted != 0;
  o.sections[kSectionRegistry] = r.includeRegistry != 0;
  o.sections[kSectionFiles] = r.includeFiles != 0;
  o.sections[kSectionApps] = r.includeApplications != 0;
  o.split = r.split != 0;
  o.linesPerFile = r.linesPerFile;
  return o;
}

bool openDifferencesPair(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
                         ShellMessage* message) {
  int32_t older, newer;
  context->setDataFolder(settings.catalog().dataFolder());
  if (!list.chosenPair(&older, &newer) || !context->open(older, newer, kModeCompare, false)) {
    *message = ShellMessage::error(kCannotOpenSnapshots);
    return false;
  }
  context->setNoise(workspaceNoise(settings, nullptr));
  return true;
}

bool writeReportToView(Settings* settings, ComparisonContext* context,
                       const DifferencesReportOptions& options, ReportWriter* writer,
                       std::string* reportPath, ShellMessage* message) {
  settings->clearReportTempFolder();
  std::string path = settings->reportTempFolder() + "export.htm";
  std::string error;
  if (!generateDifferencesReport(context, options, path, writer, &error)) {
    *message = ShellMessage::error(error);
    return false;
  }
  *reportPath = path;
  return true;
}

bool openSnapshotForExport(const SnapshotList& list, const Settings& settings, ComparisonContext* context,
                           ShellMessage* message) {
  int32_t number;
  if (!list.chosenSnapshot(&number)) return false;
  context->setDataFolder(settings.catalog().dataFolder());
  if (!context->open(number, 0, kModeView, true)) {
    *message = ShellMessage::error(kCannotOpenSnapshot);
    return false;
  }
  return true;
}

ShellMessage cannotSaveSettings(const Settings& settings) {
  return ShellMessage::error("Cannot save the settings file [" + settings.settingsPath() + "]");
}

ShellMessage setAsideDamagedSettings(Settings* settings) {
  if (settings->loadStatus() != SettingsLoad::Damaged) return {};
  std::string path = settings->settingsPath();
  std::string aside = path + ".damaged";
  if (!replaceFile(path, aside)) {
    return ShellMessage::error("The settings file [" + path + "] is damaged and cannot be moved aside");
  }
  return ShellMessage::warning("The settings file [" + path + "] is damaged.\nIt was kept as [" +
                               aside + "]; the snapshot list starts empty.");
}

}  // namespace keldrun
