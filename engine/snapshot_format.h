// On-disk layout of the snapshot file and of the packed ("C1.4") snapshot file.
//
// Shared by the reader (snapshot_file.cpp), the writer (snapshot_writer.cpp) and the packer
// (pack.cpp). All integers are little-endian. An offset is an absolute byte position in the
// snapshot file; offset 0 means "no such block" (position 0 is always the header).
//
// Snapshot file
// =============
// Header at 0, then table blocks in the order the scan threads produced them, then the
// extension index (when there is one), the section root tables, the filter lists and the info record, in that order, at the end.
//
// Header (kHeaderSize = 20 bytes, at offset 0)
//   OFFSET  SIZE  CONTENT
//        0     4  tag: "s1.5" when written; "s1.4" and "KTQ*" are read as well
//        4     4  section offset[0]: registry root table
//        8     4  section offset[1]: files root table
//       12     4  section offset[2]: applications root table (ignored below version 0x102)
//       16     4  info offset; 0 = no info record
//
// Table block (every section, child and content offset points at one)
//   OFFSET  SIZE  CONTENT
//        0     4  n: byte length of the entries that follow
//        4     n  entries, packed without padding; each entry's size follows from its own
//                 length fields. An empty table is never written: its offset is 0.
//
// TreeEntry (registry key, folder, section root): 18 bytes plus the name
//   OFFSET  SIZE  CONTENT
//        0     4  childHash: CRC-32 chained over every child entry's first 8 bytes and its
//                 name (length word and characters); in files without the names marker (see
//                 the info record) over the first 8 bytes only
//        4     4  contentHash: CRC-32 chained over all bytes of the content table's entries
//        8     4  childTable: offset of the child table block; 0 = none
//       12     4  contentTable: offset of the content table block; 0 = none
//       16     2  name length in characters; bit 15 set = wide
//       18   len  name: len bytes (narrow, the low byte of each character) or 2*len (UTF-16LE)
// CRC-32 is zlib's crc32, chained from 0 across the entries of one table; an empty table's
// digest is 0.
//
// Section root tables: section 0 one entry per registry hive, section 1 one per drive root,
// both in name order; section 2 exactly "Startup", "Services", "Drivers", in that order.
//
// Filter lists (right after the root tables; list i starts at list offset[i] and holds
// list count[i] items; lists size = bytes from the first item of list 0 to the end of list 2)
//   SIZE  CONTENT
//      4  length in characters; bit 31 set = wide
//    len  characters: len bytes (narrow) or 2*len (UTF-16LE)
//
// Info record (kInfoSize = 388 bytes, at the end of the file; rewritten in place on rename)
//   OFFSET  SIZE  CONTENT
//        0    32  reserved text field: "0", zero-padded. Files whose childHash covers the
//                 children's names carry the marker kNamesMarker after the terminating zero;
//                 files whose name is UTF-8 carry kUtf8NameMarker at 8, after that marker's
//                 place; files with the files section's extension carry kExtensionMarker at
//                 13 and the offset of its index (file_extension.h) at 17 (other readers
//                 ignore the field)
//       32     4  number (signed)
//       36   200  name, zero-terminated: one byte per character (Latin-1, at most 199
//                 characters) when every character fits in 8 bits, else UTF-8 (at most 199
//                 bytes, cut before a character that would not fit whole)
//      236   100  computer, zero-terminated (at most 99 characters)
//      336    20  date "%4d-%02d-%02d %02d:%02d", zero-terminated (at most 19 characters)
//      356     4  size: info offset + 388, the file size
//      360     4  lists size
//      364    12  list count[0..2]
//      376    12  list offset[0..2]
//
// Packed snapshot file
// ====================
//   OFFSET  SIZE  CONTENT
//        0     4  tag "C1.4"
//        4     4  chunk count (signed; 0 or less = empty snapshot file)
//        8    12  zero
//       20     -  chunks, each:
//                   4  u: uncompressed length (at most kPackChunkSize)
//                   4  c: compressed length (at most kPackOutputSize)
//                   c  a zlib stream (compress2, level 3) that inflates to exactly u bytes
// Every chunk but the last holds exactly kPackChunkSize bytes of the snapshot file.
#ifndef KELDRUN_ENGINE_SNAPSHOT_FORMAT_H_
#define KELDRUN_ENGINE_SNAPSHOT_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace keldrun {

constexpr size_t kTagSize = 4;
constexpr char kTagCurrent[] = "s1.5";
constexpr char kTagPrevious[] = "s1.4";
constexpr char kTagOldest[] = "KTQ*";
constexpr int kVersionOldest = 0x102;
constexpr int kVersionPrevious = 0x104;
constexpr int kVersionCurrent = 0x105;

constexpr size_t kHeaderSize = 20;
constexpr size_t kHeaderSectionOffsets = 4;
constexpr size_t kHeaderInfoOffset = 16;

constexpr size_t kBlockLengthSize = 4;

constexpr size_t kTreeEntryFixed = 18;
constexpr size_t kTreeChildHash = 0;
constexpr size_t kTreeContentHash = 4;
constexpr size_t kTreeChildTable = 8;
constexpr size_t kTreeContentTable = 12;
constexpr size_t kTreeNameLength = 16;
constexpr size_t kTreeDigestSize = 8;

constexpr uint32_t kWideFlag32 = 0x80000000u;
constexpr uint32_t kListLengthMask = 0x7FFFFFFFu;

constexpr size_t kInfoSize = 388;
constexpr size_t kInfoReserved = 0;
constexpr size_t kInfoReservedSize = 32;
constexpr size_t kInfoNamesMarker = 2;  // after "0" and its terminating zero
constexpr char kNamesMarker[] = "names";
constexpr size_t kInfoUtf8NameMarker = kInfoNamesMarker + sizeof kNamesMarker;
constexpr char kUtf8NameMarker[] = "utf8";
constexpr size_t kInfoExtensionMarker = kInfoUtf8NameMarker + sizeof kUtf8NameMarker;
constexpr char kExtensionMarker[] = "ext";
constexpr size_t kInfoExtensionOffset = kInfoExtensionMarker + sizeof kExtensionMarker;
static_assert(kInfoExtensionOffset + 4 <= kInfoReservedSize, "the reserved field holds the markers");
constexpr size_t kInfoNumber = 32;
constexpr size_t kInfoName = 36;
constexpr size_t kInfoNameSize = 200;
constexpr size_t kInfoComputer = 236;
constexpr size_t kInfoComputerSize = 100;
constexpr size_t kInfoDate = 336;
constexpr size_t kInfoDateSize = 20;
constexpr size_t kInfoFileSize = 356;
constexpr size_t kInfoListsSize = 360;
constexpr size_t kInfoListCounts = 364;
constexpr size_t kInfoListOffsets = 376;

// Offsets are 32-bit: no byte of a snapshot file may lie past this position.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

// readBlock's offset for "where the stream stands now".
constexpr uint32_t kCurrentPosition = 0xFFFFFFFFu;

constexpr size_t kComputerNameBuffer = 31;  // characters, terminator included

constexpr char kPackTag[] = "C1.4";
constexpr size_t kPackHeaderSize = 20;
constexpr size_t kPackChunkHeadSize = 8;
constexpr size_t kPackChunkSize = 0x80000;   // 524,288
constexpr size_t kPackOutputSize = 0x80400;  // 525,312
constexpr int kPackLevel = 3;

// Writes are gathered in a buffer this large before they reach the system.
constexpr size_t kWriteBufferSize = 1 << 20;

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_SNAPSHOT_FORMAT_H_
