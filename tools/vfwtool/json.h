#pragma once
// A compact JSON writer for `info --json`: objects, arrays, strings, unsigned
// numbers and null, with commas placed by the writer.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The text as a JSON string with its quotes. Each byte is taken as one
// character: quotes, backslashes, control characters and bytes >= 0x80 are
// escaped, so that the result is valid JSON whatever bytes a file holds.
std::string JsonString(std::string_view text);

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

    std::ostream& out_;
    std::vector<bool> empty_;  // per open object or array: nothing written in it yet
    bool afterKey_ = false;
};
