#include "cli/catalog_cli.h"

#include <cerrno>
#include <cstdio>

#include "base/files.h"
#include "cli/options.h"
#include "platform/own_files.h"
#include "workspace/catalog_lock.h"
#include "workspace/rights.h"

namespace keldrun {

bool openCatalog(Settings* settings, bool forWriting, std::string* error, bool noWait) {
  if (forWriting) {
    // Held until the process ends, which releases it.
    static CatalogLock* workspaceLock = nullptr;
    workspaceLock = new CatalogLock(settings);
    bool busy = false;
    std::string reason;
    if (!workspaceLock->take(false, &busy, &reason)) {
      if (!busy) {
        *error = withRightsAdvice("cannot lock the workspace: " + reason, errno, RightsTask::CommandLine);
        return false;
      }
      if (noWait) {
        *error = "another Keldrun is writing the catalog of " + settings->folder() + " (--no-wait given)";
        return false;
      }
      std::fprintf(stderr, "keldrun: waiting for another Keldrun to finish\u2026\n");
      if (!workspaceLock->take(true, &busy, &reason)) {
        *error = "cannot lock the workspace: " + reason;
        return false;
      }
    }
  }
  settings->ensureLoaded();
  if (forWriting && settings->loadStatus() == SettingsLoad::Damaged) {
    *error = settings->settingsPath() +
             ": the settings file is damaged; move it away to start a new catalog";
    return false;
  }
  return true;
}

bool checkOutputTarget(const std::string& home, const std::string& target,
                       const std::vector<std::string>& inputs, std::string* error) {
  Settings settings(home);
  std::vector<std::string> own = inputs;
  for (const char* name : {"Keldrun.cfg", "KeldrunLog.txt", "scan_filter.txt", kCatalogLockFileName})
    own.push_back(settings.folder() + name);
  for (const std::string& file : own) {
    if (sameFile(target, file)) {
      *error = "refusing to write " + target + ": it is " + file + ", which Keldrun reads";
      return false;
    }
  }
  // The folder the target goes into, and every folder above it.
  std::string data = settings.catalog().dataFolder();
  std::string folder = target;
  for (;;) {
    size_t cut = folder.find_last_of(pathSeparator() == '/' ? "/" : "\\/");
    folder = cut == std::string::npos ? "." : cut == 0 ? folder.substr(0, 1) : folder.substr(0, cut);
    if (sameFile(folder, data)) {
      *error = "refusing to write " + target + ": it lies inside the data folder " + data;
      return false;
    }
    if (cut == std::string::npos || cut == 0 || folder.size() <= 3) break;
  }
  return true;
}

bool catalogNumbers(const Settings& settings, const std::vector<std::string>& args,
                    std::vector<int32_t>* numbers, std::string* error) {
  numbers->clear();
  for (const std::string& a : args) {
    int64_t n = 0;
    if (!parseNumber(a, 1, 999999999, &n)) {
      *error = "'" + a + "' is not a snapshot number";
      return false;
    }
    if (settings.catalog().find(n) < 0) {
      *error = "snapshot " + a + " is not in the catalog of " + settings.folder();
      return false;
    }
    numbers->push_back(int32_t(n));
  }
  return true;
}

bool snapshotNameArgument(const std::string& utf8, std::string* name, std::string* error) {
  if (validUtf8(utf8) == utf8) {
    *name = utf8;
    return true;
  }
  *error = "the name '" + printable(fromUtf8(utf8)) + "' is not UTF-8 text";
  return false;
}

}  // namespace keldrun
