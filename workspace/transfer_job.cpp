#include "workspace/transfer_job.h"

namespace keldrun {

std::unique_ptr<TransferJob> TransferJob::exporting(const Settings* settings,
                                                    std::vector<int32_t> numbers,
                                                    std::string folder) {
  // The export only reads the settings; the pointer is shared with the import's for one type.
  std::unique_ptr<TransferJob> job(new TransferJob(Kind::Export, const_cast<Settings*>(settings)));
  job->numbers_ = std::move(numbers);
  job->folder_ = std::move(folder);
  return job;
}

std::unique_ptr<TransferJob> TransferJob::importing(Settings* settings,
                                                    std::vector<std::string> files) {
  std::unique_ptr<TransferJob> job(new TransferJob(Kind::Import, settings));
  job->files_ = std::move(files);
  return job;
}

TransferJob::~TransferJob() {
  if (worker_.isRunning()) abort();
}

const char* TransferJob::title() const { return kind_ == Kind::Export ? "Export" : "Import"; }

const char* TransferJob::message() const {
  return kind_ == Kind::Export ? "Exporting snapshots..." : "Importing snapshots...";
}

bool TransferJob::start() { return worker_.start(run, this); }

void TransferJob::run(WorkerThread* worker) {
  worker->setRunning();
  auto* job = static_cast<TransferJob*>(worker->jobData());
  if (job->kind_ == Kind::Export)
    job->result_ = job->transfer_.exportSnapshots(*job->settings_, job->numbers_, job->folder_);
  else
    job->result_ = job->transfer_.importSnapshots(job->settings_, job->files_);
  worker->setEnded();
}

void TransferJob::abort() {
  transfer_.cancel();
  worker_.stop(true);
}

}  // namespace keldrun
