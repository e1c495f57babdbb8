#include "engine/value_text.h"

#include <cstdio>

namespace keldrun {

namespace {

const char16_t kHexDigits[] = u"0123456789abcdef";

void appendAscii(std::u16string* out, const char* s) {
  while (*s) out->push_back(char16_t(uint8_t(*s++)));
}

void appendHexByte(std::u16string* out, uint8_t b) {
  out->push_back(kHexDigits[b >> 4]);
  out->push_back(kHexDigits[b & 15]);
}

void appendCountSuffix(std::u16string* out, size_t full) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " ... (%zu)", full);
  appendAscii(out, buf);
}

void appendDword(std::u16string* out, uint32_t d) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "0x%08x (%u)", d, d);
  appendAscii(out, buf);
}

// Hex pairs each followed by a space: the display form of binary data.
void appendSpacedHex(std::u16string* out, const uint8_t* p, size_t n) {
  out->reserve(out->size() + 3 * n);
  for (size_t i = 0; i < n; i++) {
    appendHexByte(out, p[i]);
    out->push_back(u' ');
  }
}

void appendBinary(std::u16string* out, const uint8_t* p, size_t n, uint32_t limit) {
  if (limit < n) {
    appendSpacedHex(out, p, limit);
    appendCountSuffix(out, n);
  } else {
    appendSpacedHex(out, p, n);
  }
}

uint32_t littleEndian32(const ValueEntry& v) { return getU32(v.data); }
uint32_t bigEndian32(const ValueEntry& v) {
  return (uint32_t(v.data[0]) << 24) | (uint32_t(v.data[1]) << 16) | (uint32_t(v.data[2]) << 8) |
         uint32_t(v.data[3]);
}

// The first n characters of string data with NULs as spaces.
void appendSpacedList(std::u16string* out, const ValueEntry& v, size_t n) {
  for (size_t i = 0; i < n; i++) {
    char16_t c = v.charAt(i);
    out->push_back(c == 0 ? u' ' : c);
  }
}

void appendUntilNul(std::u16string* out, const ValueEntry& v, size_t n) {
  for (size_t i = 0; i < n; i++) {
    char16_t c = v.charAt(i);
    if (c == 0) break;
    out->push_back(c);
  }
}

// Writes the characters with '"' and '\' escaped by a backslash.
// The .reg hex dump; w is the length of the line written so far for this value.
void appendHexDump(std::u16string* out, size_t w, const uint8_t* p, size_t n) {
  out->reserve(out->size() + 3 * n + (n / 25 + 1) * 5);
  for (size_t i = 0; i < n; i++) {
    if (i > 0) {
      out->push_back(u',');
      w++;
    }
    if (w >= 80) {
      appendAscii(out, "\\\r\n  ");
      w = 2;
    }
    appendHexByte(out, p[i]);
    w += 2;
  }
  appendAscii(out, "\r\n");
}

void appendHexForm(std::u16string* out, size_t lineStart, uint32_t type,
                   const std::vector<uint8_t>& bytes) {
  if (type == kRegBinary) {
    appendAscii(out, "hex:");
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", type);
    appendAscii(out, buf);
  }
  appendHexDump(out, out->size() - lineStart, bytes.data(), bytes.size());
}

// True when the string data reads back exactly from a quoted .reg string: whole characters,
// one terminator at the very end, nothing that would break the line.
bool quotable(const ValueEntry& v) {
  if (v.dataWide && v.dataBytes % 2 != 0) return false;
  size_t n = v.dataLength();
  if (n == 0 || v.charAt(n - 1) != 0) return false;
  for (size_t i = 0; i + 1 < n; i++) {
    char16_t c = v.charAt(i);
    if (breaksRegLine(c)) return false;
  }
  return true;
}

}  // namespace

std::u16string valueName(const ValueEntry& v) {
  if (v.name.chars == 0) return u"(Default)";
  return v.name.str();
}

void appendTypeName(std::u16string* out, uint32_t type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type <= kRegQword) {
    appendAscii(out, kNames[type]);
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", type);
    appendAscii(out, buf);
  }
}

std::u16string typeName(uint32_t type) {
  std::u16string out;
  appendTypeName(&out, type);
  return out;
}

std::u16string typeName(const ValueEntry& v) { return typeName(v.type); }

std::u16string displayText(const ValueEntry& v, const DisplayLimits& limits) {
  std::u16string out;
  appendDisplayText(&out, v, limits);
  return out;
}

void appendDisplayText(std::u16string* target, const ValueEntry& v, const DisplayLimits& limits) {
  std::u16string& out = *target;
  if (v.legacyCrc) {
    uint8_t crc[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 4 && i < v.dataBytes; i++) crc[i] = v.data[i];
    char buf[24];
    std::snprintf(buf, sizeof buf, "(crc=%08X)", getU32(crc));
    appendAscii(&out, buf);
    return;
  }
  switch (v.type) {
    case kRegNone:
      break;
    case kRegSz:
    case kRegExpandSz:
    case kRegMultiSz: {
      size_t n = v.dataLength();
      bool cut = limits.stringChars < n;
      size_t full = n;
      if (cut) n = limits.stringChars;
      if (v.type == kRegMultiSz)
        appendSpacedList(&out, v, n == 0 ? 0 : n - 1);
      else
        appendUntilNul(&out, v, n);
      if (cut) appendCountSuffix(&out, full);
      break;
    }
    case kRegDword:
    case kRegDwordBigEndian:
      // A DWORD value too short to hold its number shows its bytes.
      if (v.dataBytes < 4)
        appendBinary(&out, v.data, v.dataBytes, limits.binaryBytes);
      else
        appendDword(&out, v.type == kRegDword ? littleEndian32(v) : bigEndian32(v));
      break;
    case kRegLink:
      // Link targets are UTF-16 paths: stored as raw bytes, shown as the characters they hold.
      if (v.dataWide) {
        for (size_t i = 0; i < v.dataLength(); i++) out.push_back(v.charAt(i));
      } else {
        for (size_t i = 0; i + 1 < v.dataBytes; i += 2)
          out.push_back(char16_t(v.data[i] | (v.data[i + 1] << 8)));
      }
      break;
    case kRegQword:
      appendSpacedHex(&out, v.data, v.dataBytes);
      break;
    default:
      appendBinary(&out, v.data, v.dataBytes, limits.binaryBytes);
      break;
  }
}

std::u16string searchText(const ValueEntry& v) {
  std::u16string out;
  appendSearchText(&out, v);
  return out;
}

void appendSearchText(std::u16string* out, const ValueEntry& v) {
  if (v.legacyCrc) return;
  size_t n = v.dataLength();
  switch (v.type) {
    case kRegSz:
    case kRegExpandSz:
      appendUntilNul(out, v, n);
      break;
    case kRegMultiSz:
      appendSpacedList(out, v, n == 0 ? 0 : n - 1);
      break;
    case kRegDword:
    case kRegDwordBigEndian:
      if (v.dataBytes >= 4)
        appendDword(out, v.type == kRegDword ? littleEndian32(v) : bigEndian32(v));
      break;
    default:
      break;
  }
}

std::u16string regNamePart(const ValueEntry& v, bool deleteValue) {
  std::u16string out;
  if (v.name.chars == 0) {
    out = u"@=";
  } else {
    out.reserve(v.name.chars + 4);
    out.push_back(u'"');
    for (size_t i = 0; i < v.name.chars; i++) appendRegQuotedChar(&out, v.name.at(i));
    out.append(u"\"=");
  }
  if (deleteValue) appendAscii(&out, "-\r\n");
  return out;
}

std::u16string regValueLine(const ValueEntry& v) {
  std::u16string out;
  if (v.legacyCrc || v.type == kRegLink) return out;
  out = regNamePart(v, false);
  switch (v.type) {
    case kRegSz:
      if (quotable(v)) {
        size_t n = v.dataLength();
        out.push_back(u'"');
        for (size_t i = 0; i + 1 < n; i++) appendRegQuotedChar(&out, v.charAt(i));
        appendAscii(&out, "\"\r\n");
      } else {
        appendHexForm(&out, 0, v.type, valueRawData(v));
      }
      break;
    case kRegDword:
      if (v.dataBytes == 4) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "dword:%08x\r\n", littleEndian32(v));
        appendAscii(&out, buf);
      } else {
        appendHexForm(&out, 0, v.type, valueRawData(v));
      }
      break;
    default:
      // Binary-like types, REG_NONE (with its data, if any), REG_DWORD_BIG_ENDIAN and the
      // other string types (as UTF-16LE).
      appendHexForm(&out, 0, v.type, valueRawData(v));
      break;
  }
  return out;
}

}  // namespace keldrun
