#include "emulator/report_layout.h"

#include <vector>

namespace {

// Item tags (prefix with the size bits cleared).
constexpr std::uint8_t kTagFeature = 0xB0, kTagCollection = 0xA0, kTagEndCollection = 0xC0;
constexpr std::uint8_t kTagUsagePage = 0x04, kTagReportSize = 0x74, kTagReportId = 0x84, kTagReportCount = 0x94;
constexpr std::uint8_t kTagUsage = 0x08;
constexpr std::uint8_t kTagInput = 0x80, kTagOutput = 0x90;
constexpr std::uint8_t kLongItem = 0xFE;
constexpr std::uint8_t kApplication = 0x01;

struct Collection {
    std::uint8_t kind;
    UsageAddress usage;
};

}  // namespace

std::optional<ReportLayout> ReportLayout::Parse(std::span<const std::uint8_t> descriptor) {
    ReportLayout layout;
    std::uint16_t page = 0;
    std::optional<std::uint32_t> reportSize, reportCount;
    std::uint8_t reportId = 0;
    std::vector<UsageAddress> usages;
    std::vector<Collection> open;
    int topLevel = 0;

    for (std::size_t at = 0; at < descriptor.size();) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == kLongItem) return std::nullopt;
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (at + 1 + size > descriptor.size()) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t{descriptor[at + 1 + i]} << (8 * i);
        at += 1 + size;

        switch (prefix & 0xFC) {
        case kTagUsagePage: page = static_cast<std::uint16_t>(value); break;
        case kTagReportSize: reportSize = value; break;
        case kTagReportCount: reportCount = value; break;
        case kTagReportId:
            if (value == 0 || value > 0xFF) return std::nullopt;
            reportId = static_cast<std::uint8_t>(value);
            break;
        case kTagUsage:
            usages.push_back(size == 4 ? UsageAddress{static_cast<std::uint16_t>(value >> 16), static_cast<std::uint16_t>(value)}
                                       : UsageAddress{page, static_cast<std::uint16_t>(value)});
            break;
        case kTagCollection: {
            const auto kind = static_cast<std::uint8_t>(value);
            if (open.empty()) {
                if (kind != kApplication || topLevel++ > 0 || usages.empty()) return std::nullopt;
                layout.root_ = usages.front();
            }
            open.push_back({kind, usages.empty() ? UsageAddress{} : usages.front()});
            usages.clear();
            break;
        }
        case kTagEndCollection:
            if (open.empty()) return std::nullopt;
            open.pop_back();
            usages.clear();
            break;
        case kTagFeature: {
            if (open.empty() || reportId == 0 || !reportSize || !reportCount) return std::nullopt;
            const std::uint32_t bits = *reportSize * *reportCount;
            const bool constant = (value & 1) != 0;
            if (!constant && !usages.empty()) {
                FieldLayout field{usages.front(), reportId, layout.reportBits_[reportId],
                                  static_cast<std::uint16_t>(*reportSize), static_cast<std::uint16_t>(*reportCount), {}};
                if (open.size() > 1 && open.back().kind != kApplication) field.linkCollection = open.back().usage;
                if (!layout.fields_.emplace(field.address, field).second) return std::nullopt;  // declared twice
            }
            layout.reportBits_[reportId] += bits;
            usages.clear();
            break;
        }
        case kTagInput:
        case kTagOutput:
            return std::nullopt;  // the emulated monitors exchange feature reports only
        default:
            break;  // other globals and locals do not move fields
        }
    }
    if (!open.empty() || topLevel != 1) return std::nullopt;
    return layout;
}

const FieldLayout* ReportLayout::Find(UsageAddress address) const {
    const auto it = fields_.find(address);
    return it == fields_.end() ? nullptr : &it->second;
}

const FieldLayout* ReportLayout::FieldOfReport(std::uint8_t reportId) const {
    const FieldLayout* first = nullptr;
    for (const auto& [address, field] : fields_) {
        if (field.reportId == reportId && (first == nullptr || field.bitOffset < first->bitOffset)) first = &field;
    }
    return first;
}

std::uint32_t ReportLayout::ReportLength(std::uint8_t reportId) const {
    const auto it = reportBits_.find(reportId);
    return it == reportBits_.end() ? 0 : 1 + (it->second + 7) / 8;
}
