// The applications scan: what starts with the machine (Run keys and Startup folders), the
// services and the drivers, written as section 2 of a snapshot file.
//
// The section root table holds exactly three entries, "Startup", "Services" and "Drivers", in
// that order and unsorted; each names its group table as content (offset and digest 0 when the
// group is empty). Every failing source is skipped quietly: a Run key that cannot be opened, a
// folder that cannot be listed, an unreadable service configuration (start type 5), a file that
// cannot be found (time, size, version and company empty).
#ifndef KELDRUN_ENGINE_APP_SCAN_H_
#define KELDRUN_ENGINE_APP_SCAN_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/app_record.h"
#include "engine/snapshot.h"
#include "engine/worker.h"
#include "platform/env.h"

namespace keldrun {

// The Run keys read for the Startup group, in the order they are read.
extern const char16_t* const kMachineRunKeys[7];
extern const char16_t* const kUserRunKeys[4];

// Every registry key and folder whose contents start with the machine, as a comparison names
// them ("HKEY_LOCAL_MACHINE\...", "c:\..."), "*" standing for one whole component (a drive
// letter, a user's SID or profile folder, a control set): the Run keys above in both hives, every
// user's hive and the 32-bit view, the services and drivers, the keys the Startup folders are
// read from, the Startup folders of the profile layouts in use, and Winlogon, whose Shell and
// Userinit values start programs too.
std::vector<std::u16string> autostartLocations();

// The gathering of application records from one machine. Not thread-safe; one per scan.
class AppGatherer {
 public:
  // counter may be null.
  AppGatherer(Env* env, Counter* counter);

  // The Windows folder and the drivers folder, each ending in '\'.
  const std::u16string& windowsFolder() const { return windowsFolder_; }
  const std::u16string& driversFolder() const { return driversFolder_; }

  // Finds the file a command line names: a quoted path with its arguments after the closing
  // quote; "\??\" dropped; a leading "system32\" or "\SystemRoot\" put under the Windows
  // folder; the system's search order for executables; when that fails and the command was not
  // quoted, the text before the first space; ".exe" added when there is no '.'; a ".sys" file
  // in the drivers folder. Sets *path to the full path found in lower case (ASCII letters) and
  // *arguments to the arguments (leading spaces and tabs removed). False when no file is found.
  bool resolveCommand(const std::u16string& command, std::u16string* path,
                      std::u16string* arguments);

  // Resolves the command and fills the record: file (when still empty) with the path and the
  // arguments, modified and size from the file, version (ProductVersion, else FileVersion) and
  // company from its version resource. False when the file is not found or has no version
  // resource with a translation (what was found is kept).
  bool readFileInfo(const std::u16string& command, AppRecord* record);

  // Startup records: the values of type REG_SZ of the Run keys, then the files of the user's
  // and the all-users Startup folder ("desktop.ini" and folders left out).
  void gatherStartup(std::vector<AppRecord>* out);
  // The Startup folders read from the registry, each ending in '\'; a folder whose values are
  // missing is left out.
  std::vector<std::u16string> startupFolders();

  // Service records (kind 3: a Win32 service type bit is set) and driver records (kind 2).
  void gatherServices(std::vector<AppRecord>* services, std::vector<AppRecord>* drivers);

 private:
  void count() {
    if (counter_) counter_->add(1);
  }
  void gatherRunKey(RegistryKey* hive, const std::u16string& path, std::vector<AppRecord>* out);
  void gatherFolder(const std::u16string& folder, std::vector<AppRecord>* out);

  Env* env_;
  Counter* counter_;
  std::u16string windowsFolder_;
  std::u16string driversFolder_;
};

// Gathers all three groups from env and writes them into file: the group tables, then the three
// section roots. Runs on the calling thread.
void scanApplications(Env* env, SnapshotFile* file, Counter* counter);

// The applications store: one scan's applications thread and its counter.
class ApplicationStore {
 public:
  // env: the machine to record (null: defaultEnv()).
  explicit ApplicationStore(Env* env = nullptr);
  // Waits for a thread still running.
  ~ApplicationStore();
  ApplicationStore(const ApplicationStore&) = delete;
  ApplicationStore& operator=(const ApplicationStore&) = delete;

  // Counts one scan into file's running-scan count, resets the counter and starts the
  // applications thread, which writes the section and counts itself out as its last step.
  // False (and the count lowered again) when the thread cannot be created. file must outlive
  // the thread (until stopApplicationScan returns).
  bool startApplicationScan(SnapshotFile* file);
  // Waits for the thread to end. The thread does not look at stop requests: it is short.
  void stopApplicationScan();

  Counter& applications() { return applications_; }

 private:
  static void threadMain(WorkerThread* self);

  Env* env_;
  SnapshotFile* file_ = nullptr;  // set before the thread starts, read only by it
  WorkerThread worker_;
  Counter applications_;  // startup items, services and drivers recorded
};

// Reads a value of an open key by name (case-insensitive). Sets *type and *data; false when the
// key has no such value.
bool readNamedValue(RegistryKey* key, const std::u16string& name, uint32_t* type,
                    std::vector<uint8_t>* data);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_APP_SCAN_H_
