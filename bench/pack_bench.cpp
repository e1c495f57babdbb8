// Packing and unpacking a snapshot for transfer, next to gzip at its default level on the same
// file in the same run: median times, sizes, and gzip's time over ours (above 1.0 means faster
// than gzip). Packs use zlib level 3 in 512 KiB chunks: a little larger, a good deal faster.
//
// usage: pack_bench [SNAPSHOT] [RUNS]
//   SNAPSHOT defaults to /tmp/keldrun_compare_bench/a.snp, the 300,000-file snapshot that
//   compare_bench leaves behind; RUNS defaults to 5.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"

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

  double pack = medianSeconds(runs, [&] { return packFile(source, packed, nullptr); });
  double unpack = medianSeconds(runs, [&] {
    SnapshotInfo info;
    return unpackFile(packed, unpacked, &info, nullptr);
  });
  double gzip = medianSeconds(runs, [&] {
    return std::system(("gzip -6 -c " + quoted(source) + " > " + quoted(gz)).c_str()) == 0;
  });
  double gunzip = medianSeconds(runs, [&] {
    return std::system(("gzip -d -c " + quoted(gz) + " > " + quoted(gunzipped)).c_str()) == 0;
  });
  if (pack < 0 || unpack < 0 || gzip < 0 || gunzip < 0) {
    std::fprintf(stderr, "pack_bench: a run failed\n");
    return 2;
  }

  double mb = double(sizeOf(source)) / 1e6;
  std::printf("snapshot %.1f MB, median of %d runs\n", mb, runs);
  std::printf("pack:   %7.1f ms (%.0f MB/s), %.2f MB packed | gzip -6:   %7.1f ms, %.2f MB | ratio %.2f\n",
              pack * 1e3, mb / pack, double(sizeOf(packed)) / 1e6, gzip * 1e3, double(sizeOf(gz)) / 1e6,
              gzip / pack);
  std::printf("unpack: %7.1f ms (%.0f MB/s)                   | gzip -d:   %7.1f ms          | ratio %.2f\n",
              unpack * 1e3, mb / unpack, gunzip * 1e3, gunzip / unpack);
  for (const std::string& f : {packed, unpacked, gz, gunzipped}) std::remove(f.c_str());
  return 0;
}
