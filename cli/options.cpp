#include "cli/options.h"

#include <algorithm>
#include <cstring>

namespace keldrun {

namespace {

constexpr size_t kWidth = 80;

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

}  // namespace keldrun
