#pragma once
// One open HID interface: its connection, attributes, capabilities derived
// from its report descriptor, and per report type a zeroed report buffer and
// the data items that unpacked reports fill.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/capabilities.h"
#include "hid/data_items.h"
#include "hid/hid_platform.h"

struct HidInterfaceRecord {
    std::string devicePath;
    std::unique_ptr<HidConnection> connection;  // null: not open
    bool openedForRead = false;
    HidCapabilities capabilities;
    HidAttributes attributes;
    std::array<std::vector<std::uint8_t>, kHidReportTypes> reportBuffer;
    std::array<std::vector<HidDataItem>, kHidReportTypes> dataItems;

    bool IsOpen() const { return connection != nullptr; }
    const HidCaps& Caps() const { return capabilities.caps; }
    std::vector<std::uint8_t>& ReportBuffer(HidReportType t) { return reportBuffer[static_cast<std::size_t>(t)]; }
    std::vector<HidDataItem>& DataItems(HidReportType t) { return dataItems[static_cast<std::size_t>(t)]; }
};

// Released with the pointer; nothing else to call.
using HidInterfaceRecordPtr = std::unique_ptr<HidInterfaceRecord>;

// Every interface of the active platform, in its order, each opened without
// read access; one that cannot be opened stays in the list, not open.
// nullopt when the platform cannot list its interfaces.
std::optional<std::vector<HidInterfaceRecordPtr>> EnumerateHidInterfaces();

// Opens `path` on the active platform and fills the record; on failure the
// record keeps only the path and is not open.
bool OpenHidInterface(const std::string& path, bool readAccess, HidInterfaceRecord& record);
