#include "hid/report_descriptor.h"

#include <algorithm>
#include <array>

namespace reportdescriptor {
namespace {

constexpr std::uint8_t kTagUsagePage = 0x04;
constexpr std::uint8_t kTagReportCount = 0x94;
constexpr std::uint8_t kTagUsage = 0x08;
constexpr std::uint8_t kTagUsageMinimum = 0x18;
constexpr std::uint8_t kTagUsageMaximum = 0x28;
constexpr std::uint8_t kTagInput = 0x80;
constexpr std::uint8_t kTagOutput = 0x90;
constexpr std::uint8_t kTagFeature = 0xB0;
constexpr std::uint8_t kTagCollection = 0xA0;
constexpr std::uint8_t kTagEndCollection = 0xC0;
constexpr std::int32_t kLogicalCollection = 2;

// Global tags are 0x04, 0x14, ... 0x94; Push (0xA4), Pop (0xB4) and the
// reserved ones above are not kept.
bool IsGlobalTag(std::uint8_t tag) { return (tag & 0x0C) == 0x04 && tag <= kTagReportCount; }

bool IsLocalTag(std::uint8_t tag) {
    switch (tag) {
        case 0x08: case 0x18: case 0x28: case 0x38: case 0x48:
        case 0x58: case 0x78: case 0x88: case 0x98: case 0xA8:
            return true;
        default:
            return false;
    }
}

// One-byte data zero-extended, two-byte data sign-extended, four bytes as is.
std::int32_t DecodeValue(const RawItem& raw) {
    switch (raw.dataSize) {
        case 1: return static_cast<std::int32_t>(raw.data);
        case 2: return static_cast<std::int16_t>(raw.data);
        case 4: return static_cast<std::int32_t>(raw.data);
        default: return 0;
    }
}

// The parser's state between items: the latest item of each global tag, the
// local items since the last main item, and the collections still open.
class TreeBuilder {
public:
    // False when the item ends the parse (a collection nested too deep).
    bool Add(const Item& item) {
        const std::uint8_t tag = item.Tag();
        if (IsGlobalTag(tag)) {
            globals_[tag >> 4] = item;
        } else if (IsLocalTag(tag)) {
            locals_.push_back(item);
        } else if (tag == kTagInput || tag == kTagOutput || tag == kTagFeature) {
            Attach(WithState(item));
        } else if (tag == kTagCollection) {
            if (open_.size() >= kMaxCollectionDepth) return false;
            open_.push_back(WithState(item));
        } else if (tag == kTagEndCollection && !open_.empty()) {
            MainItem closed = std::move(open_.back());
            open_.pop_back();
            Attach(std::move(closed));
        }
        return true;
    }

    // Collections still open and pending locals are dropped.
    std::vector<MainItem> Finish() { return std::move(result_); }

private:
    MainItem WithState(const Item& item) {
        MainItem main(item.prefix, item.value);
        for (const auto& global : globals_)
            if (global) main.items.push_back(*global);
        main.items.insert(main.items.end(), locals_.begin(), locals_.end());
        locals_.clear();
        return main;
    }

    void Attach(MainItem&& main) {
        if (open_.empty())
            result_.push_back(std::move(main));
        else
            open_.back().children.push_back(std::move(main));
    }

    std::array<std::optional<Item>, 10> globals_;  // indexed by tag >> 4, so in ascending tag order
    std::vector<Item> locals_;
    std::vector<MainItem> open_;
    std::vector<MainItem> result_;
};

const Item* FindItemWithValue(const MainItem& item, std::uint8_t tag, std::int32_t value) {
    for (const auto& entry : item.items)
        if (entry.Tag() == tag && entry.value == value) return &entry;
    return nullptr;
}

// Depth-first, pre-order, without recursion.
template <typename IsCandidate>
const MainItem* Search(const MainItem& root, std::uint16_t usagePage, std::uint16_t usage, IsCandidate isCandidate) {
    std::vector<const MainItem*> pending{&root};
    while (!pending.empty()) {
        const MainItem* item = pending.back();
        pending.pop_back();
        if (isCandidate(*item) && FindMainItem(*item, usagePage, usage)) return item;
        for (auto child = item->children.rbegin(); child != item->children.rend(); ++child) pending.push_back(&*child);
    }
    return nullptr;
}

}  // namespace

std::optional<RawItem> ReadRawItem(std::span<const std::uint8_t> bytes, std::size_t pos) {
    if (pos >= bytes.size()) return std::nullopt;
    RawItem raw;
    raw.prefix = bytes[pos];
    static constexpr std::array<std::uint8_t, 4> kDataSizes = {0, 1, 2, 4};
    raw.dataSize = kDataSizes[raw.prefix & 3];
    if (bytes.size() - pos - 1 < raw.dataSize) return std::nullopt;
    for (std::size_t i = 0; i < raw.dataSize; ++i)
        raw.data |= static_cast<std::uint32_t>(bytes[pos + 1 + i]) << (8 * i);
    return raw;
}

const Item* MainItem::FindItem(std::uint8_t tag) const {
    const std::uint8_t wanted = tag & 0xFC;
    for (const auto& item : items)
        if (item.Tag() == wanted) return &item;
    return nullptr;
}

std::vector<MainItem> Parse(std::span<const std::uint8_t> bytes) {
    bytes = bytes.first(std::min(bytes.size(), kMaxDescriptorBytes));
    TreeBuilder builder;
    std::size_t pos = 0;
    while (const auto raw = ReadRawItem(bytes, pos)) {
        if (!builder.Add(Item(raw->prefix, DecodeValue(*raw)))) break;
        pos += raw->Length();
    }
    return builder.Finish();
}

// Two-byte data is stored sign-extended, so a page or usage written in two
// bytes is compared as a signed 16-bit number. The range form also wants the
// page to read the same unsigned, so it only matches pages below 0x8000.
const MainItem* FindMainItem(const MainItem& item, std::uint16_t usagePage, std::uint16_t usage) {
    const std::int32_t signedPage = static_cast<std::int16_t>(usagePage);
    const Item* page = FindItemWithValue(item, kTagUsagePage, signedPage);
    if (!page) return nullptr;
    if (FindItemWithValue(item, kTagUsage, static_cast<std::int16_t>(usage))) return &item;
    if (page->value != static_cast<std::int32_t>(usagePage)) return nullptr;
    const Item* min = item.FindItem(kTagUsageMinimum);
    const Item* max = item.FindItem(kTagUsageMaximum);
    if (!min || !max) return nullptr;
    const std::int32_t wanted = usage;
    return min->value <= wanted && wanted <= max->value ? &item : nullptr;
}

const MainItem* FindFeatureItem(const MainItem& root, std::uint16_t usagePage, std::uint16_t usage) {
    return Search(root, usagePage, usage, [](const MainItem& item) {
        return item.Tag() == kTagFeature || (item.Tag() == kTagCollection && item.value == kLogicalCollection);
    });
}

const MainItem* FindInputItem(const MainItem& root, std::uint16_t usagePage, std::uint16_t usage) {
    return Search(root, usagePage, usage, [](const MainItem& item) { return item.Tag() == kTagInput; });
}

}  // namespace reportdescriptor
