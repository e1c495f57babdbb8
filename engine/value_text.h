// Registry values as text: the value list, the reports, the search and the .reg export.
//
// All texts are UTF-16. Narrow names and narrow string data are widened by zero extension.
#ifndef KELDRUN_ENGINE_VALUE_TEXT_H_
#define KELDRUN_ENGINE_VALUE_TEXT_H_

#include <cstdint>
#include <string>

#include "base/reg_syntax.h"
#include "engine/value_entry.h"

namespace keldrun {

constexpr uint32_t kUnlimited = 0xFFFFFFFFu;

// Limits on what displayText shows: bytes of binary-like data and characters of string data.
// A differences report takes its limits from its options; everything else shows values whole.
struct DisplayLimits {
  uint32_t binaryBytes = kUnlimited;
  uint32_t stringChars = kUnlimited;
};

// "(Default)" for the unnamed value, else the name.
std::u16string valueName(const ValueEntry& v);

// "REG_SZ", "REG_DWORD", ... for types 0..11 (a legacy CRC-only entry by its underlying type);
// "0x%08x" for the others.
std::u16string typeName(const ValueEntry& v);
std::u16string typeName(uint32_t type);
void appendTypeName(std::u16string* out, uint32_t type);

// The data as the value list and the reports show it, within the limits. Data cut at a limit
// ends in " ... (n)" with its full count n (bytes, or characters with the terminator); REG_QWORD
// data is never cut.
std::u16string displayText(const ValueEntry& v, const DisplayLimits& limits = DisplayLimits());
// The same appended to *out: the printers reuse one string for every row.
void appendDisplayText(std::u16string* out, const ValueEntry& v,
                       const DisplayLimits& limits = DisplayLimits());

// The text the registry search matches: string data whole, the two DWORD forms as displayed,
// nothing for other types and for legacy CRC-only entries.
std::u16string searchText(const ValueEntry& v);
void appendSearchText(std::u16string* out, const ValueEntry& v);

// The left-hand side of a .reg value line: "@=" or the quoted name (with '"' and '\' escaped)
// and '='. With deleteValue, "-\r\n" follows.
std::u16string regNamePart(const ValueEntry& v, bool deleteValue);

// The whole .reg line of the value, "\r\n" included; empty for values that a .reg file cannot
// hold (REG_LINK, legacy CRC-only entries). Every other value is written so that importing the
// line gives back its type and its bytes: a string that a quoted form cannot carry exactly
// (missing or early terminator, line breaks, odd size) and a DWORD that is not 4 bytes are
// written in the hex(n) form of their type; REG_DWORD_BIG_ENDIAN keeps its type as hex(5).
// Hex dumps break after the comma that brings the line to 80 characters and go on after two
// spaces.
std::u16string regValueLine(const ValueEntry& v);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_VALUE_TEXT_H_
