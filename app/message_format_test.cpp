#include "app/message_format.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct FormatCase {
    std::string format;
    std::vector<MessageArgument> arguments;
    std::string expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << '"' << c.format << '"'; }

class FormatCatalogueTextTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatCatalogueTextTest, Formats) {
    const auto& c = GetParam();
    EXPECT_EQ(FormatCatalogueText(c.format, c.arguments), c.expected);
}

using Args = std::vector<MessageArgument>;

INSTANTIATE_TEST_SUITE_P(MatchingArguments, FormatCatalogueTextTest, testing::Values(
    FormatCase{"no placeholders", {}, "no placeholders"},
    FormatCase{"%s(%s) was", Args{"EV1", "123"}, "EV1(123) was"},
    FormatCase{"%s", Args{""}, ""},
    FormatCase{"%d|%2d|%2d|%2d|%3d", Args{7, 6, 12, 123, -5}, "7| 6|12|123| -5"},
    FormatCase{"%1d|%99d", Args{42, 1}, "42|" + std::string(98, ' ') + "1"},
    FormatCase{"%d", Args{INT_MIN}, std::to_string(INT_MIN)},
    FormatCase{"100%%, %s%%", Args{"a"}, "100%, a%"},
    FormatCase{"%s %s", Args{"%d", "%s"}, "%d %s"},  // arguments are not formats
    FormatCase{"end: %s", Args{"x", 1, "surplus"}, "end: x"}));

// A string argument comes from outside the catalogue (a monitor's model name,
// a path): it cannot bring a control character into the terminal or window.
INSTANTIATE_TEST_SUITE_P(DeviceTextArguments, FormatCatalogueTextTest, testing::Values(
    FormatCase{"%s(%s) was", Args{"QX\x1b[2J27", "SN\r\xff"}, "QX\\x1b[2J27(SN\\x0d\\xff) was"},
    FormatCase{"%s\n%s", Args{"C:\\x", "モニター"}, "C:\\\\x\nモニター"}));

// A damaged text may ask for arguments it does not get: the placeholder is left out,
// and later placeholders still take their own arguments.
INSTANTIATE_TEST_SUITE_P(MismatchedArguments, FormatCatalogueTextTest, testing::Values(
    FormatCase{"a%sb%dc", {}, "abc"},
    FormatCase{"[%s]", Args{5}, "[]"},
    FormatCase{"[%2d]", Args{"five"}, "[]"},
    FormatCase{"%d/%s/%s", Args{"x", "y", "z"}, "/y/z"},
    FormatCase{"%s(%s) and %s", Args{"model", "serial"}, "model(serial) and "}));

// Sequences we do not offer are shown as written and take no argument.
INSTANTIATE_TEST_SUITE_P(UnknownSequences, FormatCatalogueTextTest, testing::Values(
    FormatCase{"50%", Args{"x"}, "50%"},
    FormatCase{"%x %n %p %ls %s", Args{"a"}, "%x %n %p %ls a"},
    FormatCase{"%5s|%s", Args{"a"}, "%5s|a"},
    FormatCase{"%02d|%d", Args{3}, "%02d|3"},
    FormatCase{"%100d|%d", Args{4}, "%100d|4"},
    FormatCase{"%-2d|%d", Args{5}, "%-2d|5"}));

TEST(Placeholders, ListsTheArgumentTakingSequencesInOrder) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"none", {}},
        {"%s(%s)", {"%s", "%s"}},
        {"about %2d minute(s) %d", {"%2d", "%d"}},
        {"%% %x %02d %5s 50%", {}},
        {"%%s %s", {"%s"}},
    };
    for (const auto& [format, expected] : cases) EXPECT_EQ(Placeholders(format), expected) << format;
}

}  // namespace
