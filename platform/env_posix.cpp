// The platform seam on POSIX: the machine as Wine would show it. Drives come from the Wine
// prefix's dosdevices folder (or, without a prefix, a single drive z: for "/"); folders are
// listed from the real file system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstddef>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/date_text.h"
#include "base/text.h"
#include "platform/env.h"
#include "platform/registry.h"

namespace keldrun {

namespace {

// File systems that describe the kernel rather than hold files. A folder on one of them is
// recorded like a junction and never listed.
bool isPseudoFsName(const std::string& type) {
  static const char* const kNames[] = {
      "proc",      "sysfs",      "devtmpfs", "devpts",  "cgroup",   "cgroup2",   "debugfs",
      "tracefs",   "securityfs", "pstore",   "bpf",     "configfs", "fusectl",   "mqueue",
      "hugetlbfs", "autofs",     "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs", "selinuxfs",
      "nfsd",      "rootfs_proc"};
  for (const char* n : kNames)
    if (type == n) return true;
  return false;
}

bool isPseudoFsMagic(unsigned long magic) {
  static const unsigned long kMagics[] = {
      0x9fa0,     0x62656572, 0x1cd1,     0x27e0eb,   0x63677270, 0x64626720, 0x74726163,
      0x73636673, 0x6165676C, 0xcafe4a11, 0x62656570, 0x65735543, 0x19800202, 0x958458f6,
      0x0187,     0x42494e4d, 0xde5e81e4, 0x6e736673, 0xf97cff8c, 0x67596969};
  for (unsigned long m : kMagics)
    if (magic == m) return true;
  return false;
}

bool isRemoteFsMagic(unsigned long magic) {
  // NFS, SMB, CIFS, SMB2, Coda, AFS, 9p.
  static const unsigned long kMagics[] = {0x6969, 0x517B, 0xFF534D42, 0xFE534D42,
                                          0x73757245, 0x5346414F, 0x01021997};
  for (unsigned long m : kMagics)
    if (magic == m) return true;
  return false;
}

// The mounted file systems by device number, read once from /proc/self/mountinfo.
class MountTable {
 public:
  MountTable() {
    FILE* f = std::fopen("/proc/self/mountinfo", "re");
    if (!f) return;
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
      unsigned major = 0, minor = 0;
      if (std::sscanf(line, "%*u %*u %u:%u", &major, &minor) != 2) continue;
      const char* dash = std::strstr(line, " - ");
      if (!dash) continue;
      const char* type = dash + 3;
      size_t n = std::strcspn(type, " \n");
      pseudo_[dev_t(makedev(major, minor))] = isPseudoFsName(std::string(type, n));
    }
    std::fclose(f);
  }

  // Whether the file system holding the open folder fd (device dev) is a pseudo file system.
  bool isPseudo(dev_t dev, int fd) const {
    auto it = pseudo_.find(dev);
    if (it != pseudo_.end()) return it->second;
    struct statfs sf;
    return fstatfs(fd, &sf) == 0 && isPseudoFsMagic((unsigned long)sf.f_type);
  }

 private:
  std::unordered_map<dev_t, bool> pseudo_;
};

const MountTable& mounts() {
  static const MountTable table;
  return table;
}

// A native name as the engine sees it, into a reused string: UTF-8 to UTF-16 with the escapes
// of base/text.h, and a backslash as kEscapedBackslash. The string's capacity serves name after
// name: no allocation once it has grown to the longest.
void nameFromUtf8(const char* s, std::u16string* out) {
  out->clear();
  appendFromUtf8(out, s, std::strlen(s));
  for (char16_t& c : *out)
    if (c == u'\\') c = kEscapedBackslash;
}

// A name of a Windows path as the native file system spells it. kEscapedBackslash right after
// a high surrogate is the second half of a character, not an escape.
std::string nativeName(std::u16string name) {
  for (size_t i = 0; i < name.size(); i++)
    if (name[i] == kEscapedBackslash && (i == 0 || name[i - 1] < 0xD800 || name[i - 1] > 0xDBFF))
      name[i] = u'\\';
  return toUtf8(name);
}

class PosixListing;

// A Windows path and its native form, with where each of its components ends in both: the
// index after each '\\' and the length of the native path up to the '/' that stands for it.
struct ConvertedPath {
  std::string target;  // the drive's native folder
  std::u16string windows;
  std::string native;
  std::vector<std::pair<size_t, size_t>> ends;
};

// The listings open on this thread, oldest first. A listing is used and destroyed on the thread
// that made it.
thread_local std::vector<const PosixListing*> tOpenListings;

// Reads the folder's entries with getdents64 itself: opendir would stat the folder once more,
// and the scan lists every folder of a drive.
class PosixListing : public FolderListing {
 public:
  // owner, path (a Windows path ending in '\') and nativeLength (of the native path opened, with
  // its '/' at the end) let a subfolder listed while this listing is open be opened from it.
  PosixListing(int fd, dev_t dev, const void* owner, const std::u16string& path, size_t nativeLength)
      : fd_(fd), dev_(dev), owner_(owner), path_(path), nativeLength_(nativeLength) {
    tOpenListings.push_back(this);
  }
  ~PosixListing() override {
    auto at = std::find(tOpenListings.rbegin(), tOpenListings.rend(), this);
    if (at != tOpenListings.rend()) tOpenListings.erase(std::next(at).base());
    close(fd_);
  }

  // The folder "path + name + '\\'" opened from this one with flags, and the length of its native
  // path; -1 when openat fails, or when that path would not fit PATH_MAX, as opening it whole
  // would fail.
  int openSubfolder(const std::u16string& name, int flags, size_t* nativeLength) const {
    std::string native = nativeName(name);
    *nativeLength = nativeLength_ + native.size() + 1;
    return *nativeLength >= PATH_MAX ? -1 : openat(fd_, native.c_str(), flags);
  }
  const void* owner() const { return owner_; }
  const std::u16string& path() const { return path_; }

  bool next(DirEntry* e) override {
    for (;;) {
      if (at_ == filled_) {
        ssize_t n = getdents64(fd_, buffer_, sizeof buffer_);
        if (n <= 0) return false;
        filled_ = size_t(n);
        at_ = 0;
      }
      // A record must hold its header and a name, and lie within what was read.
      const size_t header = offsetof(struct dirent64, d_name);
      if (filled_ - at_ <= header) return false;
      const auto* d = reinterpret_cast<const struct dirent64*>(buffer_ + at_);
      if (d->d_reclen <= header || d->d_reclen > filled_ - at_) return false;
      at_ += d->d_reclen;
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      struct stat st;
      if (fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      nameFromUtf8(name, &e->name);
      e->isFolder = false;
      e->isJunction = false;
      if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (fstatat(fd_, name, &target, 0) == 0) {
          if (S_ISDIR(target.st_mode)) {
            // A link to a folder stands where Windows would have a junction: recorded, never
            // followed, so that link cycles and links out of the drive cannot mislead the walk.
            e->isFolder = true;
            e->isJunction = true;
            e->lastWrite = 0;
            e->size = 0;
            return true;
          }
          st = target;
        }
      } else if (S_ISDIR(st.st_mode)) {
        e->isFolder = true;
        e->lastWrite = 0;
        e->size = 0;
        if (st.st_dev != dev_) e->isJunction = isPseudoMount(name, st.st_dev);
        return true;
      }
      e->lastWrite = fileTimeFromUnix(int64_t(st.st_mtim.tv_sec), uint32_t(st.st_mtim.tv_nsec));
      e->size = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? uint64_t(st.st_size) : 0;
      e->changeTime = fileTimeFromUnix(int64_t(st.st_ctim.tv_sec), uint32_t(st.st_ctim.tv_nsec));
      e->fileId = uint64_t(st.st_ino);
      return true;
    }
  }

 private:
  bool isPseudoMount(const char* name, dev_t dev) {
    int fd = openat(fd_, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool pseudo = mounts().isPseudo(dev, fd);
    close(fd);
    return pseudo;
  }

  int fd_;
  dev_t dev_;
  const void* owner_;
  std::u16string path_;
  size_t nativeLength_;
  alignas(struct dirent64) char buffer_[32768];
  size_t filled_ = 0;  // bytes of buffer_ the last read gave
  size_t at_ = 0;      // the next entry in buffer_
};

struct Drive {
  std::string target;  // absolute native folder, no trailing '/' except for "/" itself
  int type = kDriveUnknown;
};

std::string canonical(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string r(real);
  std::free(real);
  return r;
}

std::string joinNative(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

class PosixEnv : public Env {
 public:
  explicit PosixEnv(const std::string& prefix) : prefix_(prefix) {
    bool any = false;
    if (!prefix.empty()) any = readDosDevices(joinNative(prefix, "dosdevices"));
    if (!any) {
      drives_[25].target = "/";
      drives_[25].type = kDriveFixed;
    }
  }

  uint32_t logicalDrives() override {
    uint32_t mask = 0;
    for (int i = 0; i < 26; i++)
      if (!drives_[i].target.empty()) mask |= 1u << i;
    return mask;
  }

  int driveType(char16_t letter) override {
    int i = driveIndex(letter);
    if (i < 0 || drives_[i].target.empty()) return kDriveNoRootDir;
    return drives_[i].type;
  }

  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    // Nearly every folder exists as written (the walk names it from its parent's listing), so
    // the case-insensitive lookup runs only when the direct open fails.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
    size_t nativeLength = 0;
    int fd = openFromOpenParent(folder, flags, &nativeLength);
    if (fd < 0) {
      std::string native = directPath(folder);
      if (!native.empty()) fd = open(native.c_str(), flags);
      if (fd < 0 && (native.empty() || errno == ENOENT || errno == ENOTDIR)) {
        native = resolve(folder);
        if (!native.empty()) fd = open(native.c_str(), flags);
      }
      nativeLength = native.size() + (native.empty() || native.back() != '/');
    }
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || mounts().isPseudo(st.st_dev, fd)) {
      close(fd);
      return nullptr;
    }
    return std::unique_ptr<FolderListing>(new PosixListing(fd, st.st_dev, this, folder, nativeLength));
  }

  // The prefix's hive files, loaded on the first call; without a prefix there is no registry.
  std::unique_ptr<RegistryKey> openHive(int hive) override {
    return prefix_.empty() ? nullptr : openPrefixHive(prefix_, hive);
  }

  std::u16string computerName() override {
    char host[256];
    if (gethostname(host, sizeof host) != 0) return std::u16string();
    host[sizeof host - 1] = 0;
    std::u16string name;
    for (const char* p = host; *p && *p != '.' && name.size() < 15; p++) {
      char c = *p;
      if (c >= 'a' && c <= 'z') c = char(c - 32);
      name.push_back(char16_t(uint8_t(c)));
    }
    return name;
  }

  std::string nativePath(const std::u16string& path) override { return resolve(path); }

  // The Windows form of a native path, by the drive whose target holds it (the longest wins).
  std::u16string windowsPath(const std::string& nativePath) {
    std::string real = canonical(nativePath);
    if (real.empty()) {
      if (nativePath.empty() || nativePath[0] != '/') return std::u16string();
      real = nativePath;
    }
    int best = -1;
    size_t bestLength = 0;
    for (int i = 0; i < 26; i++) {
      const std::string& t = drives_[i].target;
      if (t.empty()) continue;
      bool holds = t == "/" ? real[0] == '/'
                            : real.compare(0, t.size(), t) == 0 &&
                                  (real.size() == t.size() || real[t.size()] == '/');
      if (holds && (best < 0 || t.size() > bestLength)) {
        best = i;
        bestLength = t.size();
      }
    }
    if (best < 0) return std::u16string();
    std::string rest = real.substr(drives_[best].target == "/" ? 1 : bestLength);
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    std::u16string out;
    out.push_back(char16_t(u'a' + best));
    out += u":\\";
    std::u16string tail = fromUtf8(rest);
    for (char16_t& c : tail) {
      if (c == u'\\') c = kEscapedBackslash;
      else if (c == u'/') c = u'\\';
    }
    out += tail;
    return out;
  }

 private:
  static int driveIndex(char16_t letter) {
    char16_t c = foldAscii(letter);
    return c >= u'a' && c <= u'z' ? int(c - u'a') : -1;
  }

  bool readDosDevices(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    bool any = false;
    std::vector<int> rawDevice;
    while (struct dirent* d = readdir(dir)) {
      const char* n = d->d_name;
      char c = char(n[0] | 0x20);
      if (c < 'a' || c > 'z' || n[1] != ':') continue;
      int i = c - 'a';
      if (n[2] == ':' && n[3] == 0) {
        rawDevice.push_back(i);  // "d::", the device behind a drive: a removable or CD drive
        continue;
      }
      if (n[2] != 0) continue;
      std::string target = canonical(joinNative(folder, n));
      struct stat st;
      if (target.empty() || ::stat(target.c_str(), &st) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        drives_[i].target = target;
        struct statfs sf;
        bool remote = statfs(target.c_str(), &sf) == 0 && isRemoteFsMagic((unsigned long)sf.f_type);
        drives_[i].type = remote ? kDriveRemote : kDriveFixed;
        any = true;
      }
    }
    closedir(dir);
    for (int i : rawDevice)
      if (!drives_[i].target.empty()) drives_[i].type = kDriveCdrom;
    return any;
  }

  // folder opened from the listing of its parent when this thread has one open (the walk lists
  // each subfolder from inside its parent's listing): a deep folder then costs neither the
  // conversion of its whole path nor the kernel's walk of every component of it. -1 when there
  // is none or the open fails; the caller then opens the whole path as it would without one.
  int openFromOpenParent(const std::u16string& folder, int flags, size_t* nativeLength) {
    if (folder.size() < 5 || folder.back() != u'\\') return -1;
    size_t cut = folder.rfind(u'\\', folder.size() - 2);
    for (auto it = tOpenListings.rbegin(); it != tOpenListings.rend(); ++it) {
      const PosixListing& parent = **it;
      if (parent.owner() != this || parent.path().size() != cut + 1 ||
          folder.compare(0, cut + 1, parent.path()) != 0)
        continue;
      std::u16string name = folder.substr(cut + 1, folder.size() - cut - 2);
      if (name == u"." || name == u".." || name.find(u'/') != std::u16string::npos) return -1;
      return parent.openSubfolder(name, flags, nativeLength);
    }
    return -1;
  }

  // The native path of a Windows path as written, without looking at the file system; empty
  // when the drive is unknown or a component cannot be a native name.
  std::string directPath(const std::u16string& path) {
    if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return std::string();
    int i = driveIndex(path[0]);
    if (i < 0 || drives_[i].target.empty()) return std::string();
    const std::string& target = drives_[i].target;
    // Folders listed one after another share most of their path: the components this thread
    // converted last are taken over as far as the two paths agree.
    thread_local ConvertedPath last;
    size_t same = size_t(std::mismatch(path.begin(), path.end(), last.windows.begin(), last.windows.end()).first -
                         path.begin());
    if (last.target != target) last.ends.clear();
    while (!last.ends.empty() && last.ends.back().first > same) last.ends.pop_back();
    if (last.ends.empty()) {
      last.target = target;
      last.native = target;
      if (last.native.back() != '/') last.native.push_back('/');
      last.ends.emplace_back(3, last.native.size());
    }
    last.windows = path;
    std::string& native = last.native;
    native.resize(last.ends.back().second);
    // One component at a time: a name may hold a backslash (escaped) but never a '/'.
    for (size_t at = last.ends.back().first; at < path.size();) {
      size_t end = path.find(u'\\', at);
      if (end == std::u16string::npos) end = path.size();
      std::u16string part = path.substr(at, end - at);
      // "." and ".." are not folder names on Windows; refuse them rather than climb out.
      if (part.find(u'/') != std::u16string::npos || part == u"." || part == u"..") {
        last.ends.resize(1);
        return std::string();
      }
      native += nativeName(part);
      if (end < path.size()) {
        native.push_back('/');
        last.ends.emplace_back(end + 1, native.size());
      }
      at = end + 1;
    }
    return native;
  }

  // The native path of a Windows path "x:\a\b\" (trailing '\' optional). Each component that
  // does not exist as written is looked up case-insensitively, as Windows names are, provided
  // only one entry matches. Empty when the drive is unknown or a component cannot be found.
  std::string resolve(const std::u16string& path) {
    if (path.size() < 2 || path[1] != u':') return std::string();
    int i = driveIndex(path[0]);
    if (i < 0 || drives_[i].target.empty()) return std::string();
    std::string native = drives_[i].target;
    if (path.size() > 2 && path[2] != u'\\') return std::string();
    // Fast path: the whole path exists as written.
    std::string direct = native;
    std::vector<std::u16string> parts = splitNonEmpty(path.substr(2), u'\\');
    for (const std::u16string& p : parts) {
      if (p == u"." || p == u".." || p.find(u'/') != std::u16string::npos) return std::string();
      direct = joinNative(direct, nativeName(p));
    }
    struct stat st;
    if (parts.empty() || lstat(direct.c_str(), &st) == 0) return direct;
    for (const std::u16string& p : parts) {
      std::string exact = joinNative(native, nativeName(p));
      if (lstat(exact.c_str(), &st) == 0) {
        native = exact;
        continue;
      }
      std::string found = findFolded(native, p);
      if (found.empty()) return std::string();
      native = joinNative(native, found);
    }
    return native;
  }

  // The one entry of folder whose name equals want but for case; empty when there is none or
  // more than one ("Dir" and "DIR" beside a wanted "dir": neither is the folder named).
  static std::string findFolded(const std::string& folder, const std::u16string& want) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return std::string();
    std::u16string have;
    std::string found;
    int matches = 0;
    while (struct dirent* d = readdir(dir)) {
      nameFromUtf8(d->d_name, &have);
      if (compareNames(have, want) == 0 && ++matches == 1) found = d->d_name;
    }
    closedir(dir);
    return matches == 1 ? found : std::string();
  }

  Drive drives_[26];
  std::string prefix_;
};

std::mutex& prefixLock() {
  static std::mutex mu;
  return mu;
}

std::string& chosenPrefix() {
  static std::string prefix;  // guarded by prefixLock()
  return prefix;
}

std::string defaultPrefix() {
  {
    std::lock_guard<std::mutex> hold(prefixLock());
    if (!chosenPrefix().empty()) return chosenPrefix();
  }
  if (const char* p = std::getenv("WINEPREFIX"); p && *p) return p;
  if (const char* home = std::getenv("HOME"); home && *home) {
    std::string wine = joinNative(home, ".wine");
    struct stat st;
    if (::stat(wine.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return wine;
  }
  return std::string();
}

PosixEnv* defaultPosixEnv() {
  static PosixEnv* env = new PosixEnv(defaultPrefix());
  return env;
}

}  // namespace

bool setWinePrefix(const std::string& prefix, std::string* error) {
  struct stat st;
  bool looksLikeOne = false;
  for (const char* name : {"system.reg", "drive_c", "dosdevices"})
    looksLikeOne = looksLikeOne || ::stat(joinNative(prefix, name).c_str(), &st) == 0;
  if (!looksLikeOne) {
    *error = "'" + prefix + "' is not a Wine prefix (it holds no system.reg, drive_c or dosdevices)";
    return false;
  }
  std::lock_guard<std::mutex> hold(prefixLock());
  chosenPrefix() = prefix;
  return true;
}

std::string registryUnavailable() {
  std::string prefix = defaultPrefix();
  if (prefix.empty()) return "no Wine prefix found (give --wine-prefix DIR or set WINEPREFIX)";
  struct stat st;
  if (::stat(joinNative(prefix, "system.reg").c_str(), &st) != 0)
    return "the Wine prefix '" + prefix + "' holds no registry (system.reg)";
  return std::string();
}

Env* defaultEnv() { return defaultPosixEnv(); }

std::u16string windowsPathOf(const std::string& nativePath) {
  return defaultPosixEnv()->windowsPath(nativePath);
}

std::u16string windowsPathIn(Env* env, const std::string& nativePath) {
  PosixEnv* posix = dynamic_cast<PosixEnv*>(env);
  return posix ? posix->windowsPath(nativePath) : std::u16string();
}

std::unique_ptr<Env> newPosixEnv(const std::string& prefix) {
  return std::unique_ptr<Env>(new PosixEnv(prefix));
}

}  // namespace keldrun
