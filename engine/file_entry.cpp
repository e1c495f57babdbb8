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

namespace keldrun {

void FileItemReader::opened() {
  ext_.clear();
  extDamaged_ = false;
  size_t n = 0;
  if (!file_ || !file_->hasExtension() || !file_->readExtension(offset_, &extBlock_, &n)) return;
  FileExtensionDecoder decoder;
  bool sound = decoder.start(extBlock_.data(), n);
  for (size_t pos = 0; sound && pos < length_;) {
    size_t step = stepSize(block_.data() + pos, length_ - pos);
    if (step == 0 || step > length_ - pos) break;  // the entries' own damage, counted by next()
    FileExt e;
    sound = decoder.next(getU64(block_.data() + pos + kFileEntryDataOffset), &e);
    ext_.push_back(e);
    pos += step;
  }
  if (!sound || !decoder.atEnd()) {
    ext_.clear();
    extDamaged_ = true;
  }
}

void FileItemReader::checkExtra() {
  if (extDamaged_ && file_) file_->noteDamage(offset_);
}

const FileExt* FileItemReader::ext(const Item& item) const {
  return item.index < ext_.size() ? &ext_[item.index] : nullptr;
}

uint8_t FileItemReader::marks(const Item& a, const ItemListReader& other, const Item& b) const {
  const FileExt* x = ext(a);
  const FileExt* y = static_cast<const FileItemReader&>(other).ext(b);
  if (!x || !y) return 0;
  uint8_t m = 0;
  if (x->knowsIdentity() && y->knowsIdentity() && !x->sameIdentity(*y)) m |= kMarkReplaced;
  bool digestMoved = x->digestState == kDigestSha256 && y->digestState == kDigestSha256 &&
                     std::memcmp(x->sha256, y->sha256, kSha256Size) != 0;
  if (digestMoved) m |= kMarkDigestChanged;
  bool changeMoved = x->changeTime && y->changeTime && x->changeTime != y->changeTime;
  if ((changeMoved || digestMoved) && !differs(a, b)) m |= kMarkDateKept;
  return m;
}

}  // namespace keldrun
