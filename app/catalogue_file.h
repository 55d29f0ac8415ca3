#pragma once
// Reads the text format of the message catalogue: one text per line,
//   ID "text"
// with the escapes \n (line feed), \r (carriage return), \" and \\; lines that
// start with # and empty lines are skipped.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

using TextId = std::uint32_t;

struct ParsedCatalogue {
    std::map<TextId, std::string> texts;
    // 1-based numbers of the lines that were not a text, or repeated an earlier id;
    // those lines are left out and the rest is still usable.
    std::vector<std::size_t> malformedLines;
};

ParsedCatalogue ParseCatalogue(std::string_view file);
