#include "common/json.h"

#include <cstdio>

std::string JsonString(std::string_view text, JsonBytes high) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (byte < 0x20 || (byte >= 0x7F && high == JsonBytes::EscapeEach)) {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (empty_.empty()) return;
    if (!empty_.back()) out_ << ',';
    empty_.back() = false;
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    out_ << bracket;
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    out_ << bracket;
    empty_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginObject() { return Open('{'); }
JsonWriter& JsonWriter::EndObject() { return Close('}'); }
JsonWriter& JsonWriter::BeginArray() { return Open('['); }
JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    out_ << JsonString(key) << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
    BeforeValue();
    out_ << JsonString(value);
    return *this;
}

JsonWriter& JsonWriter::Number(std::uint64_t value) {
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
    return *this;
}
