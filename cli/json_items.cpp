#include "cli/json_items.h"

#include <vector>

#include "cli/catalog_cli.h"
#include "engine/app_record.h"
#include "engine/compare.h"
#include "engine/file_scan.h"
#include "engine/progress.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"
#include "views/list_columns.h"

namespace keldrun {

const char* stateWord(int state) {
  static const char* const words[kDiffStateCount] = {"unchanged", "modified", "added", "deleted",
                                                     "excluded"};
  return state >= 0 && state < kDiffStateCount ? words[state] : "unknown";
}

namespace {

std::string columnsJson(const std::vector<std::u16string>& cols) {
  std::string out = "\"columns\":[";
  for (size_t i = 0; i < cols.size(); i++) out += (i ? "," : "") + jsonString(cols[i]);
  return out + "]";
}

std::string sizeAndTime(uint64_t size, uint64_t modified, bool sizeKnown) {
  return ",\"size\":" + std::to_string(size) + ",\"sizeText\":" +
         jsonString(sizeKnown ? groupedSize(size) : std::string()) + ",\"modified\":" +
         std::to_string(modified) + ",\"modifiedText\":" + jsonString(fileTimeText(modified));
}

}  // namespace

std::string itemJsonFields(int section, const Item& item) {
  std::vector<std::u16string> cols = listColumns(section, item);
  if (section == kSectionRegistry) {
    ValueEntry v;
    if (item.p && parseValueEntry(item.p, item.size, &v)) {
      return "\"name\":" + jsonString(valueName(v)) + ",\"type\":" + std::to_string(v.type) +
             ",\"typeText\":" + jsonString(typeName(v)) + ",\"data\":" + jsonString(displayText(v)) +
             "," + columnsJson(cols);
    }
  } else if (section == kSectionFiles) {
    FileEntry f;
    if (item.p && FileEntry::parse(item.p, item.size, &f)) {
      return "\"name\":" + jsonString(f.name.str()) + sizeAndTime(f.size, f.lastWrite, true) + "," +
             columnsJson(cols);
    }
  } else {
    AppRecord r;
    if (item.p && decodeAppEntry(item.p, item.size, &r)) {
      return "\"name\":" + jsonString(r.name) + ",\"version\":" + jsonString(r.version) +
             ",\"company\":" + jsonString(r.company) + ",\"status\":" +
             jsonString(std::string(appStatusText(r.state))) + ",\"startup\":" +
             jsonString(std::string(appStartupText(r.startType))) + ",\"file\":" + jsonString(r.file) +
             sizeAndTime(r.size, r.modified, !r.file.empty()) + "," + columnsJson(cols);
    }
  }
  return "\"name\":\"\",\"columns\":[]";
}

std::string columnTitlesJson(int section) {
  std::vector<std::string> titles = columnTitles(section);
  std::string out = ",\"columnTitles\":[";
  for (size_t i = 0; i + 1 < titles.size(); i++) out += (i ? "," : "") + jsonString(titles[i]);
  return out + "]";
}

std::string snapshotJson(const std::string& path, const SnapshotInfo& info) {
  return "{\"path\":" + jsonString(path) + ",\"name\":" + jsonString(info.name) +
         ",\"computer\":" + jsonString(info.computer) + ",\"date\":" + jsonString(info.date) + "}";
}

}  // namespace keldrun
