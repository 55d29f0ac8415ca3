#pragma once
// The little JSON quillon-cli writes: quoted strings.
#include <string>
#include <string_view>

// `text` (UTF-8) as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);
