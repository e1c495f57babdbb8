#include "engine/value_entry.h"

#include <cstring>

namespace keldrun {

namespace {

// True when some character of the UTF-16LE string data is 256 or above. Every character is
// examined, the ones after a terminator included: a list or a string with data behind its
// terminator must not lose the high bytes of what follows.
bool dataNeedsWide(const uint8_t* data, size_t chars) {
  for (size_t i = 0; i < chars; i++)
    if (data[2 * i + 1] != 0) return true;
  return false;
}

}  // namespace

size_t valueEntrySize(const uint8_t* p, size_t n) {
  if (n < kValueFixed) return 0;
  uint16_t nameLength = getU16(p + kValueNameLength);
  uint16_t shortLength = getU16(p + kValueShortLength);
  uint8_t typeByte = p[kValueTypeByte];
  size_t size = kValueFixed + textLengthBytes(nameLength);
  if (typeByte == kValueTypeLong) size += 4;
  if (shortLength == kValueLongForm) {
    if (size + 4 > n) return 0;
    size += 4 + (getU32(p + size) & kValueLengthMask);
  } else {
    size += shortLength;
  }
  return size;
}

bool parseValueEntry(const uint8_t* p, size_t n, ValueEntry* out) {
  Slice s(p, n);
  ValueEntry v;
  if (!s.readU16(&v.rawNameLength) || !s.readU16(&v.rawShortLength) || !s.readU8(&v.typeByte))
    return false;
  decodeTextLength(v.rawNameLength, &v.name.chars, &v.name.wide);
  if (!s.readBytes(v.name.byteSize(), &v.name.bytes)) return false;
  if (v.typeByte == kValueTypeLong) {
    if (!s.readU32(&v.type)) return false;
  } else if ((v.typeByte & kValueLegacyCrc) && (v.typeByte & 0x7F) <= kRegQword) {
    v.legacyCrc = true;
    v.type = v.typeByte & 0x7F;
  } else {
    v.type = v.typeByte;
  }
  if (v.rawShortLength == kValueLongForm) {
    uint32_t longLength;
    if (!s.readU32(&longLength)) return false;
    v.dataWide = (longLength & kValueDataWide) != 0;
    v.dataBytes = longLength & kValueLengthMask;
  } else {
    v.dataBytes = v.rawShortLength;
  }
  if (!s.readBytes(v.dataBytes, &v.data)) return false;
  v.size = n - s.size();
  *out = v;
  return true;
}

void appendValueEntry(std::vector<uint8_t>* out, const char16_t* name, size_t nameChars,
                      uint32_t type, const uint8_t* data, size_t dataBytes) {
  if (nameChars > kMaxStoredChars) nameChars = kMaxStoredChars;
  if (dataBytes > kValueLengthMask) dataBytes = kValueLengthMask;
  bool wideName = needsWide(name, nameChars);

  // Decide the data form: narrow string (one byte per character), wide string (raw UTF-16LE
  // bytes) or raw bytes.
  bool narrowString = false, wideString = false;
  size_t storedBytes = dataBytes;
  if (isStringType(type)) {
    // Odd-sized string data keeps its last byte by being stored as raw UTF-16LE bytes.
    if (dataBytes % 2 != 0 || dataNeedsWide(data, dataBytes / 2)) {
      wideString = true;
    } else {
      narrowString = true;
      storedBytes = dataBytes / 2;
    }
  }
  bool longForm = wideString || storedBytes > kValueShortMax;
  bool longType = type > kRegQword;

  size_t at = out->size();
  out->resize(at + kValueFixed);
  uint8_t* head = out->data() + at;
  putU16(head + kValueNameLength, encodeTextLength(nameChars, wideName));
  putU16(head + kValueShortLength, longForm ? kValueLongForm : uint16_t(storedBytes));
  head[kValueTypeByte] = longType ? kValueTypeLong : uint8_t(type);
  appendChars(out, name, nameChars, wideName);
  if (longType) appendU32(out, type);
  if (longForm) appendU32(out, uint32_t(storedBytes) | (wideString ? kValueDataWide : 0));
  if (narrowString) {
    size_t d = out->size();
    out->resize(d + storedBytes);
    uint8_t* q = out->data() + d;
    for (size_t i = 0; i < storedBytes; i++) q[i] = data[2 * i];
  } else if (storedBytes > 0) {
    out->insert(out->end(), data, data + storedBytes);
  }
}

StoredText valueEntryName(const uint8_t* entry) {
  StoredText t;
  t.bytes = entry + kValueFixed;
  decodeTextLength(getU16(entry + kValueNameLength), &t.chars, &t.wide);
  return t;
}

std::vector<uint8_t> valueRawData(const ValueEntry& v) {
  std::vector<uint8_t> raw;
  if (!v.dataWide && isStringType(v.type) && !v.legacyCrc) {
    raw.resize(2 * v.dataBytes);
    for (size_t i = 0; i < v.dataBytes; i++) raw[2 * i] = v.data[i];
  } else {
    raw.assign(v.data, v.data + v.dataBytes);
  }
  return raw;
}

namespace {

// The name of an item, cut to the bytes that the item holds.
StoredText boundedName(const Item& item) {
  StoredText t;
  if (item.size < kValueFixed) return t;
  t.bytes = item.p + kValueFixed;
  decodeTextLength(getU16(item.p + kValueNameLength), &t.chars, &t.wide);
  size_t room = (item.size - kValueFixed) / (t.wide ? 2 : 1);
  if (t.chars > room) t.chars = room;
  return t;
}

}  // namespace

int ValueListReader::order(const Item& a, const Item& b) const {
  return compareStored(boundedName(a), boundedName(b));
}

bool ValueListReader::differs(const Item& a, const Item& b) const {
  ValueEntry x, y;
  bool okX = parseValueEntry(a.p, a.size, &x);
  bool okY = parseValueEntry(b.p, b.size, &y);
  if (!okX || !okY) {
    // An entry that does not parse is compared by its bytes as stepped over.
    if (okX != okY || a.size != b.size) return true;
    return std::memcmp(a.p, b.p, a.size) != 0;
  }
  if (x.rawNameLength != y.rawNameLength || x.rawShortLength != y.rawShortLength ||
      x.typeByte != y.typeByte)
    return true;
  // The long type counts too: a value whose type changed from 0x20 to 0x21 has changed.
  if (x.size != y.size || x.type != y.type || x.dataWide != y.dataWide ||
      x.dataBytes != y.dataBytes)
    return true;
  return x.dataBytes != 0 && std::memcmp(x.data, y.data, x.dataBytes) != 0;
}

size_t ValueListReader::stepSize(const uint8_t* p, size_t remaining) const {
  if (remaining < kValueFixed) return 0;
  size_t size = valueEntrySize(p, remaining);
  if (size != 0 && size <= remaining) return size;
  uint16_t shortLength = getU16(p + kValueShortLength);
  return kValueFixed + getU16(p + kValueNameLength) +
         (shortLength == kValueLongForm ? kValueTolerantLongData : shortLength);
}

}  // namespace keldrun
