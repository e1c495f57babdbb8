#include "base/date_text.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace keldrun {

namespace {

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void civilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(yoe + era * 400 + (*m <= 2));
}

// Day count since 1970-01-01 of a civil date (proleptic Gregorian): civilFromDays undone.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Local broken-down time; when the C library cannot convert t (outside its range), UTC.
void localTimeOf(int64_t t, struct tm* out) {
  std::time_t tt = std::time_t(t);
  bool ok;
#ifdef _WIN32
  ok = int64_t(tt) == t && localtime_s(out, &tt) == 0;
#else
  ok = int64_t(tt) == t && localtime_r(&tt, out) != nullptr;
#endif
  if (ok) return;
  int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
  int64_t secs = t - days * 86400;
  int y, m, d;
  civilFromDays(days, &y, &m, &d);
  *out = tm();
  out->tm_year = y - 1900;
  out->tm_mon = m - 1;
  out->tm_mday = d;
  out->tm_hour = int(secs / 3600);
  out->tm_min = int(secs / 60 % 60);
  out->tm_sec = int(secs % 60);
}

// "YYYY-MM-DD HH:MM.SS" without a terminating zero.
constexpr size_t kDateTextSize = 19;

void writeTwoDigits(char* p, int value) {
  p[0] = char('0' + value / 10);
  p[1] = char('0' + value % 10);
}

// Writes the date text of a four-digit year and month, day, hour, minute and second (each of at
// most two digits) into text; false, writing nothing, for other values. The digits are written
// by hand: a listing of files writes a date per row, and snprintf took longer than the rest.
bool writeDateText(char* text, int year, const std::array<int, 5>& fields) {
  if (year < 1000 || year > 9999) return false;
  for (int f : fields)
    if (f < 0 || f > 99) return false;
  std::memcpy(text, "0000-00-00 00:00.00", kDateTextSize);
  for (int i = 3; i >= 0; i--, year /= 10) text[i] = char('0' + year % 10);
  for (size_t k = 0; k < fields.size(); k++) writeTwoDigits(text + 5 + 3 * k, fields[k]);
  return true;
}

// What the local time at t adds to t, in seconds.
int64_t localOffset(int64_t t) {
  struct tm lt;
  localTimeOf(t, &lt);
  return daysFromCivil(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday) * 86400 + lt.tm_hour * 3600 +
         lt.tm_min * 60 + lt.tm_sec - t;
}

int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

// The local time t as "%4d-%02d-%02d %02d:%02d", followed by ".%02d" seconds when asked.
std::string localTimeText(int64_t t, bool seconds) {
  struct tm lt;
  localTimeOf(t, &lt);
  char text[kDateTextSize];
  if (writeDateText(text, lt.tm_year + 1900, {lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec}))
    return std::string(text, seconds ? kDateTextSize : kDateTextSize - 3);
  char buf[64];
  size_t n = size_t(std::snprintf(buf, sizeof buf, "%4d-%02d-%02d %02d:%02d", lt.tm_year + 1900,
                                  lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min));
  if (seconds) std::snprintf(buf + n, sizeof buf - n, ".%02d", lt.tm_sec);
  return buf;
}

std::string fileTimeText(uint64_t fileTime) {
  if (fileTime == 0) return std::string();
  return localTimeText(int64_t(fileTime / 10000000) - int64_t(kFileTimeUnixEpoch / 10000000), true);
}

void FileTimeWriter::append(std::string* out, uint64_t fileTime) {
  if (fileTime == 0) return;
  int64_t t = int64_t(fileTime / 10000000) - int64_t(kFileTimeUnixEpoch / 10000000);
  int64_t day = floorDiv(t, 86400);
  if (days_.empty()) {
    days_.resize(kSlots);
    dayTexts_.resize(kSlots);
  }
  Day& d = days_[uint64_t(day) % kSlots];
  if (d.day != day) {
    d.day = day;
    d.offset = localOffset(day * 86400);
    d.steady = localOffset(day * 86400 + 86399) == d.offset;
  }
  int64_t local = t + d.offset;
  int64_t localDay = floorDiv(local, 86400);
  int second = int(local - localDay * 86400);
  DayText& date = dayTexts_[uint64_t(localDay) % kSlots];
  if (d.steady && date.day != localDay) {
    int y, m, dd;
    civilFromDays(localDay, &y, &m, &dd);
    char text[kDateTextSize];
    if (writeDateText(text, y, {m, dd, 0, 0, 0})) {
      std::memcpy(date.text, text, sizeof date.text);
      date.day = int32_t(localDay);
    }
  }
  if (!d.steady || date.day != localDay) {
    *out += fileTimeText(fileTime);
    return;
  }
  char text[kDateTextSize];
  std::memcpy(text, date.text, sizeof date.text);
  std::memcpy(text + sizeof date.text, " 00:00.00", kDateTextSize - sizeof date.text);
  writeTwoDigits(text + 11, second / 3600);
  writeTwoDigits(text + 14, second / 60 % 60);
  writeTwoDigits(text + 17, second % 60);
  out->append(text, kDateTextSize);
}

std::u16string fileTimeTextW(uint64_t fileTime) { return widen(fileTimeText(fileTime)); }

std::string snapshotDateText(std::time_t t) { return localTimeText(int64_t(t), false); }

std::string snapshotDateNow() { return snapshotDateText(std::time(nullptr)); }

uint64_t fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  // Times a FILETIME cannot hold are clamped: before 1601 to its first tick (0 would read as
  // "no time"), past 58,000 AD to its last.
  const int64_t epochSeconds = int64_t(kFileTimeUnixEpoch / 10000000);
  if (seconds < -epochSeconds) return 1;
  uint64_t s = uint64_t(seconds + epochSeconds);
  if (s > (~uint64_t(0) - 9999999) / 10000000) return ~uint64_t(0);
  return s * 10000000 + nanoseconds / 100;
}

}  // namespace keldrun
