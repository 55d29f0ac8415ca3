#include "tools/vfwtool/values.h"

#include <algorithm>

#include "package/content.h"
#include "package/version_text.h"

namespace {

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Quoted(std::string_view option, std::string_view text) {
    return std::string(option) + " '" + std::string(text) + "'";
}

}  // namespace

std::optional<std::uint32_t> ParseNumber(std::string_view option, std::string_view text, std::uint32_t max,
                                         std::string& error) {
    std::uint64_t value = 0;
    bool fits = !text.empty() && AllDigits(text);
    for (std::size_t i = 0; fits && i < text.size(); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        fits = value <= max;  // checked per digit, so value never overflows
    }
    if (!fits) {
        error = Quoted(option, text) + " is not a number from 0 to " + std::to_string(max);
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint16_t> ParseComponentType(std::string_view option, std::string_view text, std::string& error) {
    std::string ignored;
    const auto type = ParseNumber(option, text, kLastComponentType, ignored);
    if (!type || *type < kFirstComponentType) {
        error = Quoted(option, text) + ": the component type is not 1 to 6";
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*type);
}

std::optional<std::string> ParseVersion(std::string_view option, std::string_view text, std::string& error) {
    if (text.size() != kVersionLength || !AllDigits(text)) {
        error = Quoted(option, text) + " is not a version text of 25 decimal digits";
        return std::nullopt;
    }
    return VersionToInternal(text);
}

std::optional<std::string> ParseVersionField(std::string_view option, std::string_view text, std::string& error) {
    if (text.size() != kVersionFieldLength || !AllDigits(text)) {
        error = Quoted(option, text) + " is not a version field of 5 decimal digits";
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<std::string> ParseModelName(std::string_view option, std::string_view text, std::string& error) {
    if (text.empty() || text.size() > kModelNameBytes || text.find('\0') != std::string_view::npos) {
        error = Quoted(option, text) + " is not a model name of 1 to 16 characters";
        return std::nullopt;
    }
    return std::string(text);
}

std::optional<ComponentOption> ParseComponentOption(std::string_view option, std::string_view text, std::string& error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = Quoted(option, text) + " is not TYPE=FILE[:SECONDS[:ATTRIBUTE]]";
        return std::nullopt;
    }
    ComponentOption component;
    const auto type = ParseComponentType(Quoted(option, text) + ": TYPE", text.substr(0, equals), error);
    if (!type) return std::nullopt;
    component.type = *type;

    std::string_view rest = text.substr(equals + 1);
    const std::size_t colon = rest.find(':');
    component.file = std::string(rest.substr(0, colon));
    if (component.file.empty()) {
        error = Quoted(option, text) + " names no file";
        return std::nullopt;
    }
    if (colon == std::string_view::npos) return component;

    rest = rest.substr(colon + 1);
    const std::size_t second = rest.find(':');
    const std::string where = Quoted(option, text) + ":";
    const auto seconds = ParseNumber(where + " SECONDS", rest.substr(0, second), 0xFFFF, error);
    if (!seconds) return std::nullopt;
    component.writeSeconds = static_cast<std::uint16_t>(*seconds);
    if (second == std::string_view::npos) return component;

    const auto attribute = ParseNumber(where + " ATTRIBUTE", rest.substr(second + 1), 0xFF, error);
    if (!attribute) return std::nullopt;
    component.attribute = static_cast<std::uint8_t>(*attribute);
    return component;
}
