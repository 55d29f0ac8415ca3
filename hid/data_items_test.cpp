#include "hid/data_items.h"

#include <gtest/gtest.h>

#include "hid/descriptor_testing.h"

namespace {

using namespace descriptor_fixtures;
using Bytes = std::vector<std::uint8_t>;
constexpr auto kIn = HidReportType::Input;
constexpr auto kOut = HidReportType::Output;
constexpr auto kFeature = HidReportType::Feature;

HidDataItem* FindItem(std::vector<HidDataItem>& items, std::uint16_t page, std::uint16_t usage) {
    for (auto& item : items)
        if (!item.isButton && item.usagePage == page && item.usage == usage) return &item;
    return nullptr;
}

// One feature report 1 with a 16-bit value 1:0x30 at bit 0 and an 8-bit value
// 1:0x31 at bit 16 behind it; and report 2 with a value the capability tables
// do not know once the item's usage is changed.
const Bytes kTwoValues = {
    0x05, 0x01, 0xA1, 0x01,                          // Collection (Application)
    0x15, 0x00, 0x27, 0xFF, 0xFF, 0x00, 0x00,        //   Logical Minimum (0), Maximum (65535)
    0x85, 0x01, 0x75, 0x10, 0x95, 0x01,              //   Report ID (1), Report Size (16), Report Count (1)
    0x09, 0x30, 0xB1, 0x02,                          //   Feature 1:0x30          [feature 1: bits 0..15]
    0x75, 0x08, 0x09, 0x31, 0xB1, 0x02,              //   Feature 1:0x31          [feature 1: bits 16..23]
    0x85, 0x02, 0x09, 0x32, 0xB1, 0x02,              //   Feature 1:0x32          [feature 2: bits 0..7]
    0xC0,
};

TEST(DataItemsBuild, ButtonsFirstThenOneValueItemPerUsage) {
    const auto vendor = DeriveCapabilities(kVendorArraysAndRanges);
    const auto output = BuildDataItems(vendor, kOut);
    ASSERT_EQ(output.size(), 4u);
    for (std::size_t i = 0; i < output.size(); ++i) {
        EXPECT_FALSE(output[i].isButton);
        EXPECT_EQ(output[i].usagePage, 0xFF00);
        EXPECT_EQ(output[i].usage, 0x10 + i);
        EXPECT_EQ(output[i].reportId, 0u);
    }
    const auto feature = BuildDataItems(vendor, kFeature);
    ASSERT_EQ(feature.size(), 7u);
    EXPECT_TRUE(feature[0].isButton);
    EXPECT_EQ(feature[0].usagePage, 0x09);
    EXPECT_EQ(feature[0].usageMin, 1u);
    EXPECT_EQ(feature[0].usageMax, 8u);
    EXPECT_EQ(feature[0].maxUsageListLength, 8u);
    EXPECT_EQ(feature[0].usageList, std::vector<std::uint16_t>(8, 0));
    std::vector<std::uint16_t> usages;
    for (std::size_t i = 1; i < feature.size(); ++i) usages.push_back(feature[i].usage);
    EXPECT_EQ(usages, (std::vector<std::uint16_t>{0x20, 0x21, 0x22, 0x30, 0x31, 0x32}));

    const auto monitor = DeriveCapabilities(kMonitorInterface);
    const auto items = BuildDataItems(monitor, kFeature);
    ASSERT_EQ(items.size(), 20u);
    EXPECT_TRUE(items[0].isButton);
    EXPECT_EQ(items[0].usagePage, 0xFF10);
    EXPECT_EQ(items[0].usageMin, 0x21u);
    EXPECT_EQ(items[0].reportId, 7u);
    EXPECT_EQ(items[0].maxUsageListLength, 1u);
}

TEST(DataItemsUnpack, SingleValueIsRightAlignedIntoTheReport) {
    struct Case {
        const char* name;
        std::uint16_t page, usage;
        Bytes report;
        std::uint32_t value;
        Bytes after;
    };
    const Case cases[] = {
        {"16 bits at bit 0", 0x01, 0x30, {1, 0x34, 0x12, 0x00, 0x00}, 0x1234, {0x34, 0x12, 0x00, 0x00, 0x00}},
        {"8 bits at bit 16", 0x01, 0x31, {1, 0x34, 0x12, 0xAB, 0x00}, 0xAB, {0xAB, 0x00, 0x00, 0x00, 0x00}},
        {"short report: three bytes written", 0x01, 0x30, {1, 0x34, 0x12, 0x56}, 0x1234, {0x34, 0x12, 0x00, 0x56}},
        {"long report: four bytes written", 0x01, 0x31, {1, 0, 0, 0x7F, 9, 9}, 0x7F, {0x7F, 0, 0, 0, 9, 9}},
    };
    const auto caps = DeriveCapabilities(kTwoValues);
    for (const auto& c : cases) {
        auto items = BuildDataItems(caps, kFeature);
        HidDataItem* item = FindItem(items, c.page, c.usage);
        ASSERT_NE(item, nullptr);
        Bytes report = c.report;
        ASSERT_TRUE(UnpackReport(caps, report, kFeature, std::span(item, 1))) << c.name;
        EXPECT_EQ(item->value, c.value) << c.name;
        EXPECT_EQ(item->scaledValue, static_cast<std::int32_t>(c.value)) << c.name;
        EXPECT_TRUE(item->fresh) << c.name;
        EXPECT_EQ(report, c.after) << c.name;
    }
}

TEST(DataItemsUnpack, EveryItemReadsTheReportAsReceived) {
    // Right-aligning 0x30 overwrites the report ID byte and 0x31's byte; 0x31
    // must still get its own value.
    const auto caps = DeriveCapabilities(kTwoValues);
    auto items = BuildDataItems(caps, kFeature);
    Bytes report = {1, 0x34, 0x12, 0xAB, 0x00};
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, items));
    EXPECT_EQ(FindItem(items, 0x01, 0x30)->value, 0x1234u);
    EXPECT_EQ(FindItem(items, 0x01, 0x31)->value, 0xABu);
    EXPECT_TRUE(FindItem(items, 0x01, 0x30)->fresh);
    EXPECT_TRUE(FindItem(items, 0x01, 0x31)->fresh);
    EXPECT_FALSE(FindItem(items, 0x01, 0x32)->fresh);  // report 2
    EXPECT_EQ(report, (Bytes{0xAB, 0x00, 0x00, 0x00, 0x00}));  // the last item's field
}

TEST(DataItemsUnpack, ValueArrayIsCopiedToTheStartFollowedByAZeroByte) {
    const Bytes descriptor = {
        0x06, 0x00, 0xFF, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
        0x85, 0x05, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x03,  // Report ID (5), Feature (Constant): two bytes
        0x09, 0x35, 0x95, 0x10, 0xB1, 0x02,              // Feature 0xFF00:0x35, 16 bytes [feature 5: bits 16..143]
        0x95, 0x02, 0xB1, 0x03,                          // Feature (Constant): two bytes
        0xC0,
    };
    const auto caps = DeriveCapabilities(descriptor);
    ASSERT_EQ(caps.caps.featureReportByteLength, 21);
    auto items = BuildDataItems(caps, kFeature);
    ASSERT_EQ(items.size(), 1u);
    Bytes report(21, 0xEE);
    report[0] = 5;
    for (std::size_t i = 0; i < 16; ++i) report[3 + i] = static_cast<std::uint8_t>(0x40 + i);
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, items));
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(report[i], 0x40 + i) << i;
    EXPECT_EQ(report[16], 0x00);
    EXPECT_EQ(report[17], 0x4E);  // past the zero byte the report is left as it was
    EXPECT_EQ(report[20], 0xEE);
    EXPECT_TRUE(items[0].fresh);
}

TEST(DataItemsUnpack, ArrayFillingTheWholeReportStaysInside) {
    const auto caps = DeriveCapabilities(kMonitorInterface);
    auto items = BuildDataItems(caps, kFeature);
    HidDataItem* transfer = FindItem(items, 0xFF30, 0x01);
    ASSERT_NE(transfer, nullptr);
    Bytes report(65);
    report[0] = 0x10;
    for (std::size_t i = 1; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, std::span(transfer, 1)));
    for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(report[i], i + 1) << i;
    EXPECT_EQ(report[64], 0x00);
}

TEST(DataItemsUnpack, OtherReportIdChangesNothing) {
    const auto caps = DeriveCapabilities(kTwoValues);
    auto items = BuildDataItems(caps, kFeature);
    Bytes report = {3, 0x34, 0x12, 0xAB, 0x00};
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, items));
    EXPECT_EQ(report, (Bytes{3, 0x34, 0x12, 0xAB, 0x00}));
    for (const auto& item : items) EXPECT_FALSE(item.fresh);
    Bytes empty;
    EXPECT_TRUE(UnpackReport(caps, empty, kFeature, items));
}

TEST(DataItemsUnpack, UnreadableValueStopsAtThatItem) {
    const auto caps = DeriveCapabilities(kTwoValues);
    struct Case {
        const char* name;
        Bytes report;
        std::uint16_t firstUsage;  // the item placed first
    };
    const Case cases[] = {
        {"no capability for the item", {1, 0x34, 0x12, 0xAB}, 0x3F},
        {"report too short for the field", {1, 0x34}, 0x30},
    };
    for (const auto& c : cases) {
        auto items = BuildDataItems(caps, kFeature);
        items[0].usage = c.firstUsage;  // 0x30 normally
        Bytes report = c.report;
        EXPECT_FALSE(UnpackReport(caps, report, kFeature, items)) << c.name;
        EXPECT_FALSE(items[0].fresh) << c.name;
        EXPECT_FALSE(items[1].fresh) << c.name;  // 0x31: never reached
        EXPECT_EQ(report, c.report) << c.name;
    }
}

TEST(DataItemsUnpack, ScaledValueFailureIsIgnored) {
    // Logical Maximum written as 0x25 0xFF reads -1: no valid logical range,
    // so no scaled value, but the unpack succeeds.
    const Bytes descriptor = {0x05, 0x01, 0x15, 0x00, 0x25, 0xFF, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0xB1, 0x02};
    const auto caps = DeriveCapabilities(descriptor);
    auto items = BuildDataItems(caps, kFeature);
    ASSERT_EQ(items.size(), 1u);
    items[0].scaledValue = 77;
    Bytes report = {0, 0xC8};
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, items));
    EXPECT_EQ(items[0].value, 0xC8u);
    EXPECT_EQ(items[0].scaledValue, 77);
    EXPECT_EQ(report, (Bytes{0xC8, 0xC8}));  // a 2-byte report takes one byte of the value
}

TEST(DataItemsUnpack, ButtonItemsListTheirSetUsages) {
    const auto caps = DeriveCapabilities(kBootKeyboard);
    auto items = BuildDataItems(caps, kIn);
    ASSERT_EQ(items.size(), 2u);
    ASSERT_EQ(items[0].usageList.size(), 14u);
    Bytes report = {0, 0x22, 0x00, 0x04, 0x00, 0x29, 0xE0, 0, 0};
    const Bytes received = report;
    ASSERT_TRUE(UnpackReport(caps, report, kIn, items));
    EXPECT_EQ(report, received);  // buttons leave the report alone
    std::vector<std::uint16_t> modifiers(14, 0), keys(14, 0);
    modifiers[0] = 0xE1;
    modifiers[1] = 0xE5;
    keys[0] = 0x04;
    keys[1] = 0x29;
    EXPECT_EQ(items[0].usageList, modifiers);  // 0xE0 from a key slot is above Logical Maximum
    EXPECT_EQ(items[1].usageList, keys);
    EXPECT_TRUE(items[0].fresh && items[1].fresh);

    // A later report: the list is overwritten and 0-terminated, older entries past the 0 stay.
    Bytes next = {0, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0};
    ASSERT_TRUE(UnpackReport(caps, next, kIn, items));
    EXPECT_EQ(items[0].usageList[0], 0);
    EXPECT_EQ(items[1].usageList[0], 0x05);
    EXPECT_EQ(items[1].usageList[1], 0);
}

TEST(DataItemsUnpack, FullUsageListHasNoTerminator) {
    const auto caps = DeriveCapabilities(kMouseWithReportIds);
    auto items = BuildDataItems(caps, kIn);
    ASSERT_TRUE(items[0].isButton);
    ASSERT_EQ(items[0].maxUsageListLength, 3u);
    Bytes report = {1, 0x07, 0x01, 0x02, 0x03};
    ASSERT_TRUE(UnpackReport(caps, report, kIn, items));
    EXPECT_EQ(items[0].usageList, (std::vector<std::uint16_t>{1, 2, 3}));
    // A list kept shorter than the capacity is never written past its end.
    items[0].usageList.resize(2);
    Bytes again = {1, 0x07, 0x01, 0x02, 0x03};
    ASSERT_TRUE(UnpackReport(caps, again, kIn, std::span(items.data(), 1)));
    EXPECT_EQ(items[0].usageList, (std::vector<std::uint16_t>{1, 2}));
}

TEST(DataItemsUnpack, MonitorValueAndButtonReports) {
    const auto caps = DeriveCapabilities(kMonitorInterface);
    auto items = BuildDataItems(caps, kFeature);
    HidDataItem* fe = FindItem(items, 0xFF02, 0xFE);
    ASSERT_NE(fe, nullptr);
    Bytes report = {4, 0x78, 0x56, 0x34, 0x12};
    ASSERT_TRUE(UnpackReport(caps, report, kFeature, std::span(fe, 1)));
    EXPECT_EQ(fe->value, 0x12345678u);
    EXPECT_EQ(report, (Bytes{0x78, 0x56, 0x34, 0x12, 0x12}));

    HidDataItem& button = items[0];
    ASSERT_TRUE(button.isButton);
    Bytes pressed = {7, 0x01, 0, 0, 0};
    ASSERT_TRUE(UnpackReport(caps, pressed, kFeature, std::span(&button, 1)));
    EXPECT_EQ(button.usageList, (std::vector<std::uint16_t>{0x21}));
    Bytes released = {7, 0xFE, 0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(UnpackReport(caps, released, kFeature, std::span(&button, 1)));
    EXPECT_EQ(button.usageList, (std::vector<std::uint16_t>{0}));
}

}  // namespace
