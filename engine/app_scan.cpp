#include "engine/app_scan.h"

#include "base/text.h"

namespace keldrun {

const char16_t* const kMachineRunKeys[7] = {
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\Setup",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnceEx",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\policies\\Explorer\\Run",
};

const char16_t* const kUserRunKeys[4] = {
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Run",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
};

namespace {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kWin32ServiceBits = 0x30;  // own process, shared process

const char16_t kShellFolders[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char16_t kProfileList[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string trimLeadingBlanks(const std::u16string& s, size_t from) {
  while (from < s.size() && isBlank(s[from])) from++;
  return from < s.size() ? s.substr(from) : std::u16string();
}

bool endsWith(const std::u16string& s, const std::u16string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void addSlash(std::u16string* folder) {
  if (folder->empty() || (folder->back() != u'\\' && folder->back() != u'/')) folder->push_back(u'\\');
}

// A string value of an open key, expanded when it is of the expandable type. False when the
// value is missing or is not a string.
bool readText(Env* env, RegistryKey* key, const std::u16string& name, std::u16string* text) {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!readNamedValue(key, name, &type, &data)) return false;
  if (type != kRegSz && type != kRegExpandSz) return false;
  *text = utf16LeText(data);
  if (type == kRegExpandSz) *text = env->expandEnvironment(*text);
  return true;
}

}  // namespace

std::vector<std::u16string> autostartLocations() {
  const std::u16string machine = u"HKEY_LOCAL_MACHINE\\", user = u"HKEY_CURRENT_USER\\",
                       users = u"HKEY_USERS\\*\\", software = u"Software\\";
  std::vector<std::u16string> out;
  // Each key of the Software hive also as the 32-bit view of a 64-bit system sees it.
  auto addSoftware = [&](const std::u16string& hive, const std::u16string& key) {
    out.push_back(hive + key);
    if (startsWithFolded(key, software))
      out.push_back(hive + software + u"Wow6432Node\\" + key.substr(software.size()));
  };
  for (const char16_t* key : kMachineRunKeys) addSoftware(machine, key);
  for (const char16_t* key : kUserRunKeys) {
    addSoftware(user, key);
    addSoftware(users, key);
  }
  for (const std::u16string& hive : {machine, user, users}) addSoftware(hive, kShellFolders);
  addSoftware(machine, kProfileList);
  addSoftware(machine, u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
  out.push_back(machine + u"System\\*\\Services");
  for (const char16_t* folder : {u"*:\\users\\*\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                                 u"*:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                                 u"*:\\users\\*\\Start Menu\\Programs\\Startup",
                                 u"*:\\Documents and Settings\\*\\Start Menu\\Programs\\Startup"})
    out.push_back(folder);
  return out;
}

bool readNamedValue(RegistryKey* key, const std::u16string& name, uint32_t* type,
                    std::vector<uint8_t>* data) {
  std::u16string found;
  for (uint32_t i = 0; key->enumValue(i, &found, type, data); i++)
    if (compareNames(found, name) == 0) return true;
  return false;
}

AppGatherer::AppGatherer(Env* env, Counter* counter) : env_(env), counter_(counter) {
  windowsFolder_ = env_->windowsFolder();
  addSlash(&windowsFolder_);
  driversFolder_ = windowsFolder_ + u"system32\\drivers\\";
}

bool AppGatherer::resolveCommand(const std::u16string& command, std::u16string* path,
                                 std::u16string* arguments) {
  path->clear();
  arguments->clear();
  std::u16string name = command;
  bool quoted = false;
  if (!command.empty() && command[0] == u'"') {
    quoted = true;
    size_t close = command.find(u'"', 1);
    if (close != std::u16string::npos) {
      name = command.substr(1, close - 1);
      *arguments = trimLeadingBlanks(command, close + 1);
    } else {
      // An unclosed quote: the rest of the line is the path.
      name = command.substr(1);
    }
  }
  if (name.compare(0, 4, u"\\??\\") == 0) name.erase(0, 4);
  if (startsWithFolded(name, u"system32\\")) {
    name = windowsFolder_ + name;
  } else if (startsWithFolded(name, u"\\systemroot\\")) {
    name = windowsFolder_ + name.substr(12);
  }
  if (name.empty()) return false;

  std::u16string found;
  bool ok = env_->searchExecutable(name, &found);
  if (!ok) {
    if (!quoted) {
      size_t space = name.find(u' ');
      if (space != std::u16string::npos) {
        *arguments = trimLeadingBlanks(name, space + 1);
        name.erase(space);
      }
    }
    if (name.find(u'.') == std::u16string::npos) name += u".exe";
    ok = !name.empty() && env_->searchExecutable(name, &found);
    if (!ok && endsWith(name, u".sys")) ok = env_->searchExecutable(driversFolder_ + name, &found);
  }
  if (!ok) {
    arguments->clear();
    return false;
  }
  *path = lowerAscii(found);
  return true;
}

bool AppGatherer::readFileInfo(const std::u16string& command, AppRecord* record) {
  std::u16string path, arguments;
  if (!resolveCommand(command, &path, &arguments)) return false;
  if (record->file.empty()) record->file = arguments.empty() ? path : path + u" " + arguments;
  if (!env_->fileStatus(path, &record->modified, &record->size)) return false;
  FileVersionInfo info;
  if (!env_->fileVersion(path, &info)) return false;
  record->version = info.productVersion.empty() ? info.fileVersion : info.productVersion;
  record->company = info.companyName;
  return true;
}

void AppGatherer::gatherRunKey(RegistryKey* hive, const std::u16string& path,
                               std::vector<AppRecord>* out) {
  std::unique_ptr<RegistryKey> key = hive->openSubKey(path);
  if (!key) return;
  std::u16string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; key->enumValue(i, &name, &type, &data); i++) {
    if (type != kRegSz) continue;
    AppRecord r;
    r.kind = kAppStartup;
    r.name = name;
    std::u16string text = utf16LeText(data);
    readFileInfo(text, &r);
    if (r.file.empty()) r.file = text;
    out->push_back(std::move(r));
    count();
  }
}

std::vector<std::u16string> AppGatherer::startupFolders() {
  std::vector<std::u16string> folders;
  std::u16string text;
  if (std::unique_ptr<RegistryKey> user = env_->openHive(kHiveCurrentUser)) {
    std::unique_ptr<RegistryKey> key = user->openSubKey(kShellFolders);
    if (key && readText(env_, key.get(), u"Startup", &text) && !text.empty()) {
      addSlash(&text);
      folders.push_back(text);
    }
  }
  if (std::unique_ptr<RegistryKey> machine = env_->openHive(kHiveLocalMachine)) {
    std::u16string profiles, allUsers;
    std::unique_ptr<RegistryKey> key = machine->openSubKey(kProfileList);
    if (key && readText(env_, key.get(), u"ProfilesDirectory", &profiles) && !profiles.empty() &&
        readText(env_, key.get(), u"AllUsersProfile", &allUsers) && !allUsers.empty()) {
      addSlash(&profiles);
      addSlash(&allUsers);
      folders.push_back(profiles + allUsers + u"Start Menu\\Programs\\Startup\\");
    } else {
      // Systems without an "All Users" profile name keep the shared Startup folder here.
      key = machine->openSubKey(kShellFolders);
      if (key && readText(env_, key.get(), u"Common Startup", &text) && !text.empty()) {
        addSlash(&text);
        folders.push_back(text);
      }
    }
  }
  return folders;
}

void AppGatherer::gatherFolder(const std::u16string& folder, std::vector<AppRecord>* out) {
  std::unique_ptr<FolderListing> listing = env_->listFolder(folder);
  if (!listing) return;
  DirEntry e;
  while (listing->next(&e)) {
    if (e.isFolder || compareNames(e.name, u"desktop.ini") == 0) continue;
    AppRecord r;
    r.kind = kAppStartup;
    r.name = e.name;
    std::u16string full = folder + e.name;
    readFileInfo(full, &r);
    if (r.file.empty()) r.file = full;
    out->push_back(std::move(r));
    count();
  }
}

void AppGatherer::gatherStartup(std::vector<AppRecord>* out) {
  if (std::unique_ptr<RegistryKey> machine = env_->openHive(kHiveLocalMachine))
    for (const char16_t* path : kMachineRunKeys) gatherRunKey(machine.get(), path, out);
  if (std::unique_ptr<RegistryKey> user = env_->openHive(kHiveCurrentUser))
    for (const char16_t* path : kUserRunKeys) gatherRunKey(user.get(), path, out);
  for (const std::u16string& folder : startupFolders()) gatherFolder(folder, out);
}

void AppGatherer::gatherServices(std::vector<AppRecord>* services,
                                 std::vector<AppRecord>* drivers) {
  std::vector<ServiceConfig> configs;
  if (!env_->listServices(&configs)) return;
  for (const ServiceConfig& c : configs) {
    AppRecord r;
    r.kind = (c.type & kWin32ServiceBits) ? kAppService : kAppDriver;
    r.name = c.displayName;
    r.serviceName = c.serviceName;
    r.state = uint8_t(c.state);
    r.startType = kStartUnknown;
    count();
    if (c.configRead) {
      bool described = true;
      if (!c.binaryPath.empty()) {
        if (r.kind == kAppService) r.file = c.binaryPath;
        readFileInfo(c.binaryPath, &r);
      } else if (r.kind == kAppDriver) {
        readFileInfo(c.serviceName + u".sys", &r);
      } else {
        described = false;
      }
      if (described) {
        r.startType = uint8_t(c.startType);
        r.description = c.description;
      }
    }
    (r.kind == kAppService ? services : drivers)->push_back(std::move(r));
  }
}

namespace {

void writeGroup(SnapshotFile* file, const std::vector<AppRecord>& records, uint32_t* offset,
                uint32_t* digest) {
  std::vector<uint8_t> entries;
  buildGroupTable(records, &entries, digest);
  *offset = entries.empty() ? 0 : file->appendTable(entries.data(), entries.size());
  if (*offset == 0) *digest = 0;
}

}  // namespace

void scanApplications(Env* env, SnapshotFile* file, Counter* counter) {
  AppGatherer gatherer(env, counter);
  uint32_t offsets[3] = {0, 0, 0}, digests[3] = {0, 0, 0};
  {
    std::vector<AppRecord> startup;
    gatherer.gatherStartup(&startup);
    writeGroup(file, startup, &offsets[0], &digests[0]);
  }
  std::vector<AppRecord> services, drivers;
  gatherer.gatherServices(&services, &drivers);
  writeGroup(file, services, &offsets[1], &digests[1]);
  writeGroup(file, drivers, &offsets[2], &digests[2]);
  for (int g = 0; g < 3; g++)
    file->addRoot(kSectionApps, kAppGroupNames[g], 0, digests[g], 0, offsets[g]);
}

ApplicationStore::ApplicationStore(Env* env) : env_(env ? env : defaultEnv()) {}

ApplicationStore::~ApplicationStore() { stopApplicationScan(); }

bool ApplicationStore::startApplicationScan(SnapshotFile* file) {
  file_ = file;
  applications_.reset();
  file->addRunningScan();
  if (worker_.start(&ApplicationStore::threadMain, this)) return true;
  file->endRunningScan();
  return false;
}

void ApplicationStore::stopApplicationScan() { worker_.stop(true); }

void ApplicationStore::threadMain(WorkerThread* self) {
  self->setRunning();
  ApplicationStore* store = static_cast<ApplicationStore*>(self->jobData());
  SnapshotFile* file = store->file_;
  scanApplications(store->env_, file, &store->applications_);
  // Counted out first: the owner waits for the end report (stopApplicationScan) before it
  // frees the store, so the last access here must be the one to the WorkerThread.
  file->endRunningScan();
  self->setEnded();
}

}  // namespace keldrun
