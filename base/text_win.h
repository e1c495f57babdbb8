// Text for the Win32 API, whose wchar_t is UTF-16 there.
#ifndef KELDRUN_BASE_TEXT_WIN_H_
#define KELDRUN_BASE_TEXT_WIN_H_

#include <cwchar>
#include <string>

#include "base/text.h"

namespace keldrun {

// The characters of s as the API's zero-terminated wide string, without a copy: valid while s
// lives unchanged.
inline const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
// The UTF-16 text of the API's zero-terminated wide string; empty for null.
inline std::u16string u16(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
// The first n characters of the API's wide string.
inline std::u16string u16(const wchar_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

inline std::wstring toWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
inline std::wstring toWide(const std::string& utf8) { return toWide(fromUtf8(utf8)); }
inline std::string fromWide(const std::wstring& s) { return toUtf8(std::u16string(s.begin(), s.end())); }

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_WIN_H_
