#include "hid/device_list.h"

#include <algorithm>

namespace {

constexpr std::uint16_t kProductWithStopMark = 0x0006;
constexpr std::uint16_t kStopMarkPage = 0xFF02;
constexpr std::uint16_t kStopMarkUsage = 0x00F8;

constexpr std::uint8_t kUsagePageTag = 0x04;
constexpr std::uint8_t kUsageTag = 0x08;
constexpr std::int32_t kMonitorPage = 0x80;
constexpr std::int32_t kMonitorControlUsage = 1;
constexpr std::int32_t kApplicationCollection = 1;

bool Contains(const std::optional<std::vector<std::uint16_t>>& values, std::uint16_t value) {
    return !values || std::find(values->begin(), values->end(), value) != values->end();
}

bool PassesProductTest(HidDevice& device, const std::optional<std::vector<std::uint16_t>>& productClasses,
                       std::uint32_t flags) {
    if (!productClasses) return true;
    if (!Contains(productClasses, device.GetProductClass())) return false;
    if (device.GetProductId() != kProductWithStopMark) return true;
    bool notFound = true;
    device.GetUsageInfo(kStopMarkPage, kStopMarkUsage, nullptr, nullptr, nullptr, &notFound, nullptr);
    const bool wantMark = (flags & kSelectStoppedInUpdate) != 0;
    const bool wantNoMark = (flags & kSelectWithoutStopMark) != 0;
    if (wantMark && !wantNoMark) return !notFound;
    if (wantNoMark && !wantMark) return notFound;
    return true;
}

// The first item with the tag among the root's items, in their order.
const reportdescriptor::Item* FirstItem(const reportdescriptor::MainItem& root, std::uint8_t tag) {
    for (const reportdescriptor::Item& item : root.items) {
        if (item.Tag() == tag) return &item;
    }
    return nullptr;
}

}  // namespace

bool PassesDescriptorTest(const HidDevice& device) {
    if (!device.HasDescriptor()) return true;
    const reportdescriptor::MainItem& root = device.Root();
    const reportdescriptor::Item* page = FirstItem(root, kUsagePageTag);
    const reportdescriptor::Item* usage = FirstItem(root, kUsageTag);
    return (page == nullptr || page->value == kMonitorPage) && (usage == nullptr || usage->value == kMonitorControlUsage) &&
           root.value == kApplicationCollection;
}

std::optional<std::size_t> CreateDeviceList(DeviceList& list, const std::optional<std::vector<std::uint16_t>>& vendorIds,
                             const std::optional<std::vector<std::uint16_t>>& productClasses, std::uint32_t flags) {
    std::optional<std::vector<HidInterfaceRecordPtr>> records = EnumerateHidInterfaces();
    if (!records) return std::nullopt;

    auto listed = [&list](const std::string& path) {
        return std::any_of(list.begin(), list.end(), [&](const auto& device) { return device->GetDevicePath() == path; });
    };
    std::vector<std::unique_ptr<HidDevice>> created;
    for (HidInterfaceRecordPtr& record : *records) {
        if (!record->IsOpen()) continue;
        auto device = std::make_unique<HidDevice>(std::move(record));
        if (!listed(device->GetDevicePath())) created.push_back(std::move(device));  // else destroyed here
    }
    for (std::unique_ptr<HidDevice>& device : created) {
        if (Contains(vendorIds, device->GetVendorId()) && PassesProductTest(*device, productClasses, flags) &&
            PassesDescriptorTest(*device))
            list.push_back(std::move(device));
    }
    return list.size();
}
