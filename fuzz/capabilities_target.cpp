// Fuzz target: capabilities derived from an interface's own report descriptor,
// and received reports unpacked and read through them. Input: the descriptor's
// length (u16), the descriptor, then reports, each a length byte and its bytes.
// The whole way: the descriptor declared a report and a report was read through it.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "hid/capabilities.h"
#include "hid/data_items.h"

namespace {

constexpr std::array<HidReportType, kHidReportTypes> kTypes{HidReportType::Input, HidReportType::Output,
                                                            HidReportType::Feature};

void ReadValues(const HidCapabilities& caps, HidReportType type, std::span<const std::uint8_t> report) {
    for (const HidValueCaps& value : caps.Values(type)) {
        for (std::uint32_t usage = value.usageMin; usage <= value.usageMax && usage - value.usageMin < 16; ++usage) {
            const auto u = static_cast<std::uint16_t>(usage);
            GetUsageValue(value, u, report);
            GetScaledUsageValue(value, u, report);
            FindValueCaps(caps, type, value.usagePage, u, value.reportId);
        }
        GetUsageValue(value, value.usage, report);
        GetUsageValueArray(value, report);
    }
    for (const HidButtonCaps& button : caps.Buttons(type)) {
        GetUsages(caps, type, button.usagePage, report);
        MaxUsageListLength(caps, type, button.usagePage);
    }
    MaxUsageListLength(caps, type, 0);
}

}  // namespace

bool fuzz_target::Run(std::span<const std::uint8_t> input) {
    fuzz_support::Reader in(input);
    const std::span<const std::uint8_t> descriptor = in.Take(in.U16());
    const HidCapabilities caps = DeriveCapabilities(descriptor);

    std::array<std::vector<HidDataItem>, kHidReportTypes> items;
    bool declaresReport = false;
    for (const HidReportType type : kTypes) {
        items[static_cast<std::size_t>(type)] = BuildDataItems(caps, type);
        declaresReport = declaresReport || caps.ReportByteLength(type) > 0;
    }
    const bool hasReports = !in.Empty();
    while (!in.Empty()) {
        const std::span<const std::uint8_t> received = in.Take(in.U8());
        for (const HidReportType type : kTypes) {
            // The interface record's buffer is the report's full length; a device may send fewer bytes.
            std::vector<std::uint8_t> report(std::max<std::size_t>(caps.ReportByteLength(type), received.size()), 0);
            std::copy(received.begin(), received.end(), report.begin());
            ReadValues(caps, type, report);
            UnpackReport(caps, report, type, items[static_cast<std::size_t>(type)]);
            std::vector<std::uint8_t> exact(received.begin(), received.end());
            UnpackReport(caps, exact, type, items[static_cast<std::size_t>(type)]);
        }
    }
    return declaresReport && hasReports;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_target::Run({data, size});
    return 0;
}
