#include "emulator/descriptors.h"

#include "emulator/descriptor_writer.h"

namespace {

// The vendor usages of a monitor, one feature report each. Values are 8, 16
// or 32 bits wide; byte blocks are 8 bits times their length.
void WriteVendorUsages(DescriptorWriter& d, const DescriptorOptions& options, bool native) {
    const bool combined = options.kind == MonitorKind::CombinedTunnel;

    d.UsagePage(0xFF00);
    d.FeatureField(0x0009, 32, 1);                         // status word; bits 4 and 5 on legacy monitors
    d.FeatureField(0x000F, 16, 1);                         // identification indicator
    if (native) {
        d.FeatureField(0x0035, 8, kIdentityBytes);         // serial number and model name
        d.FeatureField(0x00CE, 16, 1);                     // tunnel monitors serve this as 0xFF30:0x0009
    }
    if (options.settingB8AndSwitchF0) d.FeatureField(0x00B8, 8, 1); // setting B8
    d.FeatureField(0x00D8, 8, 18);                         // version record request and reply

    d.UsagePage(0xFF01);
    if (options.legacySettings) {
        d.FeatureField(0x00A4, 16, 1);                     // stands in for setting 45
    } else {
        d.FeatureField(0x0045, 8, 1);                      // setting 45
        d.FeatureField(0x0053, 8, 1);                      // setting 53
        d.FeatureField(0x0054, 16, 1);                     // setting 54
    }
    d.FeatureField(0x0068, 16, 1);                         // setting 68
    if (options.settingB8AndSwitchF0) d.FeatureField(0x00F0, 16, 1); // switch F0
    d.FeatureField(0x00F1, 8, 2);                          // indexed setting: index, operation
    d.FeatureField(0x00F2, 32, 1);                         // indexed setting: value

    d.UsagePage(0xFF02);
    d.FeatureField(0x0037, 8, 1);                          // completion command and status
    d.FeatureField(0x00C2, 8, 10);                         // component and block select
    d.FeatureField(0x00C3, 8, 16);                         // component geometry
    d.FeatureField(0x00C7, 8, 512);                        // one packet of the selected block
    d.FeatureField(0x00F4, 8, 1);                          // restart command
    d.FeatureField(0x00FB, 8, 1);                          // boot selector
    if (combined) {
        d.FeatureField(0x00FC, 8, 15);                     // checksum request and reply
        d.FeatureField(0x00FE, 8, 522);                    // combined packet
    }

    d.UsagePage(0xFF03);
    d.FeatureField(0x0001, 8, 1);                          // lock mode 2 present
    d.FeatureField(0x0003, 8, 1);                          // lock mode 5 present
    d.FeatureField(0x0004, 8, 1);                          // busy flag
    d.FeatureField(0x0022, 8, 64);                         // setting 22 block
    d.FeatureField(0x0030, 8, 64);                         // setting 30 block
    if (options.controlLock) d.FeatureField(0x0080, 8, 2); // control lock: mode, seconds

    d.UsagePage(0xFF10);
    d.FeatureField(0x0040, 8, 4);                          // setting 40 block
    d.Usage(0x0020);                                       // a button reached through its link collection
    d.Collection(DescriptorWriter::kLogical);
    d.Usage(0x0021);
    d.ReportId(d.NextReportId());
    d.LogicalMinimum(0);
    d.LogicalMaximum(1);
    d.ReportSize(1);                                       // one bit: a button
    d.ReportCount(1);
    d.Feature(DescriptorWriter::kDataVariable);
    d.ReportSize(7);                                       // padding to the byte
    d.Feature(DescriptorWriter::kConstant);
    d.EndCollection();
}

}  // namespace

std::vector<std::uint8_t> InterfaceDescriptor(const DescriptorOptions& options) {
    DescriptorWriter d;
    if (options.kind == MonitorKind::OlderNative) {
        d.UsagePage(0xFF00);
        d.Usage(0x0001);
        d.Collection(DescriptorWriter::kApplication);
        WriteVendorUsages(d, options, true);
        d.EndCollection();
        return d.Bytes();
    }
    d.UsagePage(0xFF30);
    d.Usage(0x0100);                                       // the tunnel interface
    d.Collection(DescriptorWriter::kApplication);
    d.FeatureField(0x0001, 8, kDescriptorChunkBytes);      // descriptor transfer chunk
    d.FeatureField(0x0002, 8, kShortChannelBytes);         // write, short
    d.FeatureField(0x0003, 8, kShortChannelBytes);         // read, short
    d.FeatureField(0x0004, 8, kLongChannelBytes);          // write, long
    d.FeatureField(0x0005, 8, kLongChannelBytes);          // read, long
    d.FeatureField(0x0006, 16, 1);                         // tunnel token
    d.FeatureField(0x0008, 8, kIdentityBytes);             // identity block (0xFF00:0x0035)
    d.FeatureField(0x0009, 16, 1);                         // 0xFF00:0x00CE
    d.FeatureField(0x000A, 16, 1);                         // owner value
    d.FeatureField(0x000B, 8, kShortChannelBytes);         // owner-checked write, short
    d.FeatureField(0x000C, 8, kShortChannelBytes);         // owner-checked read, short
    d.FeatureField(0x000D, 8, kLongChannelBytes);          // owner-checked write, long
    d.FeatureField(0x000E, 8, kLongChannelBytes);          // owner-checked read, long
    if (options.stoppedInUpdate) {
        d.UsagePage(0xFF02);
        d.FeatureField(0x00F8, 8, 1);                      // marks a monitor stopped in an update
    }
    d.EndCollection();
    return d.Bytes();
}

std::vector<std::uint8_t> TunnelledDescriptor(const DescriptorOptions& options) {
    if (options.kind == MonitorKind::OlderNative) return {};
    DescriptorWriter d;
    d.UsagePage(0x80);                                     // Monitor page
    d.Usage(0x01);                                         // Monitor Control
    d.Collection(DescriptorWriter::kApplication);
    WriteVendorUsages(d, options, false);
    d.EndCollection();
    return d.Bytes();
}
