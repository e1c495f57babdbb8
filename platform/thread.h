// Threads, sleeping and the high-resolution counter: the part of the platform seam that the
// scan workers run on. thread_posix.cpp implements it with pthreads, thread_win.cpp with the
// Win32 thread calls.
#ifndef KELDRUN_PLATFORM_THREAD_H_
#define KELDRUN_PLATFORM_THREAD_H_

#include <cstdint>

namespace keldrun {

// An operating-system thread. Opaque; created by createThread, released by closeThread.
struct NativeThread;

using ThreadFunction = void (*)(void* arg);

// Starts fn(arg) on a new thread. Null when the thread cannot be created.
NativeThread* createThread(ThreadFunction fn, void* arg);

// Blocks until the thread has returned from its function. May be called once per thread.
void waitThread(NativeThread* thread);

// Releases the handle. A thread that was waited for is gone; one that was not keeps running
// detached and frees its own resources when it returns.
void closeThread(NativeThread* thread);

// Suspends or resumes the thread. False where the platform cannot do it (POSIX).
bool suspendThread(NativeThread* thread);
bool resumeThread(NativeThread* thread);

// Ends the thread by force and waits until it is gone; the handle must still be closed.
// Whatever the thread was doing is abandoned half-way, so its job data may be inconsistent.
// False when the platform could not end it.
bool terminateThread(NativeThread* thread);

// The number of processors this process may run on; at least 1.
unsigned processorCount();

// Gives the rest of this time slice to other threads.
void yieldThread();
void sleepMilliseconds(uint32_t ms);

// The high-resolution counter and its ticks per second. False when the system cannot supply
// them.
bool readPerformanceCounter(uint64_t* value);
bool readPerformanceFrequency(uint64_t* ticksPerSecond);

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_THREAD_H_
