#include "emulator/setting_values.h"

#include <array>
#include <cstddef>

namespace {

// One setting: a little-endian field at `offset` of `bytes` bytes, taking
// `minimum` to `maximum`, or exactly one of two values when `exact` is set.
struct SettingRule {
    UsageAddress address;
    std::size_t offset;
    std::size_t bytes;
    std::uint32_t minimum;
    std::uint32_t maximum;
    bool exact = false;  // minimum or maximum, nothing between
};

// The ranges of the settings an update saves are those its backup record holds
// (package/content.cpp); the others are the values the host ever writes.
constexpr std::array<SettingRule, 12> kRules{{
    {{0xFF00, 0x00B8}, 0, 1, 0, 1},        // setting B8: off, on
    {{0xFF01, 0x0045}, 0, 1, 0, 1},        // setting 45
    {{0xFF01, 0x0053}, 0, 1, 0, 1},        // setting 53
    {{0xFF01, 0x0054}, 0, 2, 0, 2},        // setting 54
    {{0xFF01, 0x00A4}, 0, 2, 0, 1200, true},  // setting 45's stand-in: 0 or 1200
    {{0xFF01, 0x0068}, 0, 2, 0, 1},        // setting 68
    {{0xFF01, 0x00F0}, 0, 2, 0, 1},        // switch F0
    {{0xFF03, 0x0022}, 0, 1, 0, 3},        // setting 22: byte 0 of its block
    {{0xFF03, 0x0030}, 0, 1, 0, 2},        // setting 30: byte 0 of its block
    {{0xFF10, 0x0040}, 2, 2, 0, 1},        // setting 40: bytes 2-3 of its block
    {{0xFF02, 0x00FB}, 0, 1, 0, 1},        // boot selector
    {{0xFF03, 0x0004}, 0, 1, 0, 1},        // busy flag
}};

std::uint32_t FieldValue(std::span<const std::uint8_t> data, std::size_t offset, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes && offset + i < data.size(); ++i) value |= std::uint32_t{data[offset + i]} << (8 * i);
    return value;
}

}  // namespace

bool IsValidSettingValue(UsageAddress address, std::span<const std::uint8_t> data) {
    for (const SettingRule& rule : kRules) {
        if (rule.address != address) continue;
        if (data.size() < rule.offset + rule.bytes) return false;
        const std::uint32_t value = FieldValue(data, rule.offset, rule.bytes);
        if (rule.exact) return value == rule.minimum || value == rule.maximum;
        return value >= rule.minimum && value <= rule.maximum;
    }
    return true;
}
