// The log of finished snapshots: one completion text per snapshot, appended, never read back.
#ifndef KELDRUN_ENGINE_LOG_H_
#define KELDRUN_ENGINE_LOG_H_

#include <string>

namespace keldrun {

constexpr const char* kLogFileName = "KeldrunLog.txt";

// Appends text and a line end to the log at path (a UTF-8 path; by default "KeldrunLog.txt" in
// the current folder). A log that cannot be opened or written is ignored: the result only says
// whether the entry was written, and callers go on either way.
bool appendLog(const std::string& text, const std::string& path = kLogFileName);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_LOG_H_
