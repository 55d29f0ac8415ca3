#include "app/catalogue_file.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseCatalogue, ResolvesEscapesAndSkipsCommentsAndEmptyLines) {
    const auto parsed = ParseCatalogue(
        "# comment \"with\" quotes\n"
        "\n"
        "101 \"plain\"\n"
        "102 \"a\\nb\\r\\nc\"\n"
        "103 \"say \\\"OK\\\" \\\\ done\"\n"
        "104 \"\"\n"
        "105\t\"tab, then trailing spaces\"  \n"
        "106 \"\xC2\xB7 UTF-8 stays as it is\"");  // no line feed after the last line
    EXPECT_TRUE(parsed.malformedLines.empty());
    const std::map<TextId, std::string> expected = {
        {101, "plain"},
        {102, "a\nb\r\nc"},
        {103, "say \"OK\" \\ done"},
        {104, ""},
        {105, "tab, then trailing spaces"},
        {106, "\xC2\xB7 UTF-8 stays as it is"},
    };
    EXPECT_EQ(parsed.texts, expected);
}

TEST(ParseCatalogue, ReadsWindowsLineEndsLikeUnixOnes) {
    const auto parsed = ParseCatalogue("# c\r\n101 \"a\\r\\n\"\r\n\r\n102 \"b\"\r\n");
    EXPECT_TRUE(parsed.malformedLines.empty());
    EXPECT_EQ(parsed.texts, (std::map<TextId, std::string>{{101, "a\r\n"}, {102, "b"}}));
}

TEST(ParseCatalogue, LeavesOutMalformedLinesAndKeepsTheRest) {
    const std::string lines[] = {
        "\"no id\"",
        "x101 \"letter before the id\"",
        "101\"no space\"",
        "101 no quotes",
        "101 \"unterminated",
        "101 \"ends in a backslash\\",
        "101 \"unknown escape \\t\"",
        "101 \"text\" trailing",
        "4294967296 \"id beyond 32 bits\"",
        " 101 \"indented\"",
    };
    for (const auto& line : lines) {
        const auto parsed = ParseCatalogue("100 \"before\"\n" + line + "\n102 \"after\"\n");
        EXPECT_EQ(parsed.malformedLines, std::vector<std::size_t>{2}) << line;
        EXPECT_EQ(parsed.texts, (std::map<TextId, std::string>{{100, "before"}, {102, "after"}})) << line;
    }
}

TEST(ParseCatalogue, KeepsTheFirstOfARepeatedId) {
    const auto parsed = ParseCatalogue("4294967295 \"first\"\n4294967295 \"second\"\n");
    EXPECT_EQ(parsed.malformedLines, std::vector<std::size_t>{2});
    EXPECT_EQ(parsed.texts, (std::map<TextId, std::string>{{4294967295u, "first"}}));
}

}  // namespace
