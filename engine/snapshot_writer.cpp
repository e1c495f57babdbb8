// Writing a snapshot file: the scan threads append table blocks and roots, finish writes the
// tail and the header, rewriteInfo replaces the info record. The layout is in snapshot_format.h.
#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "base/files.h"
#include "base/text.h"
#include "engine/file_extension.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"

namespace keldrun {

namespace {

void putField(uint8_t* p, size_t fieldSize, const std::string& s) {
  size_t n = s.size() < fieldSize - 1 ? s.size() : fieldSize - 1;
  std::memcpy(p, s.data(), n);
}

// Puts the UTF-8 name into its field and returns whether it went in as UTF-8. A name that fits
// in 8 bits is stored one byte per character, so that every reader, old or new, shows it.
bool putName(uint8_t* p, const std::string& name) {
  std::string utf8 = validUtf8(name);
  std::u16string chars = fromUtf8(utf8);
  if (!needsWide(chars)) {
    putField(p, kInfoNameSize, lowBytes(chars));
    return false;
  }
  size_t n = kInfoNameSize - 1;
  if (utf8.size() > n) {
    while (n > 0 && (uint8_t(utf8[n]) & 0xC0) == 0x80) n--;  // back to the character's first byte
    utf8.resize(n);
  }
  putField(p, kInfoNameSize, utf8);
  return true;
}

void encodeInfoRecord(const SnapshotInfo& info, bool namedDigests, uint32_t extensionOffset,
                      uint8_t* r) {
  std::memset(r, 0, kInfoSize);
  r[kInfoReserved] = '0';
  if (namedDigests) std::memcpy(r + kInfoNamesMarker, kNamesMarker, sizeof kNamesMarker);
  if (extensionOffset) {
    std::memcpy(r + kInfoExtensionMarker, kExtensionMarker, sizeof kExtensionMarker);
    putU32(r + kInfoExtensionOffset, extensionOffset);
  }
  putU32(r + kInfoNumber, uint32_t(info.number));
  if (putName(r + kInfoName, info.name))
    std::memcpy(r + kInfoUtf8NameMarker, kUtf8NameMarker, sizeof kUtf8NameMarker);
  putField(r + kInfoComputer, kInfoComputerSize, info.computer);
  putField(r + kInfoDate, kInfoDateSize, info.date);
  putU32(r + kInfoFileSize, info.size);
  putU32(r + kInfoListsSize, info.listsSize);
  for (int i = 0; i < kSectionCount; i++) {
    putU32(r + kInfoListCounts + 4 * i, info.listCount[i]);
    putU32(r + kInfoListOffsets + 4 * i, info.listOffset[i]);
  }
}

void encodeHeader(const SnapshotInfo& info, uint8_t* h) {
  std::memcpy(h, kTagCurrent, kTagSize);
  for (int i = 0; i < kSectionCount; i++) putU32(h + kHeaderSectionOffsets + 4 * i, info.sectionOffset[i]);
  putU32(h + kHeaderInfoOffset, info.infoOffset);
}

}  // namespace

bool SnapshotFile::create(const std::string& path, bool exclusive) {
  close();
  std::unique_ptr<WritableFile> out = fs_->openWritable(path, exclusive ? WriteMode::kCreateNew : WriteMode::kCreate);
  if (!out) return false;
  std::lock_guard<std::mutex> lock(writeLock_);
  out_ = std::move(out);
  path_ = path;
  writePos_ = 0;
  writeFailed_ = false;
  writing_ = true;
  fileSize_ = 0;
  blockReads_ = 0;
  namedDigests_ = true;
  extensionWritten_.clear();
  extensionOffset_ = 0;
  SnapshotInfo blank;
  uint8_t header[kHeaderSize];
  encodeHeader(blank, header);
  appendLocked(nullptr, 0, header, kHeaderSize);
  return true;
}

bool SnapshotFile::writeRaw(const uint8_t* bytes, size_t n) {
  return n == 0 || out_->append(bytes, n);
}

uint32_t SnapshotFile::appendLocked(const uint8_t* head, size_t headSize, const uint8_t* bytes,
                                    size_t n) {
  if (!out_ || !writing_ || writeFailed_) return 0;
  // Once a write has failed the file no longer ends at writePos_; nothing more is written and
  // finish reports the loss.
  uint64_t total = uint64_t(headSize) + n;
  if (total > kMaxFileSize - writePos_) {
    writeFailed_ = true;
    return 0;
  }
  if (!writeRaw(head, headSize) || !writeRaw(bytes, n)) {
    writeFailed_ = true;
    return 0;
  }
  uint32_t at = uint32_t(writePos_);
  writePos_ += total;
  return at;
}

uint32_t SnapshotFile::appendBlock(const uint8_t* bytes, size_t length) {
  std::lock_guard<std::mutex> lock(writeLock_);
  return appendLocked(nullptr, 0, bytes, length);
}

uint32_t SnapshotFile::appendTable(const uint8_t* entries, size_t n) {
  if (n == 0) return 0;
  uint8_t head[kBlockLengthSize];
  putU32(head, uint32_t(n));
  std::lock_guard<std::mutex> lock(writeLock_);
  if (n > kMaxFileSize) {
    writeFailed_ = true;
    return 0;
  }
  return appendLocked(head, sizeof head, entries, n);
}

uint32_t SnapshotFile::writeTable(TableBuilder* table, bool sort, uint32_t* digest) {
  if (digest) *digest = 0;
  if (table->empty()) return 0;
  if (sort) table->sortByName(treeEntryName);
  uint32_t crc = 0;
  for (size_t k = 0; k < table->count(); k++) {
    size_t i = table->indexAt(k);
    crc = chainChildDigest(crc, table->entry(i), table->entrySize(i), namedDigests_);
  }
  if (digest) *digest = crc;
  // One scratch buffer per thread: tables are written at every folder and key of a scan.
  thread_local std::vector<uint8_t> scratch;
  scratch.clear();
  table->serialize(&scratch);
  table->clear();
  return appendTable(scratch.data(), scratch.size());
}

uint32_t chainChildDigest(uint32_t crc, const uint8_t* entry, size_t size, bool names) {
  crc = uint32_t(crc32(crc, entry, kTreeDigestSize));
  if (names && size > kTreeNameLength)
    crc = uint32_t(crc32(crc, entry + kTreeNameLength, uInt(size - kTreeNameLength)));
  return crc;
}

void SnapshotFile::addRoot(int section, const std::u16string& name, uint32_t childHash,
                           uint32_t contentHash, uint32_t childTable, uint32_t contentTable) {
  if (section < 0 || section >= kSectionCount) return;
  std::lock_guard<std::mutex> lock(writeLock_);
  TableBuilder& roots = roots_[section];
  size_t i = roots.addTreeEntry(name);
  roots.setTreeFields(i, childHash, contentHash, childTable, contentTable);
}

void SnapshotFile::addExtension(uint32_t table, uint32_t block, uint32_t hash) {
  if (table == 0) return;
  std::lock_guard<std::mutex> lock(writeLock_);
  extensionWritten_.push_back({table, block, hash, 0});
}

bool SnapshotFile::finish(SnapshotInfo* info) {
  if (!out_ || !writing_) return false;
  if (!extensionWritten_.empty() && !dropExtension_) {
    std::sort(extensionWritten_.begin(), extensionWritten_.end(),
              [](const ExtensionRecord& a, const ExtensionRecord& b) { return a.table < b.table; });
    std::vector<uint8_t> index;
    index.reserve(extensionWritten_.size() * kExtensionIndexRecord);
    for (const ExtensionRecord& r : extensionWritten_) {
      appendU32(&index, r.table);
      appendU32(&index, r.block);
      appendU32(&index, r.hash);
    }
    extensionOffset_ = appendTable(index.data(), index.size());
  }
  uint32_t digest;
  info->sectionOffset[0] = writeTable(&roots_[0], true, &digest);
  info->sectionOffset[1] = writeTable(&roots_[1], true, &digest);
  info->sectionOffset[2] = writeTable(&roots_[2], false, &digest);

  std::lock_guard<std::mutex> lock(writeLock_);
  std::vector<uint8_t> lists;
  uint64_t base = writePos_;
  for (int i = 0; i < kSectionCount; i++) {
    const FilterList& list = info->filterList[i];
    info->listOffset[i] = uint32_t(base + lists.size());
    info->listCount[i] = uint32_t(list.size());
    info->sectionState[i] = stateFromList(list);
    for (const std::u16string& item : list) {
      size_t n = item.size() & kListLengthMask;
      bool wide = needsWide(item.data(), n);
      appendU32(&lists, uint32_t(n) | (wide ? kWideFlag32 : 0));
      appendChars(&lists, item.data(), n, wide);
    }
  }
  info->listsSize = uint32_t(lists.size());
  appendLocked(nullptr, 0, lists.data(), lists.size());

  info->infoOffset = uint32_t(writePos_);
  info->size = uint32_t(writePos_ + kInfoSize);
  uint8_t record[kInfoSize];
  encodeInfoRecord(*info, namedDigests_, extensionOffset_, record);
  appendLocked(nullptr, 0, record, kInfoSize);
  if (writeFailed_) {
    writing_ = false;
    return false;
  }

  uint8_t header[kHeaderSize];
  encodeHeader(*info, header);
  bool ok = out_->writeAt(0, header, kHeaderSize) && out_->flush();
  writing_ = false;
  if (!ok) writeFailed_ = true;
  return ok;
}

uint32_t SnapshotFile::rewriteInfo(SnapshotInfo* info, uint32_t offset) {
  std::lock_guard<std::mutex> lock(writeLock_);
  if (!file_ || writing_) return 0;
  // offset 0 appends; any other offset must not leave a hole past the end of the file.
  uint64_t at = offset == 0 ? fileSize_ : offset;
  if (at > fileSize_ || at < kHeaderSize || at > kMaxFileSize - kInfoSize) return 0;
  // A read-only snapshot (copied from a read-only medium, say) opens for viewing; only this
  // write needs the file writable.
  std::unique_ptr<WritableFile> out = fs_->openWritable(path_, WriteMode::kUpdate);
  if (!out) return 0;
  info->size = uint32_t(at + kInfoSize);
  uint8_t record[kInfoSize];
  encodeInfoRecord(*info, namedDigests_, extensionOffset_, record);
  bool written = out->writeAt(at, record, kInfoSize);
  if (!out->close() || !written) return 0;
  if (at + kInfoSize > fileSize_) fileSize_ = at + kInfoSize;
  kept_.clear();  // it may hold the record as it was
  return uint32_t(at);
}

}  // namespace keldrun
