#pragma once
// Capabilities of a HID interface, derived from its own report descriptor:
// the same tables, with the same meaning, that a platform HID parser gives
// (report IDs, byte lengths that count the report ID byte, link collections,
// usage ranges, bit sizes and counts, logical limits), and the extraction of
// fields from received reports.
//
// The rules this derivation follows where it must decide are stated in
// capabilities.cpp's header comment. In short:
// - A Variable field of Report Size 1 and every Array field give button
//   capabilities; other Variable fields give value capabilities; Constant
//   fields and fields without usages give none but take their bits.
// - Several usages in one Variable field: one capability per usage (a usage
//   range takes one element per usage), in order; when the Report Count
//   exceeds the usages, the last one takes the remaining elements as an array;
//   usages beyond the Report Count are ignored. An Array field gives one
//   button capability per usage or range, all sharing the field.
// - Every top-level collection counts; items directly inside any top-level
//   collection have link collection 0 (that collection's usage as link usage),
//   nested collections are numbered 1, 2, ... in order of appearance.
// - Without Report ID items everything is report 0; a Report ID of 0 or above
//   255 is malformed. Each report type and ID has its own bit counter.
// - A malformed descriptor, or one past a limit below, ends the derivation at
//   that item: what came before is kept.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Limits of the derivation. Per report type: button plus value capabilities;
// bits of Variable buttons plus slots of Array fields (they size the usage
// lists); usages of value capabilities (one data item each). Per report: its
// bytes after the ID byte, so that lengths fit 16 bits. Pushes without a Pop.
inline constexpr std::size_t kMaxCapabilities = 1024;
inline constexpr std::uint32_t kMaxButtonElements = 4096;
inline constexpr std::uint32_t kMaxValueUsages = 65535;
inline constexpr std::uint32_t kMaxReportDataBytes = 65534;
inline constexpr std::size_t kMaxGlobalStackDepth = 16;

enum class HidReportType : std::uint8_t { Input = 0, Output = 1, Feature = 2 };
inline constexpr std::size_t kHidReportTypes = 3;

// Fields shared by button and value capabilities.
struct HidCapsCommon {
    std::uint16_t usagePage = 0;
    std::uint8_t reportId = 0;          // 0 when the interface declares no report IDs
    std::uint16_t linkCollection = 0;   // 0 for the top-level collection, then in order of appearance
    std::uint16_t linkUsagePage = 0;    // usage page and usage of that collection
    std::uint16_t linkUsage = 0;
    bool isRange = false;
    std::uint16_t usageMin = 0;         // with isRange; otherwise both equal `usage`
    std::uint16_t usageMax = 0;
    std::uint16_t usage = 0;            // without isRange; with it, equal to usageMin
    std::uint16_t bitField = 0;         // the main item's data flags (constant, variable, relative, ...)
    std::uint32_t bitPosition = 0;      // of the field's first bit, counted from the bit after the report ID byte
    std::uint16_t bitSize = 0;          // of one element
    std::uint16_t reportCount = 0;      // number of elements
};

struct HidButtonCaps : HidCapsCommon {
    // Array fields only: each of the reportCount slots holds a selector; the
    // value firstSelector stands for usageMin, the next one for usageMin + 1, ...
    // Values outside logicalMin..logicalMax select nothing.
    std::int32_t logicalMin = 0;
    std::int32_t logicalMax = 0;
    std::int32_t firstSelector = 0;

    bool IsArray() const { return (bitField & 0x02) == 0; }
};

struct HidValueCaps : HidCapsCommon {
    std::int32_t logicalMin = 0;
    std::int32_t logicalMax = 0;
    std::int32_t physicalMin = 0;
    std::int32_t physicalMax = 0;
    std::int32_t unitExponent = 0;
    std::uint32_t units = 0;
    bool hasNull = false;
};

struct HidCaps {
    std::uint16_t usagePage = 0;  // of the top-level collection
    std::uint16_t usage = 0;
    // The longest report of each type plus the report ID byte, which is counted
    // also when the interface has no report IDs; 0 when there is no report of that type.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint16_t numberLinkCollectionNodes = 0;
};

struct HidCapabilities {
    HidCaps caps;
    // Per report type (index HidReportType), in descriptor order.
    std::array<std::vector<HidButtonCaps>, kHidReportTypes> buttonCaps;
    std::array<std::vector<HidValueCaps>, kHidReportTypes> valueCaps;

    const std::vector<HidButtonCaps>& Buttons(HidReportType t) const { return buttonCaps[static_cast<std::size_t>(t)]; }
    const std::vector<HidValueCaps>& Values(HidReportType t) const { return valueCaps[static_cast<std::size_t>(t)]; }
    std::uint16_t ReportByteLength(HidReportType t) const;
};

// Never fails: a malformed descriptor yields fewer capabilities (see the limits
// in capabilities.cpp).
HidCapabilities DeriveCapabilities(std::span<const std::uint8_t> descriptor);

// Extraction from a report whose byte 0 is its report ID (0 without report IDs).
// A report of another ID, or too short for the field, yields nothing / false.

// The value capability for (page, usage) of a report type with this report ID
// (a range capability matches every usage in its range).
const HidValueCaps* FindValueCaps(const HidCapabilities& caps, HidReportType type, std::uint16_t usagePage,
                                  std::uint16_t usage, std::uint8_t reportId);
// How many usages of a page (0: of every page) a report can report set at once.
std::uint32_t MaxUsageListLength(const HidCapabilities& caps, HidReportType type, std::uint16_t usagePage);
// The usages of a page that are set in the report, in descriptor order.
std::optional<std::vector<std::uint16_t>> GetUsages(const HidCapabilities& caps, HidReportType type,
                                                    std::uint16_t usagePage, std::span<const std::uint8_t> report);
// The unsigned value of `usage`'s element: the field of a capability of report
// count 1, or the usage's own element of a range capability. Fails for a
// non-range value array and for a bit size above 32.
std::optional<std::uint32_t> GetUsageValue(const HidValueCaps& value, std::uint16_t usage,
                                           std::span<const std::uint8_t> report);
// The ceil(bitSize * reportCount / 8) bytes of a value array, packed from bit 0.
std::optional<std::vector<std::uint8_t>> GetUsageValueArray(const HidValueCaps& value,
                                                            std::span<const std::uint8_t> report);
// The value sign-extended when logicalMin < 0, checked against the logical
// range (fails outside it, or when logicalMin >= logicalMax), then scaled into
// the physical range when one is given (not both 0), else the logical value.
std::optional<std::int32_t> GetScaledUsageValue(const HidValueCaps& value, std::uint16_t usage,
                                                std::span<const std::uint8_t> report);
