// Unpacking arbitrary packed files. Whatever unpacks must pack and unpack again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"
#include "fuzz/scratch.h"

namespace {

// Scratch files reused across runs, rewritten through the write seam for each use.
std::string scratchPath(int i) { return fuzz_support::scratchFolder() + "/" + std::to_string(i); }

std::vector<uint8_t> contents(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) __builtin_trap();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

// Runs op from source into the scratch file i; false when op fails.
template <typename Op>
bool into(int i, FILE* source, Op op) {
  using namespace keldrun;
  std::unique_ptr<WritableFile> out =
      defaultFileSystem()->openWritable(scratchPath(i), WriteMode::kCreate);
  if (!out) __builtin_trap();
  bool ok = op(source, out.get(), nullptr, 1);  // one thread: the same path on every run
  return out->close() && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keldrun;
  if (size == 0) return 0;  // fmemopen wants at least one byte; an empty file has no header
  FILE* source = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!source) return 0;
  bool ok = into(0, source, unpack);
  std::fclose(source);
  if (ok) {
    std::vector<uint8_t> first = contents(scratchPath(0));
    FILE* plain = std::fopen(scratchPath(0).c_str(), "rb");
    if (!plain || !into(1, plain, pack)) __builtin_trap();
    std::fclose(plain);
    FILE* packed = std::fopen(scratchPath(1).c_str(), "rb");
    if (!packed || !into(2, packed, unpack)) __builtin_trap();
    std::fclose(packed);
    if (contents(scratchPath(2)) != first) __builtin_trap();
  }
  return 0;
}
