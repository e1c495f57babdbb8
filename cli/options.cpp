#include "cli/options.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "cli/command.h"

namespace keldrun {

namespace {

constexpr size_t kWidth = 80;

// The one table of section names; the command line accepts the numbers as well.
struct SectionNames {
  const char* name;
  const char* longName;
};
constexpr SectionNames kSectionNames[kSectionCount] = {
    {"registry", "registry"}, {"files", "files"}, {"apps", "applications"}};

// "registry, files or apps": the names choices accepts, as a refusal lists them.
std::string sectionChoicesText(SectionChoices choices) {
  std::vector<std::string> names;
  for (int k = 0; k < kSectionCount; k++)
    if (choices.sections & (1u << k))
      names.push_back(choices.shortNames ? kSectionNames[k].name : kSectionNames[k].longName);
  std::string text;
  for (size_t i = 0; i < names.size(); i++)
    text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return text;
}

// The section that text names under choices; -1 when it names none of them.
int sectionFromName(const std::string& text, SectionChoices choices) {
  for (int k = 0; k < kSectionCount; k++) {
    if (!(choices.sections & (1u << k))) continue;
    if (text == kSectionNames[k].longName || text == std::to_string(k) ||
        (choices.shortNames && text == kSectionNames[k].name))
      return k;
  }
  return -1;
}

const Option* findOption(const std::vector<const Option*>& tables, const std::string& name) {
  for (const Option* table : tables)
    for (const Option* o = table; o->name; o++)
      if (name == o->name) return o;
  return nullptr;
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    if (end > i) words.push_back(text.substr(i, end - i));
    i = end + 1;
  }
  return words;
}

}  // namespace

bool ParsedOptions::has(const char* name) const {
  for (const auto& g : given)
    if (g.first == name) return true;
  return false;
}

std::string ParsedOptions::value(const char* name) const {
  std::string v;
  for (const auto& g : given)
    if (g.first == name) v = g.second;
  return v;
}

std::vector<std::string> ParsedOptions::values(const char* name) const {
  std::vector<std::string> v;
  for (const auto& g : given)
    if (g.first == name) v.push_back(g.second);
  return v;
}

bool parseOptions(const std::vector<const Option*>& tables, const std::vector<std::string>& args,
                  bool stopAtOperand, ParsedOptions* out, std::vector<std::string>* rest,
                  std::string* error) {
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    bool optionLike = a.size() > 1 && a[0] == '-';
    if (a == "--") {
      for (i++; i < args.size(); i++) out->operands.push_back(args[i]);
      break;
    }
    if (!optionLike) {
      if (stopAtOperand) {
        rest->assign(args.begin() + long(i), args.end());
        return true;
      }
      out->operands.push_back(a);
      continue;
    }
    size_t eq = a.find('=');
    std::string name = a == "-h" ? std::string("--help") : a.substr(0, eq);
    const Option* o = a.compare(0, 2, "--") == 0 || a == "-h" ? findOption(tables, name) : nullptr;
    if (!o) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (!o->value) {
      if (eq != std::string::npos) {
        *error = "option '" + name + "' takes no value";
        return false;
      }
      out->given.emplace_back(name, std::string());
    } else if (eq != std::string::npos) {
      out->given.emplace_back(name, a.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      out->given.emplace_back(name, args[++i]);
    } else {
      *error = "option '" + name + "' needs a value (" + o->value + ")";
      return false;
    }
  }
  return true;
}

std::string wrapWords(const std::vector<std::string>& words, size_t start, size_t indent) {
  std::string out;
  size_t column = start;
  bool lineEmpty = true;
  for (const std::string& w : words) {
    if (!lineEmpty && column + 1 + w.size() > kWidth) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      out += ' ';
      column++;
    }
    out += w;
    column += w.size();
    lineEmpty = false;
  }
  return out;
}

std::vector<std::string> optionSynopsis(const Option* table) {
  std::vector<std::string> words;
  for (const Option* o = table; o->name; o++)
    words.push_back(std::string("[") + o->name + (o->value ? std::string(" ") + o->value : "") + "]");
  return words;
}

std::string optionLines(const Option* table) {
  size_t column = 0;
  for (const Option* o = table; o->name; o++)
    column = std::max(column, std::strlen(o->name) + (o->value ? 1 + std::strlen(o->value) : 0));
  column += 4;  // two spaces before the name, two after the longest
  std::string out;
  for (const Option* o = table; o->name; o++) {
    std::string head = std::string("  ") + o->name + (o->value ? std::string(" ") + o->value : "");
    out += head + std::string(column - head.size(), ' ') + wrapWords(splitWords(o->help), column, column) + "\n";
  }
  return out;
}

bool parseNumber(const std::string& text, int64_t min, int64_t max, int64_t* out) {
  if (text.empty()) return false;
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n > max) return false;  // at every digit, so n stays below 10 * max + 10: no overflow
  }
  if (n < min) return false;
  *out = n;
  return true;
}

bool numberOption(const ParsedOptions& options, const char* option, int64_t min, int64_t max,
                  const char* expected, int64_t* out) {
  if (!options.has(option) || parseNumber(options.value(option), min, max, out)) return true;
  failValue(option, options.value(option), expected);
  return false;
}

const char* sectionName(int section) {
  return section >= 0 && section < kSectionCount ? kSectionNames[section].name : "?";
}

const char* sectionLongName(int section) {
  return section >= 0 && section < kSectionCount ? kSectionNames[section].longName : "?";
}

bool sectionOption(const ParsedOptions& options, const char* option, SectionChoices choices, int* out) {
  if (!options.has(option)) return true;
  int section = sectionFromName(options.value(option), choices);
  if (section < 0) {
    failValue(option, options.value(option), sectionChoicesText(choices).c_str());
    return false;
  }
  *out = section;
  return true;
}

bool sectionListOption(const ParsedOptions& options, const char* option, SectionChoices choices,
                       bool out[kSectionCount]) {
  if (!options.has(option)) return true;
  const std::string text = options.value(option);
  bool chosen[kSectionCount] = {};
  // Split by hand rather than with splitNonEmpty: an empty name ("files,,apps") is refused.
  for (size_t start = 0; start <= text.size();) {
    size_t end = std::min(text.find(',', start), text.size());
    int section = sectionFromName(text.substr(start, end - start), choices);
    if (section < 0) {
      failValue(option, text, ("a list of " + sectionChoicesText(choices)).c_str());
      return false;
    }
    chosen[section] = true;
    start = end + 1;
  }
  std::copy(chosen, chosen + kSectionCount, out);
  return true;
}

SectionFilter pathOption(const ParsedOptions& options) {
  return copyFilter(options.has("--path") ? FilterList{fromUtf8(options.value("--path"))} : FilterList{});
}

}  // namespace keldrun
