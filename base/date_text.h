// Dates and times as the program writes them: FILETIME texts and the snapshot date.
#ifndef KELDRUN_BASE_DATE_TEXT_H_
#define KELDRUN_BASE_DATE_TEXT_H_

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace keldrun {

// A FILETIME (100 ns units since 1601-01-01 UTC) in local time as "%4d-%02d-%02d %02d:%02d.%02d";
// empty for 0.
std::string fileTimeText(uint64_t fileTime);
std::u16string fileTimeTextW(uint64_t fileTime);

// Writes fileTimeText for many times, as a listing of files does: the local time's offset from
// UTC is found once per UTC day met, and the text of the local date once per local day met (a
// slot for each of 4,096 days, some eleven years, as the files of a folder span years); only
// the time of day is written per time. A day whose offset changes (a daylight saving change)
// has each of its times converted alone.
class FileTimeWriter {
 public:
  // Appends fileTimeText(fileTime) to out.
  void append(std::string* out, uint64_t fileTime);

 private:
  struct Day {
    int64_t day = INT64_MIN;  // days since 1970-01-01 UTC; INT64_MIN: an empty slot
    int64_t offset = 0;       // seconds the local time is ahead of UTC all day
    bool steady = false;      // the offset holds all day
  };
  struct DayText {
    int32_t day = INT32_MIN;  // local days since 1970-01-01 (four-digit years fit); INT32_MIN: empty
    char text[10];            // "YYYY-MM-DD"
  };
  static constexpr size_t kSlots = 4096;
  std::vector<Day> days_;           // by UTC day, made at the first time
  std::vector<DayText> dayTexts_;   // by local day, made with days_
};

// The local time t as the snapshot date "%4d-%02d-%02d %02d:%02d".
std::string snapshotDateText(std::time_t t);
// The snapshot date of now.
std::string snapshotDateNow();

// FILETIME <-> seconds and 100 ns remainder since 1970-01-01 UTC.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
uint64_t fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);

}  // namespace keldrun

#endif  // KELDRUN_BASE_DATE_TEXT_H_
