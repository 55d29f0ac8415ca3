#pragma once
// Tests only: a strict JSON parser (RFC 8259), for checking that what the
// programs write is JSON a script can read: valid UTF-8 in strings, no raw
// control characters, only the escapes JSON has, nothing after the value.
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/utf8.h"

struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::vector<std::pair<std::string, JsonValue>>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    // The member `key` of an object; nullptr when there is none.
    const JsonValue* Member(std::string_view key) const {
        if (const auto* object = std::get_if<Object>(&value))
            for (const auto& [name, member] : *object)
                if (name == key) return &member;
        return nullptr;
    }
    const std::string* String() const { return std::get_if<std::string>(&value); }
    // The string member `key`; nullopt when it is missing or not a string.
    std::optional<std::string> StringAt(std::string_view key) const {
        const JsonValue* member = Member(key);
        const std::string* text = member ? member->String() : nullptr;
        return text ? std::optional<std::string>(*text) : std::nullopt;
    }
};

class JsonParser {
public:
    // The value `text` holds, or nullopt with Error() saying where it went wrong.
    std::optional<JsonValue> Parse(std::string_view text) {
        text_ = text;
        at_ = 0;
        error_.clear();
        JsonValue value;
        if (!ParseValue(value, 0)) return std::nullopt;
        SkipSpace();
        if (at_ != text_.size()) return Fail("text after the value");
        return value;
    }
    const std::string& Error() const { return error_; }

private:
    static constexpr int kDeepest = 64;

    std::nullopt_t Fail(const std::string& why) {
        if (error_.empty()) error_ = why + " at byte " + std::to_string(at_);
        return std::nullopt;
    }
    bool Failed(const std::string& why) {
        Fail(why);
        return false;
    }
    void SkipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    bool Take(char c) {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
        return false;
    }
    bool TakeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    bool ParseValue(JsonValue& out, int depth) {
        if (depth > kDeepest) return Failed("nested too deep");
        SkipSpace();
        if (at_ >= text_.size()) return Failed("no value");
        const char c = text_[at_];
        if (c == '{') return ParseObject(out, depth);
        if (c == '[') return ParseArray(out, depth);
        if (c == '"') {
            std::string s;
            if (!ParseString(s)) return false;
            out.value = std::move(s);
            return true;
        }
        if (TakeWord("null")) return out.value = nullptr, true;
        if (TakeWord("true")) return out.value = true, true;
        if (TakeWord("false")) return out.value = false, true;
        return ParseNumber(out);
    }

    bool ParseObject(JsonValue& out, int depth) {
        ++at_;
        JsonValue::Object object;
        if (!Take('}')) {
            do {
                SkipSpace();
                std::string key;
                if (at_ >= text_.size() || text_[at_] != '"') return Failed("no key");
                if (!ParseString(key)) return false;
                if (!Take(':')) return Failed("no colon");
                JsonValue member;
                if (!ParseValue(member, depth + 1)) return false;
                object.emplace_back(std::move(key), std::move(member));
            } while (Take(','));
            if (!Take('}')) return Failed("object not closed");
        }
        out.value = std::move(object);
        return true;
    }

    bool ParseArray(JsonValue& out, int depth) {
        ++at_;
        JsonValue::Array array;
        if (!Take(']')) {
            do {
                JsonValue element;
                if (!ParseValue(element, depth + 1)) return false;
                array.push_back(std::move(element));
            } while (Take(','));
            if (!Take(']')) return Failed("array not closed");
        }
        out.value = std::move(array);
        return true;
    }

    bool ParseNumber(JsonValue& out) {
        const std::size_t start = at_;
        const auto digits = [this] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const std::size_t first = at_;
        const std::size_t whole = digits();
        if (whole == 0) return Failed("no value");
        if (whole > 1 && text_[first] == '0') return Failed("leading zero");
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) return Failed("no digits after the point");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (digits() == 0) return Failed("no exponent");
        }
        out.value = std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
        return true;
    }

    bool ParseHex4(char32_t& unit) {
        if (at_ + 4 > text_.size()) return Failed("short \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            unit <<= 4;
            if (c >= '0' && c <= '9') unit |= static_cast<char32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') unit |= static_cast<char32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') unit |= static_cast<char32_t>(c - 'A' + 10);
            else return Failed("bad \\u escape");
        }
        return true;
    }

    static void AppendUtf8(std::string& out, char32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool ParseEscape(std::string& out) {
        if (at_ >= text_.size()) return Failed("string not closed");
        const char c = text_[at_++];
        switch (c) {
            case '"': case '\\': case '/': out += c; return true;
            case 'b': out += '\b'; return true;
            case 'f': out += '\f'; return true;
            case 'n': out += '\n'; return true;
            case 'r': out += '\r'; return true;
            case 't': out += '\t'; return true;
            case 'u': break;
            default: return Failed("unknown escape");
        }
        char32_t unit = 0;
        if (!ParseHex4(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return Failed("lone low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            char32_t low = 0;
            if (!TakeWord("\\u") || !ParseHex4(low) || low < 0xDC00 || low > 0xDFFF)
                return Failed("lone high surrogate");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, unit);
        return true;
    }

    bool ParseString(std::string& out) {
        ++at_;  // the opening quote
        for (;;) {
            if (at_ >= text_.size()) return Failed("string not closed");
            const auto byte = static_cast<unsigned char>(text_[at_]);
            if (byte == '"') return ++at_, true;
            if (byte < 0x20) return Failed("raw control character in a string");
            if (byte == '\\') {
                ++at_;
                if (!ParseEscape(out)) return false;
                continue;
            }
            const std::optional<Utf8Character> character = FirstUtf8Character(text_.substr(at_));
            if (!character) return Failed("a string that is not UTF-8");
            out.append(text_.substr(at_, character->length));
            at_ += character->length;
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};
