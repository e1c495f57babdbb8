// The option tables of the command line and the one parser that reads them. Every option takes
// the forms "--name VALUE" and "--name=VALUE" (flags: "--name" alone); "--" ends the options;
// "-h" is "--help". The usage lines and --help texts are generated from the same tables, so
// what is parsed and what is documented cannot drift apart.
//
// The values that several commands' options take (sections, numbers, a path prefix) are read
// here too, once each, so that every command accepts the same spellings and words its refusal
// alike.
#ifndef KELDRUN_CLI_OPTIONS_H_
#define KELDRUN_CLI_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/section_filter.h"
#include "engine/snapshot.h"

namespace keldrun {

struct Option {
  const char* name;   // with its dashes: "--section"
  const char* value;  // the name of its value ("S", "DIR"); nullptr for a flag
  const char* help;   // one sentence, wrapped when printed
};

// What a parse found: the options in the order given (an option given twice appears twice) and
// the operands.
class ParsedOptions {
 public:
  bool has(const char* name) const;
  // The value of the last use of name; "" when it was not given.
  std::string value(const char* name) const;
  // The values of every use of name, in order.
  std::vector<std::string> values(const char* name) const;

  std::vector<std::pair<std::string, std::string>> given;  // name, value ("" for a flag)
  std::vector<std::string> operands;
};

// Parses args against the options of `tables` (each ends with a {nullptr} entry). With
// stopAtOperand, parsing ends at the first operand, which stays in *rest with everything after it.
// False with the problem in *error ("unknown option '--x'", "option '--x' needs a value", ...).
bool parseOptions(const std::vector<const Option*>& tables, const std::vector<std::string>& args,
                  bool stopAtOperand, ParsedOptions* out, std::vector<std::string>* rest,
                  std::string* error);

// The option lines of a --help text, "  --name VALUE  help", the help wrapped at 80 columns.
std::string optionLines(const Option* table);
// The words "[--name VALUE]" of every option of the table, for a usage line.
std::vector<std::string> optionSynopsis(const Option* table);

// words joined by spaces into lines of at most 80 columns; the first line starts at column
// `start` (the caller has printed that much), the others with `indent` spaces.
std::string wrapWords(const std::vector<std::string>& words, size_t start, size_t indent);

// The values of options. Each function that takes an option's name reads the option's last use
// from `options`, leaves *out untouched when the option was not given, and when the value is not
// one it accepts prints "invalid value 'V' for OPTION (expected ...)" on standard error and
// returns false.

// A decimal number: digits only, at least one, from min to max (max below 10^17).
bool parseNumber(const std::string& text, int64_t min, int64_t max, int64_t* out);
bool numberOption(const ParsedOptions& options, const char* option, int64_t min, int64_t max,
                  const char* expected, int64_t* out);

// Each section has a name ("registry", "files", "apps"), a long name (the name, but
// "applications" for apps) and its number ("0" to "2").
const char* sectionName(int section);      // "?" for a number out of range
const char* sectionLongName(int section);  // "?" for a number out of range

// The sections a section option accepts, and how they may be spelled.
struct SectionChoices {
  unsigned sections;  // bit k: section k
  bool shortNames;    // "apps" as well as "applications"; the refusal lists the names, else the long names
};
constexpr SectionChoices kAnySection = {7, true};
constexpr SectionChoices kRegistryOrFiles = {3, true};
// For digest, whose lines name the sections by their long names.
constexpr SectionChoices kAnySectionByLongName = {7, false};

// The section given with option; its name or number as choices allows (case matters).
bool sectionOption(const ParsedOptions& options, const char* option, SectionChoices choices, int* out);
// The sections given with option as a list joined by commas ("registry,apps"), every one valid,
// none empty; out[k] says whether section k is in the list.
bool sectionListOption(const ParsedOptions& options, const char* option, SectionChoices choices,
                       bool out[kSectionCount]);

// The filter of --path: the nodes at or below the path (whole names, case folded) and those on
// the way to it; every node when --path is not given, none when its value is empty.
SectionFilter pathOption(const ParsedOptions& options);

}  // namespace keldrun

#endif  // KELDRUN_CLI_OPTIONS_H_
