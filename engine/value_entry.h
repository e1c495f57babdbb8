// Registry value entries: the records of a key's value table.
//
// Layout (little-endian, no padding):
//
//   OFFSET  SIZE          CONTENT
//   0       2             name length in characters; bit 15 = the name is stored wide;
//                         0 for the default (unnamed) value
//   2       2             short data length: stored data bytes 0..65,500, or 0xFFFF for the long
//                         form (a 32-bit length follows the name)
//   4       1             type byte: the value type when it is 0..11; 255 when the type is 12 or
//                         more (a 32-bit type follows the name); 0x80 | type (type 0..11) marks a
//                         legacy CRC-only entry whose data is a 32-bit check value
//   5       name bytes    the name, one byte per character or UTF-16LE
//   +0      4             long type, only when the type byte is 255
//   +0      4             long data length, only in the long form: bit 31 = the data is stored as
//                         UTF-16LE, bits 0..30 = stored data bytes
//   +0      data bytes    the data
//
// Storage rule for writers: string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) whose characters
// are all below 256 is stored one byte per character (the low byte, so that no code page can
// alter it), any other string data as its UTF-16LE bytes in the long form with bit 31 set; data
// of every other type is stored as read.
#ifndef KELDRUN_ENGINE_VALUE_ENTRY_H_
#define KELDRUN_ENGINE_VALUE_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/snapshot.h"

namespace keldrun {

// Registry value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegDwordBigEndian = 5;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegResourceList = 8;
constexpr uint32_t kRegFullResourceDescriptor = 9;
constexpr uint32_t kRegResourceRequirementsList = 10;
constexpr uint32_t kRegQword = 11;

inline bool isStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

constexpr size_t kValueFixed = 5;
constexpr size_t kValueNameLength = 0;
constexpr size_t kValueShortLength = 2;
constexpr size_t kValueTypeByte = 4;
constexpr uint16_t kValueShortMax = 65500;
constexpr uint16_t kValueLongForm = 0xFFFF;
constexpr uint8_t kValueTypeLong = 255;
constexpr uint8_t kValueLegacyCrc = 0x80;
constexpr uint32_t kValueDataWide = 0x80000000u;
constexpr uint32_t kValueLengthMask = 0x7FFFFFFFu;
// The step a reader takes over an entry whose long form runs past its block.
constexpr size_t kValueTolerantLongData = 65000;
// Bytes readBlock appends after the entries of a value table.
constexpr size_t kValueTableExtra = 1;

// One value entry parsed from a table block. The pointers refer into that block.
struct ValueEntry {
  StoredText name;
  uint32_t type = 0;
  bool legacyCrc = false;  // the data is a 32-bit check value standing in for the real data
  const uint8_t* data = nullptr;
  size_t dataBytes = 0;    // stored data bytes
  bool dataWide = false;   // the data is UTF-16LE
  size_t size = 0;         // bytes the entry takes in its table
  // The raw header fields, as differs() compares them.
  uint16_t rawNameLength = 0;
  uint16_t rawShortLength = 0;
  uint8_t typeByte = 0;

  // Data length in characters when the data is wide, else in bytes.
  size_t dataLength() const { return dataWide ? dataBytes / 2 : dataBytes; }
  // Character i of string data (narrow data widened by zero extension).
  char16_t charAt(size_t i) const {
    return dataWide ? char16_t(data[2 * i] | (data[2 * i + 1] << 8)) : char16_t(data[i]);
  }
};

// Parses the entry at p, which has n readable bytes. False when the header, name, long fields
// or data do not all lie inside those n bytes.
bool parseValueEntry(const uint8_t* p, size_t n, ValueEntry* out);

// Size of the entry at p computed from its own fields (may exceed what is readable). 0 when
// fewer than the 5 fixed bytes are readable, or the long fields are cut off.
size_t valueEntrySize(const uint8_t* p, size_t n);

// Appends one value entry built from a value as the registry holds it (type and raw data) by
// the storage rule above. The name is cut at 0x7FFF characters.
void appendValueEntry(std::vector<uint8_t>* out, const char16_t* name, size_t nameChars,
                      uint32_t type, const uint8_t* data, size_t dataBytes);
inline void appendValueEntry(std::vector<uint8_t>* out, const std::u16string& name, uint32_t type,
                             const std::vector<uint8_t>& data) {
  appendValueEntry(out, name.data(), name.size(), type, data.data(), data.size());
}

// The stored name of a value entry built by appendValueEntry (for TableBuilder::sortByName).
StoredText valueEntryName(const uint8_t* entry);

// The value as the registry held it: type and raw bytes (wide data as its UTF-16LE bytes,
// narrow string data widened to two bytes per character). A legacy CRC-only entry gives its
// underlying type and its check value bytes.
std::vector<uint8_t> valueRawData(const ValueEntry& v);

// The value table reader.
class ValueListReader : public ItemListReader {
 public:
  // By name, in the stored order of value tables.
  int order(const Item& a, const Item& b) const override;
  // False only when the two entries have the same header fields, size, long type, data form,
  // data length and data bytes.
  bool differs(const Item& a, const Item& b) const override;

 protected:
  size_t extraBytes() const override { return kValueTableExtra; }
  // The entry's size; when that would run past the block, 5 + the raw name length field + the
  // raw short data length field (0xFFFF counting as 65,000), which next() refuses in turn when
  // it still runs past the block.
  size_t stepSize(const uint8_t* p, size_t remaining) const override;
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_VALUE_ENTRY_H_
