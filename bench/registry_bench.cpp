// The POSIX registry seam: loading a Wine prefix's hive files and scanning HKEY_LOCAL_MACHINE
// into a snapshot file, in keys and values per second.
//
//   KELDRUN_BENCH_PREFIX=/path/to/prefix build/x/registry_bench
// Without the variable a machine hive of 120,000 generated keys is used. BM_ManyValues loads
// and scans 50,000 values held by one key and, beside it, by 50,000 keys of one value each.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/registry_scan.h"
#include "platform/memory_registry.h"
#include "platform/registry.h"

namespace keldrun {
namespace {

// A system.reg of `keys` keys in groups of 100, two values each.
std::string generatedHive(int keys) {
  std::string t = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
  char line[256];
  for (int i = 0; i < keys; i++) {
    std::snprintf(line, sizeof line,
                  "[Software\\\\KeldrunBench\\\\Group%04d\\\\Key%06d] 1700000000\n"
                  "#time=1d9c0a0b0c0d0e0\n\"Name\"=\"value number %d\"\n\"Count\"=dword:%08x\n\n",
                  i / 100, i, i, i);
    t += line;
  }
  return t;
}

std::shared_ptr<MemoryRegistry> load() {
  const char* prefix = std::getenv("KELDRUN_BENCH_PREFIX");
  if (prefix && *prefix) return loadPrefixRegistry(prefix, nullptr);
  static const std::string hive = generatedHive(120000);
  std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
  reg->loadHive(hive, u"", nullptr, nullptr);
  return reg;
}

// A system.reg of `values` values, all in one key or one in each of as many keys.
std::string valuesHive(int values, bool oneKey) {
  std::string t = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
  if (oneKey) t += "[Software\\\\KeldrunBench\\\\SharedDlls] 1700000000\n";
  char line[256];
  for (int i = 0; i < values; i++) {
    if (!oneKey) {
      std::snprintf(line, sizeof line, "[Software\\\\KeldrunBench\\\\Key%06d] 1700000000\n", i);
      t += line;
    }
    std::snprintf(line, sizeof line, "\"C:\\\\Program Files\\\\App%06d\\\\app.dll\"=dword:%08x\n", i, i % 7 + 1);
    t += line;
  }
  return t;
}

// Scans HKEY_LOCAL_MACHINE of env into a snapshot file at path, adding to the counts.
void scanMachine(Env* env, const std::string& path, uint64_t* keys, uint64_t* values) {
  SnapshotFile file;
  file.create(path);
  RegistryStore store(env);
  store.scan(&file, {u"hkey_local_machine\\"});
  SnapshotInfo info;
  file.finish(&info);
  file.close();
  *keys += store.keys();
  *values += store.values();
}

void BM_LoadHives(benchmark::State& state) {
  size_t keys = 0;
  for (auto _ : state) {
    std::shared_ptr<MemoryRegistry> reg = load();
    keys = reg->keyCount();
    benchmark::DoNotOptimize(reg);
  }
  state.counters["keys"] = double(keys);
  state.counters["keys/s"] = benchmark::Counter(double(keys) * double(state.iterations()),
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadHives)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanLocalMachine(benchmark::State& state) {
  std::shared_ptr<MemoryRegistry> reg = load();
  MemoryRegistryEnv env(reg);
  std::string path = (std::filesystem::temp_directory_path() / "keldrun_registry_bench.snp").string();
  uint64_t keys = 0, values = 0;
  for (auto _ : state) scanMachine(&env, path, &keys, &values);
  std::remove(path.c_str());
  state.counters["keys/s"] = benchmark::Counter(double(keys), benchmark::Counter::kIsRate);
  state.counters["values/s"] = benchmark::Counter(double(values), benchmark::Counter::kIsRate);
  state.counters["keys"] = double(keys) / double(state.iterations());
  state.counters["values"] = double(values) / double(state.iterations());
}
BENCHMARK(BM_ScanLocalMachine)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument 1: one key of 50,000 values; 0: 50,000 keys of one value.
void BM_ManyValues(benchmark::State& state) {
  const bool oneKey = state.range(0) == 1;
  const std::string hive = valuesHive(50000, oneKey);
  std::string path = (std::filesystem::temp_directory_path() / "keldrun_values_bench.snp").string();
  uint64_t keys = 0, values = 0;
  for (auto _ : state) {
    std::shared_ptr<MemoryRegistry> reg = MemoryRegistry::create();
    reg->loadHive(hive, u"", nullptr, nullptr);
    MemoryRegistryEnv env(reg);
    scanMachine(&env, path, &keys, &values);
  }
  std::remove(path.c_str());
  state.SetLabel(oneKey ? "one key of 50,000 values" : "50,000 keys of one value");
  state.counters["values"] = double(values) / double(state.iterations());
  state.counters["values/s"] = benchmark::Counter(double(values), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ManyValues)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace keldrun

BENCHMARK_MAIN();
