#include "app/version_display.h"

#include <array>
#include <cstddef>
#include <span>

namespace {

constexpr std::size_t kFieldChars = 5;
constexpr std::size_t kHeadChars = 3 * kFieldChars;
constexpr std::size_t kVersionChars = 5 * kFieldChars;
constexpr std::string_view kWildcardField = "00000";

constexpr std::array<std::size_t, 3> kHeadFields{0, 5, 10};
constexpr std::array<std::size_t, 2> kTailFields{15, 20};

std::string_view Field(std::string_view version, std::size_t position) { return version.substr(position, kFieldChars); }

}  // namespace

std::string FormatVersionHead(std::string_view version) {
    if (version.size() < kHeadChars) return {};
    std::string line(Field(version, 0));
    line.append("-").append(Field(version, 5)).append("-").append(Field(version, 10));
    return line;
}

std::string FormatVersionTail(std::string_view version) {
    if (version.size() < kVersionChars) return {};
    std::string line("-");
    line.append(Field(version, 15)).append("-").append(Field(version, 20));
    return line;
}

std::string MergeWildcardFields(std::string_view version, std::string_view reference, VersionLine line) {
    std::string merged(version);
    const std::span<const std::size_t> positions =
        line == VersionLine::Head ? std::span<const std::size_t>(kHeadFields) : std::span<const std::size_t>(kTailFields);
    for (const std::size_t position : positions) {
        if (position + kFieldChars > merged.size()) continue;
        if (Field(merged, position) != kWildcardField) continue;
        if (position + kFieldChars > reference.size()) continue;
        merged.replace(position, kFieldChars, Field(reference, position));
    }
    return merged;
}

VersionLines MergedVersionLines(std::string_view version, std::string_view reference) {
    return {FormatVersionHead(MergeWildcardFields(version, reference, VersionLine::Head)),
            FormatVersionTail(MergeWildcardFields(version, reference, VersionLine::Tail))};
}
