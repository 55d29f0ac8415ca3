#pragma once
// The two lines in which the window shows a 25-character version text, and
// the filling of a package's wildcard fields ("00000") from the monitor's version.
#include <string>
#include <string_view>

// Fields 1 to 3 joined by "-"; "" when the text has fewer than 15 characters.
std::string FormatVersionHead(std::string_view version);
// "-", field 4, "-", field 5; "" when the text has fewer than 25 characters.
std::string FormatVersionTail(std::string_view version);
// Both on one line, as quillon-cli shows a version: "00102-00201-00003-00004-00005".
std::string FormatVersion(std::string_view version);

// Which fields MergeWildcardFields examines: those of the head line (1 to 3)
// or of the tail line (4 and 5).
enum class VersionLine { Head, Tail };

// A copy of `version` in which each examined field that lies wholly inside it
// and reads "00000" is replaced by the same field of `reference` (when the
// reference holds that field).
std::string MergeWildcardFields(std::string_view version, std::string_view reference, VersionLine line);

// Both lines of `version` with every wildcard field filled from `reference`.
struct VersionLines {
    std::string head;
    std::string tail;
    bool operator==(const VersionLines&) const = default;
};
VersionLines MergedVersionLines(std::string_view version, std::string_view reference);
