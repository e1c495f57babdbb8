// keldrun snapshot: records the files of chosen folders (or of every fixed drive) into a new
// snapshot file of the workspace.
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/workspace.h"
#include "engine/log.h"
#include "engine/scan.h"
#include "engine/text.h"
#include "platform/env.h"
#include "platform/thread.h"

namespace keldrun {

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// Reserves the next free snapshot number: one past the highest "snap%03d.snp" in the data
// folder, created exclusively where the platform allows it, so that two commands running at
// once never write the same file.
bool reserveSnapshotPath(const std::string& dataFolder, int* number, std::string* path) {
  int highest = 0;
  char name[32];
  for (int n = 1; n < 10000; n++) {
    std::snprintf(name, sizeof name, "snap%03d.snp", n);
    if (fileExists(joinPath(dataFolder, name))) highest = n;
  }
  for (int n = highest + 1; n < highest + 100; n++) {
    std::snprintf(name, sizeof name, "snap%03d.snp", n);
    std::string candidate = joinPath(dataFolder, name);
#ifdef _WIN32
    if (fileExists(candidate)) continue;
    FILE* f = openFile(candidate, "wb");
#else
    FILE* f = openFile(candidate, "wbx");
    if (!f && errno == EEXIST) continue;
#endif
    if (!f) return false;
    std::fclose(f);
    *number = n;
    *path = candidate;
    return true;
  }
  errno = EEXIST;
  return false;
}

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
#endif
  *item = lowerAscii(*item);
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

int runSnapshot(CommandContext& ctx) {
  std::string name;
  std::vector<std::string> folders;
  const std::vector<std::string>& a = ctx.args;
  for (size_t i = 0; i < a.size(); i++) {
    if (a[i] == "--name" && i + 1 < a.size()) {
      name = a[++i];
    } else if (a[i] == "--files" && i + 1 < a.size()) {
      folders.push_back(a[++i]);
    } else if (a[i].rfind("--name=", 0) == 0) {
      name = a[i].substr(7);
    } else if (a[i].rfind("--files=", 0) == 0) {
      folders.push_back(a[i].substr(8));
    } else {
      return fail("snapshot: unexpected argument '" + a[i] + "' (see 'keldrun snapshot --help')");
    }
  }

  FilterList lists[kSectionCount];
  if (folders.empty()) {
    lists[kSectionFiles].push_back(u"*");
  } else {
    for (const std::string& f : folders) {
      std::u16string item;
      std::string error;
      if (!folderItem(f, &item, &error)) return fail(error);
      lists[kSectionFiles].push_back(item);
    }
  }

  std::string dataFolder = joinPath(ctx.home, "data");
  if (!makeFolders(dataFolder))
    return fail("cannot create the data folder " + dataFolder + ": " + std::strerror(errno));
  int number = 0;
  std::string path;
  if (!reserveSnapshotPath(dataFolder, &number, &path))
    return fail("cannot create a snapshot file in " + dataFolder + ": " + std::strerror(errno));

  interrupted = 0;
  void (*previous)(int) = std::signal(SIGINT, onInterrupt);
  SnapshotScan scan;
  if (!scan.start(path, lists)) {
    std::signal(SIGINT, previous);
    removeFile(path);
    return fail(scan.error());
  }
  ProgressDisplay display(ctx.stderrIsTerminal);
  int ticks = 0;
  while (!scan.complete()) {
    if (interrupted) {
      display.clear();
      scan.abort();
      std::signal(SIGINT, previous);
      return fail("snapshot stopped; " + path + " deleted");
    }
    sleepMilliseconds(50);
    if (++ticks % 5 == 0) display.show(scan.progressText());
  }
  display.clear();
  std::signal(SIGINT, previous);

  SnapshotInfo info;
  if (!scan.finish(name, number, &info)) return fail(scan.error());
  appendLog(scan.completionText(), joinPath(ctx.home, kLogFileName));
  std::printf("%s\n%s\n", scan.completionText().c_str(), path.c_str());
  return kExitOk;
}

Registration reg({"snapshot", "take a snapshot of folders or of every fixed drive",
                  "usage: keldrun [--home DIR] [--wine-prefix DIR] snapshot [--name TEXT] [--files PATH]...\n"
                  "\n"
                  "Records the folders and files under each PATH (every fixed drive when no --files\n"
                  "is given) into DIR/data/snapNNN.snp, with the next free number. Native paths\n"
                  "map to the drive of the Wine prefix that holds them. Progress shows on a\n"
                  "terminal; at the end the completion text and the file's path are printed and\n"
                  "the completion text is appended to DIR/KeldrunLog.txt. Ctrl-C stops the scan\n"
                  "and deletes the file.\n"
                  "\n"
                  "  --name TEXT   the snapshot's name (at most 199 characters are kept)\n"
                  "  --files PATH  a folder to record; may be repeated\n"
                  "\n"
                  "example: keldrun snapshot --name \"before install\" --files ~/.wine/drive_c\n",
                  runSnapshot});

}  // namespace

}  // namespace keldrun
