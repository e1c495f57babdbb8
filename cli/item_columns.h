// The columns of one item of a content table (a registry value, a file, an application record)
// as compare, show and search print them, in text and in JSON. The texts are the screens' list
// columns (views/list_columns.h), without the label column "Info".
#ifndef KELDRUN_CLI_ITEM_COLUMNS_H_
#define KELDRUN_CLI_ITEM_COLUMNS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/date_text.h"
#include "cli/output.h"
#include "engine/app_record.h"
#include "engine/compare.h"
#include "engine/snapshot.h"

namespace keldrun {

// The difference state words "unchanged", "modified", "added", "deleted", "excluded".
const char* stateWord(int state);

// Writes the items of one section. Every row is formatted straight into the output, its column
// texts in members reused from row to row, so no row builds strings of its own.
class ItemColumns {
 public:
  explicit ItemColumns(int section) : section_(section) {}

  // Each column preceded by `separator` (the first by `first` when given), escaped as text.
  void text(RowWriter& out, const Item& item, const char* separator, const char* first = nullptr);

  // JSON fields without braces: always "name" and "columns" (the column texts), and by section
  //   registry: "type" (number), "typeText", "data" (the text the screen shows)
  //   files:    "size", "sizeText", "modified" (FILETIME, 100 ns since 1601), "modifiedText"
  //   apps:     "version", "company", "status", "startup", "file", "size", "sizeText",
  //             "modified", "modifiedText"
  // A malformed item gives "name":"" and empty columns.
  void json(RowWriter& out, const Item& item);

  // A row's item as text(), then, for a modified file with marks, " [" fileMarkText "]", and
  // for a file with a recorded digest, "  sha256 " and its hex (or "  sha256 unreadable").
  void text(RowWriter& out, const ContentRow& row, const char* separator, const char* first = nullptr);
  // "  sha256 " and the hex of a recorded digest, or "  sha256 unreadable"; nothing for a file
  // without one (ext null, or no digest recorded).
  static void digest(RowWriter& out, const FileExt* ext);
  // A row's item as json(), then for a file with extension data: "changeTime" (FILETIME; 0 when
  // unknown), "volume", "fileId" (0 when unknown), "sha256" (hex, "unreadable", or null when not
  // recorded), and "marks": an array of "dateKept", "replaced", "digestChanged".
  void json(RowWriter& out, const ContentRow& row);

 private:
  // The date text of a FILETIME (fileTimeText) into date_, and a grouped size into size_.
  void writeDate(uint64_t fileTime);
  void writeSize(uint64_t size);

  // Writes the three columns of a registry value in text or JSON form; false for a malformed
  // item. The column texts are built in the members below, reused from row to row.
  bool registryText(RowWriter& out, const Item& item, const char* separator, const char* first);
  bool registryJson(RowWriter& out, const Item& item);
  // The same for an application record, decoded into app_.
  bool appText(RowWriter& out, const Item& item, const char* separator, const char* first);
  bool appJson(RowWriter& out, const Item& item);

  int section_;
  FileTimeWriter dates_;
  std::string date_, size_;     // the date and size texts of the current row
  std::u16string type_, data_;  // the registry columns of the current row
  AppRecord app_;               // the application record of the current row
};

// Appends [t1, t2, ...] of the column titles of a section, "Info" left out.
void appendColumnTitlesJson(std::string* out, int section);
// Appends ["c1","c2",...].
void appendColumnsJson(std::string* out, const std::vector<std::u16string>& columns);

}  // namespace keldrun

#endif  // KELDRUN_CLI_ITEM_COLUMNS_H_
