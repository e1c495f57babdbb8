#include "views/list_columns.h"

#include "base/date_text.h"
#include "engine/app_record.h"
#include "engine/file_entry.h"
#include "engine/file_extension.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"

namespace keldrun {

std::vector<std::string> columnTitles(int section) {
  switch (section) {
    case kSectionRegistry: return {"Name", "Type", "Data", "Info"};
    case kSectionFiles: return {"Name", "Size", "Date modified", "Info"};
    default:
      return {"Name", "Version", "Company", "Status", "Startup", "File", "File size", "Date modified",
              "Info"};
  }
}

void appendGroupedSize(std::string* out, uint64_t size) {
  char text[32];  // 20 digits and 6 commas at most
  size_t i = sizeof text;
  for (int digits = 0;; digits++) {
    if (digits && digits % 3 == 0) text[--i] = ',';
    text[--i] = char('0' + size % 10);
    size /= 10;
    if (size == 0) break;
  }
  out->append(text + i, sizeof text - i);
}

std::string groupedSize(uint64_t size) {
  std::string out;
  appendGroupedSize(&out, size);
  return out;
}

std::string digestText(const FileExt* ext) {
  if (!ext || ext->digestState == kDigestNone) return std::string();
  if (ext->digestState != kDigestSha256) return "sha256 unreadable";
  static const char digits[] = "0123456789abcdef";
  std::string out = "sha256 ";
  for (uint8_t b : ext->sha256) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::vector<std::u16string> listColumns(int section, const Item& item) {
  // Room for the row label the screens append: a list of 50,000 rows then allocates each row's
  // texts once.
  std::vector<std::u16string> out;
  out.reserve(4);
  if (section == kSectionRegistry) {
    ValueEntry v;
    if (!parseValueEntry(item.p, item.size, &v)) {
      out.resize(3);
      return out;
    }
    out.push_back(valueName(v));
    out.push_back(typeName(v));
    out.push_back(displayText(v));
    return out;
  }
  if (section == kSectionFiles) {
    FileEntry f;
    if (!item.p || !FileEntry::parse(item.p, item.size, &f)) {
      out.resize(3);
      return out;
    }
    out.push_back(f.name.str());
    out.push_back(widen(groupedSize(f.size)));
    out.push_back(widen(fileTimeText(f.lastWrite)));
    return out;
  }
  AppRecord r;
  if (!item.p || !decodeAppEntry(item.p, item.size, &r)) return std::vector<std::u16string>(8);
  return {r.name,
          r.version,
          r.company,
          widen(appStatusText(r.state)),
          widen(appStartupText(r.startType)),
          r.file,
          r.file.empty() ? std::u16string() : widen(groupedSize(r.size)),
          widen(fileTimeText(r.modified))};
}

}  // namespace keldrun
