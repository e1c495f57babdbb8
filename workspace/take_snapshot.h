// The take-snapshot dialog without its window: the name and scan choice, the selection tree,
// Start (validation, scan filter file, snapshot file, scans), the progress text of each timer
// tick, and the end of the scan: finish (info record, log, catalog, settings) or Stop (threads
// ended, file deleted, nothing added).
#ifndef KELDRUN_WORKSPACE_TAKE_SNAPSHOT_H_
#define KELDRUN_WORKSPACE_TAKE_SNAPSHOT_H_

#include <memory>
#include <string>
#include <vector>

#include "engine/scan.h"
#include "workspace/catalog_lock.h"
#include "workspace/message.h"
#include "workspace/scan_filter.h"
#include "workspace/settings.h"

namespace keldrun {

// "scan_filter.txt" and "KeldrunLog.txt" in the program folder of settings.
std::string scanFilterPath(const Settings& settings);
std::string logPath(const Settings& settings);

class TakeSnapshot {
 public:
  enum class State { Idle, Scanning, Finished, Stopped };
  static constexpr int kFullScan = 0;      // radio group values
  static constexpr int kSelectedItems = 1;

  // Set-up: loads the settings if need be, offers the name "Snapshot #N" for the next number,
  // takes the scan choice from fullScan and builds the selection tree from the scan filter file
  // over the registry and drives of env (null: defaultEnv()). The snapshot file, the scan filter
  // file and the settings file are written through fs.
  TakeSnapshot(Settings* settings, Env* env = nullptr, FileSystem* fs = defaultFileSystem());
  TakeSnapshot(const TakeSnapshot&) = delete;
  TakeSnapshot& operator=(const TakeSnapshot&) = delete;

  std::string name;          // the name box
  int group = kFullScan;     // the radio group
  // Threads per drive for the files scan (Settings::scanThreads unless changed for this scan).
  int fileThreads = 0;
  // Record content digests (Settings::recordDigests unless changed for this scan). A digest is
  // copied from the newest of the catalog's last kDigestSources snapshots of this computer that
  // holds one for the file, when nothing recorded of the file has moved since.
  bool recordDigests = false;
  // Whether finishing stores recordDigests in Settings::recordDigests, as the dialog's choice
  // is; off for a choice made for one scan only (the command line's --digests).
  bool keepDigestsChoice = false;
  static constexpr size_t kDigestSources = 4;
  // The files of those snapshots, newest first: the catalog's last records of this computer
  // that recorded files.
  std::vector<std::string> digestSources() const;
  SelectionTree& tree() { return *tree_; }

  State state() const { return state_; }
  // Controls: the name box, Cancel, the radio group and the tree are usable only while idle,
  // the tree only with selected items; button 1 reads "Start" or "Stop".
  bool controlsEnabled() const { return state_ == State::Idle; }
  bool treeEnabled() const { return state_ == State::Idle && group == kSelectedItems; }
  const char* buttonText() const;

  // The three scan lists Start would use now: "*" each for a full scan, else the tree's.
  void scanLists(FilterList lists[kSectionCount]);

  // Start. Returns the message to show (none when the scan runs): "Invalid name" or "Select at
  // least one item" (warnings, still idle), "Cannot create (path)" or, with recordDigests and
  // no SHA-256 to be had, why not (errors, still idle), or
  // kCatalogBusy (warning, still idle) when another process writes the catalog: the scan holds
  // the workspace lock until its snapshot is in the saved catalog or it is stopped. With
  // lists, scans them instead of what the dialog chose and leaves the scan filter file alone.
  // When the scan has already ended unnoticed, finishes instead.
  ShellMessage start(const FilterList* lists = nullptr);
  // The timer: while scans run, refreshes the progress text; once they have all ended,
  // finishes. Returns what finishing has to show (the completion text, or an error when the
  // snapshot or the catalog could not be written: then the snapshot file is deleted and the
  // catalog in memory is as before); none otherwise.
  ShellMessage tick();
  // Stop: ends every scan thread, deletes the snapshot file, adds nothing to the catalog and
  // returns "Snapshot stopped; <file> deleted" (information). Nothing while idle.
  ShellMessage stop();
  // The dialog's Stop button: when every scan has ended already (pressed as the scan ends,
  // before the timer noticed), finishes as the timer would and returns what finishing shows, so
  // that a finished snapshot is kept; otherwise stop().
  ShellMessage pressStop();

  const std::string& progressText() const { return progress_; }
  const std::string& completionText() const { return scan_.completionText(); }
  // The snapshot's number and file while scanning and after finishing.
  int32_t number() const { return number_; }
  const std::string& path() const { return scan_.path(); }
  // The finished snapshot's info (valid in state Finished).
  const SnapshotInfo& info() const { return info_; }
  SnapshotScan& scan() { return scan_; }

 private:
  ShellMessage finish();
  ShellMessage finishLocked();

  Settings* settings_;
  FileSystem* fs_;
  CatalogLock lock_;  // held from Start until the catalog is saved or the scan stopped
  EnvSelectionSource source_;
  std::unique_ptr<SelectionTree> tree_;
  SnapshotScan scan_;
  State state_ = State::Idle;
  bool started_ = false;
  bool ownLists_ = false;
  int32_t number_ = 0;
  std::string progress_;
  SnapshotInfo info_;
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_TAKE_SNAPSHOT_H_
