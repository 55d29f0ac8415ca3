#pragma once
// Where each feature usage of a report descriptor sits: its report ID, bit
// offset and size. The emulator reads its own descriptors with this, so that
// the report lengths it serves are the ones the descriptor declares.
#include <cstdint>
#include <map>
#include <optional>
#include <span>

struct UsageAddress {
    std::uint16_t page = 0;
    std::uint16_t usage = 0;
    auto operator<=>(const UsageAddress&) const = default;
};

struct FieldLayout {
    UsageAddress address;
    std::uint8_t reportId = 0;
    std::uint32_t bitOffset = 0;  // after the report ID byte
    std::uint16_t bitSize = 0;
    std::uint16_t count = 0;
    std::optional<UsageAddress> linkCollection;  // enclosing logical collection, if any

    std::uint32_t ByteLength() const { return (std::uint32_t{bitSize} * count + 7) / 8; }
};

class ReportLayout {
public:
    // Nothing for a descriptor that is malformed or breaks the rules the
    // emulator keeps: one top-level Application collection, a report ID on
    // every report, Report Size and Report Count before every field.
    static std::optional<ReportLayout> Parse(std::span<const std::uint8_t> descriptor);

    const FieldLayout* Find(UsageAddress address) const;
    // The first field of a report, or null for an undeclared report ID.
    const FieldLayout* FieldOfReport(std::uint8_t reportId) const;
    // Feature report length in bytes, the report ID byte included; 0 when undeclared.
    std::uint32_t ReportLength(std::uint8_t reportId) const;
    UsageAddress Root() const { return root_; }
    const std::map<UsageAddress, FieldLayout>& Fields() const { return fields_; }

private:
    std::map<UsageAddress, FieldLayout> fields_;
    std::map<std::uint8_t, std::uint32_t> reportBits_;
    UsageAddress root_;
};
