#include "hid/capabilities.h"

#include <gtest/gtest.h>

#include <tuple>

#include "hid/data_items.h"
#include "hid/descriptor_testing.h"
#include "hid/report_descriptor.h"

namespace {

using namespace descriptor_fixtures;
using Bytes = std::vector<std::uint8_t>;

// One capability as a row of an expected table: report ID, usage page, range
// flag, usage minimum and maximum (both the usage without a range), link
// collection, link usage page and usage, bit position, bit size, report count,
// data flags.
using Row = std::tuple<int, int, bool, int, int, int, int, int, unsigned, int, int, int>;
// Logical minimum and maximum, physical minimum and maximum.
using Limits = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>;

Row RowOf(const HidCapsCommon& c) {
    EXPECT_EQ(c.usage, c.usageMin);
    if (!c.isRange) {
        EXPECT_EQ(c.usageMin, c.usageMax);
    }
    return {c.reportId, c.usagePage, c.isRange, c.usageMin, c.usageMax, c.linkCollection, c.linkUsagePage,
            c.linkUsage, c.bitPosition, c.bitSize, c.reportCount, c.bitField};
}

std::vector<Row> Rows(const std::vector<HidButtonCaps>& caps) {
    std::vector<Row> rows;
    for (const auto& c : caps) rows.push_back(RowOf(c));
    return rows;
}

std::vector<std::pair<Row, Limits>> Rows(const std::vector<HidValueCaps>& caps) {
    std::vector<std::pair<Row, Limits>> rows;
    for (const auto& c : caps) rows.push_back({RowOf(c), {c.logicalMin, c.logicalMax, c.physicalMin, c.physicalMax}});
    return rows;
}

using Values = std::vector<std::pair<Row, Limits>>;
using Buttons = std::vector<Row>;
constexpr auto kIn = HidReportType::Input;
constexpr auto kOut = HidReportType::Output;
constexpr auto kFeature = HidReportType::Feature;

void ExpectLengths(const HidCapabilities& caps, int input, int output, int feature) {
    EXPECT_EQ(caps.caps.inputReportByteLength, input);
    EXPECT_EQ(caps.caps.outputReportByteLength, output);
    EXPECT_EQ(caps.caps.featureReportByteLength, feature);
}

// Every field of every capability lies inside the report length of its type.
void ExpectFieldsInsideReports(const HidCapabilities& caps) {
    for (std::size_t t = 0; t < kHidReportTypes; ++t) {
        const auto type = static_cast<HidReportType>(t);
        const std::uint64_t fieldBits = (std::uint64_t{caps.ReportByteLength(type)} - 1) * 8;
        auto check = [&](const HidCapsCommon& c) {
            EXPECT_GE(caps.ReportByteLength(type), 2);
            EXPECT_GT(c.reportCount, 0);
            EXPECT_LE(c.usageMin, c.usageMax);
            EXPECT_LE(c.bitPosition + std::uint64_t{c.bitSize} * c.reportCount, fieldBits);
        };
        for (const auto& b : caps.Buttons(type)) check(b);
        for (const auto& v : caps.Values(type)) check(v);
        EXPECT_LE(caps.Buttons(type).size() + caps.Values(type).size(), kMaxCapabilities);
    }
}


// Random but mostly well-formed items (sizes, counts and report IDs in
// range, no Pop), so that the noise reaches the capability tables and the
// unpacking instead of ending at its first malformed item.
Bytes ItemNoise(std::size_t size, std::uint32_t seed) {
    static constexpr std::uint8_t kPrefixes[] = {0x05, 0x06, 0x09, 0x0B, 0x15, 0x16, 0x25, 0x26, 0x27, 0x35, 0x45, 0x75,
                                                 0x95, 0x85, 0x19, 0x29, 0xA9, 0x81, 0x91, 0xB1, 0xA1, 0xC0, 0x09, 0x81};
    const Bytes random = Noise(size * 2, seed);
    Bytes bytes;
    for (std::size_t i = 0; bytes.size() + 5 < size && i + 4 < random.size(); i += 5) {
        const std::uint8_t prefix = kPrefixes[random[i] % sizeof kPrefixes];
        bytes.push_back(prefix);
        const std::size_t dataSize = std::array<std::size_t, 4>{0, 1, 2, 4}[prefix & 3];
        for (std::size_t k = 0; k < dataSize; ++k) {
            const std::uint8_t data = random[i + 1 + k];
            switch (prefix) {
                case 0x75: bytes.push_back(static_cast<std::uint8_t>(1 + data % 33)); break;
                case 0x95: bytes.push_back(static_cast<std::uint8_t>(1 + data % 16)); break;
                case 0x85: bytes.push_back(static_cast<std::uint8_t>(1 + data % 8)); break;
                default: bytes.push_back(data);
            }
        }
    }
    return bytes;
}

TEST(CapabilitiesTables, BootKeyboard) {
    const auto caps = DeriveCapabilities(kBootKeyboard);
    EXPECT_EQ(caps.caps.usagePage, 0x01);
    EXPECT_EQ(caps.caps.usage, 0x06);
    EXPECT_EQ(caps.caps.numberLinkCollectionNodes, 1);
    ExpectLengths(caps, 9, 2, 0);
    EXPECT_EQ(Rows(caps.Buttons(kIn)), (Buttons{
                                           {0, 0x07, true, 0xE0, 0xE7, 0, 0x01, 0x06, 0, 1, 8, 0x02},
                                           {0, 0x07, true, 0x00, 0x65, 0, 0x01, 0x06, 16, 8, 6, 0x00},
                                       }));
    EXPECT_EQ(Rows(caps.Buttons(kOut)), (Buttons{{0, 0x08, true, 0x01, 0x05, 0, 0x01, 0x06, 0, 1, 5, 0x02}}));
    EXPECT_TRUE(caps.Buttons(kFeature).empty());
    for (auto type : {kIn, kOut, kFeature}) EXPECT_TRUE(caps.Values(type).empty());
    EXPECT_EQ(caps.Buttons(kIn)[1].firstSelector, 0);
}

TEST(CapabilitiesTables, MouseWithReportIds) {
    const auto caps = DeriveCapabilities(kMouseWithReportIds);
    EXPECT_EQ(caps.caps.usagePage, 0x01);
    EXPECT_EQ(caps.caps.usage, 0x02);
    EXPECT_EQ(caps.caps.numberLinkCollectionNodes, 3);
    ExpectLengths(caps, 5, 0, 2);
    EXPECT_EQ(Rows(caps.Buttons(kIn)), (Buttons{{1, 0x09, true, 1, 3, 1, 0x01, 0x01, 0, 1, 3, 0x02}}));
    EXPECT_EQ(Rows(caps.Values(kIn)), (Values{
                                          {{1, 0x01, false, 0x30, 0x30, 1, 0x01, 0x01, 8, 8, 1, 0x06}, {-127, 127, 0, 0}},
                                          {{1, 0x01, false, 0x31, 0x31, 1, 0x01, 0x01, 16, 8, 1, 0x06}, {-127, 127, 0, 0}},
                                          {{1, 0x01, false, 0x38, 0x38, 1, 0x01, 0x01, 24, 8, 1, 0x06}, {-127, 127, 0, 0}},
                                      }));
    EXPECT_EQ(Rows(caps.Values(kFeature)),
              (Values{{{2, 0x01, false, 0x48, 0x48, 2, 0x01, 0x48, 0, 2, 1, 0x02}, {0, 1, 1, 4}}}));
    EXPECT_TRUE(caps.Buttons(kFeature).empty());
    EXPECT_TRUE(caps.Values(kOut).empty());
}

TEST(CapabilitiesTables, VendorArraysAndRanges) {
    const auto caps = DeriveCapabilities(kVendorArraysAndRanges);
    EXPECT_EQ(caps.caps.usagePage, 0xFF00);
    EXPECT_EQ(caps.caps.usage, 0x01);
    EXPECT_EQ(caps.caps.numberLinkCollectionNodes, 1);
    ExpectLengths(caps, 33, 5, 14);
    EXPECT_EQ(Rows(caps.Values(kIn)), (Values{{{0, 0xFF00, false, 0x02, 0x02, 0, 0xFF00, 1, 0, 8, 32, 2}, {0, 255, 0, 0}}}));
    EXPECT_EQ(Rows(caps.Values(kOut)), (Values{{{0, 0xFF00, true, 0x10, 0x13, 0, 0xFF00, 1, 0, 8, 4, 2}, {0, 255, 0, 0}}}));
    EXPECT_EQ(Rows(caps.Values(kFeature)),
              (Values{
                  {{0, 0xFF00, false, 0x20, 0x20, 0, 0xFF00, 1, 0, 16, 1, 2}, {-32768, 32767, -1024, 1024}},
                  {{0, 0xFF00, false, 0x21, 0x21, 0, 0xFF00, 1, 16, 16, 1, 2}, {-32768, 32767, -1024, 1024}},
                  {{0, 0xFF00, false, 0x22, 0x22, 0, 0xFF00, 1, 32, 16, 3, 2}, {-32768, 32767, -1024, 1024}},
                  {{0, 0xFF00, true, 0x30, 0x32, 0, 0xFF00, 1, 88, 4, 3, 2}, {0, 15, 0, 0}},
              }));
    EXPECT_EQ(Rows(caps.Buttons(kFeature)), (Buttons{{0, 0x09, true, 1, 8, 0, 0xFF00, 1, 80, 1, 8, 2}}));
    EXPECT_TRUE(caps.Buttons(kIn).empty());
    EXPECT_TRUE(caps.Buttons(kOut).empty());
}

TEST(CapabilitiesTables, MonitorInterface) {
    const auto caps = DeriveCapabilities(kMonitorInterface);
    EXPECT_EQ(caps.caps.usagePage, 0xFF00);
    EXPECT_EQ(caps.caps.usage, 0x01);
    EXPECT_EQ(caps.caps.numberLinkCollectionNodes, 2);
    ExpectLengths(caps, 0, 0, 521);
    const Limits byte{0, 255, 0, 0}, u16{0, 65535, 0, 0}, i32{0, 0x7FFFFFFF, 0, 0};
    EXPECT_EQ(Rows(caps.Values(kFeature)), (Values{
                                                {{0x01, 0xFF00, false, 0x35, 0x35, 0, 0xFF00, 1, 0, 8, 32, 2}, byte},
                                                {{0x02, 0xFF01, false, 0x10, 0x10, 0, 0xFF00, 1, 0, 16, 1, 2}, u16},
                                                {{0x03, 0xFF02, false, 0xF4, 0xF4, 0, 0xFF00, 1, 0, 8, 1, 2}, byte},
                                                {{0x04, 0xFF02, false, 0xFE, 0xFE, 0, 0xFF00, 1, 0, 32, 1, 2}, i32},
                                                {{0x05, 0xFF03, false, 0x04, 0x04, 0, 0xFF00, 1, 0, 8, 1, 2}, byte},
                                                {{0x06, 0xFF03, false, 0x80, 0x80, 0, 0xFF00, 1, 0, 8, 1, 2}, byte},
                                                {{0x10, 0xFF30, false, 0x01, 0x01, 0, 0xFF00, 1, 0, 8, 64, 2}, byte},
                                                {{0x11, 0xFF30, false, 0x02, 0x02, 0, 0xFF00, 1, 0, 8, 40, 2}, byte},
                                                {{0x12, 0xFF30, false, 0x03, 0x03, 0, 0xFF00, 1, 0, 8, 40, 2}, byte},
                                                {{0x15, 0xFF30, false, 0x0B, 0x0B, 0, 0xFF00, 1, 0, 8, 40, 2}, byte},
                                                {{0x16, 0xFF30, false, 0x0C, 0x0C, 0, 0xFF00, 1, 0, 8, 40, 2}, byte},
                                                {{0x13, 0xFF30, false, 0x04, 0x04, 0, 0xFF00, 1, 0, 8, 520, 2}, byte},
                                                {{0x14, 0xFF30, false, 0x05, 0x05, 0, 0xFF00, 1, 0, 8, 520, 2}, byte},
                                                {{0x17, 0xFF30, false, 0x0D, 0x0D, 0, 0xFF00, 1, 0, 8, 520, 2}, byte},
                                                {{0x18, 0xFF30, false, 0x0E, 0x0E, 0, 0xFF00, 1, 0, 8, 520, 2}, byte},
                                                {{0x19, 0xFF30, false, 0x06, 0x06, 0, 0xFF00, 1, 0, 16, 1, 2}, u16},
                                                {{0x1A, 0xFF30, false, 0x08, 0x08, 0, 0xFF00, 1, 0, 8, 32, 2}, byte},
                                                {{0x1B, 0xFF30, false, 0x09, 0x09, 0, 0xFF00, 1, 0, 32, 1, 2}, i32},
                                                {{0x1C, 0xFF30, false, 0x0A, 0x0A, 0, 0xFF00, 1, 0, 16, 1, 2}, u16},
                                            }));
    EXPECT_EQ(Rows(caps.Buttons(kFeature)), (Buttons{{0x07, 0xFF10, false, 0x21, 0x21, 1, 0xFF10, 0x20, 0, 1, 1, 2}}));
    for (auto type : {kIn, kOut}) {
        EXPECT_TRUE(caps.Values(type).empty());
        EXPECT_TRUE(caps.Buttons(type).empty());
    }
}

TEST(CapabilitiesRules, EveryTopLevelCollectionCountsAndNestedOnesAreNumberedInOrder) {
    const Bytes bytes = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // Collection (Application) 1:2
        0x85, 0x01,                          //   Report ID (1)
        0x09, 0x01, 0xA1, 0x00,              //   Collection (Physical) 1:1          [link 1]
        0x05, 0x09, 0x09, 0x01,              //     Usage Page (Button), Usage (1)
        0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01,
        0x81, 0x02,                          //     Input: button 9:1               [input 1: bit 0]
        0x09, 0x02, 0xA1, 0x02,              //     Collection (Logical) 9:2          [link 2]
        0x09, 0x02, 0x81, 0x02,              //       Input: button 9:2             [input 1: bit 1]
        0xC0, 0xC0,                          //   End Collection x2
        0x75, 0x06, 0x81, 0x03,              //   Input (Constant)                  [input 1: bits 2..7]
        0xC0,                                // End Collection
        0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,  // Collection (Application) 0xC:1
        0x85, 0x02, 0x09, 0xE9, 0x75, 0x01,  //   Report ID (2), Usage (0xE9), Report Size (1)
        0x81, 0x02,                          //   Input: button C:E9               [input 2: bit 0]
        0x09, 0x80, 0xA1, 0x02,              //   Collection (Logical) 0xC:0x80      [link 3]
        0x09, 0xEA, 0x81, 0x02,              //     Input: button C:EA             [input 2: bit 1]
        0xC0,                                //   End Collection
        0xC0,                                // End Collection
    };
    const auto caps = DeriveCapabilities(bytes);
    EXPECT_EQ(caps.caps.usagePage, 0x01);
    EXPECT_EQ(caps.caps.usage, 0x02);
    EXPECT_EQ(caps.caps.numberLinkCollectionNodes, 4);
    ExpectLengths(caps, 2, 0, 0);
    EXPECT_EQ(Rows(caps.Buttons(kIn)), (Buttons{
                                           {1, 0x09, false, 0x01, 0x01, 1, 0x01, 0x01, 0, 1, 1, 2},
                                           {1, 0x09, false, 0x02, 0x02, 2, 0x09, 0x02, 1, 1, 1, 2},
                                           {2, 0x0C, false, 0xE9, 0xE9, 0, 0x0C, 0x01, 0, 1, 1, 2},
                                           {2, 0x0C, false, 0xEA, 0xEA, 3, 0x0C, 0x80, 1, 1, 1, 2},
                                       }));
}

TEST(CapabilitiesRules, UsagesAreSharedOutOverTheElements) {
    // Each case: usages, then Report Size 8, Report Count n, Input (Data, Variable);
    // the expected capabilities as (range, min, max, bit position, count).
    using Cap = std::tuple<bool, int, int, unsigned, int>;
    struct Case {
        const char* name;
        Bytes usages;
        std::uint8_t count;
        std::vector<Cap> expected;
    };
    const Case cases[] = {
        {"usages beyond the count are ignored", {0x09, 0x01, 0x09, 0x02, 0x09, 0x03}, 2,
         {{false, 1, 1, 0, 1}, {false, 2, 2, 8, 1}}},
        {"the last usage takes the rest", {0x09, 0x01, 0x09, 0x02}, 4, {{false, 1, 1, 0, 1}, {false, 2, 2, 8, 3}}},
        {"a range takes one element per usage", {0x19, 0x10, 0x29, 0x13, 0x09, 0x20}, 5,
         {{true, 0x10, 0x13, 0, 4}, {false, 0x20, 0x20, 32, 1}}},
        {"a range is cut short", {0x09, 0x01, 0x19, 0x10, 0x29, 0x1F}, 3, {{false, 1, 1, 0, 1}, {true, 0x10, 0x11, 8, 2}}},
        {"a last range takes the rest", {0x19, 0x10, 0x29, 0x11}, 4, {{true, 0x10, 0x11, 0, 4}}},
        {"maximum before minimum", {0x29, 0x12, 0x19, 0x10}, 3, {{true, 0x10, 0x12, 0, 3}}},
        {"a range backwards is dropped", {0x19, 0x12, 0x29, 0x10, 0x09, 0x05}, 1, {{false, 5, 5, 0, 1}}},
        {"only the first usage of a delimiter set", {0xA9, 0x01, 0x09, 0x01, 0x09, 0x02, 0xA9, 0x00, 0x09, 0x03}, 2,
         {{false, 1, 1, 0, 1}, {false, 3, 3, 8, 1}}},
        {"no usage, no capability", {}, 2, {}},
    };
    for (const auto& c : cases) {
        Bytes bytes = {0x05, 0x01, 0xA1, 0x01};
        bytes.insert(bytes.end(), c.usages.begin(), c.usages.end());
        bytes.insert(bytes.end(), {0x75, 0x08, 0x95, c.count, 0x81, 0x02, 0xC0});
        const auto caps = DeriveCapabilities(bytes);
        std::vector<Cap> actual;
        for (const auto& v : caps.Values(kIn)) actual.emplace_back(v.isRange, v.usageMin, v.usageMax, v.bitPosition, v.reportCount);
        EXPECT_EQ(actual, c.expected) << c.name;
        EXPECT_EQ(caps.caps.inputReportByteLength, c.count + 1) << c.name;
    }
}

TEST(CapabilitiesRules, ArrayItemsGiveOneButtonCapabilityPerUsageOverTheWholeField) {
    const Bytes bytes = {
        0x06, 0x00, 0xFF, 0xA1, 0x01,  // Usage Page (0xFF00), Collection (Application)
        0x09, 0x05,                    //   Usage (0x05)              selector 1
        0x19, 0x10, 0x29, 0x14,        //   Usage 0x10..0x14          selectors 2..6
        0x15, 0x01, 0x25, 0x04,        //   Logical Minimum (1), Maximum (4)
        0x75, 0x08, 0x95, 0x02,        //   Report Size (8), Report Count (2)
        0x81, 0x00,                    //   Input (Data, Array)                  [input 0: bits 0..15]
        0xC0,
    };
    const auto caps = DeriveCapabilities(bytes);
    EXPECT_EQ(Rows(caps.Buttons(kIn)), (Buttons{
                                           {0, 0xFF00, false, 0x05, 0x05, 0, 0, 0, 0, 8, 2, 0},
                                           {0, 0xFF00, true, 0x10, 0x14, 0, 0, 0, 0, 8, 2, 0},
                                       }));
    EXPECT_EQ(caps.Buttons(kIn)[0].firstSelector, 1);
    EXPECT_EQ(caps.Buttons(kIn)[1].firstSelector, 2);
    EXPECT_EQ(MaxUsageListLength(caps, kIn, 0xFF00), 2u);  // the two slots, once
    struct Case {
        Bytes report;
        std::vector<std::uint16_t> usages;
    };
    const Case cases[] = {
        {{0, 1, 3}, {0x05, 0x11}},
        {{0, 4, 2}, {0x12, 0x10}},
        {{0, 0, 7}, {}},  // below and above every selector
        {{0, 5, 6}, {}},  // selectors of 0x13 and 0x14, but above Logical Maximum: no selection
    };
    for (const auto& c : cases) EXPECT_EQ(GetUsages(caps, kIn, 0xFF00, c.report), c.usages);
}

TEST(CapabilitiesRules, GlobalStateUsagesAndReportIds) {
    const Bytes bytes = {
        0x05, 0x01, 0xA1, 0x01,                    // Collection (Application)
        0x85, 0x01, 0x75, 0x08, 0x95, 0x01,        //   Report ID (1), Report Size (8), Report Count (1)
        0xA4,                                      //   Push
        0x75, 0x10, 0x0B, 0x35, 0x00, 0x00, 0xFF,  //   Report Size (16), Usage (0xFF00:0x35)
        0xB1, 0x02,                                //   Feature                        [feature 1: bits 0..15]
        0xB4,                                      //   Pop: Report Size (8) again
        0x09, 0x36, 0xB1, 0x02,                    //   Feature 1:0x36                 [feature 1: bits 16..23]
        0x85, 0x02, 0x09, 0x37, 0xB1, 0x02,        //   Report ID (2): Feature 1:0x37  [feature 2: bits 0..7]
        0x85, 0x01, 0x09, 0x38, 0xB1, 0x02,        //   Report ID (1): Feature 1:0x38  [feature 1: bits 24..31]
        0x85, 0x00, 0x09, 0x39, 0xB1, 0x02,        //   Report ID (0): malformed, the end
        0xC0,
    };
    const auto caps = DeriveCapabilities(bytes);
    std::vector<std::tuple<int, int, int, unsigned, int>> actual;
    for (const auto& v : caps.Values(kFeature)) actual.emplace_back(v.reportId, v.usagePage, v.usage, v.bitPosition, v.bitSize);
    EXPECT_EQ(actual, (decltype(actual){
                          {1, 0xFF00, 0x35, 0, 16},
                          {1, 0x01, 0x36, 16, 8},
                          {2, 0x01, 0x37, 0, 8},
                          {1, 0x01, 0x38, 24, 8},
                      }));
    EXPECT_EQ(caps.caps.featureReportByteLength, 5);
}

TEST(CapabilitiesRules, ConstantFieldsTakeTheirBitsButGiveNoCapability) {
    const Bytes bytes = {
        0x05, 0x01, 0x75, 0x08, 0x95, 0x01,
        0x09, 0x30, 0x81, 0x03,  // Input (Constant, Variable) with a usage   [input 0: bits 0..7]
        0x09, 0x31, 0x81, 0x01,  // Input (Constant, Array) with a usage      [input 0: bits 8..15]
        0x09, 0x32, 0x81, 0x02,  // Input 1:0x32                              [input 0: bits 16..23]
    };
    const auto caps = DeriveCapabilities(bytes);
    EXPECT_TRUE(caps.Buttons(kIn).empty());
    ASSERT_EQ(caps.Values(kIn).size(), 1u);
    EXPECT_EQ(caps.Values(kIn)[0].usage, 0x32);
    EXPECT_EQ(caps.Values(kIn)[0].bitPosition, 16u);
    EXPECT_EQ(caps.caps.inputReportByteLength, 4);
}

TEST(CapabilitiesLimits, MalformedOrOversizedItemsEndTheDerivation) {
    // Each case: items after one good Input field (1:0x30, 8 bits) and
    // before a trailing Input field (1:0x31, 8 bits); whether that trailing
    // field is still derived.
    struct Case {
        const char* name;
        Bytes middle;
        bool trailingKept;
    };
    const Case cases[] = {
        {"zero-size field is ignored", {0x75, 0x00, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x40, 0x81, 0x02, 0x75, 0x08, 0x95, 0x01}, true},
        {"Report Count 0xFFFFFFFF", {0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x40, 0x81, 0x02, 0x95, 0x01}, false},
        {"Report Size 0x10000", {0x77, 0x00, 0x00, 0x01, 0x00, 0x09, 0x40, 0x81, 0x02, 0x75, 0x08}, false},
        {"Report ID 0", {0x85, 0x00}, false},
        {"Report ID 256", {0x86, 0x00, 0x01}, false},
        {"Pop without Push", {0xB4}, false},
        {"Push and Pop", {0xA4, 0x75, 0x03, 0xB4}, true},
        {"too many Pushes", Bytes(kMaxGlobalStackDepth + 1, 0xA4), false},
        {"as many Pushes as allowed", Bytes(kMaxGlobalStackDepth, 0xA4), true},
        {"unbalanced End Collection", {0xC0, 0xC0}, true},
    };
    for (const auto& c : cases) {
        Bytes bytes = {0x05, 0x01, 0x75, 0x08, 0x95, 0x01, 0x09, 0x30, 0x81, 0x02};
        bytes.insert(bytes.end(), c.middle.begin(), c.middle.end());
        bytes.insert(bytes.end(), {0x09, 0x31, 0x81, 0x02});
        const auto caps = DeriveCapabilities(bytes);
        ASSERT_FALSE(caps.Values(kIn).empty()) << c.name;
        EXPECT_EQ(caps.Values(kIn).front().usage, 0x30) << c.name;
        EXPECT_EQ(caps.Values(kIn).back().usage == 0x31, c.trailingKept) << c.name;
        ExpectFieldsInsideReports(caps);
    }
}

TEST(CapabilitiesLimits, CountsAndSizesStopAtTheirLimits) {
    auto usageItem = [](Bytes& bytes, std::uint16_t usage) {
        bytes.insert(bytes.end(), {0x0A, static_cast<std::uint8_t>(usage), static_cast<std::uint8_t>(usage >> 8)});
    };
    {  // A report of kMaxReportDataBytes is fine; one more bit is not.
        const Bytes bytes = {0x05, 0x01, 0x09, 0x30, 0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02,
                             0x09, 0x31, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02};
        const auto caps = DeriveCapabilities(bytes);
        EXPECT_EQ(caps.caps.inputReportByteLength, 65535);
        ASSERT_EQ(caps.Values(kIn).size(), 1u);
        EXPECT_TRUE(caps.Buttons(kIn).empty());
    }
    {  // kMaxCapabilities from one Array item, then nothing more.
        Bytes bytes = {0x05, 0x01, 0x75, 0x08, 0x95, 0x01};
        for (std::uint16_t u = 1; u <= kMaxCapabilities; ++u) usageItem(bytes, u);
        bytes.insert(bytes.end(), {0x81, 0x00, 0x09, 0x01, 0x81, 0x00});
        const auto caps = DeriveCapabilities(bytes);
        EXPECT_EQ(caps.Buttons(kIn).size(), kMaxCapabilities);
        EXPECT_EQ(caps.caps.inputReportByteLength, 2);
        EXPECT_EQ(MaxUsageListLength(caps, kIn, 0x01), 1u);
    }
    {  // kMaxButtonElements bits of buttons, then nothing more.
        Bytes bytes = {0x05, 0x09, 0x19, 0x01, 0x2A, 0x00, 0x10, 0x75, 0x01, 0x96, 0x00, 0x10, 0x81, 0x02,
                       0x09, 0x01, 0x95, 0x01, 0x81, 0x02};
        const auto caps = DeriveCapabilities(bytes);
        ASSERT_EQ(caps.Buttons(kIn).size(), 1u);
        EXPECT_EQ(caps.Buttons(kIn)[0].reportCount, kMaxButtonElements);
        EXPECT_EQ(caps.caps.inputReportByteLength, kMaxButtonElements / 8 + 1);
    }
    {  // kMaxValueUsages usages of values, then nothing more.
        Bytes bytes = {0x06, 0x00, 0xFF, 0x19, 0x00, 0x2A, 0xFE, 0xFF, 0x75, 0x02, 0x96, 0xFF, 0xFF, 0xB1, 0x02,
                       0x09, 0x01, 0x95, 0x01, 0xB1, 0x02};
        const auto caps = DeriveCapabilities(bytes);
        ASSERT_EQ(caps.Values(kFeature).size(), 1u);
        EXPECT_EQ(caps.Values(kFeature)[0].usageMax, 0xFFFE);
        EXPECT_EQ(BuildDataItems(caps, kFeature).size(), kMaxValueUsages);
    }
    {  // Nesting past the depth limit.
        Bytes bytes = {0x05, 0x01, 0x75, 0x08, 0x95, 0x01};
        for (std::size_t i = 0; i < reportdescriptor::kMaxCollectionDepth; ++i) bytes.insert(bytes.end(), {0x09, 0x01, 0xA1, 0x02});
        bytes.insert(bytes.end(), {0x09, 0x30, 0x81, 0x02, 0xA1, 0x02, 0x09, 0x31, 0x81, 0x02});
        const auto caps = DeriveCapabilities(bytes);
        ASSERT_EQ(caps.Values(kIn).size(), 1u);
        EXPECT_EQ(caps.Values(kIn)[0].linkCollection, reportdescriptor::kMaxCollectionDepth - 1);
        EXPECT_EQ(caps.caps.numberLinkCollectionNodes, reportdescriptor::kMaxCollectionDepth);
    }
}

TEST(CapabilitiesLimits, NoiseAndTruncationsGiveConsistentTables) {
    std::size_t capabilitiesSeen = 0;
    std::size_t unpacked = 0;
    auto exercise = [&](std::span<const std::uint8_t> descriptor) {
        const auto caps = DeriveCapabilities(descriptor);
        ExpectFieldsInsideReports(caps);
        for (std::size_t t = 0; t < kHidReportTypes; ++t) {
            const auto type = static_cast<HidReportType>(t);
            capabilitiesSeen += caps.Buttons(type).size() + caps.Values(type).size();
            auto items = BuildDataItems(caps, type);
            const std::size_t length = caps.ReportByteLength(type);
            // Reports of the IDs in use (of the first 64 items), at full length and cut short.
            for (std::size_t i = 0; i < std::min<std::size_t>(items.size(), 64); ++i) {
                for (std::size_t cut : {length, length / 2, std::size_t{1}}) {
                    Bytes report = Noise(std::max<std::size_t>(cut, 1), static_cast<std::uint32_t>(i + cut));
                    report[0] = static_cast<std::uint8_t>(items[i].reportId);
                    unpacked += UnpackReport(caps, report, type, items);
                }
            }
        }
    };
    for (const auto* fixture : {&kBootKeyboard, &kMouseWithReportIds, &kVendorArraysAndRanges, &kMonitorInterface})
        for (std::size_t length = 0; length <= fixture->size(); ++length) exercise(std::span(fixture->data(), length));
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        exercise(Noise(64 * 1024, seed));
        exercise(ItemNoise(64 * 1024, seed));
    }
    Bytes deep;
    for (int i = 0; i < 100000; ++i) deep.insert(deep.end(), {0x09, 0x01, 0xA1, 0x02});
    exercise(deep);
    // The noise reached the main items and the unpacking.
    EXPECT_GT(capabilitiesSeen, 1000u);
    EXPECT_GT(unpacked, 1000u);
}

TEST(CapabilityExtraction, UsagesOfButtonFields) {
    const auto keyboard = DeriveCapabilities(kBootKeyboard);
    EXPECT_EQ(MaxUsageListLength(keyboard, kIn, 0x07), 14u);
    EXPECT_EQ(MaxUsageListLength(keyboard, kIn, 0), 14u);
    EXPECT_EQ(MaxUsageListLength(keyboard, kOut, 0x08), 5u);
    EXPECT_EQ(MaxUsageListLength(keyboard, kIn, 0x08), 0u);
    struct Case {
        Bytes report;
        std::optional<std::vector<std::uint16_t>> usages;
    };
    const Case cases[] = {
        {{0, 0x22, 0x00, 0x04, 0x00, 0x29, 0, 0, 0}, std::vector<std::uint16_t>{0xE1, 0xE5, 0x04, 0x29}},
        {{0, 0x00, 0xFF, 0, 0, 0, 0, 0, 0}, std::vector<std::uint16_t>{}},  // reserved byte and idle slots
        {{0, 0x00, 0x00, 0x66, 0, 0, 0, 0, 0}, std::vector<std::uint16_t>{}},  // above Logical Maximum
        {{1, 0x22, 0x00, 0x04, 0, 0, 0, 0, 0}, std::vector<std::uint16_t>{}},  // no field of report 1
        {{0, 0x22, 0x00}, std::nullopt},                                      // too short for the key slots
        {{}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(GetUsages(keyboard, kIn, 0x07, c.report), c.usages);
}

TEST(CapabilityExtraction, ValuesOfValueFields) {
    const auto mouse = DeriveCapabilities(kMouseWithReportIds);
    const auto vendor = DeriveCapabilities(kVendorArraysAndRanges);
    const auto& x = mouse.Values(kIn)[0];
    const auto& wheel = mouse.Values(kIn)[2];
    const auto& multiplier = mouse.Values(kFeature)[0];
    const auto& signed16 = vendor.Values(kFeature)[0];  // 0x20: -32768..32767 onto -1024..1024
    const auto& nibbles = vendor.Values(kFeature)[3];   // 0x30..0x32, 4 bits each from bit 88
    const Bytes mouseReport = {1, 0x05, 0xFF, 0x02, 0x80};
    Bytes vendorReport(14, 0);
    vendorReport[12] = 0x21;  // 0x30 = 1, 0x31 = 2
    vendorReport[13] = 0xF3;  // 0x32 = 3, then padding
    struct Case {
        const char* name;
        const HidValueCaps& caps;
        std::uint16_t usage;
        Bytes report;
        std::optional<std::uint32_t> value;
        std::optional<std::int32_t> scaled;
    };
    const Case cases[] = {
        {"X -1", x, 0x30, mouseReport, 0xFF, -1},
        {"wheel -128 is outside -127..127", wheel, 0x38, mouseReport, 0x80, std::nullopt},
        {"usage not of this capability", x, 0x31, mouseReport, std::nullopt, std::nullopt},
        {"report of another ID", x, 0x30, {2, 0x05, 0xFF, 0x02, 0x80}, std::nullopt, std::nullopt},
        {"report too short", wheel, 0x38, {1, 0x05, 0xFF, 0x02}, std::nullopt, std::nullopt},
        {"multiplier 0", multiplier, 0x48, {2, 0xFC}, 0, 1},
        {"multiplier 1", multiplier, 0x48, {2, 0x01}, 1, 4},
        {"multiplier 2 is outside 0..1", multiplier, 0x48, {2, 0x02}, 2, std::nullopt},
        {"most negative", signed16, 0x20, {0, 0x00, 0x80}, 0x8000, -1024},
        {"zero in the middle", signed16, 0x20, {0, 0x00, 0x00}, 0, 0},
        {"most positive", signed16, 0x20, {0, 0xFF, 0x7F}, 0x7FFF, 1024},
        {"range first usage", nibbles, 0x30, vendorReport, 1, 1},
        {"range second usage", nibbles, 0x31, vendorReport, 2, 2},
        {"range last usage", nibbles, 0x32, vendorReport, 3, 3},
        {"range usage cut off", nibbles, 0x33, vendorReport, std::nullopt, std::nullopt},
        {"value array has no single value", vendor.Values(kFeature)[2], 0x22, vendorReport, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetUsageValue(c.caps, c.usage, c.report), c.value) << c.name;
        EXPECT_EQ(GetScaledUsageValue(c.caps, c.usage, c.report), c.scaled) << c.name;
    }
}

TEST(CapabilityExtraction, PhysicalRangeFromZeroIsStillAPhysicalRange) {
    const Bytes bytes = {
        0x05, 0x01, 0x75, 0x08, 0x95, 0x01, 0x15, 0x00, 0x26, 0xC8, 0x00,  // Logical 0..200
        0x35, 0x00, 0x45, 0x64,                                            // Physical 0..100
        0x09, 0x30, 0x81, 0x02,
    };
    const auto caps = DeriveCapabilities(bytes);
    ASSERT_EQ(caps.Values(kIn).size(), 1u);
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[0], 0x30, Bytes{0, 100}), 50);
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[0], 0x30, Bytes{0, 200}), 100);
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[0], 0x30, Bytes{0, 201}), std::nullopt);
}

TEST(CapabilityExtraction, ThirtyTwoBitValuesSignAndScaleWithoutOverflow) {
    const Bytes bytes = {
        0x05, 0x01, 0x75, 0x20, 0x95, 0x01,
        0x17, 0x00, 0x00, 0x00, 0x80, 0x27, 0xFF, 0xFF, 0xFF, 0x7F,  // Logical -2^31 .. 2^31-1
        0x09, 0x30, 0x81, 0x02,                                      // Input 1:0x30 [bits 0..31]
        0x15, 0x00, 0x37, 0x00, 0x00, 0x00, 0x80, 0x47, 0xFF, 0xFF, 0xFF, 0x7F,  // Logical 0 .. 2^31-1, Physical -2^31 .. 2^31-1
        0x09, 0x31, 0x81, 0x02,                                      // Input 1:0x31 [bits 32..63]
    };
    const auto caps = DeriveCapabilities(bytes);
    ASSERT_EQ(caps.Values(kIn).size(), 2u);
    const Bytes report = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(GetUsageValue(caps.Values(kIn)[0], 0x30, report), 0xFFFFFFFFu);
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[0], 0x30, report), -1);
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[1], 0x31, report), 0x7FFFFFFF);
    const Bytes zero = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(GetScaledUsageValue(caps.Values(kIn)[1], 0x31, zero), std::numeric_limits<std::int32_t>::min());
}

TEST(CapabilityExtraction, ValueArraysArePackedFromBitZero) {
    const Bytes bytes = {
        0x05, 0x01, 0x75, 0x04, 0x95, 0x01, 0x81, 0x03,  // Input (Constant): 4 bits
        0x09, 0x30, 0x95, 0x03, 0x81, 0x02,              // Input 1:0x30, three 4-bit elements [bits 4..15]
    };
    const auto caps = DeriveCapabilities(bytes);
    ASSERT_EQ(caps.Values(kIn).size(), 1u);
    const auto& array = caps.Values(kIn)[0];
    EXPECT_EQ(GetUsageValueArray(array, Bytes{0, 0xA5, 0xCB}), (Bytes{0xBA, 0x0C}));
    EXPECT_EQ(GetUsageValueArray(array, Bytes{0, 0xA5}), std::nullopt);
    EXPECT_EQ(GetUsageValueArray(array, Bytes{1, 0xA5, 0xCB}), std::nullopt);
    const auto monitor = DeriveCapabilities(kMonitorInterface);
    const HidValueCaps* identity = FindValueCaps(monitor, kFeature, 0xFF00, 0x35, 1);
    ASSERT_NE(identity, nullptr);
    Bytes report(33);
    for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i);
    report[0] = 1;
    const auto value = GetUsageValueArray(*identity, report);
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, Bytes(report.begin() + 1, report.end()));
}

TEST(CapabilityExtraction, FindValueCapsMatchesPageUsageAndReportId) {
    const auto monitor = DeriveCapabilities(kMonitorInterface);
    const auto vendor = DeriveCapabilities(kVendorArraysAndRanges);
    EXPECT_EQ(FindValueCaps(monitor, kFeature, 0xFF02, 0xFE, 4), &monitor.Values(kFeature)[3]);
    EXPECT_EQ(FindValueCaps(monitor, kFeature, 0xFF02, 0xFE, 3), nullptr);
    EXPECT_EQ(FindValueCaps(monitor, kFeature, 0xFF03, 0xFE, 4), nullptr);
    EXPECT_EQ(FindValueCaps(monitor, kIn, 0xFF02, 0xFE, 4), nullptr);
    EXPECT_EQ(FindValueCaps(monitor, kFeature, 0xFF10, 0x21, 7), nullptr);  // a button
    EXPECT_EQ(FindValueCaps(vendor, kOut, 0xFF00, 0x12, 0), &vendor.Values(kOut)[0]);
    EXPECT_EQ(FindValueCaps(vendor, kOut, 0xFF00, 0x14, 0), nullptr);
}

}  // namespace
