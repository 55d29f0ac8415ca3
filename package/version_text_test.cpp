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

// --- VersionText: texts of any length, as a damaged record may hold ---

constexpr char kWell[] = "0010200201000030000400005";

TEST(VersionTextFields, EveryLengthReadsWithoutThrowing) {
    struct Case {
        const char* name;
        std::string text;
        std::array<const char*, 5> fields;
        std::size_t wholeFields;
        bool wellFormed;
    };
    const Case cases[] = {
        {"well formed", kWell, {"00102", "00201", "00003", "00004", "00005"}, 5, true},
        {"two fields and a bit", "00102002010", {"00102", "00201", "0", "", ""}, 2, false},
        {"one character short", "001020020100003000040000", {"00102", "00201", "00003", "00004", "0000"}, 4, false},
        {"empty", "", {"", "", "", "", ""}, 0, false},
        {"over long", std::string(kWell) + "XYZ", {"00102", "00201", "00003", "00004", "00005"}, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const VersionText v(c.text);
        EXPECT_EQ(v.Text(), c.text);
        EXPECT_EQ(v.WellFormed(), c.wellFormed);
        for (std::size_t i = 0; i < kVersionFieldCount; ++i) {
            EXPECT_EQ(v.Field(i), c.fields[i]) << "field " << i;
            EXPECT_EQ(v.HasField(i), i < c.wholeFields) << "field " << i;
        }
        // There is no sixth field, even in a longer text.
        EXPECT_EQ(v.Field(kVersionFieldCount), "");
        EXPECT_EQ(v.Field(std::size_t(-1)), "");
        EXPECT_FALSE(v.HasField(kVersionFieldCount));
    }
}

TEST(VersionTextFields, OnlyAWholeFieldOfZerosIsAWildcard) {
    const VersionText v("00000000100000000");  // "00000", "00010", "00000", "00"
    EXPECT_TRUE(v.IsWildcard(0));
    EXPECT_FALSE(v.IsWildcard(1));
    EXPECT_TRUE(v.IsWildcard(2));
    EXPECT_FALSE(v.IsWildcard(3));  // a part of a field
    EXPECT_FALSE(v.IsWildcard(4));  // beyond the end
}

TEST(VersionTextFields, WildcardsAreFilledFromTheFieldsTheReferenceHoldsWhole) {
    const std::string reference = "1111122222333334444455555";
    struct Case {
        const char* name;
        std::string text, reference;
        std::size_t first, end;
        std::string filled;
    };
    const Case cases[] = {
        {"some wildcards", "0001200000000070000000000", "0001100045000060001200034", 0, 5, "0001200045000070001200034"},
        {"all wildcards", "0000000000000000000000000", reference, 0, 5, reference},
        {"no wildcard", kWell, reference, 0, 5, kWell},
        {"fields 1 to 3 only", "0000000000000000000000000", reference, 0, 3, "1111122222333330000000000"},
        {"fields 4 and 5 only", "0000000000000000000000000", reference, 3, 5, "0000000000000004444455555"},
        {"a range past the last field", "0000000000000000000000000", reference, 3, 9, "0000000000000004444455555"},
        {"a short reference keeps what it lacks", "0000000000000000000000000", "1111122", 0, 5,
         "1111100000000000000000000"},
        {"an empty reference", "0000000000000000000000000", "", 0, 5, "0000000000000000000000000"},
        {"a short text keeps its part of a field", "00000000", reference, 0, 5, "11111000"},
        {"an empty text", "", reference, 0, 5, ""},
        {"an over-long text keeps its tail", "0000000000000000000000000XY", reference, 0, 5, reference + "XY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VersionText(c.text).FillWildcards(VersionText(c.reference), c.first, c.end).Text(), c.filled);
    }
}

TEST(VersionTextFields, AMonitorSatisfiesATargetByEveryFieldThatIsNoWildcard) {
    struct Case {
        const char* name;
        std::string monitor, target;
        bool satisfied;
    };
    const Case cases[] = {
        {"the same", kWell, kWell, true},
        {"a wildcard where they differ", kWell, "0000000201000030000400005", true},
        {"all wildcards", kWell, "0000000000000000000000000", true},
        {"a field differs", kWell, "0010200201000030000400006", false},
        {"a wildcard of the monitor is no wildcard", "0000000201000030000400005", kWell, false},
        {"a short target", kWell, "00102002010000300004", false},
        {"an empty target", kWell, "", false},
        {"an over-long target", kWell, std::string(kWell) + "0", false},
        {"a short monitor", "00102002010000300004", "0000000000000000000000000", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VersionText(c.monitor).Satisfies(VersionText(c.target)), c.satisfied) << c.name;
}

}  // namespace
