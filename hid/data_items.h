#pragma once
// The data items an interface record keeps per report type, and the unpacking
// of a received report into them. After a successful unpack the first bytes of
// a report that carries one value field hold that field right-aligned to byte
// 0, whatever its bit position: callers hand exactly those bytes on.
#include <cstdint>
#include <span>
#include <vector>

#include "hid/capabilities.h"

struct HidDataItem {
    bool isButton = false;
    std::uint16_t usagePage = 0;
    std::uint32_t reportId = 0;
    bool fresh = false;  // set when a report carrying the item was unpacked; consumers clear it
    // Button items.
    std::uint32_t usageMin = 0;
    std::uint32_t usageMax = 0;
    std::uint32_t maxUsageListLength = 0;
    std::vector<std::uint16_t> usageList;  // capacity maxUsageListLength; 0-terminated when shorter
    // Value items.
    std::uint16_t usage = 0;
    std::uint32_t value = 0;
    std::int32_t scaledValue = 0;
};

// One button item per button capability, then one value item per usage of each
// value capability (a range gives one per usage), in capability order.
std::vector<HidDataItem> BuildDataItems(const HidCapabilities& caps, HidReportType type);

// Unpacks a report (byte 0 its report ID) into the items whose report ID matches,
// in item order, and marks each of them fresh:
// - a button item gets the usages of its page set in the report that lie in
//   usageMin..usageMax, at most usageList.size() of them, 0-terminated when
//   fewer (a report too short for the page's fields lists none);
// - a value item of a single element (report count 1, or its own element of a
//   range capability) gets `value`, and the first min(report size - 1, 4) report
//   bytes are overwritten with it, little-endian;
// - a value item of a value array (no range, report count > 1) has the
//   ceil(bitSize * reportCount / 8) array bytes and one zero byte written over
//   the start of the report (the array lies after the ID byte, so this never
//   reaches past the report's end);
// - `scaledValue` is updated when the scaled value can be read.
// Every item reads the report as it was received, so right-aligning one field
// never disturbs the next; with several value items the report ends up holding
// the last one's field. Returns false when a matching value item has no
// capability or cannot be read (later items are then not processed); an empty
// report or one whose ID matches no item returns true and changes nothing.
bool UnpackReport(const HidCapabilities& caps, std::span<std::uint8_t> report, HidReportType type,
                  std::span<HidDataItem> items);
