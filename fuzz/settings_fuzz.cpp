// The settings loader on arbitrary files, and on arbitrary bodies inside well-formed files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "workspace/settings.h"
#include "workspace/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace keldrun;
  // A folder that does not exist: the snapshot numbers of "p" name files that never open.
  Settings settings("/nonexistent-keldrun-fuzz");
  settings.loadBytes(data, size);
  if (size > 0 && (data[0] & 1)) {
    std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<uint8_t> file = encodeSettingsFile(body, 1);
    std::string back;
    if (!decodeSettingsFile(file.data(), file.size(), &back) || back != body) __builtin_trap();
    Settings other("/nonexistent-keldrun-fuzz");
    if (!other.loadBytes(file.data(), file.size())) __builtin_trap();
    // Whatever the body held, saving what was read and reading it again changes nothing.
    std::string again;
    for (const SettingEntry& e : other.entries())
      appendSettingsRecord(&again, e.key, e.intTarget ? std::to_string(*e.intTarget) : *e.textTarget);
    std::vector<uint8_t> file2 = encodeSettingsFile(again, 2);
    Settings third("/nonexistent-keldrun-fuzz");
    if (!third.loadBytes(file2.data(), file2.size())) __builtin_trap();
    for (size_t i = 0; i < other.entries().size(); i++) {
      const SettingEntry& a = other.entries()[i];
      const SettingEntry& b = third.entries()[i];
      if (a.intTarget && *a.intTarget != *b.intTarget) __builtin_trap();
      if (a.textTarget && *a.textTarget != *b.textTarget) __builtin_trap();
    }
  }
  return 0;
}
