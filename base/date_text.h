// Dates and times as the program writes them: FILETIME texts and the snapshot date.
#ifndef KELDRUN_BASE_DATE_TEXT_H_
#define KELDRUN_BASE_DATE_TEXT_H_

#include <cstdint>
#include <ctime>
#include <string>

namespace keldrun {

// A FILETIME (100 ns units since 1601-01-01 UTC) in local time as "%4d-%02d-%02d %02d:%02d.%02d";
// empty for 0.
std::string fileTimeText(uint64_t fileTime);
std::u16string fileTimeTextW(uint64_t fileTime);

// The local time t as the snapshot date "%4d-%02d-%02d %02d:%02d".
std::string snapshotDateText(std::time_t t);
// The snapshot date of now.
std::string snapshotDateNow();

// FILETIME <-> seconds and 100 ns remainder since 1970-01-01 UTC.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;
uint64_t fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);

}  // namespace keldrun

#endif  // KELDRUN_BASE_DATE_TEXT_H_
