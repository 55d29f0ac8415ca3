#include "package/version_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum class Direction { ToInternal, ToStored };

std::string Convert(std::string_view text, Direction direction) {
    std::string_view prefix, field;
    if (text.size() == kVersionFieldLength) {
        field = text;
    } else if (text.size() < kVersionLength) {
        return std::string(text);
    } else {
        prefix = text.substr(0, kVersionLength - kVersionFieldLength);
        field = text.substr(kVersionLength - kVersionFieldLength, kVersionFieldLength);
    }
    // The field is read as the C library reads integers: leading blanks and a
    // sign are accepted, reading stops at the first non-digit, no digits read 0.
    const std::string fieldText(field);  // zero-terminated copy; an embedded zero ends it
    const int base = direction == Direction::ToInternal ? 10 : 16;
    const auto value = static_cast<int>(std::strtol(fieldText.c_str(), nullptr, base));
    char formatted[32];
    if (direction == Direction::ToInternal)
        std::snprintf(formatted, sizeof formatted, "%05x", static_cast<unsigned>(value));
    else
        std::snprintf(formatted, sizeof formatted, "%05d", value);
    return std::string(prefix) + std::string(formatted, kVersionFieldLength);
}

}  // namespace

std::string VersionToInternal(std::string_view text) { return Convert(text, Direction::ToInternal); }
std::string VersionToStored(std::string_view text) { return Convert(text, Direction::ToStored); }

std::string_view TextUpToZero(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

std::string_view TextUpToZero(std::span<const std::uint8_t> bytes) {
    return TextUpToZero(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ReadPayloadVersion(std::span<const std::uint8_t> field26) {
    const std::string converted =
        VersionToInternal(std::string_view(reinterpret_cast<const char*>(field26.data()), field26.size()));
    return std::string(TextUpToZero(converted));
}

void WritePayloadVersion(std::span<std::uint8_t> field26, std::string_view text) {
    const std::string stored = VersionToStored(text);
    std::fill(field26.begin(), field26.end(), 0);
    std::memcpy(field26.data(), stored.data(), std::min(stored.size(), field26.size() - 1));
}

bool VersionText::HasField(std::size_t index) const {
    return index < kVersionFieldCount && (index + 1) * kVersionFieldLength <= text_.size();
}

std::string_view VersionText::Field(std::size_t index) const {
    if (index >= kVersionFieldCount || index * kVersionFieldLength >= text_.size()) return {};
    return std::string_view(text_).substr(index * kVersionFieldLength, kVersionFieldLength);
}

VersionText VersionText::FillWildcards(const VersionText& reference, std::size_t first, std::size_t end) const {
    VersionText filled = *this;
    for (std::size_t index = first; index < end && index < kVersionFieldCount; ++index) {
        if (!IsWildcard(index) || !reference.HasField(index)) continue;
        filled.text_.replace(index * kVersionFieldLength, kVersionFieldLength, reference.Field(index));
    }
    return filled;
}

bool VersionText::Satisfies(const VersionText& target) const {
    if (!WellFormed() || !target.WellFormed()) return false;
    for (std::size_t index = 0; index < kVersionFieldCount; ++index)
        if (!target.IsWildcard(index) && target.Field(index) != Field(index)) return false;
    return true;
}
