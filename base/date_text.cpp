#include "base/date_text.h"

#include <cstdio>

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

}  // namespace

// The local time t as "%4d-%02d-%02d %02d:%02d", followed by ".%02d" seconds when asked.
std::string localTimeText(int64_t t, bool seconds) {
  struct tm lt;
  localTimeOf(t, &lt);
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
