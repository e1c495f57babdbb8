// The application record of the applications section and its stored entry.
//
// Stored application entry (the entries of a group's content table), 31 bytes plus strings:
//
//   OFFSET  SIZE  CONTENT
//   0       2     length of name
//   2       2     length of service name
//   4       2     length of version
//   6       2     length of company
//   8       2     length of description
//   10      2     length of file
//   12      8     modified (FILETIME), low 32 bits then high 32 bits
//   20      8     size, low 32 bits then high 32 bits
//   28      1     kind
//   29      1     start type
//   30      1     state
//   31      ...   name, service name, version, company, description, file: one byte per
//                 character, no terminators
//
// A group table is sorted by name (name order over the 8-bit names); its digest is the CRC-32
// over every byte of every entry in table order. Two entries hold the same data when they are
// byte for byte equal.
#ifndef KELDRUN_ENGINE_APP_RECORD_H_
#define KELDRUN_ENGINE_APP_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "engine/snapshot.h"

namespace keldrun {

constexpr uint8_t kAppStartup = 0;
constexpr uint8_t kAppDriver = 2;
constexpr uint8_t kAppService = 3;

constexpr uint8_t kStartBoot = 0;
constexpr uint8_t kStartSystem = 1;
constexpr uint8_t kStartAuto = 2;
constexpr uint8_t kStartDemand = 3;
constexpr uint8_t kStartDisabled = 4;
constexpr uint8_t kStartUnknown = 5;  // the configuration could not be read

constexpr uint8_t kStateStopped = 1;
constexpr uint8_t kStateRunning = 4;

constexpr size_t kAppEntryHeader = 31;
constexpr size_t kAppStringCount = 6;
// Bytes readBlock adds after an application table so that a header read past the last entry
// stays inside the buffer.
constexpr size_t kAppTableExtra = 32;
// Longest string an entry stores; longer texts are cut.
constexpr size_t kAppMaxChars = 0xFFFF;

// The three groups of the section root table, in their fixed order.
extern const char16_t* const kAppGroupNames[3];

struct AppRecord {
  uint8_t kind = kAppStartup;
  uint8_t startType = 0;
  uint8_t state = 0;
  std::u16string name;
  std::u16string serviceName;
  std::u16string version;
  std::u16string company;
  std::u16string description;
  std::u16string file;
  uint64_t modified = 0;
  uint64_t size = 0;

  bool operator==(const AppRecord& o) const;
};

// Appends the stored entry of r. Each string is stored one byte per character: characters
// below 256 as their low byte, others as '?' (their low byte would name an unrelated
// character), each cut at kAppMaxChars.
void appendAppEntry(std::vector<uint8_t>* out, const AppRecord& r);

// The size of the entry at p from its length fields; 0 when fewer than 31 bytes remain.
// The result may exceed `remaining`.
size_t appEntrySize(const uint8_t* p, size_t remaining);

// Decodes the entry at p. False when its header or strings do not fit in `remaining`.
bool decodeAppEntry(const uint8_t* p, size_t remaining, AppRecord* out);

// The stored name of the entry at p (its header and name must be readable).
StoredText appEntryName(const uint8_t* p);

// Encodes the records, sorts the entries in name order (equal names keep their order) and
// appends them packed to *entries; *digest gets their CRC-32 (0 when there are none).
void buildGroupTable(const std::vector<AppRecord>& records, std::vector<uint8_t>* entries,
                     uint32_t* digest);

// Display texts: status "Run" for state 4, else ""; startup "Auto" for start types 0-2,
// "Manual" 3, "Disabled" 4, "-" 5, "" otherwise.
const char* appStatusText(uint8_t state);
const char* appStartupText(uint8_t startType);

// The applications' content-table reader: items in name order, differing when any byte does.
class AppItemListReader : public ItemListReader {
 public:
  int order(const Item& a, const Item& b) const override;
  bool differs(const Item& a, const Item& b) const override;

 protected:
  size_t extraBytes() const override { return kAppTableExtra; }
  size_t stepSize(const uint8_t* p, size_t remaining) const override {
    return appEntrySize(p, remaining);
  }
};

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_APP_RECORD_H_
