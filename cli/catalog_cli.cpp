#include "cli/catalog_cli.h"

#include <cstdio>

namespace keldrun {

bool openCatalog(Settings* settings, bool forWriting, std::string* error) {
  settings->ensureLoaded();
  if (forWriting && settings->loadStatus() == SettingsLoad::Damaged) {
    *error = settings->settingsPath() +
             ": the settings file is damaged; move it away to start a new catalog";
    return false;
  }
  return true;
}

bool parseSnapshotNumber(const std::string& arg, int32_t* number) {
  if (arg.empty() || arg.size() > 9) return false;
  int32_t n = 0;
  for (char c : arg) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1) return false;
  *number = n;
  return true;
}

bool catalogNumbers(const Settings& settings, const std::vector<std::string>& args,
                    std::vector<int32_t>* numbers, std::string* error) {
  numbers->clear();
  for (const std::string& a : args) {
    int32_t n;
    if (!parseSnapshotNumber(a, &n)) {
      *error = "'" + a + "' is not a snapshot number";
      return false;
    }
    if (settings.find(n) < 0) {
      *error = "snapshot " + a + " is not in the catalog of " + settings.folder();
      return false;
    }
    numbers->push_back(n);
  }
  return true;
}

bool snapshotNameArgument(const std::string& utf8, std::string* name, std::string* error) {
  std::string bad;
  if (latin1FromUtf8(utf8, name, &bad)) return true;
  *error = "the name holds '" + bad + "', which a snapshot name cannot hold (only the characters of "
           "Latin-1, U+0000 to U+00FF)";
  return false;
}

}  // namespace keldrun
