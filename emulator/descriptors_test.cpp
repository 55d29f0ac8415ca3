// The report layout reader, and the descriptors of the three kinds read with it.
#include <gtest/gtest.h>

#include "emulator/descriptors.h"
#include "emulator/report_layout.h"

namespace {

TEST(ReportLayoutTest, PlacesFieldsOfHandWrittenDescriptor) {
    const std::vector<std::uint8_t> bytes{
        0x06, 0x00, 0xFF,  // Usage Page 0xFF00
        0x09, 0x01,        // Usage 1
        0xA1, 0x01,        // Collection (Application)
        0x09, 0xB8,        //   Usage 0xB8
        0x85, 0x03,        //   Report ID 3
        0x75, 0x10,        //   Report Size 16
        0x95, 0x01,        //   Report Count 1
        0xB1, 0x02,        //   Feature (Data, Variable)
        0x09, 0x20,        //   Usage 0x20
        0xA1, 0x02,        //   Collection (Logical)
        0x09, 0x21,        //     Usage 0x21
        0x75, 0x01,        //     Report Size 1
        0xB1, 0x02,        //     Feature (Data, Variable): bit 16 of report 3
        0x75, 0x07,        //     Report Size 7
        0xB1, 0x01,        //     Feature (Constant)
        0xC0,              //   End Collection
        0xC0,              // End Collection
    };
    const auto layout = ReportLayout::Parse(bytes);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->Root(), (UsageAddress{0xFF00, 0x01}));
    EXPECT_EQ(layout->ReportLength(3), 4u);
    EXPECT_EQ(layout->ReportLength(4), 0u);
    const FieldLayout* button = layout->Find({0xFF00, 0x21});
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->bitOffset, 16u);
    EXPECT_EQ(button->linkCollection, (UsageAddress{0xFF00, 0x20}));
    EXPECT_EQ(layout->FieldOfReport(3)->address, (UsageAddress{0xFF00, 0xB8}));
}

TEST(ReportLayoutTest, RefusesDescriptorsOutsideTheRules) {
    const std::vector<std::vector<std::uint8_t>> cases{
        {0x09, 0x01, 0x75, 0x08, 0x95, 0x01, 0x85, 0x01, 0xB1, 0x02},              // no collection
        {0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02, 0xC0},        // no report ID
        {0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x95, 0x01, 0xB1, 0x02, 0xC0},        // no report size
        {0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02},  // unclosed
        {0x09, 0x01, 0xA1, 0x02, 0xC0},                                            // not an application
        {0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},  // an input report
        {0x09, 0x01, 0xA1, 0x01, 0x85},                                            // cut off inside an item
        {0x09, 0x01, 0xA1, 0x01, 0x85, 0x00, 0xC0},                                // report ID 0
    };
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_FALSE(ReportLayout::Parse(cases[i])) << "case " << i;
}

struct DescriptorCase {
    DescriptorOptions options;
    std::vector<UsageAddress> present;
    std::vector<UsageAddress> absent;
};

class DescriptorTest : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(DescriptorTest, DeclaresTheUsagesOfItsKind) {
    const DescriptorCase& c = GetParam();
    const auto interface = ReportLayout::Parse(InterfaceDescriptor(c.options));
    ASSERT_TRUE(interface);
    const bool tunnel = c.options.kind != MonitorKind::OlderNative;
    std::optional<ReportLayout> vendor = interface;
    if (tunnel) {
        vendor = ReportLayout::Parse(TunnelledDescriptor(c.options));
        ASSERT_TRUE(vendor);
        EXPECT_EQ(vendor->Root(), (UsageAddress{0x80, 0x01}));
        for (std::uint16_t usage : {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14}) {
            EXPECT_NE(interface->Find({0xFF30, usage}), nullptr) << usage;
        }
    } else {
        EXPECT_TRUE(TunnelledDescriptor(c.options).empty());
        const FieldLayout* button = interface->Find({0xFF10, 0x0021});
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->bitSize, 1);
        EXPECT_EQ(button->linkCollection, (UsageAddress{0xFF10, 0x0020}));
    }
    for (const UsageAddress& a : c.present) EXPECT_NE(vendor->Find(a), nullptr) << std::hex << a.page << ":" << a.usage;
    for (const UsageAddress& a : c.absent) EXPECT_EQ(vendor->Find(a), nullptr) << std::hex << a.page << ":" << a.usage;
    // Values are 8, 16 or 32 bits; blocks are bytes.
    for (const auto& [address, field] : vendor->Fields()) {
        const bool sized = field.bitSize == 1 || field.bitSize == 8 ||
                           (field.count == 1 && (field.bitSize == 16 || field.bitSize == 32));
        EXPECT_TRUE(sized) << std::hex << address.page << ":" << address.usage;
    }
    EXPECT_EQ(interface->Find({0xFF02, 0x00F8}) != nullptr, c.options.stoppedInUpdate);
}

const std::vector<UsageAddress> kCommon{{0xFF00, 0x00B8}, {0xFF00, 0x00D8}, {0xFF02, 0x00C2}, {0xFF02, 0x00C3},
                                        {0xFF02, 0x00C7}, {0xFF02, 0x00F4}, {0xFF02, 0x00FB}, {0xFF03, 0x0080},
                                        {0xFF03, 0x0004}, {0xFF10, 0x0040}};
const UsageAddress kCombined{0xFF02, 0x00FE}, kChecksum{0xFF02, 0x00FC};

std::vector<UsageAddress> With(std::vector<UsageAddress> list, std::initializer_list<UsageAddress> more) {
    list.insert(list.end(), more);
    return list;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DescriptorTest,
    ::testing::Values(
        DescriptorCase{{MonitorKind::OlderNative, false, false},
                       With(kCommon, {{0xFF00, 0x0035}, {0xFF01, 0x0054}, {0xFF01, 0x0053}, {0xFF01, 0x0045}}),
                       {kCombined, kChecksum, {0xFF01, 0x00A4}}},
        DescriptorCase{{MonitorKind::OlderNative, true, false},
                       With(kCommon, {{0xFF00, 0x0009}, {0xFF01, 0x00A4}}),
                       {{0xFF01, 0x0054}, {0xFF01, 0x0053}, {0xFF01, 0x0045}}},
        DescriptorCase{{MonitorKind::OlderTunnel, false, false}, kCommon, {kCombined, kChecksum}},
        DescriptorCase{{MonitorKind::OlderTunnel, false, true}, kCommon, {kCombined}},
        DescriptorCase{{MonitorKind::CombinedTunnel, false, false}, With(kCommon, {kCombined, kChecksum}), {}},
        DescriptorCase{{MonitorKind::CombinedTunnel, false, true}, With(kCommon, {kCombined, kChecksum}), {}},
        // Older monitors without setting B8 and switch F0, natively and through the tunnel.
        DescriptorCase{{MonitorKind::OlderNative, false, false, true, false},
                       {{0xFF00, 0x00D8}, {0xFF02, 0x00FB}},
                       {{0xFF00, 0x00B8}, {0xFF01, 0x00F0}}},
        DescriptorCase{{MonitorKind::OlderTunnel, false, false, true, false},
                       {{0xFF00, 0x00D8}, {0xFF02, 0x00FB}},
                       {{0xFF00, 0x00B8}, {0xFF01, 0x00F0}}}));

}  // namespace
