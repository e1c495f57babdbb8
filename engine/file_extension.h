// The files section's extension: what a file entry does not hold (change time, file identity,
// content digest), kept apart so that the file entries, their digests and every reader that
// does not know the extension stay as they were.
//
// The info record's reserved field carries kExtensionMarker at kInfoExtensionMarker and the
// offset of the extension index right after it; a file without the marker has no extension.
//
// Extension index (a table block; n / 12 records in ascending table offset)
//   OFFSET  SIZE  CONTENT
//        0     4  table: offset of a folder's file table or of a folder table of the files
//                 section
//        4     4  block: for a file table, the offset of its extension block; 0 for a folder
//                 table
//        8     4  hash: for a file table, the CRC-32 of its extension block's bytes; for a
//                 folder table, the CRC-32 chained over each folder of the table, in table
//                 order, of two 32-bit words: the hash of its file table and the hash of its
//                 folder table (0 for a table without a record)
// So two folders whose digests are equal hold the same extension data below them when their
// hashes here are equal too.
//
// Extension block (a table block; one record per entry of its file table, in the same order)
//   SIZE  CONTENT
//      1  flags: bit 0 set = every record carries a digest state; bit 1 set = change times
//         chained; bit 2 set = every record carries its volume
//      v  volume (the file system's serial number or device) of every record; absent with
//         flag bit 2
//   then per file:
//      v  change time less a base, zigzag (FILETIME units; 0 is unknown): the base is the
//         entry's own last-write time, or with flag bit 1 the previous record's change time
//         (the first record's own last-write time still)
//      v  volume (only with flag bit 2)
//      v  file identity less the previous record's identity (0 before the first), zigzag;
//         identity 0 is unknown
//      1  digest state (only with flag bit 0): 0 none, 1 SHA-256 follows (32 bytes),
//         2 unreadable (locked, denied or gone)
// v is an unsigned LEB128 number of at most 10 bytes. A file's change time mostly equals its
// last-write time, but where a whole folder was touched at once (an install, a copy, a restore)
// its change times lie close to each other instead, years from the dates the files keep: the
// writer chains a block's change times when that takes fewer bytes. Identities of one folder
// lie close together.
#ifndef KELDRUN_ENGINE_FILE_EXTENSION_H_
#define KELDRUN_ENGINE_FILE_EXTENSION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keldrun {

constexpr size_t kExtensionIndexRecord = 12;
constexpr uint8_t kExtensionDigestFlag = 1;
constexpr uint8_t kExtensionChainedFlag = 2;
constexpr uint8_t kExtensionVolumesFlag = 4;
constexpr uint8_t kExtensionFlags = kExtensionDigestFlag | kExtensionChainedFlag | kExtensionVolumesFlag;
constexpr size_t kSha256Size = 32;

// The marks of a modified file that its size and last-write time do not tell. Date kept: the
// size and the last-write time are equal but the change time, or the content digest, moved
// (the time was set back over new content or attributes). Replaced: another file stands under
// the name (its identity changed). Digest changed: the recorded content digests differ.
constexpr uint8_t kMarkDateKept = 1;
constexpr uint8_t kMarkReplaced = 2;
constexpr uint8_t kMarkDigestChanged = 4;

// The marks for the eye, joined by "; ": "content or attributes changed, date kept", "replaced",
// "content digest changed"; "" for none.
std::string fileMarkText(uint8_t marks);

enum DigestState : uint8_t { kDigestNone = 0, kDigestSha256 = 1, kDigestUnreadable = 2 };

// What the extension records of one file.
struct FileExt {
  uint64_t changeTime = 0;  // FILETIME; 0 = unknown
  uint64_t volume = 0;      // with fileId, the file's identity; 0 = unknown (the scan keeps none)
  uint64_t fileId = 0;
  uint8_t digestState = kDigestNone;
  uint8_t sha256[kSha256Size] = {};

  bool sameIdentity(const FileExt& o) const { return volume == o.volume && fileId == o.fileId; }
  bool knowsIdentity() const { return fileId != 0; }
};

// Appends the extension block of one file table (without its length word). lastWrite[i] is
// the last-write time of the file whose record is ext[i]. digests: whether the records carry
// digest states.
void encodeFileExtension(const std::vector<FileExt>& ext, const std::vector<uint64_t>& lastWrite,
                         bool digests, std::vector<uint8_t>* out);

// Reads an extension block record by record, each against its file entry's last-write time.
class FileExtensionDecoder {
 public:
  // Starts on the n bytes at p; false when they cannot hold the flags and the volume.
  bool start(const uint8_t* p, size_t n);
  // The next record; false when it does not lie whole inside the block.
  bool next(uint64_t lastWrite, FileExt* out);
  // Whether every byte of the block has been read.
  bool atEnd() const { return pos_ == n_; }

 private:
  const uint8_t* p_ = nullptr;
  size_t n_ = 0;
  size_t pos_ = 0;
  uint8_t flags_ = 0;
  size_t records_ = 0;
  uint64_t volume_ = 0;
  uint64_t previousId_ = 0;
  uint64_t previousTime_ = 0;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_FILE_EXTENSION_H_
