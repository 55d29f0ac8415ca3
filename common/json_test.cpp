// JSON strings for any bytes, and the writer's punctuation.
#include <gtest/gtest.h>

#include <sstream>

#include "common/json.h"
#include "common/json_parse_testing.h"

namespace {

TEST(JsonTest, StringsEscapeEverythingThatIsNotPlainAscii) {
    struct Case {
        std::string text;
        const char* json;
    };
    const Case cases[] = {
        {"MON27", R"("MON27")"},
        {"", R"("")"},
        {"a\"b\\c/", R"("a\"b\\c/")"},
        {std::string("\0\x01\n\x1f", 4), R"("\u0000\u0001\u000a\u001f")"},
        {" ~\x7f", R"(" ~\u007f")"},
        {"\x80\xc3\xa9\xff", R"("\u0080\u00c3\u00a9\u00ff")"},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json);
}

TEST(JsonTest, Utf8TextKeepsItsCharactersAndEscapesControls) {
    EXPECT_EQ(JsonText("通信エラー\nUSB \"A\"\t\x7f"),
              "\"通信エラー\\u000aUSB \\\"A\\\"\\u0009\x7f\"");
}

// Text meant as UTF-8 from a monitor: whatever its bytes, the string is valid
// JSON in valid UTF-8, and what was valid UTF-8 reads as it was.
TEST(JsonTest, DeviceTextReplacesEachByteThatIsNotUtf8) {
    struct Case {
        std::string text;
        std::string json;
    };
    const Case cases[] = {
        {"QX2701", R"("QX2701")"},
        {"モニター２７", "\"モニター２７\""},
        {"QX\xff\xfe" "27", "\"QX\xef\xbf\xbd\xef\xbf\xbd" "27\""},
        {"QX\xe3\x83", "\"QX\xef\xbf\xbd\xef\xbf\xbd\""},
        {"\x1b[2J\r\\", R"("\u001b[2J\u000d\\")"},
        {"\x7f\xc2\x9b\xc2\xa0", "\"\\u007f\\u009b\xc2\xa0\""},
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.text, JsonBytes::ReplaceInvalid), c.json) << c.text;

    std::ostringstream out;
    JsonWriter(out, JsonBytes::ReplaceInvalid).BeginObject().Field("model", "QX\xff").EndObject();
    EXPECT_EQ(out.str(), "{\"model\":\"QX\xef\xbf\xbd\"}");
}

// The tests' parser, which the CLI tests read every JSON line with, refuses what
// a script's parser refuses, and reads device text back as it was sent.
TEST(JsonTest, TheTestsParserReadsDeviceTextAndRefusesWhatIsNotJson) {
    JsonParser parser;
    const std::optional<JsonValue> parsed =
        parser.Parse("{\"model\":" + JsonString("QX\x1b[2J\r\\27モ", JsonBytes::ReplaceInvalid) + ",\"n\":[-1.5e3,true,null]}");
    ASSERT_TRUE(parsed) << parser.Error();
    EXPECT_EQ(parsed->StringAt("model"), "QX\x1b[2J\r\\27モ");
    EXPECT_EQ(parser.Parse(R"({"s":"\ud83d\udda5\/"})")->StringAt("s"), "\xf0\x9f\x96\xa5/");
    for (const std::string bad : {"\"QX\xff\"", "\"a\x1b\"", "\"\\x1b\"", "{\"a\":1,}", "[01]", "\"\\ud800\"", "{} {}"})
        EXPECT_FALSE(parser.Parse(bad)) << bad;
}

TEST(JsonTest, WriterPlacesCommasBetweenMembersAndElements) {
    std::ostringstream out;
    JsonWriter json(out);
    json.BeginObject().Field("a", 1).Key("list").BeginArray();
    json.BeginObject().Field("x", "y").EndObject().BeginObject().EndObject().Number(0).BeginArray().EndArray();
    json.EndArray().Key("none").Null().Field("big", 18446744073709551615u).Field("low", std::int32_t{-5});
    json.Key("yes").Bool(true).Key("no").Bool(false).EndObject();
    EXPECT_EQ(out.str(),
              R"({"a":1,"list":[{"x":"y"},{},0,[]],"none":null,"big":18446744073709551615,"low":-5,"yes":true,"no":false})");
}

}  // namespace
