#pragma once
// Writes HID report descriptor items (short items only). Each call emits one
// item; FeatureField emits the group of items that declares one feature report
// holding one field.
#include <cstdint>
#include <vector>

class DescriptorWriter {
public:
    enum : std::uint8_t { kPhysical = 0x00, kApplication = 0x01, kLogical = 0x02 };
    enum : std::uint8_t { kDataVariable = 0x02, kConstant = 0x01 };

    void UsagePage(std::uint16_t page);                    // global 0x04
    void Usage(std::uint16_t usage);                       // local 0x08
    void LogicalMinimum(std::int32_t value);               // global 0x14
    void LogicalMaximum(std::int32_t value);               // global 0x24
    void ReportSize(std::uint8_t bits);                    // global 0x74
    void ReportId(std::uint8_t id);                        // global 0x84
    void ReportCount(std::uint16_t count);                 // global 0x94
    void Feature(std::uint8_t flags);                      // main 0xB0
    void Collection(std::uint8_t kind);                    // main 0xA0
    void EndCollection();                                  // main 0xC0

    // Usage, a new Report ID, logical limits for the size, Report Size,
    // Report Count and Feature (Data, Variable, Absolute): one report, one field.
    // Returns the report ID it used.
    std::uint8_t FeatureField(std::uint16_t usage, std::uint8_t bits, std::uint16_t count);
    std::uint8_t NextReportId() { return nextReportId_++; }

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    void Item(std::uint8_t tagAndType, std::int64_t value, bool isSigned);

    std::vector<std::uint8_t> bytes_;
    std::uint8_t nextReportId_ = 1;
};
