// Command lines read as GNU getopt_long reads them.
#include <gtest/gtest.h>

#include "common/command_line_options.h"

namespace {

using Options = std::vector<std::pair<std::string, std::string>>;
using Words = std::vector<std::string>;

constexpr OptionRule kRules[] = {
    {.name = "-o"},
    {.name = "--set", .repeatable = true},
    {.name = "--json", .takesValue = false, .alias = "-j"},
    {.name = "--yes", .takesValue = false, .alias = "-y"},
    {.name = "--monitor", .alias = "-m"},
    {.name = "--fault", .repeatable = true},
    {.name = "-v", .takesValue = false, .repeatable = true},
};

TEST(CommandLineOptionsTest, ReadsWhatGetoptReads) {
    struct Case {
        const char* what;
        Words args;
        Options options;
        Words operands;
        bool help = false;
    };
    const Case cases[] = {
        {"options before, between and after the operands", {"--json", "list", "-y", "x", "--set", "1"},
         {{"--json", ""}, {"--yes", ""}, {"--set", "1"}}, {"list", "x"}},
        {"-- ends the options", {"update", "--yes", "--", "--json", "-y", "--"}, {{"--yes", ""}},
         {"update", "--json", "-y", "--"}},
        {"a lone -- is taken", {"--"}, {}, {}},
        {"- is an operand", {"-", "-o", "out"}, {{"-o", "out"}}, {"-"}},
        {"short flags combine", {"-yj"}, {{"--yes", ""}, {"--json", ""}}, {}},
        {"the last of a cluster takes the value", {"-yjo", "file"}, {{"--yes", ""}, {"--json", ""}, {"-o", "file"}}, {}},
        {"an attached value", {"-ofile", "-yjmSN1"}, {{"-o", "file"}, {"--yes", ""}, {"--json", ""}, {"--monitor", "SN1"}}, {}},
        {"long options with = or the next argument", {"--monitor=A=B", "--set", "2", "--set="},
         {{"--monitor", "A=B"}, {"--set", "2"}, {"--set", ""}}, {}},
        {"a value may start with a dash", {"-o", "-y", "--monitor", "--json"}, {{"-o", "-y"}, {"--monitor", "--json"}}, {}},
        {"the order is kept across names", {"--fault", "a", "-v", "--set", "1", "--fault=b", "-vv"},
         {{"--fault", "a"}, {"-v", ""}, {"--set", "1"}, {"--fault", "b"}, {"-v", ""}, {"-v", ""}}, {}},
        {"--help ends the reading", {"list", "--help", "--bogus", "extra"}, {}, {"list"}, true},
        {"-h in a cluster", {"-yh", "--bogus"}, {{"--yes", ""}}, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedArguments parsed = ParseArguments(c.args, kRules);
        ASSERT_FALSE(parsed.fault) << parsed.fault->Text();
        EXPECT_EQ(parsed.options, c.options);
        EXPECT_EQ(parsed.operands, c.operands);
        EXPECT_EQ(parsed.help, c.help);
    }
}

TEST(CommandLineOptionsTest, FaultsNameTheOptionAndStopTheReading) {
    struct Case {
        Words args;
        OptionFault::Kind kind;
        const char* text;
        Words operandsBefore;  // what was read before the fault
    };
    using Kind = OptionFault::Kind;
    const Case cases[] = {
        {{"list", "--verbose", "more"}, Kind::Unknown, "unknown option --verbose", {"list"}},
        {{"--jso"}, Kind::Unknown, "unknown option --jso", {}},  // no abbreviations
        {{"--yes-please"}, Kind::Unknown, "unknown option --yes-please", {}},
        {{"-yx"}, Kind::Unknown, "unknown option -x", {}},
        {{"-dashed.txt"}, Kind::Unknown, "unknown option -d", {}},
        {{"-o=x"}, Kind::Unknown, "unknown option -o=x", {}},
        {{"a", "-o"}, Kind::MissingValue, "-o needs a value", {"a"}},
        {{"-yjo"}, Kind::MissingValue, "-o needs a value", {}},
        {{"--monitor"}, Kind::MissingValue, "--monitor needs a value", {}},
        {{"-m"}, Kind::MissingValue, "--monitor needs a value", {}},
        {{"--json=1"}, Kind::ValueForFlag, "--json takes no value", {}},
        {{"--json="}, Kind::ValueForFlag, "--json takes no value", {}},
        {{"--help=1"}, Kind::ValueForFlag, "--help takes no value", {}},
        {{"-jy=1"}, Kind::ValueForFlag, "--yes takes no value", {}},
        {{"-o", "a", "-ob"}, Kind::GivenTwice, "-o is given twice", {}},
        {{"--yes", "-y"}, Kind::GivenTwice, "--yes is given twice", {}},
        {{"-jj"}, Kind::GivenTwice, "--json is given twice", {}},
        {{"-m", "A", "--monitor=B"}, Kind::GivenTwice, "--monitor is given twice", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const ParsedArguments parsed = ParseArguments(c.args, kRules);
        ASSERT_TRUE(parsed.fault);
        EXPECT_EQ(parsed.fault->kind, c.kind);
        EXPECT_EQ(parsed.fault->Text(), c.text);
        EXPECT_EQ(parsed.operands, c.operandsBefore);
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, kRules, error));
        EXPECT_EQ(error, c.text);
    }
}

TEST(CommandLineOptionsTest, ACommandChecksTheOptionsItTakes) {
    constexpr OptionRule kList[] = {{.name = "--json", .takesValue = false}};
    constexpr OptionRule kCreate[] = {{.name = "-o"}, {.name = "--set", .repeatable = true}};
    const ParsedArguments listing = ParseArguments(Words{"-j", "list"}, kRules);
    EXPECT_FALSE(CheckOptions(listing, kList));
    const auto yes = CheckOptions(ParseArguments(Words{"list", "-jy"}, kRules), kList);
    ASSERT_TRUE(yes);
    EXPECT_EQ(yes->Text(), "unknown option --yes");
    EXPECT_FALSE(CheckOptions(ParseArguments(Words{"--set", "1", "-o", "x", "--set", "2"}, kRules), kCreate));
    constexpr OptionRule kExtract[] = {{.name = "--set"}, {.name = "-o"}};
    const auto twice = CheckOptions(ParseArguments(Words{"--set", "1", "--set", "2"}, kRules), kExtract);
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->Text(), "--set is given twice");
}

}  // namespace
