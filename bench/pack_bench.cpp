// Packing and unpacking a snapshot for transfer on all the cores and on one, next to gzip at its
// default level and to pigz at the packs' level on as many threads, on the same file in the same
// run: median times, sizes, and the other tool's time over ours (above 1.0 means faster), and
// the CPU time a pack costs on all the threads against one (what the threads add). Packs
// use zlib level 3 in 512 KiB chunks, each compressed on its own, so the cores share them.
//
// usage: pack_bench [SNAPSHOT] [RUNS] [THREADS]
//   SNAPSHOT defaults to /tmp/keldrun_compare_bench/a.snp, the 300,000-file snapshot that
//   compare_bench leaves behind; RUNS defaults to 5; THREADS to the machine's processors (at
//   most 8). Needs gzip and pigz.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"
#include "engine/worker.h"

using namespace keldrun;

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double medianSeconds(int runs, F work) {
  std::vector<double> times;
  for (int i = 0; i < runs; i++) {
    auto t = Clock::now();
    if (!work()) return -1;
    times.push_back(std::chrono::duration<double>(Clock::now() - t).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// CPU time of this process, every thread, in seconds: unlike the wall time it does not grow when
// other programs hold the cores, so the CPU one pack costs on N threads against one thread says
// what the threads add (hand-offs, page faults, copies) even on a busy machine.
double cpuSeconds() {
  struct rusage u;
  if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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
  std::string packed = source + ".bench.snz", unpacked = source + ".bench.snp";
  std::string gz = source + ".bench.gz", gunzipped = source + ".bench.raw";

  int threads = parallelThreads(argc > 3 ? std::atoi(argv[3]) : 0);
  std::string pz = source + ".bench.pz";
  FileSystem* fs = defaultFileSystem();
  double cpu = cpuSeconds();
  double pack = medianSeconds(runs, [&] { return packFile(source, packed, nullptr, fs, threads); });
  double packCpu = (cpuSeconds() - cpu) / runs;
  cpu = cpuSeconds();
  double pack1 = medianSeconds(runs, [&] { return packFile(source, packed, nullptr, fs, 1); });
  double pack1Cpu = (cpuSeconds() - cpu) / runs;
  double unpack = medianSeconds(runs, [&] {
    SnapshotInfo info;
    return unpackFile(packed, unpacked, &info, nullptr, fs, threads);
  });
  double unpack1 = medianSeconds(runs, [&] {
    SnapshotInfo info;
    return unpackFile(packed, unpacked, &info, nullptr, fs, 1);
  });
  double gzip = medianSeconds(runs, [&] {
    return std::system(("gzip -6 -c " + quoted(source) + " > " + quoted(gz)).c_str()) == 0;
  });
  double gunzip = medianSeconds(runs, [&] {
    return std::system(("gzip -d -c " + quoted(gz) + " > " + quoted(gunzipped)).c_str()) == 0;
  });
  std::string p = " -p" + std::to_string(threads) + " ";
  double pigz = medianSeconds(runs, [&] {
    return std::system(("pigz -3" + p + "-c " + quoted(source) + " > " + quoted(pz)).c_str()) == 0;
  });
  double unpigz = medianSeconds(runs, [&] {
    return std::system(("pigz -d" + p + "-c " + quoted(pz) + " > " + quoted(gunzipped)).c_str()) == 0;
  });
  if (pack < 0 || pack1 < 0 || unpack < 0 || unpack1 < 0 || gzip < 0 || gunzip < 0 || pigz < 0 ||
      unpigz < 0) {
    std::fprintf(stderr, "pack_bench: a run failed (are gzip and pigz installed?)\n");
    return 2;
  }

  double mb = double(sizeOf(source)) / 1e6;
  std::printf("snapshot %.1f MB, median of %d runs, %d threads\n", mb, runs, threads);
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
