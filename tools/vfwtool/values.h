#pragma once
// Checks and conversions of the values given on the command line. Each parser
// fails with a one-line message that names the option.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal digits only (no sign, no blanks), at most `max`.
std::optional<std::uint32_t> ParseNumber(std::string_view option, std::string_view text, std::uint32_t max,
                                         std::string& error);

// A component type, 1 to 6.
std::optional<std::uint16_t> ParseComponentType(std::string_view option, std::string_view text, std::string& error);

// A version text or set key in stored form, as shown by `info`: 25 decimal
// digits. Digits are required because the last field is converted to
// hexadecimal in memory, and anything else would not survive the conversion.
// Returns the text in memory form.
std::optional<std::string> ParseVersion(std::string_view option, std::string_view text, std::string& error);

// An image's version field: 5 decimal digits, returned as given (stored form).
std::optional<std::string> ParseVersionField(std::string_view option, std::string_view text, std::string& error);

// A model name: 1 to 16 bytes, with no zero byte.
std::optional<std::string> ParseModelName(std::string_view option, std::string_view text, std::string& error);

// TYPE=FILE[:SECONDS[:ATTRIBUTE]]. FILE ends at its first ':'.
struct ComponentOption {
    std::uint16_t type = 0;
    std::string file;
    std::uint16_t writeSeconds = 0;
    std::uint8_t attribute = 0;
};
std::optional<ComponentOption> ParseComponentOption(std::string_view option, std::string_view text, std::string& error);
