// The list columns of the three screens for one item of a content table, without the label
// column that every screen ends with.
//   Registry:     Name, Type, Data
//   Files:        Name, Size, Date modified
//   Applications: Name, Version, Company, Status, Startup, File, File size, Date modified
#ifndef KELDRUN_VIEWS_LIST_COLUMNS_H_
#define KELDRUN_VIEWS_LIST_COLUMNS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/snapshot.h"

namespace keldrun {

// The column titles of a section's list, the label column "Info" included.
std::vector<std::string> columnTitles(int section);

// The texts of an item; a malformed item gives empty texts (as many as the section has).
std::vector<std::u16string> listColumns(int section, const Item& item);

// A file's recorded content digest for the eye: "sha256 " and 64 lowercase hex digits, or
// "sha256 unreadable" for a file that could not be read; "" when none was recorded (ext null).
std::string digestText(const FileExt* ext);

// A size in decimal with "," between groups of three digits: 1234567 gives "1,234,567".
std::string groupedSize(uint64_t size);
void appendGroupedSize(std::string* out, uint64_t size);

}  // namespace keldrun

#endif  // KELDRUN_VIEWS_LIST_COLUMNS_H_
