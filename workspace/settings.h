// Settings: every persistent option of the program and the snapshot catalog it owns, kept
// together in the settings file "Keldrun.cfg" of the program folder; the report temp folder; and
// the carry-over of an older installation's "Keldrun.ini".
//
// One Settings object serves the whole process (the window program and the command line alike).
// It has no lock: it is used by one thread at a time (the import worker uses it while the
// window that started it waits).
#ifndef KELDRUN_WORKSPACE_SETTINGS_H_
#define KELDRUN_WORKSPACE_SETTINGS_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/file_system.h"
#include "engine/snapshot.h"
#include "workspace/catalog.h"

namespace keldrun {

// One registered setting: a short key (compared byte for byte) and the field it sets.
struct SettingEntry {
  std::string key;
  int32_t* intTarget = nullptr;      // exactly one of the two targets is set
  std::string* textTarget = nullptr;
};

// What the last load found.
enum class SettingsLoad {
  NotRead,  // load has not run
  Missing,  // no settings file (or it cannot be opened): defaults apply
  Read,     // the file was read
  Damaged,  // the file exists but holds no readable body: read as holding no records
};

// The settings file's last-write time and size: what tells, without reading the file, that
// another process has saved it. Zero for a file that is not there.
struct SettingsStamp {
  uint64_t lastWrite = 0;
  uint64_t size = 0;
  bool operator==(const SettingsStamp& o) const { return lastWrite == o.lastWrite && size == o.size; }
  bool operator!=(const SettingsStamp& o) const { return !(*this == o); }
};

// What an older installation's "Keldrun.ini" holds.
struct OlderSettings {
  bool ok = false;
  std::vector<SnapshotInfo> records;  // number, size, name, date, computer of each snapshot
  int32_t lastNo = 0;
  int32_t viewMode = 0;
};

class Settings {
 public:
  // folder: the program folder, which holds "Keldrun.cfg", the data folder "data" and the report
  // temp folder "tmp"; empty for the current folder. Settings start at their defaults with an
  // empty catalog and are not read until ensureLoaded or load.
  explicit Settings(const std::string& folder = "");
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // Persistent options, in registration order (the order they are written in). The catalog's
  // lastNo is written among them as "d", after "a1".
  int32_t fullScan = 1;   // "a1": take-snapshot dialog, 1 = full scan, 0 = selected items
  int32_t viewMode = 0;   // "e": 0 = full trees, 1 = only differences
  struct FilesSearch {
    int32_t includePaths = 0;  // "f"
    int32_t matchCase = 0;     // "g"
  } filesSearch;
  struct RegistrySearch {
    int32_t includeData = 1;   // "j"
    int32_t includePaths = 1;  // "h"
    int32_t includeNames = 1;  // "i"
    int32_t matchCase = 0;     // "k"
  } registrySearch;
  struct Report {
    int32_t binaryLimit = 50;        // "te1": bytes of binary data shown per value
    int32_t stringLimit = 300;       // "te2": characters of string data shown per value
    int32_t limitBinary = 1;         // "te3"
    int32_t limitString = 1;         // "te4"
    int32_t includeAdded = 1;        // "te5"
    int32_t includeModified = 1;     // "te6"
    int32_t includeDeleted = 1;      // "te7"
    int32_t includeFiles = 1;        // "te8"
    int32_t includeRegistry = 1;     // "te9"
    int32_t includeApplications = 1; // "te10"
    int32_t currentPathOnly = 0;     // "te11"
    std::string exportName = "export";  // "teh1": snapshot export file name, no extension
    std::string exportFolder;           // "teh2": empty = the user's documents folder
    int32_t split = 1;               // "teh3": split into several files
    int32_t linesPerFile = 30000;    // "teh4"
    int32_t openAfterExport = 0;     // "teh5"
  } report;
  // "th": threads per drive for the files scan, the walk included: 0 = the machine's
  // processors (at most 8), 1 = the walk alone. The snapshot is the same either way.
  int32_t scanThreads = 0;
  // "dg": Record content digests, the take-snapshot choice: 1 = every file's SHA-256 is recorded.
  int32_t recordDigests = 0;
  // "nd": comparisons use the default noise list while the workspace has no noise.txt; 0 = no.
  int32_t noiseDefaults = 1;

  const std::vector<SettingEntry>& entries() const { return entries_; }
  // Set the target of the first entry with this key; no effect for an unknown key or a key of
  // the other type.
  void setInt(const std::string& key, int32_t value);
  void setText(const std::string& key, const std::string& value);
  // The value of the first entry with this key; false for an unknown key or the other type.
  bool getInt(const std::string& key, int32_t* value) const;
  bool getText(const std::string& key, std::string* value) const;

  // Loads the settings file once per object: the first call runs load(""), later calls do
  // nothing. Every reader of a setting or the catalog calls it first.
  void ensureLoaded();
  // Reads folder + "Keldrun.cfg" (the program folder when folder is empty): clears the catalog,
  // sets every setting the file names and enters each listed snapshot whose file opens and
  // holds its number. False when the file cannot be opened; then the settings keep their
  // values and the catalog stays empty. A damaged file reads as holding no records.
  bool load(const std::string& folder = "");
  SettingsLoad loadStatus() const { return loadStatus_; }
  // Reads the catalog and the highest number given again from the settings file, which another
  // process may have saved since; every other option keeps its value in memory. False,
  // changing nothing, when the file is missing or damaged: what this process holds is then the
  // best there is.
  bool reloadCatalog();
  // What load does once it has the file's bytes: clears the catalog, then applies the records.
  // False (settings untouched) when the bytes hold no readable body.
  bool loadBytes(const uint8_t* data, size_t size);
  // Writes folder + "Keldrun.cfg" (the program folder when folder is empty) through a temporary
  // file that then replaces it, so that a failed write leaves the previous file whole. False
  // when the file cannot be written. Writes through fs.
  bool save(const std::string& folder = "", FileSystem* fs = defaultFileSystem());

  // The snapshot catalog, read and saved with the options; its data folder is folder + "data".
  Catalog& catalog() { return catalog_; }
  const Catalog& catalog() const { return catalog_; }

  const std::string& folder() const { return folder_; }
  std::string settingsPath(const std::string& folder = "") const;
  // The stamp of the settings file in the program folder as it is now.
  SettingsStamp fileStamp() const;
  // Its stamp as the catalog in memory was last read from it or saved to it (load, save and
  // reloadCatalog of the program folder's file); zero before either.
  const SettingsStamp& catalogStamp() const { return catalogStamp_; }

  // folder + "tmp" + separator, created on each call (failure ignored).
  std::string reportTempFolder() const;
  // Deletes every "*.htm" file of the report temp folder whose name does not begin with ".";
  // failures are ignored.
  void clearReportTempFolder() const;

 private:
  void registerInt(int textEntry, int32_t* target);
  void registerInt(const char* key, int32_t* target);
  void registerText(int textEntry, std::string* target);
  void applyBody(const std::string& body);

  std::string folder_;
  Catalog catalog_;  // made from folder_, so declared after it
  std::vector<SettingEntry> entries_;
  bool loaded_ = false;
  SettingsLoad loadStatus_ = SettingsLoad::NotRead;
  SettingsStamp catalogStamp_;
};

// Reads folder + "Keldrun.ini" of an older installation. Every record gets computerName (cut to
// 31 characters), since the older file has none. ok is false when the file cannot be opened or
// a record announced by "count" cannot be completed.
OlderSettings readOlderSettings(const std::string& folder, const std::string& computerName);
// The same over an open stream, read to its end or to the first line without "=".
OlderSettings readOlderSettings(FILE* f, const std::string& computerName);

// Adopts an older installation's catalog into a new one: moves each listed snapshot file from
// oldFolder into dataFolder, gives it the current header and an info record made from the
// older record (a file that does not open is deleted), and saves a new "Keldrun.cfg" in
// oldFolder, the program folder of the new installation; then deletes "Keldrun.ini". When the
// older file cannot be read nothing is moved or changed. False in that case.
bool carryOverOlderCatalog(const std::string& oldFolder, const std::string& dataFolder,
                           const std::string& computerName);

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_SETTINGS_H_
