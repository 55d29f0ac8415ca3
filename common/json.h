#pragma once
// JSON strings, and a compact JSON writer (vfwtool's `info --json`,
// quillon-cli's output): objects, arrays, strings, integers, booleans and null,
// with commas placed by the writer.
#include <concepts>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// What becomes of bytes from 0x7F up: kept, for UTF-8 text (the catalogue's
// messages); each taken as one character and escaped, so that the result
// is valid JSON whatever bytes a file holds; or, for text meant as UTF-8 that
// may not be (a monitor's model name), valid UTF-8 kept, each byte that is not
// part of it written as U+FFFD, and DEL and the C1 controls escaped as \u00XX.
enum class JsonBytes { KeepUtf8, EscapeEach, ReplaceInvalid };

// The text as a JSON string with its quotes; quotes, backslashes and control
// characters are escaped.
std::string JsonString(std::string_view text, JsonBytes high = JsonBytes::EscapeEach);
// UTF-8 text as a JSON string: JsonString(text, JsonBytes::KeepUtf8).
inline std::string JsonText(std::string_view utf8) { return JsonString(utf8, JsonBytes::KeepUtf8); }

class JsonWriter {
public:
    // Strings are written with `high` (keys are the program's own ASCII).
    explicit JsonWriter(std::ostream& out, JsonBytes high = JsonBytes::EscapeEach) : out_(out), high_(high) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    template <std::integral Integer>
        requires(!std::same_as<Integer, bool>)
    JsonWriter& Number(Integer value) {
        if constexpr (std::is_signed_v<Integer>)
            return Signed(value);
        else
            return Unsigned(value);
    }
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    JsonWriter& Field(std::string_view key, std::string_view value) { return Key(key).String(value); }
    template <std::integral Integer>
        requires(!std::same_as<Integer, bool>)
    JsonWriter& Field(std::string_view key, Integer value) {
        return Key(key).Number(value);
    }

private:
    JsonWriter& Signed(std::int64_t value);
    JsonWriter& Unsigned(std::uint64_t value);
    void BeforeValue();
    // An object or array begins or ends.
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);

    std::ostream& out_;
    JsonBytes high_;
    std::vector<bool> empty_;  // per open object or array: nothing written in it yet
    bool afterKey_ = false;
};
