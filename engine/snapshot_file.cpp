// The snapshot object and everything that reads a snapshot file. Writing is in
// snapshot_writer.cpp; the layout is in snapshot_format.h.
#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "base/date_text.h"
#include "base/files.h"
#include "base/native_file.h"
#include "base/text.h"
#include "engine/file_extension.h"
#include "engine/snapshot.h"
#include "engine/snapshot_format.h"
#include "platform/env.h"

namespace keldrun {

SectionState stateFromList(const FilterList& list) {
  if (list.empty()) return SectionState::NotScanned;
  if (!list[0].empty() && list[0][0] == u'*') return SectionState::Full;
  return SectionState::Partial;
}

const char* sectionStateText(SectionState state) {
  switch (state) {
    case SectionState::Full:
      return "full";
    case SectionState::Partial:
      return "partial";
    default:
      return "-";
  }
}

void SnapshotInfo::fillNew(const std::string& newName, int32_t newNumber,
                           const FilterList lists[kSectionCount]) {
  Env* env = defaultEnv();
  std::string host = env ? lowBytes(env->computerName()) : std::string();
  if (host.size() > kComputerNameBuffer - 1) host.resize(kComputerNameBuffer - 1);
  computer = host;

  date = snapshotDateNow();

  name = newName;
  number = newNumber;
  tag.clear();
  for (int i = 0; i < kSectionCount; i++) filterList[i] = lists[i];
}

int SnapshotInfo::formatVersion() const {
  if (tag == kTagOldest) return kVersionOldest;
  if (tag == kTagPrevious) return kVersionPrevious;
  if (tag == kTagCurrent) return kVersionCurrent;
  return 0;
}

bool TreeEntry::parse(Slice* s, TreeEntry* out) {
  Slice t = *s;
  uint32_t childHash, contentHash, childTable, contentTable;
  StoredText name;
  if (!t.readU32(&childHash) || !t.readU32(&contentHash) || !t.readU32(&childTable) ||
      !t.readU32(&contentTable) || !t.readText(&name.bytes, &name.chars, &name.wide)) {
    return false;
  }
  out->childHash = childHash;
  out->contentHash = contentHash;
  out->childTable = childTable;
  out->contentTable = contentTable;
  out->name = name;
  out->size = kTreeEntryFixed + name.byteSize();
  out->childrenDiffer = -1;
  *s = t;
  return true;
}

SnapshotFile::SnapshotFile(FileSystem* fs) : fs_(fs) {}

SnapshotFile::~SnapshotFile() { close(); }

bool SnapshotFile::close() {
  bool ok = true;
  if (out_) {
    ok = out_->close();
    out_.reset();
  }
  nativeUnmap(view_, viewSize_);
  view_ = nullptr;
  viewSize_ = 0;
  if (file_ && std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  writing_ = false;
  fileSize_ = 0;
  readPos_ = 0;
  kept_.clear();
  for (auto& r : roots_) r.clear();
  claims_.clear();
  extensionWritten_.clear();
  extensionRecords_ = nullptr;
  extensionCount_ = 0;
  extensionCopy_.clear();
  extensionOrder_.clear();
  extensionOffset_ = 0;
  damaged_.clear();
  tally_.clear();
  firstDamage_ = 0;
  return ok;
}

void SnapshotFile::addRunningScan() {
  std::lock_guard<std::mutex> lock(runningLock_);
  running_++;
}

void SnapshotFile::endRunningScan() {
  std::lock_guard<std::mutex> lock(runningLock_);
  if (running_ > 0) running_--;
}

int SnapshotFile::runningScans() const {
  std::lock_guard<std::mutex> lock(runningLock_);
  return running_;
}

bool SnapshotFile::readExact(uint64_t offset, uint8_t* out, size_t n) {
  if (!file_ || offset > fileSize_ || n > fileSize_ - offset) return false;
  if (readsFromView() && offset + n <= viewSize_) {
    std::memcpy(out, view_ + offset, n);
  } else if (holdsKept(offset, n)) {
    std::memcpy(out, kept_.data() + (offset - keptAt_), n);
  } else if (!readFileAt(file_, offset, out, n)) {
    return false;
  }
  readPos_ = offset + n;
  return true;
}

namespace {

// A view takes address space: a 32-bit process keeps its own for the tables it holds and reads
// larger files block by block.
constexpr uint64_t kMaxViewSize = sizeof(void*) < 8 ? uint64_t(256) << 20 : kMaxFileSize;

// A zero-terminated text field of the info record, cut at the field size less one.
std::string fieldText(const uint8_t* p, size_t fieldSize) {
  size_t n = 0;
  while (n < fieldSize - 1 && p[n] != 0) n++;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// True when the reserved text field is "0" and carries `marker` (with its zero) at `at`.
bool hasMarker(const uint8_t* r, size_t at, const char* marker, size_t size) {
  return r[kInfoReserved] == '0' && r[kInfoReserved + 1] == 0 && std::memcmp(r + at, marker, size) == 0;
}

void decodeInfoRecord(const uint8_t* r, SnapshotInfo* info) {
  info->number = int32_t(getU32(r + kInfoNumber));
  // In memory a name is UTF-8 whatever the file holds; a flagged name that is not UTF-8 (a
  // damaged or forged file) keeps its stray bytes as Latin-1 characters.
  std::string name = fieldText(r + kInfoName, kInfoNameSize);
  bool utf8 = hasMarker(r, kInfoUtf8NameMarker, kUtf8NameMarker, sizeof kUtf8NameMarker);
  info->name = utf8 ? validUtf8(name) : utf8FromLatin1(name);
  info->computer = fieldText(r + kInfoComputer, kInfoComputerSize);
  info->date = fieldText(r + kInfoDate, kInfoDateSize);
  info->size = getU32(r + kInfoFileSize);
  info->listsSize = getU32(r + kInfoListsSize);
  for (int i = 0; i < kSectionCount; i++) {
    info->listCount[i] = getU32(r + kInfoListCounts + 4 * i);
    info->listOffset[i] = getU32(r + kInfoListOffsets + 4 * i);
  }
}

}  // namespace

bool SnapshotFile::readFilterList(uint64_t offset, uint32_t count, uint64_t limit,
                                  FilterList* list) {
  // Every item takes at least its 4-byte length word: a count the space cannot hold is refused
  // before anything is allocated for it.
  if (offset < kHeaderSize || offset > limit || count > (limit - offset) / 4) return false;
  list->clear();
  list->reserve(count);
  std::vector<uint8_t> chars;
  uint64_t at = offset;
  for (uint32_t k = 0; k < count; k++) {
    uint8_t head[4];
    if (limit - at < 4 || !readExact(at, head, 4)) return false;
    at += 4;
    uint32_t word = getU32(head);
    bool wide = (word & kWideFlag32) != 0;
    uint64_t n = word & kListLengthMask;
    uint64_t bytes = wide ? 2 * n : n;
    if (bytes > limit - at) return false;
    chars.resize(size_t(bytes));
    if (bytes && !readExact(at, chars.data(), size_t(bytes))) return false;
    at += bytes;
    StoredText t;
    t.bytes = chars.data();
    t.chars = size_t(n);
    t.wide = wide;
    list->push_back(t.str());
  }
  return true;
}

bool SnapshotFile::open(const std::string& path, SnapshotInfo* info) {
  close();
  info->reset();
  blockReads_ = 0;
  namedDigests_ = false;
  FILE* f = openFile(path, "rb");
  if (!f) return false;
  file_ = f;
  path_ = path;

  uint64_t size = 0;
  if (!fileLength(file_, &size)) {
    close();
    return false;
  }
  fileSize_ = size;
  if (fileSize_ <= reads_.opening) keepRead(0, fileSize_);

  uint8_t header[kHeaderSize];
  if (!readExact(0, header, kHeaderSize)) {
    close();
    return false;
  }
  info->tag.assign(reinterpret_cast<const char*>(header), kTagSize);
  int version = info->formatVersion();
  info->sectionOffset[0] = getU32(header + kHeaderSectionOffsets);
  info->sectionOffset[1] = getU32(header + kHeaderSectionOffsets + 4);
  info->sectionOffset[2] =
      version >= kVersionOldest ? getU32(header + kHeaderSectionOffsets + 8) : 0;
  info->infoOffset = getU32(header + kHeaderInfoOffset);
  // finish writes the header's info offset last, so a file without one is still being written
  // (or was left by a stopped scan, which deletes it): it holds no readable section and may
  // yet be cut short, which a view would turn into a fault where a read comes up short. A
  // finished file is never shortened by this program: a snapshot is written once under a new
  // number, imports are written under another name and renamed, renaming rewrites the info
  // record in place or appends one, deleting unlinks. Only another program cutting it short
  // faults the view, a risk accepted as LevelDB and SQLite accept it for the files they map.
  if (info->infoOffset != 0 && viewAllowed_ && !infoOnly_ && fileSize_ <= kMaxViewSize) {
    view_ = nativeMap(file_, fileSize_);
    if (view_) viewSize_ = fileSize_;
  }

  uint32_t extensionAt = 0;
  if (info->infoOffset != 0) {
    // The filter lists are written just before the info record: one read takes them all.
    uint64_t end = std::min<uint64_t>(fileSize_, uint64_t(info->infoOffset) + kInfoSize);
    if (kept_.empty()) keepRead(end > reads_.opening ? end - reads_.opening : 0, end);
    uint8_t record[kInfoSize];
    if (info->infoOffset < kHeaderSize || !readExact(info->infoOffset, record, kInfoSize)) {
      close();
      info->reset();
      return false;
    }
    decodeInfoRecord(record, info);
    namedDigests_ = hasMarker(record, kInfoNamesMarker, kNamesMarker, sizeof kNamesMarker);
    if (hasMarker(record, kInfoExtensionMarker, kExtensionMarker, sizeof kExtensionMarker))
      extensionAt = getU32(record + kInfoExtensionOffset);
  }

  // The lists are written before the info record: no item may run into it.
  uint64_t listLimit = info->infoOffset != 0 ? info->infoOffset : fileSize_;
  for (int i = 0; i < kSectionCount; i++) {
    if (version < kVersionCurrent) {
      info->filterList[i].clear();
      if (info->sectionOffset[i] != 0) info->filterList[i].push_back(u"*");
    } else if (info->listCount[i] != 0) {
      if (!readFilterList(info->listOffset[i], info->listCount[i], listLimit,
                          &info->filterList[i])) {
        close();
        info->reset();
        return false;
      }
    }
    info->sectionState[i] = stateFromList(info->filterList[i]);
  }
  // The header's fields own the root tables; a root table shared by two sections is damage.
  for (int i = 0; i < kSectionCount; i++) {
    uint32_t at = info->sectionOffset[i];
    if (at != 0 && !claimTable(at, uint32_t(kHeaderSectionOffsets + 4 * i))) info->sectionOffset[i] = 0;
  }
  if (extensionAt && !infoOnly_)
    readExtensionIndex(extensionAt, info->infoOffset + uint32_t(kInfoExtensionOffset));
  computer_ = info->computer;
  return true;
}

bool SnapshotFile::holdsKept(uint64_t offset, uint64_t n) const {
  return offset >= keptAt_ && offset - keptAt_ <= kept_.size() && n <= kept_.size() - (offset - keptAt_);
}

bool SnapshotFile::holdsKeptBlock(uint64_t at) const {
  if (!holdsKept(at, kBlockLengthSize)) return false;
  return holdsKept(at + kBlockLengthSize, getU32(kept_.data() + (at - keptAt_)));
}

void SnapshotFile::keepRead(uint64_t begin, uint64_t end) {
  kept_.resize(size_t(end - begin));
  keptAt_ = begin;
  if (!readFileAt(file_, begin, kept_.data(), kept_.size())) kept_.clear();
}

bool SnapshotFile::readInfo(const std::string& path, SnapshotInfo* info) {
  infoOnly_ = true;
  bool opened = open(path, info);
  infoOnly_ = false;
  close();
  return opened;
}

void SnapshotFile::readExtensionIndex(uint32_t offset, uint32_t user) {
  const uint8_t* records = nullptr;
  size_t n = 0;
  bool read = claimTable(offset, user);
  if (read && !viewBlock(offset, &records, &n)) {
    read = readBlock(offset, &extensionCopy_, 0, &n);
    records = extensionCopy_.data();
  }
  // A damaged index leaves the file without its extension: it compares as files without one do.
  if (!read || n == 0 || n % kExtensionIndexRecord != 0) {
    extensionCopy_.clear();
    noteDamage(offset);
    return;
  }
  size_t count = n / kExtensionIndexRecord;
  auto table = [records](size_t k) { return getU32(records + k * kExtensionIndexRecord); };
  bool ascending = table(0) != 0;
  for (size_t k = 1; k < count && ascending; k++) ascending = table(k - 1) < table(k);
  if (!ascending) {
    // The writer sorts the index; a forged one is searched in table order here, records
    // without a table left out, and of the records of one table the last in the file counts.
    for (size_t k = 0; k < count; k++) {
      if (table(k) != 0) extensionOrder_.push_back(uint32_t(k));
    }
    std::stable_sort(extensionOrder_.begin(), extensionOrder_.end(),
                     [&table](uint32_t x, uint32_t y) { return table(x) < table(y); });
    size_t kept = 0;
    for (size_t i = 0; i < extensionOrder_.size(); i++) {
      if (i + 1 < extensionOrder_.size() && table(extensionOrder_[i + 1]) == table(extensionOrder_[i])) continue;
      extensionOrder_[kept++] = extensionOrder_[i];
    }
    extensionOrder_.resize(kept);
    count = kept;
  }
  extensionRecords_ = records;
  extensionCount_ = count;
  extensionOffset_ = offset;
}

bool SnapshotFile::findExtension(uint32_t table, ExtensionRecord* record) const {
  if (table == 0) return false;
  auto number = [this](size_t k) { return extensionOrder_.empty() ? k : size_t(extensionOrder_[k]); };
  size_t low = 0, high = extensionCount_;
  while (low < high) {
    size_t mid = low + (high - low) / 2;
    if (getU32(extensionRecords_ + number(mid) * kExtensionIndexRecord) < table)
      low = mid + 1;
    else
      high = mid;
  }
  if (low == extensionCount_) return false;
  size_t k = number(low);
  const uint8_t* p = extensionRecords_ + k * kExtensionIndexRecord;
  if (getU32(p) != table) return false;
  *record = ExtensionRecord{table, getU32(p + 4), getU32(p + 8),
                            extensionOffset_ + uint32_t(kBlockLengthSize + k * kExtensionIndexRecord)};
  return true;
}

uint32_t SnapshotFile::extensionHash(uint32_t table) const {
  ExtensionRecord r;
  return findExtension(table, &r) ? r.hash : 0;
}

bool SnapshotFile::readExtension(uint32_t fileTable, std::vector<uint8_t>* buffer, size_t* length) {
  *length = 0;
  ExtensionRecord r;
  if (!findExtension(fileTable, &r) || r.block == 0) return false;
  if (!claimTable(r.block, r.at + 4)) return false;
  if (!readBlock(r.block, buffer, 0, length) || *length == 0 ||
      uint32_t(crc32(0, buffer->data(), uInt(*length))) != r.hash) {
    noteDamage(r.block);
    *length = 0;
    return false;
  }
  return true;
}

bool SnapshotFile::claimTable(uint32_t offset, uint32_t user) {
  if (offset == 0) return true;
  if (claims_.insert(offset, user) == user) return true;
  // Counted once per entry that points at a table it does not own.
  countDamage(uint64_t(1) << 32 | user, offset);
  return false;
}

void SnapshotFile::noteDamage(uint32_t offset) {
  if (offset != 0) countDamage(offset, offset);
}

void SnapshotFile::countDamage(uint64_t key, uint32_t offset) {
  tally_.insert(key);
  if (damaged_.insert(key).second && (firstDamage_ == 0 || offset < firstDamage_)) firstDamage_ = offset;
}

bool SnapshotFile::readBlock(uint32_t offset, std::vector<uint8_t>* buffer, size_t extra,
                             size_t* length) {
  if (length) *length = 0;
  if (!file_ || writing_) return false;
  blockReads_++;
  uint64_t at = offset == kCurrentPosition ? readPos_ : offset;
  if (at < kHeaderSize || at > fileSize_ || fileSize_ - at < kBlockLengthSize) return false;
  // Most blocks are small: one read keeps the length word, a guess at the entries and the bytes
  // before them, and the block is copied from what it kept; only a longer block needs a second
  // read. A folder's table on a system drive's shape averages 350 bytes and seldom passes 2 KB;
  // the kernel's copy of a larger guess cost more than the few second reads. A block that lies
  // whole in what is kept is copied from there, though the guess would run past its end (a walk
  // reads a folder's children in name order, the file holds them in the order they were
  // scanned). A block read from the view is copied from it.
  if (!readsFromView()) {
    uint64_t first = std::min<uint64_t>(fileSize_ - at, kBlockLengthSize + reads_.ahead);
    if (!holdsKept(at, first) && !holdsKeptBlock(at))
      keepRead(at - std::min(at - kHeaderSize, reads_.behind), at + first);
  }
  uint8_t word[kBlockLengthSize];
  if (!readExact(at, word, kBlockLengthSize)) return false;
  uint32_t n = getU32(word);
  at += kBlockLengthSize;
  if (n > fileSize_ - at) return false;
  buffer->resize(size_t(n) + extra);
  if (n && !readExact(at, buffer->data(), n)) return false;
  if (extra) std::memset(buffer->data() + n, 0, extra);
  readPos_ = at + n;
  if (length) *length = n;
  return true;
}

bool SnapshotFile::viewBlock(uint32_t offset, const uint8_t** data, size_t* length) {
  uint64_t at = offset;
  if (!view_ || writing_ || viewSize_ != fileSize_ || at < kHeaderSize || at > fileSize_ ||
      fileSize_ - at < kBlockLengthSize)
    return false;
  uint32_t n = getU32(view_ + at);
  at += kBlockLengthSize;
  if (n > fileSize_ - at) return false;
  blockReads_++;
  readPos_ = at + n;
  *data = view_ + at;
  *length = n;
  return true;
}

bool ItemListReader::open(SnapshotFile* file, uint32_t offset) {
  block_.clear();
  length_ = 0;
  pos_ = 0;
  file_ = file;
  offset_ = offset;
  nextIndex_ = 0;
  // An empty table is never written: a block of no entries is damage as well.
  if (!file->readBlock(offset, &block_, extraBytes(), &length_) || length_ == 0) {
    if (offset != kCurrentPosition) file->noteDamage(offset);
    block_.clear();
    length_ = 0;
    return false;
  }
  opened();
  return true;
}

uint32_t ItemListReader::digest() const {
  return length_ ? uint32_t(crc32(0, block_.data(), uInt(length_))) : 0;
}

bool ItemListReader::next(Item* item) {
  if (pos_ >= length_) return false;
  size_t remaining = length_ - pos_;
  size_t step = stepSize(block_.data() + pos_, remaining);
  if (step == 0 || step > remaining) {
    // The entries end inside the block: the rest of it cannot be read.
    if (file_ && offset_ != kCurrentPosition) file_->noteDamage(offset_);
    pos_ = length_;
    return false;
  }
  item->p = block_.data() + pos_;
  item->size = step;
  item->index = nextIndex_++;
  pos_ += step;
  return true;
}

}  // namespace keldrun
