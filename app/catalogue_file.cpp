#include "app/catalogue_file.h"

#include <optional>

namespace {

struct Entry {
    TextId id;
    std::string text;
};

std::optional<TextId> ParseId(std::string_view& line) {
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(line[digits] - '0');
        if (value > UINT32_MAX) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    line.remove_prefix(digits);
    return static_cast<TextId>(value);
}

// The quoted text at the start of line, escapes resolved; line keeps what follows it.
std::optional<std::string> ParseQuoted(std::string_view& line) {
    if (line.empty() || line.front() != '"') return std::nullopt;
    std::string text;
    for (std::size_t i = 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            line.remove_prefix(i + 1);
            return text;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i == line.size()) return std::nullopt;
        switch (line[i]) {
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case '"': text += '"'; break;
            case '\\': text += '\\'; break;
            default: return std::nullopt;
        }
    }
    return std::nullopt;  // no closing quotation mark
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<Entry> ParseEntry(std::string_view line) {
    const auto id = ParseId(line);
    if (!id || line.empty() || (line.front() != ' ' && line.front() != '\t')) return std::nullopt;
    line = TrimSpaces(line);
    auto text = ParseQuoted(line);
    if (!text || !TrimSpaces(line).empty()) return std::nullopt;
    return Entry{*id, std::move(*text)};
}

}  // namespace

ParsedCatalogue ParseCatalogue(std::string_view file) {
    ParsedCatalogue result;
    std::size_t lineNumber = 0;
    while (!file.empty()) {
        ++lineNumber;
        const auto end = file.find('\n');
        std::string_view line = file.substr(0, end);
        file.remove_prefix(end == std::string_view::npos ? file.size() : end + 1);
        // A checkout with Windows line ends must read the same.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (TrimSpaces(line).empty() || line.front() == '#') continue;

        auto entry = ParseEntry(line);
        if (!entry || !result.texts.emplace(entry->id, std::move(entry->text)).second) {
            result.malformedLines.push_back(lineNumber);
        }
    }
    return result;
}
