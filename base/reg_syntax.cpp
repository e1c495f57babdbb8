#include "base/reg_syntax.h"

namespace keldrun {

bool breaksRegLine(char16_t c) {
  return c == 0 || c == u'\r' || c == u'\n' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool hasRegLineBreak(const std::u16string& s) {
  for (char16_t c : s) {
    if (breaksRegLine(c)) return true;
  }
  return false;
}

}  // namespace keldrun
