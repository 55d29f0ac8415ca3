#include "app/version_display.h"

#include "package/version_text.h"

namespace {

// The head line shows fields 1 to 3 (0 to 2 here), the tail line 4 and 5.
constexpr std::size_t kTailFirst = 3;

}  // namespace

std::string FormatVersionHead(std::string_view version) {
    const VersionText text(version);
    if (!text.HasField(2)) return {};
    std::string line(text.Field(0));
    line.append("-").append(text.Field(1)).append("-").append(text.Field(2));
    return line;
}

std::string FormatVersionTail(std::string_view version) {
    const VersionText text(version);
    if (!text.HasField(4)) return {};
    std::string line("-");
    line.append(text.Field(3)).append("-").append(text.Field(4));
    return line;
}

std::string FormatVersion(std::string_view version) { return FormatVersionHead(version) + FormatVersionTail(version); }

std::string MergeWildcardFields(std::string_view version, std::string_view reference, VersionLine line) {
    const std::size_t first = line == VersionLine::Head ? 0 : kTailFirst;
    const std::size_t end = line == VersionLine::Head ? kTailFirst : kVersionFieldCount;
    return VersionText(version).FillWildcards(VersionText(reference), first, end).Text();
}

VersionLines MergedVersionLines(std::string_view version, std::string_view reference) {
    return {FormatVersionHead(MergeWildcardFields(version, reference, VersionLine::Head)),
            FormatVersionTail(MergeWildcardFields(version, reference, VersionLine::Tail))};
}
