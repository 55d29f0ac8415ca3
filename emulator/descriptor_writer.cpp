#include "emulator/descriptor_writer.h"

// Data of 1, 2 or 4 bytes: the smallest size that holds the value. Signed
// values are sized so that sign extension gives them back; unsigned ones
// (pages, usages, counts) so that zero extension does.
void DescriptorWriter::Item(std::uint8_t tagAndType, std::int64_t value, bool isSigned) {
    int size = 4;
    if (isSigned ? (value >= -128 && value <= 127) : (value >= 0 && value <= 0xFF)) {
        size = 1;
    } else if (isSigned ? (value >= -32768 && value <= 32767) : (value >= 0 && value <= 0xFFFF)) {
        size = 2;
    }
    const std::uint8_t sizeCode = size == 4 ? 3 : static_cast<std::uint8_t>(size);
    bytes_.push_back(static_cast<std::uint8_t>(tagAndType | sizeCode));
    for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void DescriptorWriter::UsagePage(std::uint16_t page) { Item(0x04, page, false); }
void DescriptorWriter::Usage(std::uint16_t usage) { Item(0x08, usage, false); }
void DescriptorWriter::LogicalMinimum(std::int32_t value) { Item(0x14, value, true); }
void DescriptorWriter::LogicalMaximum(std::int32_t value) { Item(0x24, value, true); }
void DescriptorWriter::ReportSize(std::uint8_t bits) { Item(0x74, bits, false); }
void DescriptorWriter::ReportId(std::uint8_t id) { Item(0x84, id, false); }
void DescriptorWriter::ReportCount(std::uint16_t count) { Item(0x94, count, false); }
void DescriptorWriter::Feature(std::uint8_t flags) { Item(0xB0, flags, false); }
void DescriptorWriter::Collection(std::uint8_t kind) { Item(0xA0, kind, false); }
void DescriptorWriter::EndCollection() { bytes_.push_back(0xC0); }

std::uint8_t DescriptorWriter::FeatureField(std::uint16_t usage, std::uint8_t bits, std::uint16_t count) {
    const std::uint8_t id = NextReportId();
    Usage(usage);
    ReportId(id);
    LogicalMinimum(0);
    // Values are unsigned; a 32-bit field keeps its maximum positive.
    LogicalMaximum(bits >= 32 ? 0x7FFFFFFF : static_cast<std::int32_t>((std::int64_t{1} << bits) - 1));
    ReportSize(bits);
    ReportCount(count);
    Feature(kDataVariable);
    return id;
}
