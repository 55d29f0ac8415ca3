#pragma once
// Version texts: 25 characters in five fields of five. Fields 1 to 4 are
// decimal; field 5 is held in memory as 5 lower-case hexadecimal digits and
// stored in files as 5 decimal digits. "00000" is a wildcard field.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t kVersionFieldCount = 5;
inline constexpr std::size_t kVersionFieldLength = 5;
inline constexpr std::size_t kVersionLength = kVersionFieldCount * kVersionFieldLength;
// A field of a package's or a record's target version that stands for the same
// field of the monitor's current version.
inline constexpr std::string_view kWildcardVersionField = "00000";
inline constexpr std::size_t kVersionFieldBytes = 26;  // a version text in a payload, with its terminator

// Converts the last field from stored (decimal) to in-memory (hexadecimal) form.
// A text of exactly 5 characters is one field; a shorter text (other than 5)
// comes back unchanged; of a longer one, characters after the 25th are dropped.
std::string VersionToInternal(std::string_view text);
// The reverse conversion: the last field from hexadecimal to decimal.
std::string VersionToStored(std::string_view text);

// Text up to its first zero byte.
std::string_view TextUpToZero(std::string_view bytes);
std::string_view TextUpToZero(std::span<const std::uint8_t> bytes);

// A 26-byte version field of a package or set payload, in memory form: all 26
// bytes go through the conversion, then the text ends at its first zero byte.
std::string ReadPayloadVersion(std::span<const std::uint8_t> field26);
// Writes a version text in stored form with its terminator into a 26-byte field.
void WritePayloadVersion(std::span<std::uint8_t> field26, std::string_view text);

// A version text in memory form, of whatever length it came with: a record
// read from a damaged file may hold a shorter one. Fields are numbered 0 to 4;
// a field that runs past the end of the text holds only what is there, and
// nothing here ever reads past it.
class VersionText {
public:
    VersionText() = default;
    explicit VersionText(std::string_view text) : text_(text) {}

    const std::string& Text() const { return text_; }
    // Exactly five whole fields.
    bool WellFormed() const { return text_.size() == kVersionLength; }
    // Whether field `index` lies wholly inside the text.
    bool HasField(std::size_t index) const;
    // The part of field `index` inside the text; empty beyond its end.
    std::string_view Field(std::size_t index) const;
    bool IsWildcard(std::size_t index) const { return Field(index) == kWildcardVersionField; }

    // A copy in which each wildcard field from `first` up to (not including)
    // `end` is replaced by the same field of `reference`; a field the
    // reference does not hold whole stays a wildcard.
    VersionText FillWildcards(const VersionText& reference, std::size_t first = 0,
                              std::size_t end = kVersionFieldCount) const;

    // Whether this version, read from a monitor, is what `target` asks for:
    // both well formed, and every field of the target that is not a wildcard equal.
    bool Satisfies(const VersionText& target) const;

private:
    std::string text_;
};
