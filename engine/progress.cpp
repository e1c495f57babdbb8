#include "engine/progress.h"

#include <chrono>
#include <cstdio>

#include "base/text_table.h"
#include "platform/thread.h"

namespace keldrun {

std::string progressText(const std::string& elapsed, const ScanCounts& c) {
  char buf[256];
  std::snprintf(buf, sizeof buf, text(kTextProgressFormat),
                elapsed.c_str(), int(c.regKeys), int(c.values), int(c.folders), int(c.files),
                int(c.applications));
  return buf;
}

std::string completionText(const std::string& elapsed, const ScanCounts& c) {
  char buf[256];
  std::snprintf(buf, sizeof buf, text(kTextCompletionFormat),
                elapsed.c_str(), int(c.regKeys), int(c.values), int(c.folders), int(c.files),
                int(c.applications));
  return buf;
}

std::string depthLimitText(const ScanCounts& c) {
  if (c.cutFolders == 0 && c.cutKeys == 0) return std::string();
  char buf[128];
  std::snprintf(buf, sizeof buf, "Too deep to scan, recorded empty: %u folders, %u keys", unsigned(c.cutFolders),
                unsigned(c.cutKeys));
  return buf;
}

std::string elapsedText(uint64_t ms) {
  char buf[64];
  uint64_t hours = ms / 3600000;
  unsigned minutes = unsigned(ms / 60000 % 60), seconds = unsigned(ms / 1000 % 60);
  if (hours != 0)
    std::snprintf(buf, sizeof buf, "%02llu:%02u:%02u", (unsigned long long)hours, minutes, seconds);
  else
    std::snprintf(buf, sizeof buf, "%02u:%02u", minutes, seconds);
  return buf;
}

namespace {

uint64_t monotonicNs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

}  // namespace

void ElapsedClock::start() { startNs_ = monotonicNs(); }

uint64_t ElapsedClock::milliseconds() const { return (monotonicNs() - startNs_) / 1000000; }

Stopwatch::Stopwatch() {
  uint64_t v, f;
  if (readPerformanceCounter(&v)) start_ = v;
  if (readPerformanceFrequency(&f) && f != 0) frequency_ = f;
}

double Stopwatch::elapsedSeconds() const {
  uint64_t now;
  if (start_ == kInvalid || frequency_ == kInvalid || !readPerformanceCounter(&now)) return -1;
  return double(now - start_) / double(frequency_);
}

}  // namespace keldrun
