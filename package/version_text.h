#pragma once
// Version texts: 25 characters in five fields of five. Fields 1 to 4 are
// decimal; field 5 is held in memory as 5 lower-case hexadecimal digits and
// stored in files as 5 decimal digits. "00000" is a wildcard field.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t kVersionLength = 25;
inline constexpr std::size_t kVersionFieldLength = 5;
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
