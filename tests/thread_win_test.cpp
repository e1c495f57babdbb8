// The Win32 thread seam: what only Windows offers (suspend, resume, forced end) on real threads.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/thread.h"

namespace keldrun {
namespace {

struct Spinner {
  std::atomic<uint64_t> count{0};
  std::atomic<bool> quit{false};
};

void spin(void* p) {
  auto* s = static_cast<Spinner*>(p);
  while (!s->quit.load()) s->count.fetch_add(1);
}

void spinForever(void* p) {
  auto* s = static_cast<Spinner*>(p);
  for (;;) s->count.fetch_add(1);
}

// Waits until the spinner has moved past `from`; false when it never does (a generous bound, so
// that only a thread that is not running fails it).
bool advances(const Spinner& s, uint64_t from) {
  for (int i = 0; i < 20000; i++) {
    if (s.count.load() > from) return true;
    sleepMilliseconds(1);
  }
  return false;
}

// Starts `body` on s and returns once it has run; null when it cannot be started or never runs.
NativeThread* startSpinning(void (*body)(void*), Spinner* s) {
  NativeThread* t = createThread(body, s);
  if (t && !advances(*s, 0)) {
    ADD_FAILURE() << "the thread never ran";
    return nullptr;
  }
  return t;
}

TEST(ThreadWin, SuspendedThreadMakesNoProgressUntilResumed) {
  Spinner s;
  NativeThread* t = startSpinning(spin, &s);
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(suspendThread(t));
  sleepMilliseconds(20);  // the suspension takes effect at the thread's next scheduling point
  uint64_t frozen = s.count.load();
  sleepMilliseconds(50);
  EXPECT_EQ(s.count.load(), frozen);
  ASSERT_TRUE(resumeThread(t));
  EXPECT_TRUE(advances(s, frozen));
  s.quit = true;
  waitThread(t);
  // A thread that has been waited for can be neither suspended nor resumed.
  EXPECT_FALSE(suspendThread(t));
  EXPECT_FALSE(resumeThread(t));
  closeThread(t);
}

TEST(ThreadWin, ForcedEndStopsAThreadThatNeverReturns) {
  Spinner s;
  NativeThread* t = startSpinning(spinForever, &s);
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(terminateThread(t));
  uint64_t after = s.count.load();
  sleepMilliseconds(30);
  EXPECT_EQ(s.count.load(), after);
  waitThread(t);                    // returns at once: the thread is gone
  EXPECT_TRUE(terminateThread(t));  // ending it again is harmless
  closeThread(t);
}

TEST(ThreadWin, ForcedEndOfASuspendedThread) {
  Spinner s;
  NativeThread* t = startSpinning(spinForever, &s);
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(suspendThread(t));
  EXPECT_TRUE(terminateThread(t));
  closeThread(t);
}

TEST(ThreadWin, ClosedHandleLeavesTheThreadRunning) {
  static Spinner s;  // outlives the test: the thread reads it after its handle is gone
  NativeThread* t = createThread(spin, &s);
  ASSERT_NE(t, nullptr);
  closeThread(t);
  EXPECT_TRUE(advances(s, s.count.load()));
  s.quit = true;
}

TEST(ThreadWin, PerformanceCounterMovesForward) {
  uint64_t f = 0, a = 0, b = 0;
  ASSERT_TRUE(readPerformanceFrequency(&f));
  EXPECT_GT(f, 0u);
  ASSERT_TRUE(readPerformanceCounter(&a));
  sleepMilliseconds(5);
  ASSERT_TRUE(readPerformanceCounter(&b));
  EXPECT_GT(b, a);
}

}  // namespace
}  // namespace keldrun
