#include "common/display_text.h"

#include <cstdio>

#include "common/utf8.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void AppendEscaped(std::string& out, std::string_view bytes) {
    for (const char byte : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(byte));
        out += escaped;
    }
}

// The blocks that terminals draw two columns wide: Hangul Jamo, CJK (with
// kana and the radicals), Hangul syllables, the compatibility ideographs and
// forms, the fullwidth forms and the supplementary ideographs.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::string DisplayText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::optional<Utf8Character> character = FirstUtf8Character(bytes);
        const std::size_t length = character ? character->length : 1;
        if (!character || IsControl(character->codePoint))
            AppendEscaped(out, bytes.substr(0, length));
        else if (character->codePoint == '\\')
            out += "\\\\";
        else
            out += bytes.substr(0, length);
        bytes.remove_prefix(length);
    }
    return out;
}

std::optional<std::string> BytesOfDisplayText(std::string_view shown) {
    std::string bytes;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            bytes += shown[i];
        } else if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            bytes += '\\';
            ++i;
        } else if (i + 3 < shown.size() && shown[i + 1] == 'x' && HexDigit(shown[i + 2]) >= 0 &&
                   HexDigit(shown[i + 3]) >= 0) {
            bytes += static_cast<char>(HexDigit(shown[i + 2]) * 16 + HexDigit(shown[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

std::size_t DisplayColumns(std::string_view utf8) {
    std::size_t columns = 0;
    while (!utf8.empty()) {
        const std::optional<Utf8Character> character = FirstUtf8Character(utf8);
        const std::size_t length = character ? character->length : 1;
        columns += character && IsWide(character->codePoint) ? 2 : 1;
        utf8.remove_prefix(length);
    }
    return columns;
}
