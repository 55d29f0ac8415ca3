#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include "hid/descriptor_testing.h"

namespace {

using namespace reportdescriptor;
using descriptor_fixtures::Noise;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::pair<std::uint8_t, std::int32_t>> Entries(const MainItem& item) {
    std::vector<std::pair<std::uint8_t, std::int32_t>> entries;
    for (const auto& entry : item.items) entries.emplace_back(entry.prefix, entry.value);
    return entries;
}


std::size_t Depth(const MainItem& item) {
    std::size_t deepest = 0;
    for (const auto& child : item.children) deepest = std::max(deepest, Depth(child));
    return deepest + 1;
}

TEST(ReportDescriptorParse, EmptyBytesGiveNothing) { EXPECT_TRUE(Parse({}).empty()); }

TEST(ReportDescriptorParse, FeatureOutsideAnyCollectionIsTopLevel) {
    const auto result = Parse(Bytes{0x75, 0x08, 0xB1, 0x02});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].prefix, 0xB1);
    EXPECT_EQ(result[0].value, 2);
    EXPECT_EQ(Entries(result[0]), (decltype(Entries(result[0])){{0x75, 8}}));
}

TEST(ReportDescriptorParse, CollectionKeepsItsUsagePageAndUsage) {
    const auto result = Parse(Bytes{0x05, 0x80, 0x09, 0x01, 0xA1, 0x01, 0xC0});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].prefix, 0xA1);
    EXPECT_EQ(result[0].value, 1);
    EXPECT_EQ(Entries(result[0]), (decltype(Entries(result[0])){{0x05, 0x80}, {0x09, 1}}));
    EXPECT_TRUE(result[0].children.empty());
}

TEST(ReportDescriptorParse, DataIsDecodedBySize) {
    struct Case {
        Bytes bytes;
        std::int32_t value;
    };
    const Case cases[] = {
        {{0xB0}, 0},                                  // no data
        {{0xB1, 0xFF}, 255},                          // one byte, zero-extended
        {{0xB2, 0x00, 0xFF}, -256},                   // two bytes, sign-extended
        {{0xB2, 0xFF, 0x7F}, 0x7FFF},
        {{0xB3, 0x78, 0x56, 0x34, 0x12}, 0x12345678},  // four bytes, as is
        {{0xB3, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
    };
    for (const auto& c : cases) {
        const auto result = Parse(c.bytes);
        ASSERT_EQ(result.size(), 1u);
        EXPECT_EQ(result[0].prefix, c.bytes[0]);
        EXPECT_EQ(result[0].value, c.value) << int{c.bytes[0]};
    }
}

TEST(ReportDescriptorParse, EachMainItemCarriesTheGlobalsAndOnlyItsOwnLocals) {
    // Globals come in ascending tag order whatever order they were written in.
    const Bytes bytes = {
        0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
        0xA1, 0x01,        // Collection (Application)
        0x95, 0x02,        //   Report Count (2)
        0x75, 0x08,        //   Report Size (8)
        0x09, 0x10,        //   Usage (0x10)
        0x19, 0x01,        //   Usage Minimum (1)
        0xB1, 0x02,        //   Feature
        0x09, 0x11,        //   Usage (0x11)
        0xB1, 0x02,        //   Feature
        0xC0,
    };
    const auto result = Parse(bytes);
    ASSERT_EQ(result.size(), 1u);
    ASSERT_EQ(result[0].children.size(), 2u);
    using E = decltype(Entries(result[0]));
    EXPECT_EQ(Entries(result[0]), (E{{0x06, -256}}));
    EXPECT_EQ(Entries(result[0].children[0]), (E{{0x06, -256}, {0x75, 8}, {0x95, 2}, {0x09, 0x10}, {0x19, 1}}));
    EXPECT_EQ(Entries(result[0].children[1]), (E{{0x06, -256}, {0x75, 8}, {0x95, 2}, {0x09, 0x11}}));
}

TEST(ReportDescriptorParse, GlobalsCarryAcrossCollectionBoundaries) {
    const Bytes bytes = {
        0x75, 0x08,  // Report Size (8)
        0xA1, 0x01,  // Collection
        0xB1, 0x02,  //   Feature: size 8
        0x75, 0x10,  //   Report Size (16)
        0xB1, 0x02,  //   Feature: size 16
        0xC0,
        0xB1, 0x02,  // Feature: still size 16
    };
    const auto result = Parse(bytes);
    ASSERT_EQ(result.size(), 2u);
    ASSERT_EQ(result[0].children.size(), 2u);
    EXPECT_EQ(result[0].children[0].FindItem(0x74)->value, 8);
    EXPECT_EQ(result[0].children[1].FindItem(0x74)->value, 16);
    EXPECT_EQ(result[1].FindItem(0x74)->value, 16);
}

TEST(ReportDescriptorParse, IgnoresPushPopReservedAndReadsLongItemsAsShortOnes) {
    // 0xFE announces two data bytes; the byte after them is the next prefix.
    const Bytes bytes = {0xA4, 0xB4, 0xF4, 0x00, 0x69, 0x01, 0xFE, 0xB1, 0x02, 0xB1, 0x05};
    const auto result = Parse(bytes);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].prefix, 0xB1);
    EXPECT_EQ(result[0].value, 5);
    EXPECT_TRUE(result[0].items.empty());
}

TEST(ReportDescriptorParse, TruncatedLastItemEndsTheParse) {
    const auto result = Parse(Bytes{0xB1, 0x02, 0x06, 0x00});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_TRUE(result[0].items.empty());
}

TEST(ReportDescriptorParse, UnbalancedCollectionsAreDroppedOrIgnored) {
    const auto result = Parse(Bytes{0xC0, 0xB1, 0x02, 0xC0, 0xA1, 0x01, 0xB1, 0x03});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].value, 2);
}

TEST(ReportDescriptorParse, CopiesAreDeepAndIndependent) {
    auto result = Parse(descriptor_fixtures::kTunnelledMonitor);
    ASSERT_EQ(result.size(), 1u);
    const MainItem copy = result[0];
    result[0].children[0].items.clear();
    result[0].children.clear();
    ASSERT_EQ(copy.children.size(), 5u);
    EXPECT_EQ(copy.children[0].FindItem(0x94)->value, 32);
    EXPECT_EQ(copy.children[3].children.size(), 1u);
}

TEST(ReportDescriptorLookup, FindsFeatureItemsOfTheTunnelledDescriptor) {
    const auto result = Parse(descriptor_fixtures::kTunnelledMonitor);
    ASSERT_EQ(result.size(), 1u);
    const MainItem& root = result[0];
    struct Case {
        std::uint16_t page, usage;
        std::int32_t reportSize, reportCount;  // 0: not found
    };
    const Case cases[] = {
        {0xFF00, 0x35, 8, 32}, {0xFF00, 0xD8, 8, 256}, {0xFF02, 0xF4, 8, 4},
        {0xFF10, 0x21, 8, 1},  {0xFF10, 0x20, 8, 4},  // the Logical collection itself, with the state before it
        {0xFF00, 0x36, 0, 0},  {0x0080, 0x01, 0, 0},  // the Application collection is not a candidate
        {0xFF21, 0x02, 0, 0},                          // an Input item
        {0x00FF, 0x35, 0, 0},
    };
    for (const auto& c : cases) {
        const MainItem* found = FindFeatureItem(root, c.page, c.usage);
        if (c.reportSize == 0) {
            EXPECT_EQ(found, nullptr) << std::hex << c.page << ":" << c.usage;
            continue;
        }
        ASSERT_NE(found, nullptr) << std::hex << c.page << ":" << c.usage;
        EXPECT_EQ(found->FindItem(0x74)->value, c.reportSize);
        EXPECT_EQ(found->FindItem(0x95)->value, c.reportCount);  // size bits of the tag are ignored
    }
    const MainItem* input = FindInputItem(root, 0xFF21, 0x02);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->prefix, 0x81);
    EXPECT_EQ(FindInputItem(root, 0xFF00, 0x35), nullptr);
}

TEST(ReportDescriptorLookup, SearchIsDepthFirstPreOrder) {
    // The same usage in a nested Feature item and in a later sibling: the
    // nested one comes first in pre-order.
    const Bytes bytes = {
        0x05, 0x01, 0xA1, 0x01,              // Collection (Application)
        0x75, 0x01, 0xA1, 0x00,              //   Collection (Physical)
        0x09, 0x30, 0xB1, 0x02,              //     Feature 1:0x30, Report Size 1
        0xC0,                                //   End Collection
        0x75, 0x02, 0x09, 0x30, 0xB1, 0x02,  //   Feature 1:0x30, Report Size 2
        0xC0,
    };
    const auto result = Parse(bytes);
    ASSERT_EQ(result.size(), 1u);
    const MainItem* found = FindFeatureItem(result[0], 0x01, 0x30);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->FindItem(0x74)->value, 1);
}

TEST(ReportDescriptorLookup, MatchesAnyUsageOfTheItemAndRangesOnlyBelowPage0x8000) {
    struct Case {
        Bytes bytes;
        std::uint16_t page, usage;
        bool found;
    };
    const Bytes range82 = {0x05, 0x82, 0x19, 0x10, 0x29, 0x20, 0xB1, 0x02};
    const Bytes rangeFF00 = {0x06, 0x00, 0xFF, 0x19, 0x10, 0x29, 0x20, 0xB1, 0x02};
    const Bytes twoUsages = {0x06, 0x00, 0xFF, 0x09, 0x35, 0x0A, 0x00, 0x80, 0xB1, 0x02};
    const Case cases[] = {
        {range82, 0x82, 0x10, true},       {range82, 0x82, 0x20, true},      {range82, 0x82, 0x18, true},
        {range82, 0x82, 0x0F, false},      {range82, 0x82, 0x21, false},     {range82, 0x83, 0x10, false},
        {rangeFF00, 0xFF00, 0x10, false},  {rangeFF00, 0xFF00, 0x18, false},
        {twoUsages, 0xFF00, 0x35, true},   {twoUsages, 0xFF00, 0x8000, true},  // 0x0A 0x00 0x80 is -32768
        {twoUsages, 0xFF00, 0x36, false},
    };
    for (const auto& c : cases) {
        const auto result = Parse(c.bytes);
        ASSERT_EQ(result.size(), 1u);
        EXPECT_EQ(FindMainItem(result[0], c.page, c.usage) != nullptr, c.found)
            << std::hex << c.page << ":" << c.usage << " in descriptor of " << std::dec << c.bytes.size() << " bytes";
        EXPECT_EQ(FindFeatureItem(result[0], c.page, c.usage) != nullptr, c.found);
        EXPECT_EQ(FindInputItem(result[0], c.page, c.usage), nullptr);
    }
}

TEST(ReportDescriptorLookup, FindItemWithoutTheEntryGivesNothing) {
    const auto result = Parse(Bytes{0x95, 0x04, 0xB1, 0x02});
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].FindItem(0x74), nullptr);
    ASSERT_NE(result[0].FindItem(0x94), nullptr);
    EXPECT_EQ(result[0].FindItem(0x94)->value, 4);
}

TEST(ReportDescriptorLimits, NestingStopsAtTheDepthLimit) {
    auto nested = [](std::size_t depth) {
        Bytes bytes;
        for (std::size_t i = 0; i < depth; ++i) bytes.insert(bytes.end(), {0xA1, 0x02});
        bytes.insert(bytes.end(), {0xB1, 0x02});
        bytes.insert(bytes.end(), depth, 0xC0);
        return bytes;
    };
    const auto deepest = Parse(nested(kMaxCollectionDepth));
    ASSERT_EQ(deepest.size(), 1u);
    EXPECT_EQ(Depth(deepest[0]), kMaxCollectionDepth + 1);  // the Feature item below the last collection
    // One level more ends the parse there; the open collections are dropped.
    EXPECT_TRUE(Parse(nested(kMaxCollectionDepth + 1)).empty());
    // A hundred thousand levels neither recurse nor overflow anything.
    EXPECT_TRUE(Parse(nested(100000)).empty());
}

TEST(ReportDescriptorLimits, BytesPastTheLimitAreNotRead) {
    // Tag 0x00 bytes are ignored one by one, so the Feature item starts at
    // the byte count of the padding.
    for (const std::size_t padding : {kMaxDescriptorBytes - 2, kMaxDescriptorBytes - 1}) {
        Bytes bytes(padding, 0x00);
        bytes.insert(bytes.end(), {0xB1, 0x02});
        EXPECT_EQ(Parse(bytes).size(), padding == kMaxDescriptorBytes - 2 ? 1u : 0u) << padding;
    }
}

TEST(ReportDescriptorLimits, SurvivesNoiseTruncationAndAbsurdValues) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const auto result = Parse(Noise(64 * 1024, seed));
        for (const auto& item : result) {
            EXPECT_LE(Depth(item), kMaxCollectionDepth + 1);
            FindFeatureItem(item, 0xFF00, 0x35);
            FindInputItem(item, 0x01, 0x30);
        }
    }
    const auto& full = descriptor_fixtures::kTunnelledMonitor;
    for (std::size_t length = 0; length < full.size(); ++length) {
        // Cut short, the Application collection is never closed and so dropped.
        EXPECT_TRUE(Parse(std::span(full.data(), length)).empty()) << length;
    }
    const auto absurd = Parse(Bytes{0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02});
    ASSERT_EQ(absurd.size(), 1u);
    EXPECT_EQ(absurd[0].FindItem(0x94)->value, -1);
}

}  // namespace
