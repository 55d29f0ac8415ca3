// Device text shown safely: what each kind of hostile byte becomes, and that
// ordinary and Japanese text stay as they are.
#include "common/display_text.h"

#include <gtest/gtest.h>

namespace {

struct Shown {
    const char* name;
    std::string bytes;
    std::string shown;
};

const Shown kShown[] = {
    {"PlainModel", "QX2701", "QX2701"},
    {"Empty", "", ""},
    {"Japanese", "モニター２７", "モニター２７"},
    {"AccentAndEmoji", "caf\xc3\xa9 \xf0\x9f\x96\xa5", "caf\xc3\xa9 \xf0\x9f\x96\xa5"},
    {"ClearScreen", "QX\x1b[2J27", "QX\\x1b[2J27"},
    {"BareCarriageReturn", "QX27\rEVIL", "QX27\\x0dEVIL"},
    {"LineFeedTabAndZero", std::string("a\n\t\0b", 5), "a\\x0a\\x09\\x00b"},
    {"Delete", "a\x7f", "a\\x7f"},
    {"BytesThatAreNoUtf8", "QX\xff\xfe" "27", "QX\\xff\\xfe27"},
    {"RawC1Csi", "\x9b" "2J", "\\x9b2J"},
    // U+009B, the C1 CSI some terminals act on in UTF-8.
    {"C1AsUtf8", "\xc2\x9b" "2J", "\\xc2\\x9b2J"},
    {"TruncatedSequence", "QX\xe3\x83", "QX\\xe3\\x83"},
    {"TruncatedBeforeAscii", "\xe3\x83Q", "\\xe3\\x83Q"},
    {"OverlongSlash", "\xc0\xaf", "\\xc0\\xaf"},
    {"Surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
    {"AboveUnicode", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
    // Without its own escape, "\x1b" as typed could not be told from the byte.
    {"Backslash", "a\\x1b\\", "a\\\\x1b\\\\"},
};

class DisplayTextTest : public ::testing::TestWithParam<Shown> {};
INSTANTIATE_TEST_SUITE_P(Cases, DisplayTextTest, ::testing::ValuesIn(kShown),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(DisplayTextTest, ShowsEachByteThatCouldActAsEscaped) {
    EXPECT_EQ(DisplayText(GetParam().bytes), GetParam().shown);
}

// What is shown can be read back: every byte as it was sent.
TEST_P(DisplayTextTest, ShownTextReadsBackAsTheBytesSent) {
    EXPECT_EQ(BytesOfDisplayText(GetParam().shown), GetParam().bytes);
}

TEST(BytesOfDisplayTextTest, TakesUpperCaseHexAndRefusesABackslashThatStartsNoEscape) {
    EXPECT_EQ(BytesOfDisplayText("\\x1B\\x0D"), "\x1b\x0d");
    for (const char* shown : {"a\\", "\\x1", "\\xzz", "\\q", "QX\\x1\\x1b"})
        EXPECT_EQ(BytesOfDisplayText(shown), std::nullopt) << shown;
}

TEST(DisplayColumnsTest, WideCharactersTakeTwoColumns) {
    EXPECT_EQ(DisplayColumns("QX2701"), 6u);
    EXPECT_EQ(DisplayColumns("モニター２７"), 12u);
    EXPECT_EQ(DisplayColumns("caf\xc3\xa9"), 4u);
    EXPECT_EQ(DisplayColumns("QX\\xff"), 6u);
}

}  // namespace
