// Text for the Win32 API, whose wchar_t is UTF-16 there.
#ifndef KELDRUN_BASE_TEXT_WIN_H_
#define KELDRUN_BASE_TEXT_WIN_H_

#include <string>

#include "base/text.h"

namespace keldrun {

inline std::wstring toWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::wstring toWide(const std::string& utf8) { return toWide(fromUtf8(utf8)); }
inline std::string fromWide(const std::wstring& s) { return toUtf8(std::u16string(s.begin(), s.end())); }

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_WIN_H_
