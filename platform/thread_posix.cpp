// Threads on POSIX: pthreads.
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "platform/thread.h"

namespace keldrun {

struct NativeThread {
  pthread_t id;
  ThreadFunction fn;
  void* arg;
  bool waited = false;
  // Two owners: the thread until it returns, the handle until it is closed. The last one frees
  // the record, so a detached thread never touches freed memory and never leaks it.
  std::atomic<int> owners{2};
};

namespace {

// Drops the thread's ownership when threadMain is left, also by the unwinding of a cancellation.
struct ThreadOwnership {
  NativeThread* t;
  ~ThreadOwnership() {
    if (t->owners.fetch_sub(1) == 1) delete t;
  }
};

void* threadMain(void* p) {
  NativeThread* t = static_cast<NativeThread*>(p);
  ThreadOwnership owned{t};
  t->fn(t->arg);
  return nullptr;
}

}  // namespace

NativeThread* createThread(ThreadFunction fn, void* arg) {
  NativeThread* t = new (std::nothrow) NativeThread;
  if (!t) return nullptr;
  t->fn = fn;
  t->arg = arg;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete t;
    return nullptr;
  }
  // The folder walk recurses once per level; leave it room whatever the system default is.
  pthread_attr_setstacksize(&attr, 8u << 20);
  int rc = pthread_create(&t->id, &attr, threadMain, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete t;
    return nullptr;
  }
  return t;
}

void waitThread(NativeThread* thread) {
  if (!thread || thread->waited) return;
  pthread_join(thread->id, nullptr);
  thread->waited = true;
}

void closeThread(NativeThread* thread) {
  if (!thread) return;
  if (!thread->waited) pthread_detach(thread->id);
  if (thread->owners.fetch_sub(1) == 1) delete thread;
}

bool suspendThread(NativeThread*) { return false; }
bool resumeThread(NativeThread*) { return false; }

// POSIX has no safe way to kill one thread of a process. The forced end asks for cancellation
// (deferred): the thread stops at its next cancellation point, in practice its next file-system
// or sleep call, with its C++ stack unwound, so the locks it holds through guards are released.
// A thread that loops without ever reaching a cancellation point cannot be ended, and this call
// then waits for it rather than let its job data be freed under it.
bool terminateThread(NativeThread* thread) {
  if (!thread) return false;
  if (thread->waited) return true;
  int rc = pthread_cancel(thread->id);
  if (rc != 0 && rc != ESRCH) return false;
  pthread_join(thread->id, nullptr);
  thread->waited = true;
  return true;
}

unsigned processorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return unsigned(n);
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? unsigned(n) : 1u;
}

void yieldThread() { sched_yield(); }

void sleepMilliseconds(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = time_t(ms / 1000);
  ts.tv_nsec = long(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool readPerformanceCounter(uint64_t* value) {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *value = uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
  return true;
}

bool readPerformanceFrequency(uint64_t* ticksPerSecond) {
  *ticksPerSecond = 1000000000ull;
  return true;
}

}  // namespace keldrun
