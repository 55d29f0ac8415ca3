// quillon-cli's command line as scripts write it: options anywhere, "--",
// combined short options.
#include <gtest/gtest.h>

#include "cli/command_line.h"

namespace {

struct Accepted {
    std::vector<std::string> arguments;
    Command command;
    bool json = false, yes = false;
    std::string package = {}, monitor = {};
    Command helpFor = Command::Help;
};

TEST(ScriptCommandLineTest, OptionsMayStandAnywhere) {
    const Accepted cases[] = {
        {{"--json", "list"}, Command::List, true},
        {{"-j", "status"}, Command::Status, true},
        {{"update", "-yj"}, Command::Update, true, true},
        {{"-jy", "update", "--package", "a.vfw"}, Command::Update, true, true, "a.vfw"},
        {{"--monitor=SN1", "-y", "update"}, Command::Update, false, true, {}, "SN1"},
        {{"update", "--yes", "--"}, Command::Update, false, true},
        {{"update", "--package", "-dashed.vfw", "-y"}, Command::Update, false, true, "-dashed.vfw"},
        {{"list", "--json", "--json"}, Command::List, true},
        {{"-V"}, Command::Version},
        {{"--json", "update", "-h"}, Command::Help, false, false, {}, {}, Command::Update},
        {{"help", "status"}, Command::Help, false, false, {}, {}, Command::Status},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments);
        ASSERT_TRUE(parsed.line) << parsed.error;
        EXPECT_EQ(parsed.line->command, c.command);
        EXPECT_EQ(parsed.line->json, c.json);
        EXPECT_EQ(parsed.line->yes, c.yes);
        EXPECT_EQ(parsed.line->package, c.package);
        EXPECT_EQ(parsed.line->monitor, c.monitor);
        EXPECT_EQ(parsed.line->helpFor, c.helpFor);
    }
}

TEST(ScriptCommandLineTest, RefusedWithTheCommandsUsage) {
    struct Refused {
        std::vector<std::string> arguments;
        const char* error;
        Command usageOf;
    };
    const Refused cases[] = {
        // After "--" everything is an operand, and update takes none.
        {{"update", "--yes", "--", "x"}, "unexpected argument \"x\"", Command::Update},
        {{"update", "--", "--yes"}, "unexpected argument \"--yes\"", Command::Update},
        {{"--json", "list", "--yes"}, "unknown option --yes for list", Command::List},
        {{"list", "-jx"}, "unknown option -x for list", Command::List},
        {{"-y", "status"}, "unknown option --yes for status", Command::Status},
        {{"update", "-y", "--monitor"}, "--monitor needs a value", Command::Update},
        {{"update", "-jy=1"}, "unknown option -jy=1 for update (--yes takes no value)", Command::Update},
        {{"--package", "a", "update", "--package=b"}, "--package given twice", Command::Update},
        {{"--json"}, "no command given", Command::Help},
        {{"list", "--version"}, "--version takes no arguments", Command::Help},
        {{"--jso", "list"}, "unknown option --jso", Command::Help},  // no abbreviations
        {{"help", "update", "--json"}, "help takes no options", Command::Help},
        {{"help", "list", "status"}, "too many arguments", Command::Help},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_FALSE(parsed.line);
        EXPECT_EQ(parsed.error, c.error);
        EXPECT_EQ(parsed.usageOf, c.usageOf);
    }
}

}  // namespace
