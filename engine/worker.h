// WorkerThread: the thread every scan (and every import or export) runs on, with a state that
// the controlling thread and the worker both read and write under the worker's own lock.
#ifndef KELDRUN_ENGINE_WORKER_H_
#define KELDRUN_ENGINE_WORKER_H_

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace keldrun {

class WorkerThread {
 public:
  static constexpr int kRunning = 1;
  static constexpr int kStopRequested = 2;
  static constexpr int kIdle = 3;

  // Runs on the new thread. It calls setRunning() first, polls stopRequested() at its own
  // checkpoints and calls setEnded() as its very last access to the WorkerThread.
  using Function = void (*)(WorkerThread* self);

  WorkerThread() = default;
  // Waits for a thread that has reported its end and releases the handle. The job data must
  // not be freed, nor the WorkerThread destroyed, while the thread may still run.
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Releases the handle of an earlier run, stores jobData and starts fn on a new thread. True
  // when the thread was created. The worker counts as running from here on (not only once the
  // new thread has got as far as setRunning), so a stop that comes before the thread is
  // scheduled cannot report an end that has not happened.
  bool start(Function fn, void* jobData);

  // On an idle worker: releases the handle and returns true. Otherwise requests a stop; without
  // wait returns false at once. With wait, polls every 100 ms for up to 600 polls (one minute)
  // and returns true once the thread has ended; after that the thread is ended by force, the
  // state set to idle, and the result is true.
  bool stop(bool wait);
  // The same with a chosen number of polls and interval, for callers (and tests) that cannot
  // wait a minute.
  bool stop(bool wait, int polls, uint32_t intervalMs);

  // The state is not idle.
  bool isRunning() const;
  int state() const;

  // Where the platform allows it (Win32), suspends a running thread or resumes it. False when
  // nothing was done.
  bool suspend();
  bool resume();

  void* jobData() const { return jobData_; }

  // For the thread function.
  void setRunning();
  bool stopRequested() const { return state() == kStopRequested; }
  void setEnded() { setState(kIdle); }

 private:
  static void threadMain(void* arg);
  void setState(int s);
  void releaseHandle();  // caller holds mu_

  mutable std::mutex mu_;  // guards state_, thread_ and jobData_
  int state_ = kIdle;
  NativeThread* thread_ = nullptr;
  void* jobData_ = nullptr;
  Function fn_ = nullptr;
};

// The most threads one scan of a drive, or one pack or unpack, runs on.
constexpr int kMaxParallelThreads = 8;

// The threads a parallel job runs on for a thread setting: the setting itself when it is 1 to
// kMaxParallelThreads, otherwise (0 = automatic, or out of range) the machine's processors,
// at most kMaxParallelThreads.
int parallelThreads(int setting);

// Helper threads that all run one function to its end; the owner starts them together and
// joins them together. The function decides itself when to return (the owner signals it
// through the shared argument).
class HelperThreads {
 public:
  HelperThreads() = default;
  // Joins any threads still running: the function must be on its way out by then.
  ~HelperThreads() { join(); }
  HelperThreads(const HelperThreads&) = delete;
  HelperThreads& operator=(const HelperThreads&) = delete;

  // Starts up to count threads running fn(arg); returns how many could be started.
  size_t start(size_t count, ThreadFunction fn, void* arg);
  // Waits until every started thread has returned.
  void join();

 private:
  std::vector<NativeThread*> threads_;
};

// A 32-bit count with its own lock: the progress counters of a scan.
class Counter {
 public:
  void add(uint32_t n) {
    std::lock_guard<std::mutex> hold(mu_);
    value_ += n;
  }
  uint32_t get() const {
    std::lock_guard<std::mutex> hold(mu_);
    return value_;
  }
  void reset() {
    std::lock_guard<std::mutex> hold(mu_);
    value_ = 0;
  }

 private:
  mutable std::mutex mu_;  // guards value_
  uint32_t value_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_WORKER_H_
