#include "hid/data_items.h"

#include <algorithm>
#include <map>

std::vector<HidDataItem> BuildDataItems(const HidCapabilities& caps, HidReportType type) {
    std::vector<HidDataItem> items;
    std::map<std::uint16_t, std::uint32_t> listLengths;  // per usage page
    for (const auto& button : caps.Buttons(type)) {
        auto length = listLengths.find(button.usagePage);
        if (length == listLengths.end())
            length = listLengths.emplace(button.usagePage, MaxUsageListLength(caps, type, button.usagePage)).first;
        HidDataItem item;
        item.isButton = true;
        item.usagePage = button.usagePage;
        item.reportId = button.reportId;
        item.usageMin = button.isRange ? button.usageMin : button.usage;
        item.usageMax = button.isRange ? button.usageMax : button.usage;
        item.maxUsageListLength = length->second;
        item.usageList.assign(length->second, 0);
        items.push_back(std::move(item));
    }
    for (const auto& value : caps.Values(type)) {
        const std::uint32_t first = value.isRange ? value.usageMin : value.usage;
        const std::uint32_t last = value.isRange ? value.usageMax : value.usage;
        for (std::uint32_t usage = first; usage <= last; ++usage) {
            HidDataItem item;
            item.usagePage = value.usagePage;
            item.reportId = value.reportId;
            item.usage = static_cast<std::uint16_t>(usage);
            items.push_back(std::move(item));
        }
    }
    return items;
}

namespace {

void UnpackButtons(const HidCapabilities& caps, std::span<const std::uint8_t> received, HidReportType type,
                   HidDataItem& item) {
    // A report too short for the page's fields reports no usage set.
    const auto usages = GetUsages(caps, type, item.usagePage, received).value_or(std::vector<std::uint16_t>{});
    const std::size_t capacity = std::min<std::size_t>(item.usageList.size(), item.maxUsageListLength);
    std::size_t kept = 0;
    for (const auto usage : usages) {
        if (kept == capacity) break;
        if (usage >= item.usageMin && usage <= item.usageMax) item.usageList[kept++] = usage;
    }
    if (kept < capacity) item.usageList[kept] = 0;
}

// Reads the item's field from the report as received and right-aligns it into
// the report's first bytes.
bool UnpackValue(const HidCapabilities& caps, std::span<const std::uint8_t> received, std::span<std::uint8_t> report,
                 HidReportType type, HidDataItem& item) {
    const HidValueCaps* value =
        FindValueCaps(caps, type, item.usagePage, item.usage, static_cast<std::uint8_t>(item.reportId));
    if (!value) return false;
    if (value->isRange || value->reportCount == 1) {
        const auto field = GetUsageValue(*value, item.usage, received);
        if (!field) return false;
        item.value = *field;
        const std::size_t width = std::min<std::size_t>(report.size() - 1, 4);
        for (std::size_t i = 0; i < width; ++i) report[i] = static_cast<std::uint8_t>(*field >> (8 * i));
    } else {
        const auto array = GetUsageValueArray(*value, received);
        if (!array) return false;
        // The array lies after the report ID byte, so it and the zero byte fit.
        const std::size_t width = std::min(array->size() + 1, report.size());
        std::fill_n(report.begin(), width, std::uint8_t{0});
        std::copy_n(array->begin(), std::min(array->size(), width), report.begin());
    }
    if (const auto scaled = GetScaledUsageValue(*value, item.usage, received)) item.scaledValue = *scaled;
    return true;
}

}  // namespace

// Every item reads from the report as it was received: right-aligning one
// field overwrites the report ID byte and other fields, which later items of
// the same report still need.
bool UnpackReport(const HidCapabilities& caps, std::span<std::uint8_t> report, HidReportType type,
                  std::span<HidDataItem> items) {
    if (report.empty()) return true;
    const std::vector<std::uint8_t> received(report.begin(), report.end());
    for (auto& item : items) {
        if (item.reportId != received[0]) continue;
        if (item.isButton)
            UnpackButtons(caps, received, type, item);
        else if (!UnpackValue(caps, received, report, type, item))
            return false;
        item.fresh = true;
    }
    return true;
}
