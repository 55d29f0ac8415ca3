#pragma once
// printf-style formatting of catalogue texts, written by us rather than left to
// the C library so that a text whose placeholders do not match its arguments
// (a damaged catalogue) can never read a wrong argument.
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using MessageArgument = std::variant<std::string, int>;

// %s takes a string, shown as DisplayText shows it: the strings are texts from
// outside the catalogue (a monitor's model name, a version, a path), whose
// control characters must not act on the terminal or window that shows them.
// %d or %Nd takes an int (right-aligned in N characters, N up to 99),
// %% is a percent sign. The n-th placeholder takes the n-th argument. A placeholder
// whose argument is missing or of the other type is left out of the result; any
// other % sequence is copied as it stands and takes no argument. Surplus arguments
// are ignored.
std::string FormatCatalogueText(std::string_view format, std::span<const MessageArgument> arguments);

// The placeholders of format in order, as written ("%s", "%2d"); %% is none.
// Texts of the two languages must agree in these.
std::vector<std::string> Placeholders(std::string_view format);
