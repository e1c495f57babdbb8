// The command line's option tables and parser, in-process: every option of every registered
// command in both spellings, the errors, and the help texts generated from the same tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/options.h"
#include "tests/test_support.h"

namespace keldrun {
namespace {

const Option kTable[] = {
    {"--section", "S", "a section"},
    {"--files", "PATH", "a folder; may be repeated"},
    {"--json", nullptr, "JSON"},
    {nullptr, nullptr, nullptr},
};

struct Parse {
  bool ok = false;
  ParsedOptions options;
  std::vector<std::string> rest;
  std::string error;
};

Parse parse(const std::vector<std::string>& args, bool stopAtOperand = false) {
  Parse p;
  p.ok = parseOptions({kTable}, args, stopAtOperand, &p.options, &p.rest, &p.error);
  return p;
}

TEST(CliOptions, BothSpellingsOfEveryValueOptionOfEveryCommandParseAlike) {
  ASSERT_GE(commands().size(), 12u);
  for (const Command& c : commands()) {
    for (const Option* o = c.options; o->name; o++) {
      SCOPED_TRACE(std::string(c.name) + " " + o->name);
      ASSERT_EQ(std::strncmp(o->name, "--", 2), 0);
      ParsedOptions spaced, joined;
      std::vector<std::string> rest;
      std::string error;
      if (!o->value) {
        ASSERT_TRUE(parseOptions({c.options}, {"x", o->name, "y"}, false, &spaced, &rest, &error)) << error;
        EXPECT_TRUE(spaced.has(o->name));
        EXPECT_EQ(spaced.operands, (std::vector<std::string>{"x", "y"}));
        EXPECT_FALSE(parseOptions({c.options}, {std::string(o->name) + "=1"}, false, &joined, &rest, &error));
        EXPECT_EQ(error, "option '" + std::string(o->name) + "' takes no value");
        continue;
      }
      // A value that looks like an option or holds '=' is still the value.
      for (const std::string value : {"v", "-v", "a=b", ""}) {
        spaced = joined = ParsedOptions();
        ASSERT_TRUE(parseOptions({c.options}, {"x", o->name, value, "y"}, false, &spaced, &rest, &error)) << error;
        ASSERT_TRUE(parseOptions({c.options}, {"x", std::string(o->name) + "=" + value, "y"}, false, &joined,
                                 &rest, &error)) << error;
        EXPECT_EQ(spaced.value(o->name), value);
        EXPECT_EQ(joined.value(o->name), value);
        EXPECT_EQ(spaced.operands, joined.operands);
        EXPECT_EQ(spaced.operands, (std::vector<std::string>{"x", "y"}));
      }
      EXPECT_FALSE(parseOptions({c.options}, {"x", o->name}, false, &spaced, &rest, &error));
      EXPECT_EQ(error, "option '" + std::string(o->name) + "' needs a value (" + o->value + ")");
    }
  }
}

TEST(CliOptions, OperandsRepeatsAndTheEndOfOptions) {
  Parse p = parse({"1", "--files", "a", "--files=b", "--section", "files", "--section=registry", "2"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.operands, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(p.options.values("--files"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(p.options.value("--section"), "registry") << "the last use counts";
  EXPECT_FALSE(p.options.has("--json"));
  EXPECT_EQ(p.options.value("--json"), "");

  // After "--" everything is an operand; a lone "-" is one too.
  p = parse({"--json", "-", "--", "--files", "-x"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.has("--json"));
  EXPECT_EQ(p.options.operands, (std::vector<std::string>{"-", "--files", "-x"}));

  // The global options stop at the command name, which starts the rest.
  p = parse({"--section", "s", "list", "--json", "--bogus"}, true);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.rest, (std::vector<std::string>{"list", "--json", "--bogus"}));
  EXPECT_TRUE(p.options.operands.empty());
}

TEST(CliOptions, EachErrorIsWordedOnce) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--jso"}, "unknown option '--jso'"},  // no guessing at prefixes
      {{"1", "--section"}, "option '--section' needs a value (S)"},
      {{"--json=yes"}, "option '--json' takes no value"},
  };
  for (const Case& c : cases) {
    Parse p = parse(c.args);
    EXPECT_FALSE(p.ok) << c.args[0];
    EXPECT_EQ(p.error, c.error) << c.args[0];
  }
  // "-h" is "--help" wherever the table has it, and unknown where it does not.
  const Option withHelp[] = {{"--help", nullptr, "help"}, {nullptr, nullptr, nullptr}};
  ParsedOptions o;
  std::vector<std::string> rest;
  std::string error;
  ASSERT_TRUE(parseOptions({kTable, withHelp}, {"-h"}, false, &o, &rest, &error)) << error;
  EXPECT_TRUE(o.has("--help"));
  EXPECT_FALSE(parseOptions({kTable}, {"-h"}, false, &o, &rest, &error));
}

TEST(CliOptions, HelpIsGeneratedFromTheTablesAndMatchesTheManual) {
  std::string manual = testing_support::readText(std::string(KELDRUN_SOURCE_DIR) + "/docs/cli.md");
  ASSERT_FALSE(manual.empty());
  for (const Command& c : commands()) {
    SCOPED_TRACE(c.name);
    std::string help = commandHelp(c);
    EXPECT_EQ(help.rfind(std::string("usage: keldrun [--home DIR] [--wine-prefix DIR] ") + c.name, 0), 0u) << help;
    EXPECT_NE(help.find(std::string("\nexample: keldrun ") + c.name), std::string::npos) << help;
    for (const Option* o = c.options; o->name; o++) {
      std::string synopsis = std::string("[") + o->name + (o->value ? std::string(" ") + o->value : "") + "]";
      EXPECT_NE(help.find(synopsis), std::string::npos) << synopsis;
      EXPECT_NE(help.find(std::string("\n  ") + o->name), std::string::npos) << o->name;
    }
    size_t start = 0;
    while (start < help.size()) {
      size_t end = help.find('\n', start);
      if (help.compare(start, 8, "example:") != 0) {
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
      }
      start = end + 1;
    }
    EXPECT_NE(manual.find("```\n" + help + "```\n"), std::string::npos)
        << "docs/cli.md does not hold the help of " << c.name << " as printed:\n" << help;
  }
}

}  // namespace
}  // namespace keldrun
