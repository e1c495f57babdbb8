// The workspace lock: whoever writes the catalog of a workspace (the window program, keldrun,
// keldrun-cli.exe) holds "Keldrun.lock" beside the settings file from the moment it reads the
// catalog it will change until that catalog is saved, so that no two processes save over each
// other and no two give out the same snapshot number.
#ifndef KELDRUN_WORKSPACE_CATALOG_LOCK_H_
#define KELDRUN_WORKSPACE_CATALOG_LOCK_H_

#include <string>

#include "workspace/message.h"
#include "workspace/settings.h"

namespace keldrun {

// The lock file, beside the settings file.
constexpr char kCatalogLockFileName[] = "Keldrun.lock";

// What the program shows when another process holds the lock.
constexpr const char* kCatalogBusy =
    "Another Keldrun is writing the snapshot catalog. Try again when it has finished.";
// What the program says when it closes while another process holds the lock.
constexpr const char* kSavingWhenFree =
    "Another Keldrun is writing the snapshot catalog. The settings are saved as soon as it has finished.";

class CatalogLock {
 public:
  explicit CatalogLock(Settings* settings) : settings_(settings) {}
  ~CatalogLock() { release(); }
  CatalogLock(const CatalogLock&) = delete;
  CatalogLock& operator=(const CatalogLock&) = delete;

  // Takes the lock of the settings' workspace. With wait, blocks while another process holds
  // it; without, fails at once with *busy set. Fails with *busy clear and *reason set when the
  // lock file cannot be opened. Taken afresh (no other CatalogLock of this process holds it),
  // the catalog is read again from the settings file, so that what is saved next holds what
  // the other processes saved; the options in memory stay as they are.
  bool take(bool wait, bool* busy, std::string* reason);
  // Without waiting: none when taken, else the message to show (kCatalogBusy, or an error that
  // names the lock file).
  ShellMessage tryTake();
  void release();
  bool held() const { return held_; }

 private:
  Settings* settings_;
  std::string path_;
  bool held_ = false;
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_CATALOG_LOCK_H_
