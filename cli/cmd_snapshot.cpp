// keldrun snapshot: records the files of chosen folders (or of every fixed drive) into a new
// snapshot file of the workspace.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "cli/catalog_cli.h"
#include "cli/command.h"
#include "engine/log.h"
#include "engine/registry_scan.h"
#include "engine/scan.h"
#include "platform/env.h"
#include "platform/registry_text.h"
#include "platform/thread.h"
#include "workspace/home.h"
#include "workspace/take_snapshot.h"

namespace keldrun {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// While a snapshot is taken, Ctrl-C, SIGTERM and SIGHUP stop the scan, which deletes the
// partial file, instead of ending the process with the file half written.
class StopSignals {
 public:
  StopSignals() {
    interrupted = 0;
    for (size_t i = 0; i < kCount; i++) previous_[i] = std::signal(kSignals[i], onInterrupt);
  }
  ~StopSignals() {
    for (size_t i = 0; i < kCount; i++) std::signal(kSignals[i], previous_[i]);
  }

 private:
#ifdef SIGHUP
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
  static constexpr int kSignals[] = {SIGINT, SIGTERM};
#endif
  static constexpr size_t kCount = sizeof kSignals / sizeof kSignals[0];
  void (*previous_[kCount])(int);
};

// The Windows form of a --files argument, or an error message.
bool folderItem(const std::string& arg, std::u16string* item, std::string* error) {
#ifdef _WIN32
  *item = fromUtf8(arg);
  for (char16_t& c : *item)
    if (c == u'/') c = u'\\';
  if (item->size() < 3 || (*item)[1] != u':' || (*item)[2] != u'\\') {
    *error = arg + ": not a full folder path (such as C:\\Windows)";
    return false;
  }
  // Windows finds a folder whatever the case of its name; items are kept lower case, as the
  // take-snapshot dialog makes them.
  *item = lowerAscii(*item);
#else
  struct stat st;
  if (::stat(arg.c_str(), &st) != 0) {
    *error = arg + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = arg + ": not a folder";
    return false;
  }
  *item = windowsPathOf(arg);
  if (item->empty()) {
    *error = arg + ": no drive of the Wine prefix holds this folder";
    return false;
  }
  // The exact name the folder has (the path is canonical): the file system may hold "Dir"
  // beside "dir", and the item must reach the one named.
#endif
  if (item->back() != u'\\') item->push_back(u'\\');
  if (!defaultEnv()->listFolder(*item)) {
    *error = arg + ": the folder cannot be listed";
    return false;
  }
  return true;
}

// Progress on a terminal: the four lines of the progress text, redrawn in place.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool enabled) : enabled_(enabled) {}
  void show(const std::string& text) {
    if (!enabled_) return;
    std::string out = shown_ ? "\r\x1b[4A" : "";
    for (char c : text) {
      if (c == '\n') out += "\x1b[K";
      out.push_back(c);
    }
    out += "\x1b[K\n";
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
  }
  void clear() {
    if (!enabled_ || !shown_) return;
    std::fputs("\r\x1b[4A\x1b[J", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
};

// The scan filter item of a --registry argument: a root (long or short name) or a key path
// below one, case-insensitive, stored lower case with a trailing '\'; "*" stands for every root.
bool registryItem(const std::string& arg, std::u16string* item, std::string* error) {
  std::u16string key = fromUtf8(arg);
  if (key == u"*") {
    *item = key;
    return true;
  }
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  size_t slash = key.find(u'\\');
  int hive = hiveIndexOfRegName(key.substr(0, slash));
  if (hive < 0) {
    *error = "snapshot: '" + arg +
             "' is not a registry key (it must start with a root such as HKEY_LOCAL_MACHINE)";
    return false;
  }
  std::u16string rest = slash == std::u16string::npos ? u"" : key.substr(slash);
  *item = lowerAscii(kHiveNames[hive] + rest) + u"\\";
  return true;
}

int runSnapshot(CommandContext& ctx) {
  bool nameGiven = ctx.has("--name");
  std::string name, error;
  if (!snapshotNameArgument(ctx.value("--name"), &name, &error)) return fail(error);
  bool useFilter = ctx.has("--filter");
  bool apps = ctx.has("--apps");
  std::vector<std::string> folders = ctx.options.values("--files");
  std::vector<std::string> keys = ctx.options.values("--registry");
  if (useFilter && !folders.empty()) return failConflict("--filter", "--files");
  if (useFilter && apps) return failConflict("--filter", "--apps");
  if (useFilter && !keys.empty()) return failConflict("--filter", "--registry");
  int64_t threads = -1;  // the settings' choice
  if (!numberOption(ctx.options, "--threads", 1, kMaxParallelThreads, "a number from 1 to 8", &threads))
    return kExitError;
  FilterList lists[kSectionCount];
  for (const std::string& k : keys) {
    std::u16string item;
    if (!registryItem(k, &item, &error)) return fail(error);
    if (item == u"*") lists[kSectionRegistry] = {u"*"};
    if (lists[kSectionRegistry].empty() || lists[kSectionRegistry][0] != u"*")
      lists[kSectionRegistry].push_back(item);
  }
  if (apps) lists[kSectionApps] = {u"*"};
  for (const std::string& f : folders) {
    std::u16string item;
    if (!folderItem(f, &item, &error)) return fail(error);
    lists[kSectionFiles].push_back(item);
  }

  // Without a machine's registry only named folders (--files or the scan filter's) can be
  // recorded: a full scan must not quietly record this system's own "/" and an empty registry.
  bool onlyFolders = !apps && keys.empty() && (useFilter || !folders.empty());
  if (!onlyFolders && !(error = registryUnavailable()).empty())
    return fail(error + "; without one only --files DIR can be recorded");

  // Numbering, the scan filter file, the log and the catalog are the take-snapshot dialog's.
  Settings settings(ctx.home);
  if (!openCatalog(&settings, true, &error, ctx.noWait)) return fail(error);
  TakeSnapshot take(&settings);
  if (nameGiven) take.name = name;
  if (threads > 0) take.fileThreads = int(threads);
  if (ctx.has("--digests")) take.recordDigests = true;
  take.group = useFilter ? TakeSnapshot::kSelectedItems : TakeSnapshot::kFullScan;
  if (!useFilter && folders.empty() && keys.empty() && !apps) {
    // A full scan: every section the engine can record.
    for (int s = 0; s < kSectionCount; s++) lists[s] = {u"*"};
  }
  // Held until the snapshot is finished and in the catalog: a signal that comes after the scan
  // lets the last writes complete.
  StopSignals signals;
  // The scan filter file is read, never rewritten: its lines are the user's, those for drives
  // this machine lacks included.
  if (useFilter) take.scanLists(lists);
  ShellMessage m = take.start(lists);
  if (!m.empty()) return fail(m.text);
  ProgressDisplay display(ctx.stderrIsTerminal);
  // Progress from the start, then about four times a second; a stop signal is noticed within
  // 50 ms, and one that came while the scan was ending still stops it before it enters the
  // catalog. The naps start at 1 ms and double, so a small snapshot is not kept waiting.
  uint32_t nap = 1, sinceShown = 250;
  while (take.state() == TakeSnapshot::State::Scanning && !take.scan().complete() && !interrupted) {
    if (sinceShown >= 250) {
      display.show(take.scan().progressText());
      sinceShown = 0;
    }
    sleepMilliseconds(nap);
    sinceShown += nap;
    nap = std::min<uint32_t>(nap * 2, 50);
  }
  display.clear();
  if (interrupted) {
    std::string path = take.path();
    take.stop();
    return fail("snapshot stopped; " + path + " deleted");
  }
  m = take.tick();
  if (take.state() != TakeSnapshot::State::Finished) return fail(m.text);
  std::printf("%s\n%s\n", take.completionText().c_str(), take.path().c_str());
  if (!take.scan().depthWarning().empty())
    std::fprintf(stderr, "keldrun: warning: %s\n", take.scan().depthWarning().c_str());
  return kExitOk;
}

const Option kOptions[] = {
    {"--name", "TEXT", "the snapshot's name (default \"Snapshot #N\"; at most 199 characters, or 199 bytes of UTF-8, are kept)"},
    {"--files", "PATH", "a folder to record (files section); may be repeated"},
    {"--registry", "KEY", "a registry root or key to record with all its subkeys (HKEY_LOCAL_MACHINE\\Software or "
                          "HKLM\\Software; \"*\" for every root); may be repeated and combined with --files"},
    {"--apps", nullptr, "record the applications section: Run keys, Startup folders, services and drivers"},
    {"--filter", nullptr, "record the keys, folders and sections listed in DIR/scan_filter.txt (\"Registry:\", "
                          "\"Files:\", \"Applications:\" headers, one lower-case path ending in \\ or \"*\" per "
                          "line); everything when the file is missing"},
    {"--threads", "N", "threads per drive for the files scan, 1 to 8 (default: the setting \"th\" of "
                       "Keldrun.cfg, else the machine's processors); the snapshot is the same whatever the number"},
    {"--digests", nullptr, "record the SHA-256 of every file's content (default: the setting \"dg\" of Keldrun.cfg); "
                           "a file whose size, last-write time, change time and identity are those of the newest "
                           "earlier snapshot of this computer that holds its digest is not read again"},
    {nullptr, nullptr, nullptr},
};

Registration reg({"snapshot", "take a snapshot of the machine, of chosen folders or of the scan filter", "", 0, 0,
                  kOptions,
                  "Records a new snapshot into DIR/data/snapNNN.snp under the next number of the\n"
                  "catalog (DIR/Keldrun.cfg) and adds it to the catalog. Without --registry,\n"
                  "--files, --apps or --filter it is a full scan: the registry, every fixed drive\n"
                  "and the applications. Native paths map to the drive of the Wine prefix that\n"
                  "holds them. Progress shows on a terminal; at the end the completion text and the\n"
                  "file's path are printed and the completion text is appended to\n"
                  "DIR/KeldrunLog.txt. Ctrl-C stops the scan and deletes the file; nothing is added\n"
                  "to the catalog.\n",
                  "snapshot --name \"before install\" --files ~/.wine/drive_c", runSnapshot});

}  // namespace

}  // namespace keldrun
