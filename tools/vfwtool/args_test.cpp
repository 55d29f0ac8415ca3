// The command line parser and the checks of option values.
#include <gtest/gtest.h>

#include "common/command_line_options.h"
#include "tools/vfwtool/values.h"

namespace {

constexpr OptionRule kRules[] = {
    {.name = "-o"}, {.name = "--set", .repeatable = true}, {.name = "--json", .takesValue = false}};

TEST(ArgsTest, KeepsOptionsInOrderWithTheirValues) {
    const std::vector<std::string> args = {"a", "--set", "1", "-o", "-x", "--set=2=3", "--json", "--", "--set", "-"};
    std::string error;
    const auto line = ParseCommandLine(args, kRules, error);
    ASSERT_TRUE(line) << error;
    // A value is the next argument even when it starts with '-'; only "--name=" splits at '='.
    const std::vector<std::pair<std::string, std::string>> options = {
        {"--set", "1"}, {"-o", "-x"}, {"--set", "2=3"}, {"--json", ""}};
    EXPECT_EQ(line->options, options);
    EXPECT_EQ(line->operands, (std::vector<std::string>{"a", "--set", "-"}));
    EXPECT_EQ(*line->Value("-o"), "-x");
    EXPECT_EQ(line->Value("--missing"), nullptr);
}

TEST(ArgsTest, RefusesWhatTheRulesDoNotAllow) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    for (const Case& c : {Case{{"--sets", "1"}, "unknown option --sets"}, Case{{"-o"}, "-o needs a value"},
                          Case{{"-o", "a", "-o", "b"}, "-o is given twice"},
                          Case{{"--json", "--json"}, "--json is given twice"},
                          Case{{"--json=1"}, "--json takes no value"}, Case{{"-o=x"}, "unknown option -o=x"}}) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, kRules, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(ValuesTest, NumbersAreDecimalDigitsWithinTheirMaximum) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"0", 0u},          {"007", 7u},       {"65535", 65535u},   {"65536", std::nullopt},
        {"", std::nullopt}, {"+1", std::nullopt}, {"-1", std::nullopt}, {" 1", std::nullopt},
        {"1 ", std::nullopt}, {"0x10", std::nullopt}, {"18446744073709551617", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(ParseNumber("--seconds", c.text, 65535, error), c.value) << c.text;
        if (!c.value) {
            EXPECT_EQ(error, "--seconds '" + std::string(c.text) + "' is not a number from 0 to 65535");
        }
    }
    std::string error;
    EXPECT_EQ(ParseNumber("-n", "4294967295", 0xFFFFFFFF, error), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("-n", "4294967296", 0xFFFFFFFF, error), std::nullopt);
}

TEST(ValuesTest, ComponentOptionsSplitAtTheFirstEqualsAndColons) {
    struct Case {
        const char* text;
        std::optional<ComponentOption> component;
    };
    const Case cases[] = {
        {"2=fw.bin", ComponentOption{2, "fw.bin", 0, 0}},
        {"6=a=b:30", ComponentOption{6, "a=b", 30, 0}},
        {"1=fw.bin:65535:255", ComponentOption{1, "fw.bin", 65535, 255}},
        {"2fw.bin", std::nullopt},
        {"=fw.bin", std::nullopt},
        {"02=fw.bin", ComponentOption{2, "fw.bin", 0, 0}},
        {"2=", std::nullopt},
        {"2=fw.bin:", std::nullopt},
        {"2=fw.bin::5", std::nullopt},
        {"2=fw.bin:5:", std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto component = ParseComponentOption("--component", c.text, error);
        ASSERT_EQ(component.has_value(), c.component.has_value()) << c.text << ": " << error;
        if (!component) continue;
        EXPECT_EQ(component->type, c.component->type) << c.text;
        EXPECT_EQ(component->file, c.component->file) << c.text;
        EXPECT_EQ(component->writeSeconds, c.component->writeSeconds) << c.text;
        EXPECT_EQ(component->attribute, c.component->attribute) << c.text;
    }
}

TEST(ValuesTest, VersionsAreConvertedToMemoryForm) {
    std::string error;
    EXPECT_EQ(ParseVersion("--set", "0000100002000030000499999", error), "000010000200003000041869f");
    EXPECT_EQ(ParseVersion("--set", "0000100002000030000400000", error), "0000100002000030000400000");
}

}  // namespace
