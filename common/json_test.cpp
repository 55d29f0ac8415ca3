// JSON strings for any bytes, and the writer's punctuation.
#include <gtest/gtest.h>

#include <sstream>

#include "common/json.h"

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

TEST(JsonTest, WriterPlacesCommasBetweenMembersAndElements) {
    std::ostringstream out;
    JsonWriter json(out);
    json.BeginObject().Field("a", 1).Key("list").BeginArray();
    json.BeginObject().Field("x", "y").EndObject().BeginObject().EndObject().Number(0).BeginArray().EndArray();
    json.EndArray().Key("none").Null().Field("big", 18446744073709551615u).EndObject();
    EXPECT_EQ(out.str(), R"({"a":1,"list":[{"x":"y"},{},0,[]],"none":null,"big":18446744073709551615})");
}

}  // namespace
