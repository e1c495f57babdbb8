#include "workspace/catalog_lock.h"

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "base/files.h"
#include "workspace/rights.h"

namespace keldrun {

namespace {

// The lock files this process holds, each with the number of CatalogLocks holding it: a
// command that holds the lock may run a model that takes it again, and a second open of the
// lock file would wait for the first.
struct HeldLock {
  FileLock file;
  int holders = 0;
};
std::mutex heldMutex;
std::map<std::string, std::unique_ptr<HeldLock>>& heldLocks() {
  static std::map<std::string, std::unique_ptr<HeldLock>> locks;
  return locks;
}

}  // namespace

bool CatalogLock::take(bool wait, bool* busy, std::string* reason) {
  *busy = false;
  if (held_) return true;
  std::string folder = settings_->folder();
  makeFolders(folder.empty() ? std::string(".") : folder);
  path_ = folder + kCatalogLockFileName;
  bool fresh = false;
  {
    std::lock_guard<std::mutex> guard(heldMutex);
    std::unique_ptr<HeldLock>& held = heldLocks()[path_];
    if (!held) held = std::make_unique<HeldLock>();
    if (held->holders == 0) {
      if (!held->file.lock(path_, wait, busy, reason)) return false;
      fresh = true;
    }
    held->holders++;
  }
  held_ = true;
  if (fresh) settings_->reloadCatalog();
  return true;
}

ShellMessage CatalogLock::tryTake() {
  bool busy = false;
  std::string reason;
  if (take(false, &busy, &reason)) return {};
  int error = errno;
  if (busy) return ShellMessage::warning(kCatalogBusy);
  return ShellMessage::error(withRightsAdvice("Cannot lock the snapshot catalog (" + reason + ")",
                                              error, RightsTask::UseWorkspace));
}

void CatalogLock::release() {
  if (!held_) return;
  held_ = false;
  std::lock_guard<std::mutex> guard(heldMutex);
  HeldLock& held = *heldLocks()[path_];
  if (--held.holders == 0) held.file.unlock();
}

}  // namespace keldrun
