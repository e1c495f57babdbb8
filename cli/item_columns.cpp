#include "cli/item_columns.h"

#include "base/date_text.h"
#include "cli/output.h"
#include "engine/app_record.h"
#include "engine/compare.h"
#include "engine/file_entry.h"
#include "engine/file_extension.h"
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

void appendSizeAndTime(std::string* out, uint64_t size, const std::string& sizeText, uint64_t modified,
                       const std::string& modifiedText) {
  *out += ",\"size\":";
  appendNumber(out, size);
  *out += ",\"sizeText\":";
  appendLatin1Json(out, sizeText);
  *out += ",\"modified\":";
  appendNumber(out, modified);
  *out += ",\"modifiedText\":";
  appendLatin1Json(out, modifiedText);
}

}  // namespace

void ItemColumns::appendDate(std::string* out, uint64_t fileTime) { dates_.append(out, fileTime); }

bool ItemColumns::registryText(std::string* out, const Item& item, const char* separator, const char* first) {
  ValueEntry v;
  if (!item.p || !parseValueEntry(item.p, item.size, &v)) return false;
  *out += first;
  if (v.name.chars == 0) *out += "(Default)";  // valueName
  else appendText(out, v.name);
  type_.clear();
  appendTypeName(&type_, v.type);
  *out += separator;
  appendText(out, type_.data(), type_.size());
  data_.clear();
  appendDisplayText(&data_, v);
  *out += separator;
  appendText(out, data_.data(), data_.size());
  return true;
}

bool ItemColumns::registryJson(std::string* out, const Item& item) {
  ValueEntry v;
  if (!item.p || !parseValueEntry(item.p, item.size, &v)) return false;
  auto name = [&] {
    if (v.name.chars == 0) *out += "\"(Default)\"";  // valueName
    else appendJson(out, v.name);
  };
  type_.clear();
  appendTypeName(&type_, v.type);
  data_.clear();
  appendDisplayText(&data_, v);
  *out += "\"name\":";
  name();
  *out += ",\"type\":";
  appendNumber(out, v.type);
  *out += ",\"typeText\":";
  appendJson(out, type_.data(), type_.size());
  *out += ",\"data\":";
  appendJson(out, data_.data(), data_.size());
  *out += ",\"columns\":[";
  name();
  *out += ',';
  appendJson(out, type_.data(), type_.size());
  *out += ',';
  appendJson(out, data_.data(), data_.size());
  *out += ']';
  return true;
}

bool ItemColumns::appText(std::string* out, const Item& item, const char* separator, const char* first) {
  AppRecord& r = app_;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) return false;
  *out += first;
  appendText(out, r.name.data(), r.name.size());
  for (const std::u16string* s : {&r.version, &r.company}) {
    *out += separator;
    appendText(out, s->data(), s->size());
  }
  *out += separator;
  *out += appStatusText(r.state);
  *out += separator;
  *out += appStartupText(r.startType);
  *out += separator;
  appendText(out, r.file.data(), r.file.size());
  *out += separator;
  if (!r.file.empty()) appendGroupedSize(out, r.size);
  *out += separator;
  appendDate(out, r.modified);
  return true;
}

bool ItemColumns::appJson(std::string* out, const Item& item) {
  AppRecord& r = app_;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) return false;
  std::string size = r.file.empty() ? std::string() : groupedSize(r.size);  // short: held in the string itself
  std::string& date = scratch_;
  date.clear();
  appendDate(&date, r.modified);
  const char* status = appStatusText(r.state);
  const char* startup = appStartupText(r.startType);
  auto json = [out](const std::u16string& s) { appendJson(out, s.data(), s.size()); };
  *out += "\"name\":";
  json(r.name);
  *out += ",\"version\":";
  json(r.version);
  *out += ",\"company\":";
  json(r.company);
  *out += ",\"status\":\"";
  *out += status;
  *out += "\",\"startup\":\"";
  *out += startup;
  *out += "\",\"file\":";
  json(r.file);
  appendSizeAndTime(out, r.size, size, r.modified, date);
  *out += ",\"columns\":[";
  for (const std::u16string* s : {&r.name, &r.version, &r.company}) {
    json(*s);
    *out += ',';
  }
  *out += '"';
  *out += status;
  *out += "\",\"";
  *out += startup;
  *out += "\",";
  json(r.file);
  *out += ',';
  appendLatin1Json(out, size);
  *out += ',';
  appendLatin1Json(out, date);
  *out += ']';
  return true;
}

void ItemColumns::text(std::string* out, const Item& item, const char* separator, const char* first) {
  if (!first) first = separator;
  FileEntry f;
  if (section_ == kSectionFiles && item.p && FileEntry::parse(item.p, item.size, &f)) {
    *out += first;
    appendText(out, f.name);
    *out += separator;
    appendGroupedSize(out, f.size);
    *out += separator;
    appendDate(out, f.lastWrite);
    return;
  }
  if (section_ == kSectionRegistry && registryText(out, item, separator, first)) return;
  if (section_ == kSectionApps && appText(out, item, separator, first)) return;
  // A malformed item: as many empty columns as the section has.
  size_t count = columnTitles(section_).size() - 1;
  for (size_t i = 0; i < count; i++) *out += i ? separator : first;
}

void ItemColumns::json(std::string* out, const Item& item) {
  if (section_ == kSectionFiles) {
    FileEntry f;
    if (item.p && FileEntry::parse(item.p, item.size, &f)) {
      std::string size = groupedSize(f.size);  // short: held in the string itself
      std::string& date = scratch_;
      date.clear();
      appendDate(&date, f.lastWrite);
      *out += "\"name\":";
      size_t nameAt = out->size();
      appendJson(out, f.name);
      size_t nameSize = out->size() - nameAt;
      appendSizeAndTime(out, f.size, size, f.lastWrite, date);
      *out += ",\"columns\":[";
      out->append(*out, nameAt, nameSize);  // the name as escaped above
      *out += ',';
      appendLatin1Json(out, size);
      *out += ',';
      appendLatin1Json(out, date);
      *out += ']';
      return;
    }
  } else if (section_ == kSectionRegistry) {
    if (registryJson(out, item)) return;
  } else if (appJson(out, item)) {
    return;
  }
  *out += "\"name\":\"\",\"columns\":[]";
}

namespace {

void appendHex(std::string* out, const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) {
    *out += digits[bytes[i] >> 4];
    *out += digits[bytes[i] & 15];
  }
}

}  // namespace

void ItemColumns::text(std::string* out, const ContentRow& row, const char* separator, const char* first) {
  text(out, row.item, separator, first);
  if (row.marks) {
    *out += " [";
    *out += fileMarkText(row.marks);
    *out += ']';
  }
  digest(out, row.ext);
}

void ItemColumns::digest(std::string* out, const FileExt* ext) {
  std::string text = digestText(ext);
  if (!text.empty()) *out += "  " + text;
}

void ItemColumns::json(std::string* out, const ContentRow& row) {
  json(out, row.item);
  const FileExt* e = row.ext;
  if (!e) return;
  *out += ",\"changeTime\":";
  appendNumber(out, e->changeTime);
  *out += ",\"fileId\":";
  appendNumber(out, e->fileId);
  *out += ",\"sha256\":";
  if (e->digestState == kDigestSha256) {
    *out += '"';
    appendHex(out, e->sha256, kSha256Size);
    *out += '"';
  } else {
    *out += e->digestState == kDigestUnreadable ? "\"unreadable\"" : "null";
  }
  static const char* const names[] = {"dateKept", "replaced", "digestChanged"};
  *out += ",\"marks\":[";
  bool first = true;
  for (int i = 0; i < 3; i++) {
    if (!(row.marks & (1 << i))) continue;
    *out += first ? "\"" : ",\"";
    *out += names[i];
    *out += '"';
    first = false;
  }
  *out += ']';
}

void appendColumnTitlesJson(std::string* out, int section) {
  std::vector<std::string> titles = columnTitles(section);
  *out += '[';
  for (size_t i = 0; i + 1 < titles.size(); i++) *out += (i ? "," : "") + jsonString(titles[i]);
  *out += ']';
}

void appendColumnsJson(std::string* out, const std::vector<std::u16string>& columns) {
  *out += '[';
  for (size_t i = 0; i < columns.size(); i++) {
    if (i) *out += ',';
    appendJson(out, columns[i].data(), columns[i].size());
  }
  *out += ']';
}

}  // namespace keldrun
