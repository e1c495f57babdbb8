#include "views/list_columns.h"

#include <cstdio>
#include <ctime>

#include "engine/app_record.h"
#include "engine/file_scan.h"
#include "engine/value_entry.h"
#include "engine/value_text.h"

namespace keldrun {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

}  // namespace

std::vector<std::string> columnTitles(int section) {
  switch (section) {
    case kSectionRegistry: return {"Name", "Type", "Data", "Info"};
    case kSectionFiles: return {"Name", "Size", "Date modified", "Info"};
    default:
      return {"Name", "Version", "Company", "Status", "Startup", "File", "File size", "Date modified",
              "Info"};
  }
}

std::string groupedSize(uint64_t size) {
  std::string digits = std::to_string(size);
  std::string out;
  size_t first = digits.size() % 3;
  if (first) out = digits.substr(0, first);
  for (size_t i = first; i < digits.size(); i += 3) {
    if (!out.empty()) out.push_back(',');
    out += digits.substr(i, 3);
  }
  return out;
}

std::string fileTimeText(uint64_t fileTime) {
  if (fileTime == 0) return std::string();
  const int64_t kUnixEpoch = 116444736000000000LL;  // 1970-01-01 in FILETIME units
  int64_t seconds = (int64_t(fileTime / 10000000ULL)) - kUnixEpoch / 10000000LL;
  std::tm tm{};
  bool local = false;
  if (seconds >= 0 && seconds <= int64_t(0x7FFFFFFF) * 2) {
    std::time_t t = std::time_t(seconds);
#ifdef _WIN32
    local = localtime_s(&tm, &t) == 0;
#else
    local = localtime_r(&t, &tm) != nullptr;
#endif
  }
  int y, mo, d, h, mi, s;
  if (local) {
    y = tm.tm_year + 1900;
    mo = tm.tm_mon + 1;
    d = tm.tm_mday;
    h = tm.tm_hour;
    mi = tm.tm_min;
    s = tm.tm_sec;
  } else {
    // Outside what the C library converts: shown in UTC rather than not at all.
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t rest = seconds - days * 86400;
    civilFromDays(days, &y, &mo, &d);
    h = int(rest / 3600);
    mi = int(rest / 60 % 60);
    s = int(rest % 60);
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "%4d-%02d-%02d %02d:%02d.%02d", y, mo, d, h, mi, s);
  return buf;
}

std::vector<std::u16string> listColumns(int section, const Item& item) {
  if (section == kSectionRegistry) {
    ValueEntry v;
    if (!parseValueEntry(item.p, item.size, &v)) return std::vector<std::u16string>(3);
    return {valueName(v), typeName(v), displayText(v)};
  }
  if (section == kSectionFiles) {
    FileEntry f;
    if (!item.p || !FileEntry::parse(item.p, item.size, &f)) return std::vector<std::u16string>(3);
    return {f.name.str(), widen(groupedSize(f.size)), widen(fileTimeText(f.lastWrite))};
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
