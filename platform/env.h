// The platform seam: everything the engine asks of the machine it records.
//
// Two implementations: env_win.cpp reads Windows through Win32; env_posix.cpp reads the machine
// as Wine sees it (registry from a Wine prefix's hive files, drives from its dosdevices, files
// from the real file system). No other engine file includes <windows.h>.
//
// Paths handed to the seam are Windows paths in UTF-16 ("c:\\windows\\"); folder paths end in a
// backslash. On POSIX a backslash inside a native name, which no Windows name can hold,
// reaches the engine as kEscapedBackslash (the escape of its byte, as for bytes that are not
// UTF-8), so the name is recorded and opened exactly, never read as two folders. Paths of the program's own files (snapshots, settings, reports) are UTF-8 strings
// in the native form of the platform and go through the file helpers of base/files.h.
#ifndef KELDRUN_PLATFORM_ENV_H_
#define KELDRUN_PLATFORM_ENV_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace keldrun {

constexpr char16_t kEscapedBackslash = 0xDC5C;

constexpr int kDriveUnknown = 0;
constexpr int kDriveNoRootDir = 1;
constexpr int kDriveRemovable = 2;
constexpr int kDriveFixed = 3;
constexpr int kDriveRemote = 4;
constexpr int kDriveCdrom = 5;
constexpr int kDriveRamdisk = 6;

// One entry of a folder listing.
struct DirEntry {
  std::u16string name;
  bool isFolder = false;
  // A mount point or junction (reparse tag 0xA0000003); on POSIX a symbolic link to a folder.
  bool isJunction = false;
  uint64_t lastWrite = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
  uint64_t size = 0;
  // Files only; 0 where the seam cannot tell. The change time is the one the file system keeps
  // for itself (NTFS ChangeTime, POSIX st_ctime), FILETIME; the file id names the file on its
  // drive (file index, inode). No volume is kept: the two seams read one Wine drive as different
  // volumes (device number, volume serial), which would mark every file replaced between them.
  uint64_t changeTime = 0;
  uint64_t fileId = 0;
};

class FolderListing {
 public:
  virtual ~FolderListing() = default;
  // Fills *entry with the next entry (reusing its memory); false at the end.
  virtual bool next(DirEntry* entry) = 0;
};

// The five predefined registry roots, in the order of the hive table.
constexpr int kHiveClassesRoot = 0;
constexpr int kHiveCurrentUser = 1;
constexpr int kHiveLocalMachine = 2;
constexpr int kHiveUsers = 3;
constexpr int kHiveCurrentConfig = 4;
constexpr int kHiveCount = 5;

// An open registry key, read-only.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Opens a subkey path (components separated by '\'); an empty path reopens this key.
  // Null when it cannot be opened.
  virtual std::unique_ptr<RegistryKey> openSubKey(const std::u16string& path) = 0;
  // Longest value name (characters) and longest value data (bytes). False when the query fails.
  virtual bool queryInfo(uint32_t* maxValueName, uint32_t* maxValueData) = 0;
  // The name of subkey `index`; false when there is no such subkey.
  virtual bool enumKey(uint32_t index, std::u16string* name) = 0;
  // Value `index`: its name, type and data bytes; false when there is no such value or it
  // cannot be read.
  virtual bool enumValue(uint32_t index, std::u16string* name, uint32_t* type,
                         std::vector<uint8_t>* data) = 0;
};

// A service or driver as the service manager knows it.
struct ServiceConfig {
  std::u16string serviceName;  // the key name
  std::u16string displayName;
  uint32_t type = 0;           // service type bits: 0x1 kernel driver ... 0x10/0x20 Win32 service
  uint32_t state = 0;          // 1 stopped ... 4 running ... 7 paused
  bool configRead = false;     // the three fields below hold the configuration
  uint32_t startType = 0;      // 0 boot, 1 system, 2 automatic, 3 on demand, 4 disabled
  std::u16string binaryPath;
  std::u16string description;  // empty when there is none or it cannot be read
};

// The strings of a file's version resource, taken through its first translation.
struct FileVersionInfo {
  std::u16string productVersion;
  std::u16string fileVersion;
  std::u16string companyName;
};

class Env {
 public:
  virtual ~Env() = default;

  // Bit i set when drive letter 'a' + i exists.
  virtual uint32_t logicalDrives() = 0;
  // kDrive* type of the root "x:\".
  virtual int driveType(char16_t letter) = 0;
  // Lists the folder (a path ending in '\'). Null when it cannot be listed.
  virtual std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) = 0;

  // Opens one of the five predefined roots; null when the hive is not available.
  virtual std::unique_ptr<RegistryKey> openHive(int hive) = 0;

  // The computer's name; empty when it cannot be had.
  virtual std::u16string computerName() = 0;

  // What the applications scan asks. The defaults (services.cpp) derive every answer from this
  // Env's own registry (openHive) and files (nativePath), which is how a Wine prefix is read;
  // the Win32 Env overrides them with the running system's service manager, SearchPath,
  // version.dll and environment. So an Env with a made-up registry answers from it alone on
  // every platform. Paths are Windows paths.

  // The Windows folder with a trailing '\' ("C:\windows\").
  virtual std::u16string windowsFolder();
  // Every service and driver (type mask 0x13F, all states) with its configuration and
  // description. False when the service manager cannot be opened or enumerated.
  virtual bool listServices(std::vector<ServiceConfig>* out);
  // Looks a file up as the system's search order for executables does (current folder, system
  // folders, Windows folder, PATH); a name holding a drive or a leading '\' is checked as given.
  // Sets *fullPath to the path found; false when there is none.
  virtual bool searchExecutable(const std::u16string& name, std::u16string* fullPath);
  // Last-write time (FILETIME) and size of a file; false when there is no such file.
  virtual bool fileStatus(const std::u16string& path, uint64_t* lastWrite, uint64_t* size);
  // The SHA-256 of a file's content into out's 32 bytes (platform/digest.h): by its native path
  // (nativePath) on POSIX, by its own path on Win32. False when the file cannot be read whole
  // (locked, denied, gone, not a regular file).
  virtual bool fileSha256(const std::u16string& path, uint8_t* out);
  // The version strings of a file; false when it has no version resource or no translation.
  virtual bool fileVersion(const std::u16string& path, FileVersionInfo* out);
  // Replaces %NAME% references by the machine's environment variables; unknown names stay.
  virtual std::u16string expandEnvironment(const std::u16string& text);
  // The native path of a Windows path, each component matched case-insensitively as Windows
  // would; empty when no drive holds it. Empty by default and on Win32 (which overrides the
  // file questions instead).
  virtual std::string nativePath(const std::u16string& path);
};

// The machine this process runs on (Win32), or on POSIX the Wine prefix chosen by
// setWinePrefix, else $WINEPREFIX, else ~/.wine. Lives for the whole process.
Env* defaultEnv();
// POSIX only: the Wine prefix the default Env reads; call before the first defaultEnv(). False,
// with the reason in *error, when the folder holds none of system.reg, drive_c and dosdevices.
// Win32: nothing to choose, true.
bool setWinePrefix(const std::string& prefix, std::string* error);
// Why the default Env has no registry to record, empty when it has one. POSIX: no Wine prefix
// was chosen or found ($WINEPREFIX, ~/.wine), or the prefix holds no system.reg; then its only
// drive is z: for "/". Win32: always empty.
std::string registryUnavailable();
// POSIX only: the Windows form of a native path under one of the drives ("/tmp/x" -> "z:\\tmp\\x"),
// empty when no drive holds it.
std::u16string windowsPathOf(const std::string& nativePath);
// POSIX only: a new Env reading the Wine prefix at prefix (empty: no prefix, a single fixed
// drive z: for "/"), for callers that need one apart from the process-wide one.
std::unique_ptr<Env> newPosixEnv(const std::string& prefix);
// POSIX only: windowsPathOf for an Env made by newPosixEnv (or the default one).
std::u16string windowsPathIn(Env* env, const std::string& nativePath);

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_ENV_H_
