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

// A size or date text of this program as a JSON string: it holds digits and ", - : ." alone,
// so it is quoted without a look at each byte.
void putQuoted(RowWriter& out, const std::string& sizeOrDate) { out.put('"').put(sizeOrDate).put('"'); }

void writeSizeAndTime(RowWriter& out, uint64_t size, const std::string& sizeText, uint64_t modified,
                      const std::string& modifiedText) {
  out.put(",\"size\":").number(size).put(",\"sizeText\":");
  putQuoted(out, sizeText);
  out.put(",\"modified\":").number(modified).put(",\"modifiedText\":");
  putQuoted(out, modifiedText);
}

}  // namespace

void ItemColumns::writeDate(uint64_t fileTime) {
  date_.clear();
  dates_.append(&date_, fileTime);
}

void ItemColumns::writeSize(uint64_t size) {
  size_.clear();
  appendGroupedSize(&size_, size);
}

bool ItemColumns::registryText(RowWriter& out, const Item& item, const char* separator, const char* first) {
  ValueEntry v;
  if (!item.p || !parseValueEntry(item.p, item.size, &v)) return false;
  out.cstr(first);
  if (v.name.chars == 0) out.put("(Default)");  // valueName
  else out.text(v.name);
  type_.clear();
  appendTypeName(&type_, v.type);
  out.cstr(separator).text(type_);
  data_.clear();
  appendDisplayText(&data_, v);
  out.cstr(separator).text(data_);
  return true;
}

bool ItemColumns::registryJson(RowWriter& out, const Item& item) {
  ValueEntry v;
  if (!item.p || !parseValueEntry(item.p, item.size, &v)) return false;
  auto name = [&] {
    if (v.name.chars == 0) out.put("\"(Default)\"");  // valueName
    else out.json(v.name);
  };
  type_.clear();
  appendTypeName(&type_, v.type);
  data_.clear();
  appendDisplayText(&data_, v);
  out.put("\"name\":");
  name();
  out.put(",\"type\":").number(v.type).put(",\"typeText\":").json(type_).put(",\"data\":").json(data_);
  out.put(",\"columns\":[");
  name();
  out.put(',').json(type_).put(',').json(data_).put(']');
  return true;
}

bool ItemColumns::appText(RowWriter& out, const Item& item, const char* separator, const char* first) {
  AppRecord& r = app_;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) return false;
  out.cstr(first).text(r.name);
  for (const std::u16string* s : {&r.version, &r.company}) out.cstr(separator).text(*s);
  out.cstr(separator).cstr(appStatusText(r.state));
  out.cstr(separator).cstr(appStartupText(r.startType));
  out.cstr(separator).text(r.file);
  out.cstr(separator);
  if (!r.file.empty()) {
    writeSize(r.size);
    out.put(size_);
  }
  writeDate(r.modified);
  out.cstr(separator).put(date_);
  return true;
}

bool ItemColumns::appJson(RowWriter& out, const Item& item) {
  AppRecord& r = app_;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) return false;
  size_.clear();
  if (!r.file.empty()) writeSize(r.size);
  writeDate(r.modified);
  const char* status = appStatusText(r.state);
  const char* startup = appStartupText(r.startType);
  out.put("\"name\":").json(r.name).put(",\"version\":").json(r.version).put(",\"company\":").json(r.company);
  out.put(",\"status\":\"").cstr(status).put("\",\"startup\":\"").cstr(startup).put("\",\"file\":").json(r.file);
  writeSizeAndTime(out, r.size, size_, r.modified, date_);
  out.put(",\"columns\":[");
  for (const std::u16string* s : {&r.name, &r.version, &r.company}) out.json(*s).put(',');
  out.put('"').cstr(status).put("\",\"").cstr(startup).put("\",").json(r.file);
  out.put(',');
  putQuoted(out, size_);
  out.put(',');
  putQuoted(out, date_);
  out.put(']');
  return true;
}

void ItemColumns::text(RowWriter& out, const Item& item, const char* separator, const char* first) {
  if (!first) first = separator;
  FileEntry f;
  if (section_ == kSectionFiles && item.p && FileEntry::parse(item.p, item.size, &f)) {
    writeSize(f.size);
    writeDate(f.lastWrite);
    out.cstr(first).text(f.name).cstr(separator).put(size_).cstr(separator).put(date_);
    return;
  }
  if (section_ == kSectionRegistry && registryText(out, item, separator, first)) return;
  if (section_ == kSectionApps && appText(out, item, separator, first)) return;
  // A malformed item: as many empty columns as the section has.
  size_t count = columnTitles(section_).size() - 1;
  for (size_t i = 0; i < count; i++) out.cstr(i ? separator : first);
}

void ItemColumns::json(RowWriter& out, const Item& item) {
  if (section_ == kSectionFiles) {
    FileEntry f;
    if (item.p && FileEntry::parse(item.p, item.size, &f)) {
      writeSize(f.size);
      writeDate(f.lastWrite);
      out.put("\"name\":");
      size_t nameAt = out.offset();
      out.json(f.name);
      size_t nameSize = out.offset() - nameAt;
      writeSizeAndTime(out, f.size, size_, f.lastWrite, date_);
      out.put(",\"columns\":[").again(nameAt, nameSize);  // the name as escaped above
      out.put(',');
      putQuoted(out, size_);
      out.put(',');
      putQuoted(out, date_);
      out.put(']');
      return;
    }
  } else if (section_ == kSectionRegistry) {
    if (registryJson(out, item)) return;
  } else if (appJson(out, item)) {
    return;
  }
  out.put("\"name\":\"\",\"columns\":[]");
}

namespace {

void writeHex(RowWriter& out, const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) out.put(digits[bytes[i] >> 4]).put(digits[bytes[i] & 15]);
}

}  // namespace

void ItemColumns::text(RowWriter& out, const ContentRow& row, const char* separator, const char* first) {
  text(out, row.item, separator, first);
  if (row.marks) out.put(" [").put(fileMarkText(row.marks)).put(']');
  digest(out, row.ext);
}

void ItemColumns::digest(RowWriter& out, const FileExt* ext) {
  if (!ext) return;
  std::string text = digestText(ext);
  if (!text.empty()) out.put("  ").put(text);
}

void ItemColumns::json(RowWriter& out, const ContentRow& row) {
  json(out, row.item);
  const FileExt* e = row.ext;
  if (!e) return;
  out.put(",\"changeTime\":").number(e->changeTime).put(",\"fileId\":").number(e->fileId).put(",\"sha256\":");
  if (e->digestState == kDigestSha256) {
    out.put('"');
    writeHex(out, e->sha256, kSha256Size);
    out.put('"');
  } else if (e->digestState == kDigestUnreadable) {
    out.put("\"unreadable\"");
  } else {
    out.put("null");
  }
  static const char* const names[] = {"dateKept", "replaced", "digestChanged"};
  out.put(",\"marks\":[");
  bool first = true;
  for (int i = 0; i < 3; i++) {
    if (!(row.marks & (1 << i))) continue;
    if (!first) out.put(',');
    out.put('"').cstr(names[i]).put('"');
    first = false;
  }
  out.put(']');
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
