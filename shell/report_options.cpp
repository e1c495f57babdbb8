#include "shell/report_options.h"

#include <cstdint>

#include "base/files.h"
#include "views/screen_commands.h"
#include "workspace/catalog_lock.h"

namespace keldrun {

namespace {

// How far the groups below a hidden group move up, in dialog units.
constexpr int kDataSizeGroupHeight = 80;
constexpr int kRangeGroupHeight = 60;
// From the snapshot list and the Applications screen the lower groups close up a little more.
constexpr int kLowerGroupsExtra = 10;
constexpr int kApplicationsNarrower = 100;

std::string numberText(int32_t n) { return std::to_string(n); }

}  // namespace

int fieldNumber(const std::string& text) {
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > INT32_MAX) return INT32_MAX;
  }
  return int(n);
}

DifferencesOptionsForm::DifferencesOptionsForm(const Settings::Report& r, int origin,
                                               const std::u16string& pathPrefix)
    : origin_(origin), prefix_(pathPrefix) {
  added = r.includeAdded != 0;
  modified = r.includeModified != 0;
  deleted = r.includeDeleted != 0;
  sections[kSectionRegistry] = r.includeRegistry != 0;
  sections[kSectionFiles] = r.includeFiles != 0;
  sections[kSectionApps] = r.includeApplications != 0;
  limitBinary = r.limitBinary != 0;
  limitString = r.limitString != 0;
  split = r.split != 0;
  binaryText = numberText(r.binaryLimit);
  stringText = numberText(r.stringLimit);
  linesText = numberText(r.linesPerFile);
  onlyPath = r.currentPathOnly != 0 && layout().onlyPathEnabled;
}

DifferencesOptionsForm::Layout DifferencesOptionsForm::layout() const {
  Layout l;
  bool list = origin_ == kOriginSnapshotList;
  l.sectionsShown = list;
  l.dataSizeShown = list || origin_ == kSectionRegistry;
  l.rangeShown = origin_ == kSectionRegistry || origin_ == kSectionFiles;
  l.onlyPathEnabled = l.rangeShown && !prefix_.empty();
  l.rangeUp = l.dataSizeShown ? 0 : kDataSizeGroupHeight;
  l.lowerUp = l.rangeUp + (l.rangeShown ? 0 : kRangeGroupHeight);
  if (list || origin_ == kSectionApps) l.lowerUp += kLowerGroupsExtra;
  l.narrower = origin_ == kSectionApps ? kApplicationsNarrower : 0;
  return l;
}

bool DifferencesOptionsForm::canGenerate() const {
  bool anyState = added || modified || deleted;
  bool anySection = origin_ != kOriginSnapshotList || sections[0] || sections[1] || sections[2];
  return anyState && anySection;
}

void DifferencesOptionsForm::store(Settings::Report* r) const {
  r->binaryLimit = fieldNumber(binaryText);
  r->stringLimit = fieldNumber(stringText);
  r->limitBinary = limitBinary;
  r->limitString = limitString;
  r->includeAdded = added;
  r->includeModified = modified;
  r->includeDeleted = deleted;
  if (origin_ == kOriginSnapshotList) {
    r->includeRegistry = sections[kSectionRegistry];
    r->includeFiles = sections[kSectionFiles];
    r->includeApplications = sections[kSectionApps];
  }
  // Without a path the choice is forced to "all"; that is no choice of the user's to keep.
  if (layout().onlyPathEnabled) r->currentPathOnly = onlyPath;
  r->split = split;
  r->linesPerFile = differencesPageLimit(true, fieldNumber(linesText));
}

DifferencesReportOptions DifferencesOptionsForm::options() const {
  DifferencesReportOptions o;
  o.limitBinary = limitBinary;
  o.binaryLimit = uint32_t(fieldNumber(binaryText));
  o.limitString = limitString;
  o.stringLimit = uint32_t(fieldNumber(stringText));
  o.added = added;
  o.modified = modified;
  o.deleted = deleted;
  for (int s = 0; s < kSectionCount; s++) {
    o.sections[s] = origin_ == kOriginSnapshotList ? sections[s] : s == origin_;
  }
  if (layout().onlyPathEnabled && onlyPath) o.pathPrefix = prefix_;
  o.split = split;
  o.linesPerFile = differencesPageLimit(true, fieldNumber(linesText));
  return o;
}

SnapshotExportForm::SnapshotExportForm(const Settings::Report& r, const std::string& documentsFolder) {
  name = r.exportName;
  folder = r.exportFolder;
  if (folder.empty()) folder = withSeparator(documentsFolder);
  split = r.split != 0;
  linesText = numberText(r.linesPerFile);
  openAfter = r.openAfterExport != 0;
}

int SnapshotExportForm::pageLimit() const {
  return snapshotExportPageLimit(split, fieldNumber(linesText));
}

void SnapshotExportForm::store(Settings::Report* r) const {
  r->exportName = name;
  r->exportFolder = folder;
  r->split = split;
  r->linesPerFile = fieldNumber(linesText);
  r->openAfterExport = openAfter;
}

std::string SnapshotExportForm::reportPath() const {
  return (folder.empty() ? folder : chosenFolder(folder)) + name + ".htm";
}

std::string SnapshotExportForm::chosenFolder(const std::string& folder) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder;
  return folder + pathSeparator();
}

bool keepReportOptions(Settings* settings) {
  CatalogLock lock(settings);
  if (!lock.tryTake().empty()) return false;
  return settings->save();
}

std::string exportDoneMessage(const std::string& path) { return "Export done: " + path; }

std::string exportNotOpenedMessage(const std::string& path, long long shellResult) {
  std::string error = openFileError(shellResult);
  return error.empty() ? error : exportDoneMessage(path) + "\n" + error;
}

}  // namespace keldrun
