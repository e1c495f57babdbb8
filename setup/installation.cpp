#include "setup/installation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/file_system.h"
#include "base/files.h"
#include "base/text.h"
#include "base/text_table.h"
#include "engine/log.h"
#include "platform/own_files.h"
#include "setup/folders.h"
#include "workspace/catalog_lock.h"
#include "workspace/rights.h"
#include "workspace/settings.h"

namespace keldrun {

namespace {

// A failed step's message with the system's reason, read from errno right after the failure,
// and what to do when the reason is a missing right.
std::string installFailure(const std::string& what) {
  int error = errno;
  if (error == 0) return what;
  return withRightsAdvice(what + "\n(" + std::strerror(error) + ")", error, RightsTask::Install);
}

bool sameNameIgnoringCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (foldChar(a[i]) != foldChar(b[i])) return false;
  return true;
}

// The folder without its trailing separator, as folder removal and working folders want it.
std::string withoutSeparator(const std::string& folder) {
  if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
    return folder.substr(0, folder.size() - 1);
  return folder;
}

// The report pages the program writes into "tmp", as the report temp folder's clean-up picks
// them: "*.htm" in any case, not beginning with ".".
bool isReportPage(const std::string& name) {
  if (name.size() < 4 || name[0] == '.') return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".htm";
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

StartDecision decideStart(const std::vector<std::u16string>& arguments,
                          const std::u16string& runningFileName) {
  StartDecision d;
  if (!arguments.empty() && arguments[0] == widen(text(kTextUninstallArg))) {
    if (arguments.size() == 1) {
      d.mode = StartMode::UninstallFirstStage;
    } else {
      d.mode = StartMode::UninstallSecondStage;
      d.folderArgument = arguments[1];
    }
    return d;
  }
  bool installed = sameNameIgnoringCase(runningFileName, widen(kInstalledExeName));
  d.mode = installed ? StartMode::MainWindow : StartMode::SetupWindow;
  return d;
}

std::string secondStageFolder(const std::u16string& argument) {
  std::u16string folder = argument;
  if (!folder.empty() && folder.back() == u'"') folder.pop_back();
  if (folder.empty()) return std::string();
  return withSeparator(toUtf8(folder));
}

std::u16string quoteArgument(const std::u16string& argument) {
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      backslashes++;
      continue;
    }
    // Backslashes count as escapes only in front of a quote.
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    out += c;
    backslashes = 0;
  }
  out.append(2 * backslashes, u'\\');  // the closing quote must stay a quote
  out += u'"';
  return out;
}

std::u16string secondStageCommandLine(const std::u16string& copyPath,
                                      const std::u16string& programFolder) {
  return quoteArgument(copyPath) + u" " + widen(text(kTextUninstallArg)) + u" " +
         quoteArgument(programFolder);
}

namespace {

// A path as Windows compares it for this purpose: ASCII letters folded, '/' taken as '\\'.
std::string comparablePath(const std::string& path) {
  std::string out = path;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return out;
}

// Adds what the program leaves in folder beside its own files: a damaged settings file set
// aside, and the temporary files of writes that were cut short.
void addLeftovers(const std::string& folder, UninstallPlan* plan) {
  std::vector<std::string> names;
  if (!listFileNames(folder, &names)) return;
  const std::string damaged = std::string(text(kTextSettingsFile)) + ".damaged";
  for (const std::string& name : names) {
    std::string target;
    if (name == damaged || isTemporaryName(name, &target)) plan->files.push_back(withSeparator(folder) + name);
  }
}

}  // namespace

bool uninstallEntryBelongsTo(const std::string& uninstallString, const std::string& programFolder) {
  if (programFolder.empty()) return false;
  std::string program;
  if (!uninstallString.empty() && uninstallString[0] == '"') {
    size_t end = uninstallString.find('"', 1);
    if (end == std::string::npos) return false;
    program = uninstallString.substr(1, end - 1);
  } else {
    // Unquoted, the path may hold blanks: everything before the argument.
    std::string argument = std::string(" ") + text(kTextUninstallArg);
    program = uninstallString;
    if (program.size() >= argument.size() &&
        program.compare(program.size() - argument.size(), argument.size(), argument) == 0)
      program.resize(program.size() - argument.size());
  }
  return comparablePath(program) == comparablePath(withSeparator(programFolder) + kInstalledExeName);
}

std::string targetFolderIn(const std::string& programFilesFolder) {
  return withSeparator(withSeparator(programFilesFolder) + kInstallFolderName);
}

InstallPlan planInstall(const std::string& targetFolder, const ShellFolders& shell, bool desktopIcon) {
  InstallPlan p;
  p.targetFolder = withSeparator(targetFolder);
  p.dataFolder = p.targetFolder + "data" + pathSeparator();
  p.programFile = p.targetFolder + kInstalledExeName;
  Shortcut link;
  link.target = p.programFile;
  link.workingFolder = withoutSeparator(p.targetFolder);
  link.description = kInstallFolderName;
  if (desktopIcon && !shell.desktop.empty()) {
    link.linkPath = withSeparator(shell.desktop) + kShortcutFileName;
    p.shortcuts.push_back(link);
  }
  if (!shell.programs.empty()) {
    p.startMenuFolder = withSeparator(withSeparator(shell.programs) + kStartMenuFolderName);
    link.linkPath = p.startMenuFolder + kShortcutFileName;
    p.shortcuts.push_back(link);
  }
  p.uninstallKey = std::string(text(kTextUninstallKey)) + "\\" + kInstallFolderName;
  p.displayName = std::string(kInstallFolderName) + " " + text(kTextVersion);
  p.uninstallString = "\"" + p.programFile + "\" " + text(kTextUninstallArg);
  return p;
}

bool copyProgramFile(const std::string& source, const std::string& destination, std::string* error) {
  auto fail = [&] {
    *error = installFailure("Cannot copy\n" + source + " to\n" + destination);
    return false;
  };
  // Truncating the destination would destroy the source were they one file.
  if (sameFile(source, destination)) return true;
  errno = 0;  // a short read sets none
  File in(openFile(source, "rb"));
  if (!in) return fail();
  uint64_t size = 0;
  if (!fileLength(in.get(), &size)) return fail();
  File out(openFile(destination, "wb"));
  if (!out) return fail();
  char block[1024];
  for (uint64_t left = size; left > 0;) {
    size_t n = left < sizeof block ? size_t(left) : sizeof block;
    if (std::fread(block, 1, n, in.get()) != n) return fail();
    if (std::fwrite(block, 1, n, out.get()) != n) return fail();
    left -= n;
  }
  if (std::fclose(out.release()) != 0) return fail();
  return true;
}

bool installFiles(const InstallPlan& plan, const std::string& sourceExe,
                  const std::string& computerName, std::string* error) {
  for (const std::string& folder : {plan.targetFolder, plan.dataFolder}) {
    if (!makeFolders(withoutSeparator(folder))) {
      *error = installFailure("Cannot create\n" + folder);
      return false;
    }
  }
  if (fileExists(plan.targetFolder + text(kTextOlderSettingsFile)))
    carryOverOlderCatalog(plan.targetFolder, plan.dataFolder, computerName);
  if (!copyProgramFile(sourceExe, plan.programFile, error)) return false;
  if (!plan.startMenuFolder.empty() && !makeFolders(withoutSeparator(plan.startMenuFolder)))
    *error = installFailure("Cannot create\n" + plan.startMenuFolder);
  return true;
}

bool planUninstall(const std::string& programFolder, const ShellFolders& shell, UninstallPlan* plan,
                   std::string* error) {
  *plan = UninstallPlan();
  std::string folder = withSeparator(programFolder);
  std::string program = folder + kInstalledExeName;
  if (folder.empty() || !isFolder(folder) || !fileExists(program) || isFolder(program)) {
    *error = "No Keldrun installation in\n" + folder;
    return false;
  }
  Settings settings(folder);
  settings.load();  // only snapshots that open and hold their number are listed
  const Catalog& catalog = settings.catalog();
  for (size_t i = 0; i < catalog.count(); i++)
    plan->files.push_back(catalog.snapshotPath(catalog.record(i).number).path);
  std::string tmp = folder + "tmp" + pathSeparator();
  std::vector<std::string> pages;
  if (listFileNames(tmp, &pages)) {
    for (const std::string& name : pages)
      if (isReportPage(name)) plan->files.push_back(tmp + name);
  }
  for (const char* name : {kLogFileName, text(kTextSettingsFile), "scan_filter.txt",
                           kCatalogLockFileName, kInstalledExeName})
    plan->files.push_back(folder + name);
  addLeftovers(folder, plan);
  addLeftovers(catalog.dataFolder(), plan);
  plan->programFile = program;
  for (const Shortcut& link : planInstall(folder, shell, true).shortcuts)
    plan->shortcuts.push_back(link.linkPath);
  plan->folders = {withoutSeparator(catalog.dataFolder()), withoutSeparator(tmp), withoutSeparator(folder)};
  if (!shell.programs.empty())
    plan->sharedFolders.push_back(withSeparator(shell.programs) + kStartMenuFolderName);
  return true;
}

bool removeInstalled(const UninstallPlan& plan, const ShortcutReader& readShortcut,
                     std::vector<std::string>* left) {
  std::vector<std::string> kept, stays;
  for (const std::string& link : plan.shortcuts) {
    std::string target;
    // The same file under another spelling (a short name, a link) is still this installation.
    if (fileExists(link) && readShortcut(link, &target) &&
        (comparablePath(target) == comparablePath(plan.programFile) || sameFile(target, plan.programFile)))
      removeFile(link);
  }
  for (const std::string& file : plan.files) {
    if (fileExists(file)) removeFile(file);
    if (fileExists(file)) kept.push_back(file);
  }
  for (const std::string& folder : plan.sharedFolders) removeEmptyFolder(folder);
  for (const std::string& folder : plan.folders) {
    if (isFolder(folder)) removeEmptyFolder(folder);
    if (!fileExists(folder)) continue;
    std::vector<std::string> names;
    listFileNames(folder, &names);
    for (const std::string& name : names) {
      std::string path = withSeparator(folder) + name;
      if (std::find(kept.begin(), kept.end(), path) == kept.end()) kept.push_back(path);
    }
    stays.push_back(folder);
  }
  // A folder kept by folders of someone else's alone is named itself.
  if (kept.empty()) kept = stays;
  bool all = kept.empty();
  if (left) *left = std::move(kept);
  return all;
}

std::string uninstallIncompleteMessage(const std::vector<std::string>& left) {
  const size_t shown = 10;
  std::string message = text(kTextUninstallIncomplete);
  for (size_t i = 0; i < left.size() && i < shown; i++) message += "\n" + left[i];
  if (left.size() > shown) message += "\n(" + std::to_string(left.size() - shown) + " more)";
  return message;
}

}  // namespace keldrun
