#include "engine/app_record.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "base/coding.h"

namespace keldrun {

const char16_t* const kAppGroupNames[3] = {u"Startup", u"Services", u"Drivers"};

bool AppRecord::operator==(const AppRecord& o) const {
  return kind == o.kind && startType == o.startType && state == o.state && name == o.name &&
         serviceName == o.serviceName && version == o.version && company == o.company &&
         description == o.description && file == o.file && modified == o.modified &&
         size == o.size;
}

namespace {

const std::u16string& stringAt(const AppRecord& r, size_t i) {
  switch (i) {
    case 0: return r.name;
    case 1: return r.serviceName;
    case 2: return r.version;
    case 3: return r.company;
    case 4: return r.description;
    default: return r.file;
  }
}

std::u16string* stringAt(AppRecord* r, size_t i) {
  return const_cast<std::u16string*>(&stringAt(*r, i));
}

}  // namespace

void appendAppEntry(std::vector<uint8_t>* out, const AppRecord& r) {
  size_t lengths[kAppStringCount];
  size_t total = 0;
  for (size_t i = 0; i < kAppStringCount; i++) {
    lengths[i] = std::min(stringAt(r, i).size(), kAppMaxChars);
    total += lengths[i];
  }
  size_t at = out->size();
  out->resize(at + kAppEntryHeader + total);
  uint8_t* p = out->data() + at;
  for (size_t i = 0; i < kAppStringCount; i++) putU16(p + 2 * i, uint16_t(lengths[i]));
  putU64(p + 12, r.modified);
  putU64(p + 20, r.size);
  p[28] = r.kind;
  p[29] = r.startType;
  p[30] = r.state;
  uint8_t* q = p + kAppEntryHeader;
  for (size_t i = 0; i < kAppStringCount; i++) {
    const std::u16string& s = stringAt(r, i);
    for (size_t c = 0; c < lengths[i]; c++) *q++ = s[c] < 0x100 ? uint8_t(s[c]) : uint8_t('?');
  }
}

size_t appEntrySize(const uint8_t* p, size_t remaining) {
  if (remaining < kAppEntryHeader) return 0;
  size_t size = kAppEntryHeader;
  for (size_t i = 0; i < kAppStringCount; i++) size += getU16(p + 2 * i);
  return size;
}

bool decodeAppEntry(const uint8_t* p, size_t remaining, AppRecord* out) {
  size_t size = appEntrySize(p, remaining);
  if (size == 0 || size > remaining) return false;
  out->modified = getU64(p + 12);
  out->size = getU64(p + 20);
  out->kind = p[28];
  out->startType = p[29];
  out->state = p[30];
  const uint8_t* q = p + kAppEntryHeader;
  for (size_t i = 0; i < kAppStringCount; i++) {
    size_t n = getU16(p + 2 * i);
    std::u16string* s = stringAt(out, i);
    s->resize(n);
    for (size_t c = 0; c < n; c++) (*s)[c] = char16_t(q[c]);
    q += n;
  }
  return true;
}

StoredText appEntryName(const uint8_t* p) {
  return StoredText{p + kAppEntryHeader, getU16(p), false};
}

void buildGroupTable(const std::vector<AppRecord>& records, std::vector<uint8_t>* entries,
                     uint32_t* digest) {
  std::vector<uint8_t> packed;
  std::vector<size_t> starts;
  starts.reserve(records.size());
  for (const AppRecord& r : records) {
    starts.push_back(packed.size());
    appendAppEntry(&packed, r);
  }
  std::vector<size_t> order(records.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return compareStoredFolded(appEntryName(packed.data() + starts[a]),
                         appEntryName(packed.data() + starts[b])) < 0;
  });
  size_t begin = entries->size();
  entries->reserve(begin + packed.size());
  for (size_t i : order) {
    const uint8_t* e = packed.data() + starts[i];
    entries->insert(entries->end(), e, e + appEntrySize(e, packed.size() - starts[i]));
  }
  size_t n = entries->size() - begin;
  *digest = n ? uint32_t(crc32(0, entries->data() + begin, uInt(n))) : 0;
}

const char* appStatusText(uint8_t state) { return state == kStateRunning ? "Run" : ""; }

const char* appStartupText(uint8_t startType) {
  switch (startType) {
    case kStartBoot:
    case kStartSystem:
    case kStartAuto: return "Auto";
    case kStartDemand: return "Manual";
    case kStartDisabled: return "Disabled";
    case kStartUnknown: return "-";
    default: return "";
  }
}

int AppItemListReader::order(const Item& a, const Item& b) const {
  return compareStoredFolded(appEntryName(a.p), appEntryName(b.p));
}

bool AppItemListReader::differs(const Item& a, const Item& b) const {
  return a.size != b.size || std::memcmp(a.p, b.p, a.size) != 0;
}

}  // namespace keldrun
