#include "cli/catalog_cli.h"

#include <cstdio>

namespace keldrun {

bool openCatalog(Settings* settings, bool forWriting, std::string* error) {
  settings->ensureLoaded();
  if (forWriting && settings->loadStatus() == SettingsLoad::Damaged) {
    *error = settings->settingsPath() +
             ": the settings file is damaged; move it away to start a new catalog";
    return false;
  }
  return true;
}

bool parseSnapshotNumber(const std::string& arg, int32_t* number) {
  if (arg.empty() || arg.size() > 9) return false;
  int32_t n = 0;
  for (char c : arg) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1) return false;
  *number = n;
  return true;
}

bool catalogNumbers(const Settings& settings, const std::vector<std::string>& args,
                    std::vector<int32_t>* numbers, std::string* error) {
  numbers->clear();
  for (const std::string& a : args) {
    int32_t n;
    if (!parseSnapshotNumber(a, &n)) {
      *error = "'" + a + "' is not a snapshot number";
      return false;
    }
    if (settings.find(n) < 0) {
      *error = "snapshot " + a + " is not in the catalog of " + settings.folder();
      return false;
    }
    numbers->push_back(n);
  }
  return true;
}

namespace {

void appendEscaped(std::string* out, char32_t c) {
  switch (c) {
    case '"': *out += "\\\""; return;
    case '\\': *out += "\\\\"; return;
    case '\n': *out += "\\n"; return;
    case '\r': *out += "\\r"; return;
    case '\t': *out += "\\t"; return;
  }
  if (c < 0x20) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
    *out += buf;
  } else if (c < 0x80) {
    *out += char(c);
  } else {
    *out += toUtf8(std::u16string(1, char16_t(c)));
  }
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) appendEscaped(&out, c);
  return out + "\"";
}

std::string jsonString(const std::u16string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); i++) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      // Surrogates go through as escapes, pairs and lone ones alike, so nothing is lost.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
      out += buf;
    } else {
      appendEscaped(&out, c);
    }
  }
  return out + "\"";
}

const char* sectionTitle(int section) {
  static const char* const titles[kSectionCount] = {"Registry", "Files", "Applications"};
  return section >= 0 && section < kSectionCount ? titles[section] : "";
}

}  // namespace keldrun
