#include "engine/file_entry.h"

#include <algorithm>
#include <cstring>

namespace keldrun {

void appendFileEntry(std::vector<uint8_t>* out, const char16_t* name, size_t nameChars,
                     uint64_t lastWrite, uint64_t size) {
  size_t n = std::min(nameChars, kMaxFileNameChars);
  bool wide = needsWide(name, n);
  size_t at = out->size();
  out->resize(at + kFileEntryFixed);
  uint8_t* p = out->data() + at;
  putU16(p, encodeTextLength(n, wide));
  putU64(p + 2, lastWrite);
  putU64(p + 10, size);
  appendChars(out, name, n, wide);
}

bool FileEntry::parse(const uint8_t* p, size_t remaining, FileEntry* out) {
  if (remaining < kFileEntryFixed) return false;
  StoredText name = fileEntryName(p);
  size_t size = kFileEntryFixed + name.byteSize();
  if (size > remaining) return false;
  out->name = name;
  out->lastWrite = getU64(p + 2);
  out->size = getU64(p + 10);
  out->entrySize = size;
  return true;
}

StoredText fileEntryName(const uint8_t* entry) {
  StoredText t;
  t.bytes = entry + kFileEntryFixed;
  decodeTextLength(getU16(entry), &t.chars, &t.wide);
  return t;
}

int FileItemReader::order(const Item& a, const Item& b) const {
  return compareStored(fileEntryName(a.p), fileEntryName(b.p));
}

bool FileItemReader::differs(const Item& a, const Item& b) const {
  return std::memcmp(a.p + kFileEntryDataOffset, b.p + kFileEntryDataOffset, kFileEntryDataSize) != 0;
}

size_t FileItemReader::stepSize(const uint8_t* p, size_t remaining) const {
  if (remaining < kFileEntryFixed) return 0;
  return kFileEntryFixed + fileEntryName(p).byteSize();
}

}  // namespace keldrun
