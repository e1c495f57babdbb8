#include "engine/worker.h"

namespace keldrun {

WorkerThread::~WorkerThread() {
  std::lock_guard<std::mutex> hold(mu_);
  releaseHandle();
}

void WorkerThread::releaseHandle() {
  if (!thread_) return;
  // A thread that has set the idle state is past its last access to this object and about to
  // return, so waiting for it is immediate and makes sure it is gone before we are.
  if (state_ == kIdle) waitThread(thread_);
  closeThread(thread_);
  thread_ = nullptr;
}

void WorkerThread::threadMain(void* arg) {
  WorkerThread* self = static_cast<WorkerThread*>(arg);
  Function fn;
  {
    std::lock_guard<std::mutex> hold(self->mu_);
    fn = self->fn_;
  }
  fn(self);
}

bool WorkerThread::start(Function fn, void* jobData) {
  std::lock_guard<std::mutex> hold(mu_);
  releaseHandle();
  jobData_ = jobData;
  fn_ = fn;
  state_ = kRunning;
  thread_ = createThread(threadMain, this);
  if (!thread_) state_ = kIdle;
  yieldThread();
  return thread_ != nullptr;
}

bool WorkerThread::stop(bool wait) { return stop(wait, 600, 100); }

bool WorkerThread::stop(bool wait, int polls, uint32_t intervalMs) {
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (state_ == kIdle) {
      releaseHandle();
      return true;
    }
    state_ = kStopRequested;
  }
  if (!wait) return false;
  for (int i = 0; i < polls; i++) {
    {
      std::lock_guard<std::mutex> hold(mu_);
      if (state_ == kIdle) {
        releaseHandle();
        return true;
      }
    }
    sleepMilliseconds(intervalMs);
  }
  // The thread would not end: end it by force. The lock is not held meanwhile, because the
  // thread may be waiting for it.
  NativeThread* t;
  {
    std::lock_guard<std::mutex> hold(mu_);
    if (state_ == kIdle) {
      releaseHandle();
      return true;
    }
    t = thread_;
    thread_ = nullptr;
  }
  if (t) {
    terminateThread(t);
    closeThread(t);
  }
  std::lock_guard<std::mutex> hold(mu_);
  state_ = kIdle;
  return true;
}

bool WorkerThread::isRunning() const { return state() != kIdle; }

int WorkerThread::state() const {
  std::lock_guard<std::mutex> hold(mu_);
  return state_;
}

bool WorkerThread::suspend() {
  std::lock_guard<std::mutex> hold(mu_);
  if (state_ != kRunning || !thread_) return false;
  return suspendThread(thread_);
}

bool WorkerThread::resume() {
  std::lock_guard<std::mutex> hold(mu_);
  if (!thread_) return false;
  return resumeThread(thread_);
}

void WorkerThread::setRunning() {
  // A stop requested before the thread got here must not be forgotten.
  std::lock_guard<std::mutex> hold(mu_);
  if (state_ != kStopRequested) state_ = kRunning;
}

void WorkerThread::setState(int s) {
  std::lock_guard<std::mutex> hold(mu_);
  state_ = s;
}

int parallelThreads(int setting) {
  if (setting >= 1 && setting <= kMaxParallelThreads) return setting;
  unsigned cores = processorCount();
  return cores < unsigned(kMaxParallelThreads) ? int(cores) : kMaxParallelThreads;
}

size_t HelperThreads::start(size_t count, ThreadFunction fn, void* arg) {
  size_t started = 0;
  for (; started < count; started++) {
    NativeThread* t = createThread(fn, arg);
    if (!t) break;
    threads_.push_back(t);
  }
  return started;
}

void HelperThreads::join() {
  for (NativeThread* t : threads_) {
    waitThread(t);
    closeThread(t);
  }
  threads_.clear();
}

}  // namespace keldrun
