#include "package/version_text.h"

#include <gtest/gtest.h>

namespace {

struct Conversion {
    std::string stored, internal;
};

TEST(VersionText, StoredAndInternalForms) {
    const Conversion cases[] = {
        {"0100200030000400005000099", "0100200030000400005000063"},
        {"0100200030000400005099999", "010020003000040000501869f"},
        {"0000000000000000000000000", "0000000000000000000000000"},
        {"00255", "000ff"},  // a text of one field
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionToInternal(c.stored), c.internal) << c.stored;
        EXPECT_EQ(VersionToStored(c.internal), c.stored) << c.internal;
    }
}

TEST(VersionText, LastFieldSurvivesOnlyUpTo99999) {
    // fffff is 1048575; only its first five digits are kept.
    EXPECT_EQ(VersionToStored("01002000300004000050fffff"), "0100200030000400005010485");
    EXPECT_EQ(VersionToInternal(VersionToStored("01002000300004000050fffff")), "01002000300004000050028f5");
}

TEST(VersionText, OtherLengths) {
    EXPECT_EQ(VersionToInternal("1234"), "1234");                          // shorter, not a field: unchanged
    EXPECT_EQ(VersionToInternal("010020003000040000500009"), "010020003000040000500009");  // 24 characters
    EXPECT_EQ(VersionToInternal("0100200030000400005000099XYZ"), "0100200030000400005000063");  // tail dropped
    EXPECT_EQ(VersionToInternal(""), "");
}

TEST(VersionText, FieldIsReadAsTheCLibraryReadsIntegers) {
    const Conversion cases[] = {
        {"   16", "00010"},  // leading blanks
        {"+0016", "00010"},  // a sign
        {"12abc", "0000c"},  // stops at the first non-digit
        {"abcde", "00000"},  // no digits
        {"-0001", "fffff"},  // a negative value keeps its first five hexadecimal digits
    };
    for (const auto& c : cases) EXPECT_EQ(VersionToInternal(c.stored), c.internal) << c.stored;
    EXPECT_EQ(VersionToStored("0x01f"), "00031");
    EXPECT_EQ(VersionToStored("zzzzz"), "00000");
}

TEST(VersionText, PayloadFieldsConvertAllTwentySixBytes) {
    std::array<std::uint8_t, 26> field{};
    const std::string stored = "0100200030000400005000099";
    std::copy(stored.begin(), stored.end(), field.begin());
    EXPECT_EQ(ReadPayloadVersion(field), "0100200030000400005000063");

    // A zero inside the prefix ends the text after conversion, not before it.
    field[3] = 0;
    EXPECT_EQ(ReadPayloadVersion(field), "010");

    std::array<std::uint8_t, 26> out;
    out.fill(0xEE);
    WritePayloadVersion(out, "0100200030000400005000063");
    EXPECT_EQ(std::string(out.begin(), out.begin() + 25), stored);
    EXPECT_EQ(out[25], 0);
}

}  // namespace
