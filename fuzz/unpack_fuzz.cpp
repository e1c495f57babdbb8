// Unpacking arbitrary packed files. Whatever unpacks must pack and unpack again to the same bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/pack.h"
#include "engine/snapshot.h"

namespace {

// Scratch files reused across runs, emptied before each use.
FILE* scratch(int i) {
  static FILE* files[3] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
  if (!files[i] || std::fflush(files[i]) != 0 || ftruncate(fileno(files[i]), 0) != 0) __builtin_trap();
  std::rewind(files[i]);
  return files[i];
}

std::vector<uint8_t> contents(FILE* f) {
  std::vector<uint8_t> out;
  std::rewind(f);
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keldrun;
  if (size == 0) return 0;  // fmemopen wants at least one byte; an empty file has no header
  FILE* source = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!source) return 0;
  FILE* plain = scratch(0);
  bool ok = unpack(source, plain, nullptr);
  std::fclose(source);
  if (ok) {
    std::vector<uint8_t> first = contents(plain);
    FILE* packed = scratch(1);
    FILE* again = scratch(2);
    if (!pack(plain, packed, nullptr)) __builtin_trap();
    std::rewind(packed);
    if (!unpack(packed, again, nullptr)) __builtin_trap();
    if (contents(again) != first) __builtin_trap();
  }
  return 0;
}
