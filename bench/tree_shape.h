// The registry tree of the tree-expansion benchmark (bench/screens.sh --expand), shared by the
// program that writes its snapshot (screens_data --expand) and the bare tree-view program that
// fills the same tree (tree_expand_bench.exe --bare):
//   HKEY_LOCAL_MACHINE\SOFTWARE\Vendor00..60\Key000..199, 12,263 keys.
// Names are zero-padded, so that the order they are made in is the order the program shows.
#ifndef KELDRUN_BENCH_TREE_SHAPE_H_
#define KELDRUN_BENCH_TREE_SHAPE_H_

#include <cstdio>
#include <string>

namespace tree_shape {

constexpr int kDepth = 4;  // hive, SOFTWARE, vendor, key
constexpr int kChildren[kDepth] = {1, 61, 200, 0};  // children of each key at each depth
constexpr int kKeys = 1 + 1 + 61 + 61 * 200;

// The name of the i-th key at a depth (the hive alone at depth 0).
inline std::string name(int depth, int i) {
  static const char* const kPrefixes[kDepth] = {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Vendor", "Key"};
  if (depth < 2) return kPrefixes[depth];
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%0*d", kPrefixes[depth], depth == 2 ? 2 : 3, i);
  return buf;
}

}  // namespace tree_shape

#endif  // KELDRUN_BENCH_TREE_SHAPE_H_
