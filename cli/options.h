// The option tables of the command line and the one parser that reads them. Every option takes
// the forms "--name VALUE" and "--name=VALUE" (flags: "--name" alone); "--" ends the options;
// "-h" is "--help". The usage lines and --help texts are generated from the same tables, so
// what is parsed and what is documented cannot drift apart.
#ifndef KELDRUN_CLI_OPTIONS_H_
#define KELDRUN_CLI_OPTIONS_H_

#include <string>
#include <vector>

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

}  // namespace keldrun

#endif  // KELDRUN_CLI_OPTIONS_H_
