// The snapshot container: SnapshotInfo, SectionState, TreeEntry, SnapshotFile and the content
// table readers. The on-disk layout is documented in snapshot_format.h.
#ifndef KELDRUN_ENGINE_SNAPSHOT_H_
#define KELDRUN_ENGINE_SNAPSHOT_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/coding.h"
#include "base/file_system.h"
#include "base/offset_map.h"
#include "base/text.h"
#include "engine/snapshot_format.h"

namespace keldrun {

struct FileExt;

constexpr int kSectionRegistry = 0;
constexpr int kSectionFiles = 1;
constexpr int kSectionApps = 2;
constexpr int kSectionCount = 3;

enum class SectionState : int { NotScanned = 1, Partial = 2, Full = 3 };

using FilterList = std::vector<std::u16string>;

// Empty list: NotScanned; first character of the first item '*': Full; otherwise Partial.
SectionState stateFromList(const FilterList& list);
// "-", "partial", "full".
const char* sectionStateText(SectionState state);

// The descriptive record of one snapshot.
struct SnapshotInfo {
  std::string tag;       // format tag read from the header; empty for a new snapshot
  int32_t number = -1;   // catalog number (the %03d of the file name); -1 when unknown
  uint32_t size = 0;     // file size: end of the info record
  std::string name;      // UTF-8; the file keeps 199 characters of 8 bits or 199 bytes of UTF-8
  std::string date;      // "%4d-%02d-%02d %02d:%02d", local time
  std::string computer;  // one byte per character (Latin-1); at most 99 in the file
  uint32_t sectionOffset[kSectionCount] = {0, 0, 0};
  SectionState sectionState[kSectionCount] = {SectionState::NotScanned, SectionState::NotScanned,
                                              SectionState::NotScanned};
  uint32_t infoOffset = 0;
  FilterList filterList[kSectionCount];
  uint32_t listsSize = 0;
  uint32_t listCount[kSectionCount] = {0, 0, 0};
  uint32_t listOffset[kSectionCount] = {0, 0, 0};

  void reset() { *this = SnapshotInfo(); }

  // Fills a new snapshot's info before SnapshotFile::finish: computer name from the system
  // (empty when it cannot be had), date from the local clock now, the given name and number,
  // an empty tag and a copy of the three filter lists.
  void fillNew(const std::string& newName, int32_t newNumber, const FilterList lists[kSectionCount]);

  // 0x102 for "KTQ*", 0x104 for "s1.4", 0x105 for "s1.5", 0 for anything else.
  int formatVersion() const;
};

// A parsed TreeEntry (registry key, folder or section root) pointing into a table block.
struct TreeEntry {
  uint32_t childHash = 0;
  uint32_t contentHash = 0;
  uint32_t childTable = 0;
  uint32_t contentTable = 0;
  StoredText name;
  size_t size = 0;  // bytes the entry takes in its table
  // Set by TreeWalker on both entries of a matched pair: 1 when the subtrees below them differ,
  // 0 when not; -1 (not judged) leaves the verdict to the childHash digests.
  int8_t childrenDiffer = -1;
  // Set by a normalising TreeWalker on both entries of a matched pair: 1 when their own content
  // differs once mapped, 0 when not; -1 leaves the verdict to the contentHash digests and the
  // names as recorded.
  int8_t contentDiffers = -1;
  // The extension hashes of the entry's file table and folder table (file_extension.h), set by
  // TreeWalker when the entry's file has an extension.
  bool extended = false;
  uint32_t extContentHash = 0;
  uint32_t extChildHash = 0;

  // Parses one entry at the front of s and steps over it. False, leaving s unchanged, when the
  // entry does not fit in s.
  static bool parse(Slice* s, TreeEntry* out);
};

// The entries of one table block while it is gathered in memory: packed entry bytes plus the
// start of each entry, so that adding an entry costs no allocation of its own.
class TableBuilder {
 public:
  // Appends one entry's bytes and returns its index.
  size_t add(const uint8_t* bytes, size_t n);
  // Appends a TreeEntry with all four fields 0 and the given name; returns its index.
  size_t addTreeEntry(const std::u16string& name);
  // Sets the four 32-bit fields of the TreeEntry at index i.
  void setTreeFields(size_t i, uint32_t childHash, uint32_t contentHash, uint32_t childTable,
                     uint32_t contentTable);

  uint8_t* entry(size_t i) { return bytes_.data() + starts_[i]; }
  const uint8_t* entry(size_t i) const { return bytes_.data() + starts_[i]; }
  size_t entrySize(size_t i) const;
  size_t count() const { return starts_.size(); }
  // The index of the entry at table position k (its place in the current order).
  size_t indexAt(size_t k) const { return sorted_ ? order_[k] : k; }
  bool empty() const { return starts_.empty(); }
  size_t byteSize() const { return bytes_.size(); }

  // Reorders the entries in name order; nameOf gives an entry's stored name. Names equal in
  // name order are ordered by their exact code units, so the order of adding never shows.
  void sortByName(StoredText (*nameOf)(const uint8_t* entry));
  // The entries in their current order, packed, appended to out.
  void serialize(std::vector<uint8_t>* out) const;
  // Empties the table, keeping its memory for the next folder or key at this depth.
  void clear();

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> order_;  // when sorted: entry indices in table order
  bool sorted_ = false;
};

StoredText treeEntryName(const uint8_t* entry);

// Chains one stored TreeEntry (size bytes) into its parent's childHash: its 8 digest bytes and,
// when `names`, its name with the length word, so that a renamed child changes the digests on
// the way up. Start from 0.
uint32_t chainChildDigest(uint32_t crc, const uint8_t* entry, size_t size, bool names);

// One snapshot file, either being written by the scan threads or open for reading.
//
// Writing: create, then (from any number of threads) appendBlock / appendTable / writeTable /
// addRoot, then finish and close. Reading: open, then readBlock; rewriteInfo is the only write.
// Every write goes through the FileSystem given at construction.
class SnapshotFile {
 public:
  explicit SnapshotFile(FileSystem* fs = defaultFileSystem());
  ~SnapshotFile();
  SnapshotFile(const SnapshotFile&) = delete;
  SnapshotFile& operator=(const SnapshotFile&) = delete;

  // Creates (truncates) the file at path, a UTF-8 path, and writes the provisional header.
  // False when the file cannot be created. With exclusive, an existing file is never written
  // over and is a failure too.
  bool create(const std::string& path, bool exclusive = false);

  // Appends bytes at the write position under the write lock; returns the old position. A
  // failed write, or one that would pass 4 GiB, returns 0 and makes finish fail; nothing is
  // written after it.
  uint32_t appendBlock(const uint8_t* bytes, size_t length);
  // Appends one table block (length word and entries) under the write lock; returns its offset,
  // or 0 without writing anything when n is 0 (and 0 on failure, as appendBlock).
  uint32_t appendTable(const uint8_t* entries, size_t n);
  // Writes a table of TreeEntry records (sorted in name order when sort is set), sets *digest to
  // the CRC-32 over the first 8 bytes of each entry in written order, and empties the table.
  // Returns 0 and writes nothing for an empty table (digest 0).
  uint32_t writeTable(TableBuilder* table, bool sort, uint32_t* digest);
  // Adds a root TreeEntry to the section's root table (serialised by the write lock).
  void addRoot(int section, const std::u16string& name, uint32_t childHash, uint32_t contentHash,
               uint32_t childTable, uint32_t contentTable);
  // Writes the root tables, the filter lists of info, the info record and the final header.
  // False when any write of this file failed (a full disk, a file past 4 GiB): the snapshot is
  // then incomplete and must be discarded.
  bool finish(SnapshotInfo* info);

  // Opens an existing snapshot file for reading and fills info. False when the file cannot be
  // opened or its header, info record or filter lists cannot be read whole.
  bool open(const std::string& path, SnapshotInfo* info);
  // Fills info as open does and closes the file again: what a list of snapshots shows. Makes
  // no view: for a record of a few hundred bytes the mapping costs more than the reads it saves
  // (under Wine, each of its calls is a round trip to the server). Nor reads the files
  // section's extension index, which only a walk needs: one record per folder, megabytes in a
  // snapshot of a whole drive, for each snapshot listed.
  bool readInfo(const std::string& path, SnapshotInfo* info);
  // Writes the info record at offset (0: at the end of the file) and sets info->size; returns
  // the offset used, or 0 when nothing was written: no file open for reading, a file that
  // cannot be opened for writing, an offset inside the header or past the end of the file, or
  // a failed write.
  uint32_t rewriteInfo(SnapshotInfo* info, uint32_t offset);
  // Reads the table block at offset (kCurrentPosition: where the stream stands): buffer gets
  // its n entry bytes followed by `extra` zero bytes, *length gets n. False when the block does
  // not lie inside the file measured at open, or when a read comes up short. Offset 0 and
  // offsets inside the header name no block.
  bool readBlock(uint32_t offset, std::vector<uint8_t>* buffer, size_t extra, size_t* length);
  // The same block without a copy: *data points at its n entry bytes in the view, valid until
  // close. False, with nothing read, when the file has no view of its whole length; false too
  // when the block does not lie inside the file (readBlock then fails as well).
  bool viewBlock(uint32_t offset, const uint8_t** data, size_t* length);
  // Closes the file if it is open. False when buffered data could not be written.
  bool close();

  bool isOpen() const { return file_ != nullptr || out_ != nullptr; }
  // Whether reads come from a view of the file rather than a system call each: a finished file
  // (its header names its info record) that the system maps, and that fits the address space
  // allowed. Reads past the view (what rewriteInfo appended) still go to the file.
  bool mapped() const { return view_ != nullptr; }
  // The first touch of each 64 KB of a view costs a page fault, on a virtual machine several
  // times what a read call costs. So a small compare, a few hundred tables scattered over the
  // file, reads with calls; a walk that has read 1,024 tables, or one for every 16 KB of the
  // file, goes on to read many more, and from there the view's faults cost less than the calls.
  bool readsFromView() const {
    const uint64_t calls = std::max<uint64_t>(1024, viewSize_ / (16 * 1024));
    return view_ && (viewAtOnce_ || blockReads_ > calls);
  }
  // For tests, of every later open: false reads with a system call per read, as when no view
  // can be had; true reads from the view from the first read on.
  void useViewForTest(bool view) {
    viewAllowed_ = view;
    viewAtOnce_ = view;
  }
  // How much more than asked a read by a call takes and keeps (kept_ below). Tests and the fuzz
  // target make them small, with no view, to reach every edge of what is kept in small files.
  struct ReadSizes {
    uint64_t opening = 16 << 10;  // the whole of a smaller file, else its end
    uint64_t behind = 2048;       // before a table
    uint64_t ahead = 2048;        // after a table's length word: a guess at its entries
  };
  void useReadSizesForTest(const ReadSizes& sizes) {
    useViewForTest(false);
    reads_ = sizes;
  }
  const std::string& path() const { return path_; }
  // Number of readBlock calls since open, for tests that check what a walk reads.
  uint64_t blockReads() const { return blockReads_; }
  // Whether the childHash digests of this file cover the children's names (every file this
  // program writes; files of older versions lack the marker and cover digests only).
  bool namedDigests() const { return namedDigests_; }

  // The files section's extension (file_extension.h). Writing: addExtension records a file
  // table's extension block, or a folder table's hash, for the index that finish writes.
  // Reading: hasExtension tells whether the file carries one whose index could be read;
  // extensionHash gives a table's hash (0 when it has no record); readExtension reads the
  // extension block of a file table into buffer (length in *length) and is false when the table
  // has none, or when the block cannot be read or does not hold what its hash says (damage).
  void addExtension(uint32_t table, uint32_t block, uint32_t hash);
  bool hasExtension() const { return extensionOffset_ != 0; }
  // The computer the open snapshot was taken on, as its info record names it.
  const std::string& computer() const { return computer_; }
  uint32_t extensionHash(uint32_t table) const;
  bool readExtension(uint32_t fileTable, std::vector<uint8_t>* buffer, size_t* length);
  // Writes no extension, as older versions did. For the tests of mixed and old snapshot pairs.
  void writeWithoutExtensionForTest() { dropExtension_ = true; }

  // Damage met while reading, counted by every reader: a table that cannot be read whole, an
  // empty table (never written), or a table that a second entry points at.
  //
  // claimTable records that the entry at file position `user` points at the table at offset;
  // false, counting the damage, when another entry has already claimed it. A table belongs to
  // one entry, so a walk never reads it twice for two entries, and cycles end.
  bool claimTable(uint32_t offset, uint32_t user);
  // Counts the table at offset as unreadable (each table once).
  void noteDamage(uint32_t offset);
  size_t damagedTables() const { return damaged_.size(); }
  // The lowest offset among the damaged tables; 0 when none.
  uint32_t firstDamage() const { return firstDamage_; }
  // The damage met again or anew since restartDamageTally (or open), each table once: what one
  // export left out, though an earlier read of the same file may have counted it already.
  void restartDamageTally() { tally_.clear(); }
  size_t damageTally() const { return tally_.size(); }

  // Running-scan count: raised for each scan thread before it starts, lowered as its last step.
  void addRunningScan();
  void endRunningScan();
  int runningScans() const;

  // Writes digests and an info record as older versions did: childHash over the children's
  // digests only, and no names marker. For the tests of mixed and old snapshot pairs.
  void writeOldDigestsForTest() { namedDigests_ = false; }

 private:
  bool writeRaw(const uint8_t* bytes, size_t n);  // caller holds writeLock_
  // Reads n bytes at offset; false unless they lie inside the file measured at open.
  bool readExact(uint64_t offset, uint8_t* out, size_t n);
  // Reads count filter items from offset; false unless all lie before limit.
  bool readFilterList(uint64_t offset, uint32_t count, uint64_t limit, FilterList* list);
  // Appends head then bytes at the write position; caller holds writeLock_. Returns the old
  // position, or 0 (setting writeFailed_) when the write fails or would pass 4 GiB.
  uint32_t appendLocked(const uint8_t* head, size_t headSize, const uint8_t* bytes, size_t n);
  // Reads [begin, end) of the file into kept_ (left empty when the read fails).
  void keepRead(uint64_t begin, uint64_t end);
  bool holdsKept(uint64_t offset, uint64_t n) const;  // kept_ holds [offset, offset + n)
  bool holdsKeptBlock(uint64_t at) const;               // and the whole block at `at`, by its length
  // Reads the extension index at offset, which the info record field at `user` points at.
  void readExtensionIndex(uint32_t offset, uint32_t user);
  // Counts one damaged table (key: its offset, or the entry that reuses it) met at offset.
  void countDamage(uint64_t key, uint32_t offset);

  FileSystem* fs_;
  std::mutex writeLock_;  // guards everything below up to roots_
  std::unique_ptr<WritableFile> out_;  // the file being written, from create to close
  FILE* file_ = nullptr;               // the file open for reading
  const uint8_t* view_ = nullptr;      // its first viewSize_ bytes, when mapped
  uint64_t viewSize_ = 0;
  bool viewAllowed_ = true;
  bool viewAtOnce_ = false;
  bool infoOnly_ = false;  // open reads what readInfo fills, nothing more
  std::string path_;
  std::string computer_;
  uint64_t writePos_ = 0;
  bool writeFailed_ = false;
  bool writing_ = false;  // between create and finish
  uint64_t fileSize_ = 0;  // measured at open; grows when rewriteInfo appends
  uint64_t blockReads_ = 0;
  uint64_t readPos_ = 0;  // just past the last read: where kCurrentPosition reads
  // The bytes of the last read that took more than asked, served by readExact. open takes the
  // whole of a small file, else the end of a larger one, where the info record, the filter
  // lists and the top tables lie: a catalog of many snapshots is opened file after file, and
  // each small read of a field cost a system call (under Wine a slow one) of its own. A table
  // read by a call takes 2 KB before it too: the writer puts a folder's table after those of
  // its children, which a walk reads next (on a system drive's shape a small compare made
  // 2,437 calls, now 1,892; more bytes behind cost more in copying than they spared).
  ReadSizes reads_;
  std::vector<uint8_t> kept_;
  uint64_t keptAt_ = 0;
  bool namedDigests_ = true;
  OffsetMap claims_;                               // table offset -> position of its entry
  std::unordered_set<uint64_t> damaged_;           // unreadable offsets; reusing entries
  std::unordered_set<uint64_t> tally_;             // the part of damaged_ met since the restart
  uint32_t firstDamage_ = 0;
  TableBuilder roots_[kSectionCount];
  struct ExtensionRecord {
    uint32_t table, block, hash, at;  // at: the record's place in the file, when read
  };
  std::vector<ExtensionRecord> extensionWritten_;  // guarded by writeLock_
  // The extension index as read at open: its records where they lie in the view (no copy: a
  // small comparison of a large tree would spend more copying and indexing them than reading
  // its tables), or in a copy when the file is read without a view; and, when they are not in
  // strictly ascending table order (a forged index), the numbers of the records to search, in
  // table order, one per table (the last the index holds for it).
  const uint8_t* extensionRecords_ = nullptr;
  size_t extensionCount_ = 0;
  std::vector<uint8_t> extensionCopy_;
  std::vector<uint32_t> extensionOrder_;
  // The record for table; false when it has none.
  bool findExtension(uint32_t table, ExtensionRecord* record) const;
  uint32_t extensionOffset_ = 0;  // of the index; 0 = none
  bool dropExtension_ = false;
  mutable std::mutex runningLock_;  // guards running_
  int running_ = 0;
};

// An item of a content table: its bytes inside the block that holds it.
struct Item {
  const uint8_t* p = nullptr;
  size_t size = 0;
  size_t index = 0;  // the item's place in its table
};

// Reads one content table (registry values, files or application records). One subclass per
// section supplies the entry layout.
class ItemListReader {
 public:
  virtual ~ItemListReader() = default;
  // Reads the table block at offset. False (and no items) when it cannot be read or holds no
  // entries; the file counts it as damaged.
  bool open(SnapshotFile* file, uint32_t offset);
  // The next entry in stored order; false at the end of the block or at an entry that does not
  // fit inside it (which the file counts as damage).
  bool next(Item* item);
  void rewind() {
    pos_ = 0;
    nextIndex_ = 0;
  }
  // The CRC-32 of the whole block as read: the contentHash of a sound table.
  uint32_t digest() const;
  // Checks what the table carries beside its entries (the files' extension) against them,
  // counting damage in the file; called after a whole table has been read.
  virtual void checkExtra() {}

  virtual int order(const Item& a, const Item& b) const = 0;
  virtual bool differs(const Item& a, const Item& b) const = 0;
  // The marks of a matched pair (a from this reader, b from `other`, a reader of the same
  // section) that the entries alone do not show; 0 for none. See kMarkDateKept in compare.h.
  virtual uint8_t marks(const Item& a, const ItemListReader& other, const Item& b) const {
    (void)a, (void)other, (void)b;
    return 0;
  }
  // The extension record (file_extension.h) of an item of the table read last; null when the
  // table has none.
  virtual const FileExt* ext(const Item& item) const {
    (void)item;
    return nullptr;
  }

 protected:
  // Called when open has read a sound block.
  virtual void opened() {}
  // Bytes that readBlock adds after the entries of this kind of table.
  virtual size_t extraBytes() const = 0;
  // The step from the entry at p to the next; 0 when the entry is malformed. May exceed
  // `remaining`, in which case next() stops.
  virtual size_t stepSize(const uint8_t* p, size_t remaining) const = 0;

  std::vector<uint8_t> block_;
  size_t length_ = 0;
  size_t pos_ = 0;
  size_t nextIndex_ = 0;
  SnapshotFile* file_ = nullptr;  // where damage is counted
  uint32_t offset_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_SNAPSHOT_H_
