// The file table entry of the files section and the reader of a folder's file table.
//
// File entry (one per file in a folder's content table; 18 bytes plus the name)
//   OFFSET  SIZE  CONTENT
//        0     2  name length in characters; bit 15 set = wide
//        2     8  last-write time, FILETIME (UTC), low word first
//       10     8  size in bytes, low word first
//       18   len  name: len bytes (narrow) or 2*len (UTF-16LE)
// A folder's file table holds its files in name order; its digest (the folder's contentHash)
// is the CRC-32 over every byte of every entry.
#ifndef KELDRUN_ENGINE_FILE_ENTRY_H_
#define KELDRUN_ENGINE_FILE_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/file_extension.h"
#include "engine/snapshot.h"

namespace keldrun {

constexpr size_t kFileEntryFixed = 18;
constexpr size_t kFileEntryDataOffset = 2;  // the 16 bytes of time and size start here
constexpr size_t kFileEntryDataSize = 16;
// Longest file or folder name stored; longer names are cut.
constexpr size_t kMaxFileNameChars = 0x7FF0;

// Appends one file entry to out.
void appendFileEntry(std::vector<uint8_t>* out, const char16_t* name, size_t nameChars,
                     uint64_t lastWrite, uint64_t size);

// A file entry read from a table block.
struct FileEntry {
  StoredText name;
  uint64_t lastWrite = 0;
  uint64_t size = 0;
  size_t entrySize = 0;

  // Parses the entry at p, of which `remaining` bytes are readable. False when it does not fit.
  static bool parse(const uint8_t* p, size_t remaining, FileEntry* out);
};

// The stored name of the file entry at p (which must hold at least its fixed part and name).
StoredText fileEntryName(const uint8_t* entry);

// The reader of a folder's file table.
class FileItemReader : public ItemListReader {
 public:
  // Name order.
  int order(const Item& a, const Item& b) const override;
  // The 16 bytes of time and size differ.
  bool differs(const Item& a, const Item& b) const override;
  // kMarkDateKept, kMarkReplaced and kMarkDigestChanged, from the extension records of both
  // items; 0 when either table has none.
  uint8_t marks(const Item& a, const ItemListReader& other, const Item& b) const override;
  const FileExt* ext(const Item& item) const override;
  // Counts damage when the extension block does not hold one record per entry.
  void checkExtra() override;

 protected:
  size_t extraBytes() const override { return 16; }
  size_t stepSize(const uint8_t* p, size_t remaining) const override;
  // Reads the table's extension records.
  void opened() override;

 private:
  std::vector<FileExt> ext_;  // one per entry, in table order; empty when none or damaged
  bool extDamaged_ = false;
  std::vector<uint8_t> extBlock_;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_FILE_ENTRY_H_
