#pragma once
// JSON strings, and a compact JSON writer (vfwtool's `info --json`): objects,
// arrays, strings, unsigned numbers and null, with commas placed by the writer.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// What becomes of bytes from 0x7F up: kept, for UTF-8 text (the catalogue's
// messages); or each taken as one character and escaped, so that the result
// is valid JSON whatever bytes a file holds.
enum class JsonBytes { KeepUtf8, EscapeEach };

// The text as a JSON string with its quotes; quotes, backslashes and control
// characters are escaped.
std::string JsonString(std::string_view text, JsonBytes high = JsonBytes::EscapeEach);
// UTF-8 text as a JSON string: JsonString(text, JsonBytes::KeepUtf8).
inline std::string JsonText(std::string_view utf8) { return JsonString(utf8, JsonBytes::KeepUtf8); }

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    JsonWriter& Number(std::uint64_t value);
    JsonWriter& Null();

    JsonWriter& Field(std::string_view key, std::string_view value) { return Key(key).String(value); }
    JsonWriter& Field(std::string_view key, std::uint64_t value) { return Key(key).Number(value); }

private:
    void BeforeValue();
    // An object or array begins or ends.
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);

    std::ostream& out_;
    std::vector<bool> empty_;  // per open object or array: nothing written in it yet
    bool afterKey_ = false;
};
