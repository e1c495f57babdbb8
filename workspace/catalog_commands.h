// Commands on the snapshots of the catalog that touch their files: delete, the properties
// dialog's rename, and export and import of packed snapshot files. Each is a model that the
// windows (and the command line) drive; message texts are the program's own.
#ifndef KELDRUN_WORKSPACE_CATALOG_COMMANDS_H_
#define KELDRUN_WORKSPACE_CATALOG_COMMANDS_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"
#include "workspace/message.h"
#include "workspace/settings.h"

namespace keldrun {

// Deletes each snapshot's file and removes its first catalog record, in the given order,
// keeping the order of the others; then saves the settings. A file that cannot be deleted still
// leaves the catalog; its path goes into *remaining (if not null) so that the caller can say
// so. Numbers are never given out again (lastNo stays). Returns what save returned. Works under
// the workspace lock: when another process holds it nothing is done and *refused (if not null)
// says so.
bool deleteSnapshots(Settings* settings, const std::vector<int32_t>& numbers,
                     std::vector<std::string>* remaining = nullptr, ShellMessage* refused = nullptr);

// The properties dialog without its window.
class SnapshotProperties {
 public:
  SnapshotProperties(Settings* settings, int32_t number) : settings_(settings), number_(number) {}

  // Set-up: reads the snapshot's info from its file. Returns "Cannot open snapshot" (error) when
  // the file does not open; the dialog then ends at once without OK.
  ShellMessage open();
  const SnapshotInfo& info() const { return info_; }
  // The scanned-items summary: for each section its heading ("Registry:", "Files:",
  // "Applications:") and the items of its filter list, or the single line "-" when it is empty.
  std::vector<std::pair<std::string, std::vector<std::u16string>>> summary() const;

  // OK with the text of the name box (UTF-8). False for an empty name: the dialog stays open and
  // nothing happens. Otherwise writes the name into the info record in place (cut to what the
  // field holds) and
  // updates the snapshot's catalog record from the file, and returns true: the dialog ends with
  // OK, also when the file could not be reopened (the rename is then not applied). Renames
  // under the workspace lock: when another process holds it, returns false with the message to
  // show in refusal(), and the dialog stays open.
  bool ok(const std::string& newName);
  bool renamed() const { return renamed_; }
  const ShellMessage& refusal() const { return refusal_; }

 private:
  Settings* settings_;
  int32_t number_;
  SnapshotInfo info_;
  bool renamed_ = false;
  ShellMessage refusal_;
};

// Export or import of snapshot files on a worker, with overall progress (100 units per file)
// for a progress window that polls, and cancellation from that window.
class SnapshotTransfer {
 public:
  // Every file is written through fs.
  explicit SnapshotTransfer(FileSystem* fs = defaultFileSystem()) : fs_(fs) {}

  // Writes each snapshot, packed, into folder (a path ending in a separator or not) as
  // "snap%03d.snp", replacing a file of that name. A snapshot whose target is its own file
  // (folder is the data folder) is refused and counts as failed, as does one that cannot be
  // packed (its target is then deleted). After each file a cancel ends the loop. Returns
  // "Snapshots exported" (information) or "Export error" (error), nothing when cancelled.
  ShellMessage exportSnapshots(const Settings& settings, const std::vector<int32_t>& numbers,
                               const std::string& folder);
  // Unpacks each file, in order, into a new snapshot file with the next number and enters it
  // in the catalog; a file that cannot be read or unpacked uses up no number, and an existing
  // snapshot file is never written over. A cancel stops the file being unpacked (which then
  // registers nothing) and the loop. Saves the settings whatever happened; when they cannot be
  // saved, the files imported are deleted and dropped from the catalog again, and imported()
  // is empty. Returns "Import error" (error) when a file or the save failed, nothing otherwise
  // or when cancelled.
  ShellMessage importSnapshots(Settings* settings, const std::vector<std::string>& files);

  // From another thread: ask the running operation to stop after its current chunk.
  void cancel();
  bool cancelRequested() const;

  // Progress: position within 0..range.
  int range() const;
  int position() const;

  bool aborted() const { return aborted_; }
  // One line per failed file, naming it and the reason.
  const std::vector<std::string>& problems() const { return problems_; }
  // The numbers the import gave, in order.
  const std::vector<int32_t>& imported() const { return imported_; }

 private:
  void begin(size_t files);
  // A fresh sink for the next file, already cancelled when a cancel came before it.
  std::shared_ptr<ProgressSink> beginFile();
  void endFile();

  FileSystem* fs_;
  // Guards the four fields below. It is never held while a sink's own lock is taken: callers
  // copy the sink pointer out first.
  mutable std::mutex mu_;
  bool cancel_ = false;
  std::shared_ptr<ProgressSink> sink_;  // the file in progress; null between files
  int total_ = 0;
  int done_ = 0;

  bool aborted_ = false;
  std::vector<std::string> problems_;
  std::vector<int32_t> imported_;
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_CATALOG_COMMANDS_H_
