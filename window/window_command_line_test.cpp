// The window program's command line: what starts the window, what is answered
// without one, and the exit code of each.
#include "window/window_command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

struct LineCase {
    std::vector<std::string> arguments;
    std::optional<int> exitCode;  // nullopt: the window runs
    std::string package = {};     // when it runs
    std::string out = {};         // the start of standard output
    std::string err = {};         // all of standard error
};

const std::string kUsageLine = "usage: quillon [FILE.vfw] | --help | --version\n";

TEST(WindowCommandLineTest, RunsTheWindowOrAnswersWithTheExitCode) {
    const LineCase cases[] = {
        {{}, std::nullopt},
        {{"a.vfw"}, std::nullopt, "a.vfw"},
        {{"--", "-dashed.vfw"}, std::nullopt, "-dashed.vfw"},
        {{"--help"}, 0, {}, kUsageLine},
        {{"a.vfw", "-h"}, 0, {}, kUsageLine},
        {{"--unknown", "--help"}, 2, {}, {}, "quillon: unknown option --unknown\n" + kUsageLine},
        {{"--version"}, 0, {}, std::string("quillon ") + QUILLON_VERSION + "\n"},
        {{"-V"}, 0, {}, std::string("quillon ") + QUILLON_VERSION + "\n"},
        {{"--version", "a.vfw"}, 2, {}, {}, "quillon: --version takes no arguments\n" + kUsageLine},
        {{"--version=1"}, 2, {}, {}, "quillon: --version takes no value\n" + kUsageLine},
        {{"a.vfw", "b.vfw"}, 2, {}, {}, "quillon: unexpected argument \"b.vfw\"\n" + kUsageLine},
        {{""}, 2, {}, {}, "quillon: the package file name is empty\n" + kUsageLine},
        // Qt's own options are not taken: the environment sets what they would.
        {{"-platform", "offscreen"}, 2, {}, {}, "quillon: unknown option -p\n" + kUsageLine},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const ParsedWindowCommandLine parsed = ParseWindowCommandLine(c.arguments);
        std::ostringstream out, err;
        EXPECT_EQ(AnswerWithoutWindow(parsed, out, err), c.exitCode);
        EXPECT_TRUE(out.str().starts_with(c.out)) << out.str();
        EXPECT_EQ(out.str().empty(), c.out.empty());
        EXPECT_EQ(err.str(), c.err);
        if (!c.exitCode) {
            EXPECT_EQ(parsed.line->package, c.package);
        }
    }
}

// The man page is made from the help: it must carry its sections.
TEST(WindowCommandLineTest, TheHelpNamesExitStatusFilesAndEnvironment) {
    const std::string help = WindowHelpText();
    for (const char* part : {"Exit status:", "Files:", "Environment:", "FILE.vfw", "XDG_STATE_HOME",
                             "QUILLON_HID_EMULATOR", "--version"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
}

TEST(WindowCommandLineTest, ThePackageIsNamedByItsAbsolutePath) {
    EXPECT_EQ(AbsolutePackagePath(""), "");
    EXPECT_EQ(AbsolutePackagePath("/a/b.vfw"), "/a/b.vfw");
    EXPECT_EQ(AbsolutePackagePath("b.vfw"), (std::filesystem::current_path() / "b.vfw").string());
}

}  // namespace
