// Packing and unpacking a snapshot for transfer on all the cores and on one, next to gzip at its
// default level and to pigz at the packs' level on as many threads, on the same file in the same
// run: median times, sizes, and the other tool's time over ours (above 1.0 means faster), and
// the CPU time a pack costs on all the threads against one (what the threads add). Packs
// use zlib level 3 in 512 KiB chunks, each compressed on its own, so the cores share them.
//
// Packs on all the threads and on one take turns, run by run: the speed of this virtual machine
// changes for seconds at a time (the host), and a job timed in one block would get another
// machine than the job timed after it. The other tools take turns after them: with a program
// started between every two runs, the runs on all threads here came out a third slower every
// other round. Every job writes its output to memory (/dev/shm, where there is one), so that no
// run waits for the disk to take an earlier run's file.
//
// usage: pack_bench [SNAPSHOT] [RUNS] [THREADS]
//   SNAPSHOT defaults to /tmp/keldrun_compare_bench/a.snp, the 300,000-file snapshot that
//   compare_bench leaves behind; RUNS defaults to 5; THREADS to the machine's processors (at
//   most 8). Needs gzip and pigz.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"
#include "engine/worker.h"

using namespace keldrun;

namespace {

using Clock = std::chrono::steady_clock;

// CPU time of this process, every thread, in seconds: unlike the wall time it does not grow when
// other programs hold the cores, so the CPU one pack costs on N threads against one thread says
// what the threads add (hand-offs, page faults, copies) even on a busy machine. Programs started
// by system() are not counted.
double cpuSeconds() {
  struct rusage u;
  if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double seconds = -1;  // the median wall time; -1 when a run failed
  double cpu = 0;       // this process's CPU time a run, on average
};

// Runs every job once a round, for the given number of rounds.
std::vector<Timing> timeInTurns(int runs, const std::vector<std::function<bool()>>& jobs) {
  std::vector<std::vector<double>> times(jobs.size());
  std::vector<Timing> timings(jobs.size());
  for (int round = 0; round < runs; round++) {
    for (size_t j = 0; j < jobs.size(); j++) {
      double cpu = cpuSeconds();
      auto t = Clock::now();
      if (!jobs[j]()) return std::vector<Timing>(jobs.size());
      times[j].push_back(std::chrono::duration<double>(Clock::now() - t).count());
      timings[j].cpu += (cpuSeconds() - cpu) / runs;
    }
  }
  for (size_t j = 0; j < jobs.size(); j++) {
    std::sort(times[j].begin(), times[j].end());
    timings[j].seconds = times[j][times[j].size() / 2];
  }
  return timings;
}

uint64_t sizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace

int main(int argc, char** argv) {
  std::string source = argc > 1 ? argv[1] : "/tmp/keldrun_compare_bench/a.snp";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (sizeOf(source) == 0) {
    std::fprintf(stderr, "pack_bench: no snapshot at %s (run compare_bench first, or name one)\n",
                 source.c_str());
    return 2;
  }
  struct stat shm;
  std::string out = ::stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode)
                        ? "/dev/shm/keldrun_pack_bench." + std::to_string(getpid())
                        : source + ".bench";
  std::string packed = out + ".snz", unpacked = out + ".snp", gz = out + ".gz";
  std::string gunzipped = out + ".raw", pz = out + ".pz";

  int threads = parallelThreads(argc > 3 ? std::atoi(argv[3]) : 0);
  FileSystem* fs = defaultFileSystem();
  auto shell = [](const std::string& command) { return std::system(command.c_str()) == 0; };
  std::string p = " -p" + std::to_string(threads) + " ";
  SnapshotInfo info;
  std::vector<Timing> ours = timeInTurns(runs, {
      [&] { return packFile(source, packed, nullptr, fs, threads); },
      [&] { return packFile(source, packed, nullptr, fs, 1); },
      [&] { return unpackFile(packed, unpacked, &info, nullptr, fs, threads); },
      [&] { return unpackFile(packed, unpacked, &info, nullptr, fs, 1); },
  });
  std::vector<Timing> theirs = timeInTurns(runs, {
      [&] { return shell("pigz -3" + p + "-c " + quoted(source) + " > " + quoted(pz)); },
      [&] { return shell("gzip -6 -c " + quoted(source) + " > " + quoted(gz)); },
      [&] { return shell("pigz -d" + p + "-c " + quoted(pz) + " > " + quoted(gunzipped)); },
      [&] { return shell("gzip -d -c " + quoted(gz) + " > " + quoted(gunzipped)); },
  });
  if (ours[0].seconds < 0 || theirs[0].seconds < 0) {
    std::fprintf(stderr, "pack_bench: a run failed (are gzip and pigz installed?)\n");
    return 2;
  }
  double pack = ours[0].seconds, pack1 = ours[1].seconds, packCpu = ours[0].cpu;
  double pack1Cpu = ours[1].cpu, unpack = ours[2].seconds, unpack1 = ours[3].seconds;
  double pigz = theirs[0].seconds, gzip = theirs[1].seconds, unpigz = theirs[2].seconds;
  double gunzip = theirs[3].seconds;

  double mb = double(sizeOf(source)) / 1e6;
  std::printf("snapshot %.1f MB, median of %d runs taken in turns, %d threads\n", mb, runs, threads);
  std::printf("pack:     %7.1f ms (%.0f MB/s), %.2f MB | 1 thread: %7.1f ms | ratio %.2f (target >= 1.70 on 2 cores)\n",
              pack * 1e3, mb / pack, double(sizeOf(packed)) / 1e6, pack1 * 1e3, pack1 / pack);
  std::printf("          CPU a pack: %.1f ms on %d threads, %.1f ms on 1 | %.2f times (1.00: the threads add nothing)\n",
              packCpu * 1e3, threads, pack1Cpu * 1e3, packCpu / pack1Cpu);
  std::printf("          pigz -3 -p%d: %7.1f ms, %.2f MB | ratio %.2f (target >= 0.90)\n", threads,
              pigz * 1e3, double(sizeOf(pz)) / 1e6, pigz / pack);
  std::printf("          gzip -6:    %7.1f ms, %.2f MB | ratio %.2f\n", gzip * 1e3,
              double(sizeOf(gz)) / 1e6, gzip / pack);
  std::printf("unpack:   %7.1f ms (%.0f MB/s)          | 1 thread: %7.1f ms | ratio %.2f\n",
              unpack * 1e3, mb / unpack, unpack1 * 1e3, unpack1 / unpack);
  std::printf("          pigz -d -p%d: %7.1f ms | ratio %.2f;  gzip -d: %7.1f ms | ratio %.2f\n", threads,
              unpigz * 1e3, unpigz / unpack, gunzip * 1e3, gunzip / unpack);
  for (const std::string& f : {packed, unpacked, gz, gunzipped, pz}) std::remove(f.c_str());
  return 0;
}
