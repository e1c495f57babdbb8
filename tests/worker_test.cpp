// WorkerThread, counters, the progress and time texts, and the log.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/date_text.h"
#include "base/text.h"
#include "engine/log.h"
#include "engine/progress.h"
#include "engine/worker.h"
#include "platform/thread.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

TEST(ElapsedText, FormatsMinutesUnderAnHourAndUnwrappedHoursAbove) {
  struct Case {
    uint64_t ms;
    const char* text;
  } cases[] = {
      {0, "00:00"},          {999, "00:00"},         {59999, "00:59"},
      {60000, "01:00"},      {3599999, "59:59"},     {3600000, "01:00:00"},
      {90061000, "25:01:01"}, {360000000, "100:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(elapsedText(c.ms), c.text) << c.ms;
}

TEST(ProgressText, HoldsTheFiveCountersInOrder) {
  ScanCounts c;
  c.regKeys = 1;
  c.values = 22;
  c.folders = 333;
  c.files = 4444;
  c.applications = 5;
  EXPECT_EQ(progressText("01:02", c),
            "Elapsed 01:02\n 1 reg keys, 22 values\n 333 folders, 4444 files\n 5 applications");
  EXPECT_EQ(completionText("01:02:03", c),
            "Snapshot done in 01:02:03\n1 reg keys, 22 values\n333 folders, 4444 files\n5 applications");
}

// Runs the body with the TZ environment variable set, restoring it afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// 100 ns ticks since 1601 for a UTC civil time, computed independently of the code under test.
uint64_t fileTimeOf(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  int64_t unix = int64_t(timegm(&t));
  return uint64_t((unix + 11644473600LL) * 10000000LL);
}

TEST(FileTimeText, ZeroIsEmptyOtherTimesAreLocalWithADotBeforeSeconds) {
  EXPECT_EQ(fileTimeText(0), "");
  EXPECT_EQ(fileTimeTextW(0), u"");
  {
    TimeZone utc("UTC0");
    uint64_t ft = fileTimeOf(2024, 2, 29, 13, 45, 7) + 9999999;  // fractions do not round up
    EXPECT_EQ(fileTimeText(ft), "2024-02-29 13:45.07");
    EXPECT_EQ(fileTimeTextW(ft), u"2024-02-29 13:45.07");
    EXPECT_EQ(fileTimeText(fileTimeOf(1999, 12, 31, 23, 59, 59)), "1999-12-31 23:59.59");
    EXPECT_EQ(fileTimeText(1), "1601-01-01 00:00.00");
  }
  {
    TimeZone est("EST5");
    EXPECT_EQ(fileTimeText(fileTimeOf(2024, 1, 1, 5, 0, 0)), "2024-01-01 00:00.00");
    EXPECT_EQ(fileTimeText(fileTimeOf(2024, 1, 1, 4, 59, 30)), "2023-12-31 23:59.30");
  }
}

// The writer of many file times keeps each UTC day's offset: it must write what fileTimeText
// writes for every time, in zones whose offset changes at whole and half hours, on the days of
// the changes too, before 1970, and in years of more than four digits.
TEST(FileTimeWriter, WritesWhatFileTimeTextWritesInEveryZone) {
  const char* zones[] = {"UTC0", "EST5", "NST3:30NDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3",
                         "LHST-10:30LHDT-11,M10.1.0,M4.1.0", "XST+5:45:30"};
  const uint64_t kYear30000 = 8961859118450000000ull;  // 30000-01-02 03:04:05 UTC
  std::vector<uint64_t> times = {1, 0, fileTimeOf(1969, 12, 31, 23, 59, 59), fileTimeOf(1970, 1, 1, 0, 0, 0),
                                 fileTimeOf(1601, 1, 1, 0, 0, 1), fileTimeOf(9999, 12, 31, 23, 59, 59),
                                 kYear30000, ~uint64_t(0)};
  // Two years in steps of 599 seconds: every day, and near every change of the offset.
  for (uint64_t t = fileTimeOf(2021, 1, 1, 0, 0, 0); t < fileTimeOf(2023, 1, 1, 0, 0, 0); t += 599 * 10000000ull)
    times.push_back(t + 1234567);
  // And back and forth between far days, as the files of one folder are.
  for (uint64_t i = 0; i < 5000; i++) times.push_back(fileTimeOf(1990, 1, 1, 0, 0, 0) + (i * 7919 % 5000) * 86400123456789ull / 1000);
  for (const char* zone : zones) {
    TimeZone tz(zone);
    FileTimeWriter writer;
    for (uint64_t t : times) {
      std::string out = "x";
      writer.append(&out, t);
      ASSERT_EQ(out, "x" + fileTimeText(t)) << zone << " at " << t;
    }
  }
  TimeZone utc("UTC0");
  EXPECT_EQ(fileTimeText(kYear30000), "30000-01-02 03:04.05");
  EXPECT_EQ(snapshotDateText(std::time_t(-30641662560LL)), " 999-01-02 03:04")  // 0999-01-02 03:04 UTC
      << "years below 1000 keep their width of four";
}

TEST(SnapshotDateText, IsLocalTimeWithoutSeconds) {
  TimeZone tz("EST5");
  struct tm t = {};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 4;
  t.tm_hour = 3;
  t.tm_min = 7;
  t.tm_sec = 59;
  EXPECT_EQ(snapshotDateText(timegm(&t)), "2026-03-03 22:07");
  EXPECT_EQ(snapshotDateNow().size(), 16u);
}

TEST(FileTimeFromUnix, CountsHundredsOfNanosecondsSince1601AndClamps) {
  EXPECT_EQ(fileTimeFromUnix(0, 0), 116444736000000000ull);
  EXPECT_EQ(fileTimeFromUnix(1, 199), 116444736000000000ull + 10000001);
  EXPECT_EQ(fileTimeFromUnix(-1, 0), 116444736000000000ull - 10000000);
  EXPECT_EQ(fileTimeFromUnix(-11644473600LL, 0), 0u);
  EXPECT_EQ(fileTimeFromUnix(-11644473601LL, 0), 1u);  // before 1601: the first tick, not "none"
  EXPECT_EQ(fileTimeFromUnix(INT64_MAX / 2, 0), ~uint64_t(0));
}

TEST(Stopwatch, MeasuresForwards) {
  Stopwatch w;
  double a = w.elapsedSeconds();
  sleepMilliseconds(2);
  double b = w.elapsedSeconds();
  EXPECT_GE(a, 0.0);
  EXPECT_GT(b, a);
}

TEST(Counter, AddsFromManyThreadsWithoutLosingCounts) {
  Counter c;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([&c] {
      for (int i = 0; i < 50000; i++) c.add(1);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(c.get(), 200000u);
  c.reset();
  EXPECT_EQ(c.get(), 0u);
}

// A job that runs until asked to stop, counting its rounds.
struct Job {
  std::atomic<int> rounds{0};
  std::atomic<bool> ignoreStop{false};
  std::atomic<bool> finished{false};
};

void cooperativeMain(WorkerThread* self) {
  Job* job = static_cast<Job*>(self->jobData());
  self->setRunning();
  while (job->ignoreStop || !self->stopRequested()) {
    job->rounds++;
    sleepMilliseconds(1);
  }
  job->finished = true;
  self->setEnded();
}

void waitUntilIdle(WorkerThread* w) {
  for (int i = 0; i < 10000 && w->isRunning(); i++) sleepMilliseconds(1);
}

TEST(WorkerThread, StopOnAnIdleWorkerReturnsTrueAtOnce) {
  WorkerThread w;
  EXPECT_FALSE(w.isRunning());
  EXPECT_EQ(w.state(), WorkerThread::kIdle);
  EXPECT_TRUE(w.stop(false));
  EXPECT_TRUE(w.stop(true));
}

TEST(WorkerThread, StopWithoutWaitRequestsAndLeavesStateTwoUntilTheThreadEnds) {
  Job job;
  WorkerThread w;
  ASSERT_TRUE(w.start(cooperativeMain, &job));
  EXPECT_TRUE(w.isRunning());
  while (job.rounds == 0) sleepMilliseconds(1);
  job.ignoreStop = true;
  EXPECT_FALSE(w.stop(false));
  EXPECT_EQ(w.state(), WorkerThread::kStopRequested);
  sleepMilliseconds(5);
  EXPECT_EQ(w.state(), WorkerThread::kStopRequested);
  job.ignoreStop = false;
  waitUntilIdle(&w);
  EXPECT_EQ(w.state(), WorkerThread::kIdle);
  EXPECT_TRUE(job.finished);
  EXPECT_TRUE(w.stop(false));
}

TEST(WorkerThread, StopRightAfterStartNeverReportsAnEndThatHasNotHappened) {
  for (int i = 0; i < 50; i++) {
    Job job;
    WorkerThread w;
    ASSERT_TRUE(w.start(cooperativeMain, &job));
    // The thread may not have run a single instruction yet; it must still see the request.
    EXPECT_FALSE(w.stop(false));
    EXPECT_TRUE(w.stop(true, 10000, 1));
    EXPECT_TRUE(job.finished);
  }
}

TEST(WorkerThread, WaitedStopReturnsOnceEndedAndTheWorkerCanStartAgain) {
  Job job;
  WorkerThread w;
  ASSERT_TRUE(w.start(cooperativeMain, &job));
  EXPECT_TRUE(w.stop(true));
  EXPECT_TRUE(job.finished);
  EXPECT_FALSE(w.isRunning());
  Job second;
  ASSERT_TRUE(w.start(cooperativeMain, &second));
  while (second.rounds == 0) sleepMilliseconds(1);
  EXPECT_TRUE(w.stop(true));
  EXPECT_TRUE(second.finished);
}

TEST(WorkerThread, AThreadThatIgnoresTheStopIsEndedByForce) {
#if defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
  // The forced end cancels the thread; AddressSanitizer misreads the unwinding of a cancelled
  // thread's stack as an underflow.
  GTEST_SKIP() << "thread cancellation is not supported under AddressSanitizer";
#endif
  Job job;
  job.ignoreStop = true;
  WorkerThread w;
  ASSERT_TRUE(w.start(cooperativeMain, &job));
  while (job.rounds == 0) sleepMilliseconds(1);
  EXPECT_TRUE(w.stop(true, 3, 5));
  EXPECT_EQ(w.state(), WorkerThread::kIdle);
  EXPECT_FALSE(job.finished);
  int rounds = job.rounds;
  sleepMilliseconds(20);
  EXPECT_EQ(job.rounds, rounds);  // the thread is gone, not merely forgotten
}

TEST(WorkerThread, SuspendIsRefusedWhereThePlatformCannotDoIt) {
  Job job;
  WorkerThread w;
  EXPECT_FALSE(w.suspend());  // idle: nothing to suspend on any platform
  ASSERT_TRUE(w.start(cooperativeMain, &job));
#ifndef _WIN32
  EXPECT_FALSE(w.suspend());
  EXPECT_FALSE(w.resume());
#endif
  EXPECT_TRUE(w.stop(true));
}

class LogTest : public ::testing::Test {
 protected:
  testing_support::TempFolder dir_;
};

TEST_F(LogTest, EntriesFollowOneAnotherWithALineEndEach) {
  std::string path = dir_ / "KeldrunLog.txt";
  ScanCounts c;
  c.folders = 2;
  std::string first = completionText("00:01", c);
  c.files = 7;
  std::string second = completionText("00:02", c);
  ASSERT_TRUE(appendLog(first, path));
  ASSERT_TRUE(appendLog(second, path));
  std::string logged = testing_support::readText(path);
#ifdef _WIN32
  // A text-mode file: every line end is written as CR LF.
  for (size_t at = 0; (at = logged.find("\r\n", at)) != std::string::npos;) logged.erase(at, 1);
#endif
  EXPECT_EQ(logged, first + "\n" + second + "\n");
  EXPECT_EQ(logged,
            "Snapshot done in 00:01\n0 reg keys, 0 values\n2 folders, 0 files\n0 applications\n"
            "Snapshot done in 00:02\n0 reg keys, 0 values\n2 folders, 7 files\n0 applications\n");
}

TEST_F(LogTest, ALogThatCannotBeOpenedIsIgnored) {
  // A folder where the log should be cannot be opened for appending, whoever we run as.
  std::string path = dir_ / "KeldrunLog.txt";
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  EXPECT_FALSE(appendLog("Snapshot done in 00:00", path));
  EXPECT_FALSE(appendLog("x", dir_ / "missing/KeldrunLog.txt"));
}

}  // namespace
}  // namespace keldrun
