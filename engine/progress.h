// Progress and timing of a scan: the five progress counts and their texts, the elapsed clock
// and the stopwatch.
#ifndef KELDRUN_ENGINE_PROGRESS_H_
#define KELDRUN_ENGINE_PROGRESS_H_

#include <cstdint>
#include <ctime>
#include <string>

namespace keldrun {

// The five counters of a scan, read at one moment.
struct ScanCounts {
  uint32_t regKeys = 0;
  uint32_t values = 0;
  uint32_t folders = 0;
  uint32_t files = 0;
  uint32_t applications = 0;
  // Folders and keys below the depth limit: recorded by name with zero digests, not walked.
  uint32_t cutFolders = 0;
  uint32_t cutKeys = 0;
};

// The running scan's text (text table entry kTextProgressFormat: "Elapsed ..." and the counts).
std::string progressText(const std::string& elapsed, const ScanCounts& c);
// The finished scan's text (entry kTextCompletionFormat: "Snapshot done in ..." and the counts).
std::string completionText(const std::string& elapsed, const ScanCounts& c);

// The warning for folders and keys cut by the depth limit ("Too deep to scan, recorded empty:
// %u folders, %u keys"); empty when there are none.
std::string depthLimitText(const ScanCounts& c);

// "%02d:%02d" (minutes, seconds) under an hour, else "%02d:%02d:%02d" with hours not wrapped
// at 24.
std::string elapsedText(uint64_t milliseconds);

// Time since the scan started. Measured on a monotonic clock, so that a change of the system
// clock during a scan cannot make the elapsed time negative or jump.
class ElapsedClock {
 public:
  ElapsedClock() { start(); }
  void start();
  uint64_t milliseconds() const;
  std::string text() const { return elapsedText(milliseconds()); }

 private:
  uint64_t startNs_ = 0;
};

// The high-resolution counter at creation. elapsedSeconds is -1 when the counter cannot be read
// or could not be read at creation.
class Stopwatch {
 public:
  Stopwatch();
  double elapsedSeconds() const;

 private:
  static constexpr uint64_t kInvalid = ~uint64_t(0);
  uint64_t start_ = kInvalid;
  uint64_t frequency_ = kInvalid;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_PROGRESS_H_
