// Threads on Windows: the Win32 thread calls.
#include <windows.h>

#include <new>

#include "platform/thread.h"

namespace keldrun {

struct NativeThread {
  HANDLE handle = nullptr;
  bool waited = false;
};

namespace {

// What the new thread runs. The thread owns it alone and frees it before it calls fn, so the
// handle's record can be closed at any time. Only a thread ended by force before its first
// instruction leaves it behind.
struct StartBlock {
  ThreadFunction fn;
  void* arg;
};

DWORD WINAPI threadMain(LPVOID p) {
  StartBlock start = *static_cast<StartBlock*>(p);
  delete static_cast<StartBlock*>(p);
  start.fn(start.arg);
  return 0;
}

}  // namespace

NativeThread* createThread(ThreadFunction fn, void* arg) {
  NativeThread* t = new (std::nothrow) NativeThread;
  StartBlock* start = new (std::nothrow) StartBlock{fn, arg};
  if (!t || !start) {
    delete t;
    delete start;
    return nullptr;
  }
  // The folder walk recurses once per level; reserve room for it whatever the executable's
  // default stack is.
  t->handle = CreateThread(nullptr, 8u << 20, threadMain, start, STACK_SIZE_PARAM_IS_A_RESERVATION,
                           nullptr);
  if (!t->handle) {
    delete start;
    delete t;
    return nullptr;
  }
  return t;
}

void waitThread(NativeThread* thread) {
  if (!thread || thread->waited) return;
  WaitForSingleObject(thread->handle, INFINITE);
  thread->waited = true;
}

void closeThread(NativeThread* thread) {
  if (!thread) return;
  CloseHandle(thread->handle);
  delete thread;
}

bool suspendThread(NativeThread* thread) {
  return thread && !thread->waited && SuspendThread(thread->handle) != DWORD(-1);
}

bool resumeThread(NativeThread* thread) {
  return thread && !thread->waited && ResumeThread(thread->handle) != DWORD(-1);
}

// TerminateThread ends the thread wherever it is, also while suspended. Locks it held stay
// held and the memory it owned is lost; the caller accepts that by asking for a forced end.
bool terminateThread(NativeThread* thread) {
  if (!thread) return false;
  if (thread->waited) return true;
  if (!TerminateThread(thread->handle, 1) && WaitForSingleObject(thread->handle, 0) != WAIT_OBJECT_0)
    return false;
  WaitForSingleObject(thread->handle, INFINITE);
  thread->waited = true;
  return true;
}

unsigned processorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? unsigned(info.dwNumberOfProcessors) : 1u;
}

void yieldThread() { SwitchToThread(); }

void sleepMilliseconds(uint32_t ms) { Sleep(ms); }

bool readPerformanceCounter(uint64_t* value) {
  LARGE_INTEGER v;
  if (!QueryPerformanceCounter(&v)) return false;
  *value = uint64_t(v.QuadPart);
  return true;
}

bool readPerformanceFrequency(uint64_t* ticksPerSecond) {
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) return false;
  *ticksPerSecond = uint64_t(f.QuadPart);
  return true;
}

}  // namespace keldrun
