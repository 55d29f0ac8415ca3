// Fuzz target: the parser of the vendor descriptor a tunnel monitor hands out,
// and the lookups the tunnel makes in it. The first four bytes are a (page,
// usage) pair to look up besides the monitor's own; the rest is the descriptor.
// The whole way: the descriptor read as items to its end and held a collection.
#include <array>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "hid/report_descriptor.h"

namespace {

struct Address {
    std::uint16_t page, usage;
};
// Usages the monitor layer asks a tunnelled descriptor for.
constexpr std::array<Address, 10> kKnown{{{0xFF02, 0x00C2}, {0xFF02, 0x00C3}, {0xFF02, 0x00C4}, {0xFF02, 0x00C7},
                                          {0xFF02, 0x00FE}, {0xFF02, 0x00FC}, {0xFF00, 0x00D8}, {0xFF21, 0x0002},
                                          {0x0080, 0x0001}, {0xFF30, 0x000A}}};
constexpr std::array<std::uint8_t, 6> kTags{0x04, 0x08, 0x18, 0x28, 0x74, 0x94};

std::size_t Visit(const reportdescriptor::MainItem& item, Address extra) {
    std::size_t seen = 1;
    for (const std::uint8_t tag : kTags) {
        if (const reportdescriptor::Item* found = item.FindItem(tag)) seen += static_cast<std::size_t>(found->value & 1);
    }
    for (const Address a : kKnown) seen += reportdescriptor::FindMainItem(item, a.page, a.usage) != nullptr;
    seen += reportdescriptor::FindMainItem(item, extra.page, extra.usage) != nullptr;
    for (const auto& child : item.children) seen += Visit(child, extra);
    return seen;
}

}  // namespace

bool fuzz_target::Run(std::span<const std::uint8_t> input) {
    fuzz_support::Reader in(input);
    const Address extra{in.U16(), in.U16()};
    const std::span<const std::uint8_t> descriptor = in.Rest();

    std::size_t pos = 0;
    while (const auto raw = reportdescriptor::ReadRawItem(descriptor, pos)) pos += raw->Length();
    const std::vector<reportdescriptor::MainItem> roots = reportdescriptor::Parse(descriptor);
    for (const reportdescriptor::MainItem& root : roots) {
        for (const Address a : kKnown) {
            reportdescriptor::FindFeatureItem(root, a.page, a.usage);
            reportdescriptor::FindInputItem(root, a.page, a.usage);
        }
        reportdescriptor::FindFeatureItem(root, extra.page, extra.usage);
        reportdescriptor::FindInputItem(root, extra.page, extra.usage);
        Visit(root, extra);
    }
    // The device object keeps a copy of the first root.
    if (!roots.empty()) {
        const reportdescriptor::MainItem copy = roots.front();
        Visit(copy, extra);
    }
    return pos == descriptor.size() && !roots.empty();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_target::Run({data, size});
    return 0;
}
