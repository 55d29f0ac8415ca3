#include "common/json.h"

#include <cstdio>

#include "common/utf8.h"

namespace {

void AppendEscaped(std::string& out, char32_t character) {
    char escaped[7];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(character));
    out += escaped;
}

// The character `text` starts with, whose first byte is 0x7F or above: valid
// UTF-8 kept, DEL and the C1 controls escaped, a byte that starts no valid
// UTF-8 written as U+FFFD. The bytes taken.
std::size_t AppendUtf8Character(std::string& out, std::string_view text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    const std::optional<Utf8Character> character = FirstUtf8Character(text);
    if (!character) {
        out += kReplacement;
        return 1;
    }
    if (character->codePoint <= 0x9F)
        AppendEscaped(out, character->codePoint);
    else
        out += text.substr(0, character->length);
    return character->length;
}

}  // namespace

std::string JsonString(std::string_view text, JsonBytes high) {
    std::string out = "\"";
    while (!text.empty()) {
        const char ch = text.front();
        const auto byte = static_cast<unsigned char>(ch);
        std::size_t length = 1;
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (byte < 0x20 || (byte >= 0x7F && high == JsonBytes::EscapeEach)) {
            AppendEscaped(out, byte);
        } else if (byte >= 0x7F && high == JsonBytes::ReplaceInvalid) {
            length = AppendUtf8Character(out, text);
        } else {
            out += ch;
        }
        text.remove_prefix(length);
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
    out_ << JsonString(value, high_);
    return *this;
}

JsonWriter& JsonWriter::Signed(std::int64_t value) {
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Unsigned(std::uint64_t value) {
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
    return *this;
}
