// The registry editor file (.reg) syntax shared by its writer (the .reg export) and its reader
// (the in-memory registry that tests and the Wine prefix reader build from such files).
#ifndef KELDRUN_BASE_REG_SYNTAX_H_
#define KELDRUN_BASE_REG_SYNTAX_H_

#include <string>

namespace keldrun {

// The first line of a file: the UTF-16 form and the older 8-bit form.
constexpr char16_t kRegFileHeader[] = u"Windows Registry Editor Version 5.00";
constexpr char16_t kRegFile4Header[] = u"REGEDIT4";

// True for the characters a reader of .reg files may take as the end of a line or of the text
// (CR, LF, NUL, NEL, line and paragraph separators). A key or value name holding one cannot be
// written into a .reg file: the rest of the name would start a line of its own.
bool breaksRegLine(char16_t c);
bool hasRegLineBreak(const std::u16string& s);

// Inside a quoted name or string only '"' and '\' are escaped, each by a '\' before it.
inline bool isRegEscaped(char16_t c) { return c == u'"' || c == u'\\'; }
inline void appendRegQuotedChar(std::u16string* out, char16_t c) {
  if (isRegEscaped(c)) out->push_back(u'\\');
  out->push_back(c);
}

}  // namespace keldrun

#endif  // KELDRUN_BASE_REG_SYNTAX_H_
