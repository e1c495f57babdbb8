// JSON forms of what compare, show and search print, shared so that the three commands spell
// their fields alike.
#ifndef KELDRUN_CLI_JSON_ITEMS_H_
#define KELDRUN_CLI_JSON_ITEMS_H_

#include <string>

#include "engine/snapshot.h"

namespace keldrun {

// The difference state words "unchanged", "modified", "added", "deleted", "excluded".
const char* stateWord(int state);

// The fields of one item of a content table, without braces: always "name" and "columns" (the
// screen's texts, in the order of columnTitles without "Info"), and by section:
//   registry: "type" (number), "typeText", "data" (the text the screen shows)
//   files:    "size", "sizeText", "modified" (FILETIME, 100 ns since 1601), "modifiedText"
//   apps:     "version", "company", "status", "startup", "file", "size", "sizeText",
//             "modified", "modifiedText"
// A malformed item gives only "name":"" and empty "columns".
std::string itemJsonFields(int section, const Item& item);

// ,"columnTitles":[...] for the section, label column excluded.
std::string columnTitlesJson(int section);

// {"path":..., "name":..., "computer":..., "date":...} of an opened snapshot file.
std::string snapshotJson(const std::string& path, const SnapshotInfo& info);

}  // namespace keldrun

#endif  // KELDRUN_CLI_JSON_ITEMS_H_
