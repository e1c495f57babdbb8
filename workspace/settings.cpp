#include "workspace/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/coding.h"
#include "base/date_text.h"
#include "base/files.h"
#include "base/text.h"
#include "base/text_table.h"
#include "platform/own_files.h"
#include "workspace/settings_file.h"
#include "workspace/settings_format.h"

namespace keldrun {

namespace {

constexpr size_t kOlderLineBytes = 1000;
constexpr size_t kOlderComputerChars = 31;

bool hasHtmExtension(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".htm";
}

}  // namespace

Settings::Settings(const std::string& folder)
    : folder_(withSeparator(folder)), catalog_(folder_ + "data" + pathSeparator()) {
  registerInt(kTextKeyFullScan, &fullScan);                       // a1
  registerInt(kTextKeyFullScan + 1, &catalog_.lastNo);            // d
  registerInt(kTextKeyFullScan + 2, &viewMode);                   // e
  registerInt(kTextKeyFullScan + 3, &filesSearch.includePaths);   // f
  registerInt(kTextKeyFullScan + 4, &filesSearch.matchCase);      // g
  registerInt(kTextKeyFullScan + 7, &registrySearch.includeData);  // j
  registerInt(kTextKeyFullScan + 5, &registrySearch.includePaths); // h
  registerInt(kTextKeyFullScan + 6, &registrySearch.includeNames); // i
  registerInt(kTextKeyFullScan + 8, &registrySearch.matchCase);    // k
  int32_t* te[] = {&report.binaryLimit,     &report.stringLimit,    &report.limitBinary,
                   &report.limitString,     &report.includeAdded,   &report.includeModified,
                   &report.includeDeleted,  &report.includeFiles,   &report.includeRegistry,
                   &report.includeApplications, &report.currentPathOnly};
  for (int i = 0; i < 11; i++) registerInt(kTextKeyReport1 + i, te[i]);
  registerText(kTextKeyReportText1, &report.exportName);
  registerText(kTextKeyReportText1 + 1, &report.exportFolder);
  registerInt(kTextKeyReportText1 + 2, &report.split);
  registerInt(kTextKeyReportText1 + 3, &report.linesPerFile);
  registerInt(kTextKeyReportText1 + 4, &report.openAfterExport);
  registerInt("th", &scanThreads);
  registerInt("nd", &noiseDefaults);
  registerInt("dg", &recordDigests);
}

void Settings::registerInt(int textEntry, int32_t* target) { registerInt(text(textEntry), target); }

void Settings::registerInt(const char* key, int32_t* target) {
  SettingEntry e;
  e.key = key;
  e.intTarget = target;
  entries_.push_back(std::move(e));
}

void Settings::registerText(int textEntry, std::string* target) {
  SettingEntry e;
  e.key = text(textEntry);
  e.textTarget = target;
  entries_.push_back(std::move(e));
}

void Settings::setInt(const std::string& key, int32_t value) {
  for (SettingEntry& e : entries_)
    if (e.key == key) {
      if (e.intTarget) *e.intTarget = value;
      return;
    }
}

void Settings::setText(const std::string& key, const std::string& value) {
  for (SettingEntry& e : entries_)
    if (e.key == key) {
      if (e.textTarget) *e.textTarget = value;
      return;
    }
}

bool Settings::getInt(const std::string& key, int32_t* value) const {
  for (const SettingEntry& e : entries_)
    if (e.key == key) {
      if (!e.intTarget) return false;
      *value = *e.intTarget;
      return true;
    }
  return false;
}

bool Settings::getText(const std::string& key, std::string* value) const {
  for (const SettingEntry& e : entries_)
    if (e.key == key) {
      if (!e.textTarget) return false;
      *value = *e.textTarget;
      return true;
    }
  return false;
}

std::string Settings::settingsPath(const std::string& folder) const {
  return (folder.empty() ? folder_ : withSeparator(folder)) + text(kTextSettingsFile);
}

void Settings::ensureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  load("");
}

SettingsStamp Settings::fileStamp() const {
  SettingsStamp stamp;
  if (!fileTimeAndSize(settingsPath(), &stamp.lastWrite, &stamp.size)) return SettingsStamp();
  return stamp;
}

bool Settings::load(const std::string& folder) {
  catalog_.clear();
  // Taken before the read: a save that lands during it then shows as a change next time.
  if (folder.empty()) catalogStamp_ = fileStamp();
  FILE* f = openFile(settingsPath(folder), "rb");
  if (!f) {
    loadStatus_ = SettingsLoad::Missing;
    return false;
  }
  std::string bytes;
  bool readOk = readWholeFile(f, &bytes, kSettingsMaxFileSize);
  std::fclose(f);
  loadStatus_ = readOk && loadBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())
                    ? SettingsLoad::Read
                    : SettingsLoad::Damaged;
  return true;
}

bool Settings::reloadCatalog() {
  Settings stored(folder_);
  stored.load();
  if (stored.loadStatus() != SettingsLoad::Read) return false;
  stored.catalog_.lastNo = std::max(stored.catalog_.lastNo, catalog_.lastNo);
  catalog_ = std::move(stored.catalog_);
  catalogStamp_ = stored.catalogStamp_;
  return true;
}

bool Settings::loadBytes(const uint8_t* data, size_t size) {
  catalog_.clear();
  std::string body;
  if (!decodeSettingsFile(data, size, &body)) return false;
  applyBody(body);
  return true;
}

void Settings::applyBody(const std::string& body) {
  std::vector<SettingsRecord> records = parseSettingsRecords(body);
  for (SettingEntry& e : entries_) {
    for (const SettingsRecord& r : records) {
      if (r.first != e.key) continue;
      if (e.intTarget) *e.intTarget = parseDecimal(r.second);
      if (e.textTarget) *e.textTarget = r.second;
      break;
    }
  }
  const std::string catalogKey = text(kTextKeyCatalog);
  for (const SettingsRecord& r : records)
    if (r.first == catalogKey) {
      catalog_.addListed(r.second);
      break;
    }
}

bool Settings::save(const std::string& folder, FileSystem* fs) {
  std::string body;
  appendSettingsRecord(&body, text(kTextKeyWritten), snapshotDateNow());
  appendSettingsRecord(&body, text(kTextKeyCatalog), catalog_.numberList());
  for (const SettingEntry& e : entries_)
    appendSettingsRecord(&body, e.key, e.intTarget ? std::to_string(*e.intTarget) : *e.textTarget);

  uint32_t seed = uint32_t(std::time(nullptr)) ^ uint32_t(std::clock()) ^
                  uint32_t(reinterpret_cast<uintptr_t>(&body));
  std::vector<uint8_t> file = encodeSettingsFile(body, seed);
  if (file.empty()) return false;

  if (!replaceFileContent(fs, settingsPath(folder), file.data(), file.size())) return false;
  if (folder.empty()) catalogStamp_ = fileStamp();
  return true;
}

std::string Settings::reportTempFolder() const {
  std::string folder = folder_ + "tmp" + pathSeparator();
  makeFolders(folder_.empty() ? std::string("tmp") : folder_ + "tmp");
  return folder;
}

void Settings::clearReportTempFolder() const {
  std::string folder = folder_ + "tmp" + pathSeparator();
  std::vector<std::string> names;
  if (!listFileNames(folder, &names)) return;
  for (const std::string& name : names)
    if (!name.empty() && name[0] != '.' && hasHtmExtension(name)) removeFile(folder + name);
}

// ---- Older installation ----

namespace {

// Reads one line of at most kOlderLineBytes - 1 bytes, as the older program did; the rest of a
// longer line comes back as the next line. False at the end of the file.
bool readOlderLine(FILE* f, std::string* line) {
  line->clear();
  int c;
  while (line->size() < kOlderLineBytes - 1 && (c = std::fgetc(f)) != EOF) {
    line->push_back(char(c));
    if (c == '\n') break;
  }
  return !line->empty();
}

// A line without its line end (the older program ran on Windows, so "\r\n" counts as one).
void trimLineEnd(std::string* line) {
  if (!line->empty() && line->back() == '\n') line->pop_back();
  if (!line->empty() && line->back() == '\r') line->pop_back();
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

OlderSettings readOlderSettings(const std::string& folder, const std::string& computerName) {
  FILE* f = openFile(withSeparator(folder) + text(kTextOlderSettingsFile), "rb");
  if (!f) return OlderSettings();
  OlderSettings result = readOlderSettings(f, computerName);
  std::fclose(f);
  return result;
}

OlderSettings readOlderSettings(FILE* f, const std::string& computerName) {
  OlderSettings result;
  std::string computer = computerName.substr(0, kOlderComputerChars);
  std::string line;
  bool ok = true;
  while (readOlderLine(f, &line)) {
    trimLineEnd(&line);
    size_t eq = line.find('=');
    if (eq == std::string::npos) break;
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if (equalsIgnoringCase(key, "count")) {
      int32_t n = parseDecimal(value);
      for (int32_t r = 0; r < n && ok; r++) {
        std::string fields[4];
        for (std::string& field : fields) {
          std::string l;
          bool got = readOlderLine(f, &l);
          trimLineEnd(&l);
          size_t e = got ? l.find('=') : std::string::npos;
          if (e == std::string::npos) {
            ok = false;
            break;
          }
          field = l.substr(e + 1);
        }
        if (!ok) break;
        SnapshotInfo info;
        info.number = parseDecimal(fields[0]);
        info.size = uint32_t(parseDecimal(fields[1]));
        info.name = utf8FromLatin1(fields[2]);  // the older file holds names one byte per character
        info.date = fields[3];
        info.computer = computer;
        result.records.push_back(std::move(info));
      }
      if (!ok) break;
    } else if (equalsIgnoringCase(key, "LastNo")) {
      result.lastNo = parseDecimal(value);
    } else if (equalsIgnoringCase(key, "ViewMode")) {
      result.viewMode = parseDecimal(value);
    }
    // "ScanRegs", "ScanFiles" and unknown keys are read over.
  }
  result.ok = ok;
  if (!ok) result.records.clear();
  return result;
}

namespace {

// Gives a moved older snapshot file the current form: filter lists "*" for the sections it
// holds, an info record made from the older record, and an "s1.5" header. False when the file
// does not open as a snapshot or cannot be written.
bool adoptOlderSnapshot(const std::string& path, SnapshotInfo* record) {
  SnapshotFile file;
  SnapshotInfo scratch;
  if (!file.open(path, &scratch)) return false;
  file.close();
  uint32_t roots[2] = {scratch.sectionOffset[kSectionRegistry], scratch.sectionOffset[kSectionFiles]};

  // The older formats did not store filter lists: a section with a root was scanned whole.
  // Writing the lists keeps that meaning once the file carries the current tag.
  FileSystem* fs = defaultFileSystem();
  std::unique_ptr<WritableFile> raw = fs->openWritable(path, WriteMode::kUpdate);
  if (!raw) return false;
  bool ok = raw->size() < 0xFFFFFC00u;
  uint32_t pos = uint32_t(raw->size());
  SnapshotInfo info;
  info.number = record->number;
  info.name = record->name;
  info.date = record->date;
  info.computer = record->computer;
  for (int s = 0; s < 2 && ok; s++) {
    if (roots[s] == 0) continue;
    const uint8_t item[5] = {1, 0, 0, 0, '*'};
    ok = raw->append(item, sizeof item);
    info.sectionOffset[s] = roots[s];
    info.sectionState[s] = SectionState::Full;
    info.filterList[s] = {u"*"};
    info.listCount[s] = 1;
    info.listOffset[s] = pos;
    info.listsSize += sizeof item;
    pos += sizeof item;
  }
  ok = raw->close() && ok;
  if (!ok) return false;

  if (!file.open(path, &scratch)) return false;
  uint32_t infoOffset = file.rewriteInfo(&info, 0);
  file.close();
  if (infoOffset == 0) return false;

  raw = fs->openWritable(path, WriteMode::kUpdate);
  if (!raw) return false;
  uint8_t header[20];
  std::memcpy(header, "s1.5", 4);
  putU32(header + 4, roots[0]);
  putU32(header + 8, roots[1]);
  putU32(header + 12, 0);
  putU32(header + 16, infoOffset);
  ok = raw->writeAt(0, header, sizeof header);
  ok = raw->close() && ok;
  if (!ok) return false;
  info.tag = "s1.5";
  info.infoOffset = infoOffset;
  *record = info;
  return true;
}

}  // namespace

bool carryOverOlderCatalog(const std::string& oldFolder, const std::string& dataFolder,
                           const std::string& computerName) {
  Settings settings(oldFolder);
  OlderSettings older = readOlderSettings(oldFolder, computerName);
  if (!older.ok) return false;
  std::string from = withSeparator(oldFolder);
  std::string to = withSeparator(dataFolder);
  for (SnapshotInfo record : older.records) {
    std::string name = snapshotFileName(record.number);
    replaceFile(from + name, to + name);
    if (!adoptOlderSnapshot(to + name, &record)) {
      removeFile(to + name);
      continue;
    }
    settings.catalog().addSnapshot(record);
  }
  settings.viewMode = older.viewMode;
  if (older.lastNo > settings.catalog().lastNo) settings.catalog().lastNo = older.lastNo;
  settings.save(oldFolder);
  removeFile(from + text(kTextOlderSettingsFile));
  return true;
}

}  // namespace keldrun
