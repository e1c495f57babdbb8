// An export or import of snapshot files run on a worker thread while the progress dialog polls
// it: the window-free half of the Export snapshots and Import snapshots commands.
#ifndef KELDRUN_WORKSPACE_TRANSFER_JOB_H_
#define KELDRUN_WORKSPACE_TRANSFER_JOB_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/worker.h"
#include "workspace/catalog_commands.h"
#include "workspace/message.h"
#include "workspace/settings.h"

namespace keldrun {

class TransferJob {
 public:
  // Packs each snapshot into folder as "snap%03d.snp".
  static std::unique_ptr<TransferJob> exporting(const Settings* settings,
                                                std::vector<int32_t> numbers, std::string folder);
  // Unpacks each file, in order, into the next snapshot number and enters it in the catalog.
  // The settings belong to the worker until the job has ended.
  static std::unique_ptr<TransferJob> importing(Settings* settings, std::vector<std::string> files);

  // Waits for a worker that is still running.
  ~TransferJob();
  TransferJob(const TransferJob&) = delete;
  TransferJob& operator=(const TransferJob&) = delete;

  // The progress dialog's title and message: "Export" / "Exporting snapshots...", "Import" /
  // "Importing snapshots...".
  const char* title() const;
  const char* message() const;

  // Starts the worker. False when the thread cannot be created; nothing is done then.
  bool start();
  // The worker has run to its end (or was never started).
  bool ended() const { return !worker_.isRunning(); }

  // The bar: position within 0..range, 100 units per file.
  int range() const { return transfer_.range(); }
  int position() const { return transfer_.position(); }

  // The user confirmed "Aborting?": the file in progress stops after its current chunk, the
  // loop ends, and this returns once the worker has ended. Files done so far stay done; an
  // import still saves the catalog.
  void abort();

  // Once ended: what to tell the user ("Snapshots exported", "Export error", "Import error"),
  // nothing after an abort or a successful import.
  const ShellMessage& result() const { return result_; }
  const SnapshotTransfer& transfer() const { return transfer_; }

 private:
  enum class Kind { Export, Import };
  TransferJob(Kind kind, Settings* settings) : kind_(kind), settings_(settings) {}
  static void run(WorkerThread* worker);

  const Kind kind_;
  Settings* settings_;
  std::vector<int32_t> numbers_;
  std::string folder_;
  std::vector<std::string> files_;
  SnapshotTransfer transfer_;
  // Written by the worker before it reports its end; read only once ended() is true.
  ShellMessage result_;
  WorkerThread worker_;
};

}  // namespace keldrun

#endif  // KELDRUN_WORKSPACE_TRANSFER_JOB_H_
