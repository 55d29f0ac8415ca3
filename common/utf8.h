#pragma once
// Reading UTF-8 one character at a time, for text whose bytes come from
// outside (a monitor, a file) and may not be UTF-8 at all.
#include <cstddef>
#include <optional>
#include <string_view>

struct Utf8Character {
    char32_t codePoint;
    std::size_t length;  // bytes, 1 to 4
};

// The character that `text` starts with, when its first bytes are one well-formed
// UTF-8 sequence: the shortest form, no surrogate, nothing above U+10FFFF.
// nullopt for an empty text and for any other first byte.
std::optional<Utf8Character> FirstUtf8Character(std::string_view text);
