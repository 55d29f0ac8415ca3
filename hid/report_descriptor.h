#pragma once
// Parser of HID report descriptors (the short-item grammar, without Push/Pop
// and long items) into a tree of main items, with the lookups that find the
// main item carrying a (usage page, usage) pair.
//
// Limits (a descriptor beyond them is malformed; parsing ends as at a truncated
// item, so the result only gets shorter):
// - kMaxDescriptorBytes: bytes past the first 65,535 are not read (the
//   descriptor transfer and hidraw never deliver more).
// - kMaxCollectionDepth: a Collection that would open a 65th nested level ends
//   the parse, so the tree (copied and destroyed recursively) stays shallow.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace reportdescriptor {

inline constexpr std::size_t kMaxDescriptorBytes = 65535;
inline constexpr std::size_t kMaxCollectionDepth = 64;

// One short item as it stands in the descriptor: its first byte, its data bytes
// as an unsigned little-endian number and their count (0, 1, 2 or 4).
struct RawItem {
    std::uint8_t prefix = 0;
    std::uint8_t dataSize = 0;
    std::uint32_t data = 0;

    std::uint8_t Tag() const { return prefix & 0xFC; }
    std::size_t Length() const { return 1u + dataSize; }
};

// The short item at `pos`, or none when its data would run past the end.
std::optional<RawItem> ReadRawItem(std::span<const std::uint8_t> bytes, std::size_t pos);

struct Item {
    Item() = default;
    Item(std::uint8_t p, std::int32_t v) : prefix(p), value(v) {}
    virtual ~Item() = default;
    Item(const Item&) = default;
    Item& operator=(const Item&) = default;

    std::uint8_t prefix = 0;  // the item's first byte: tag, type and size bits
    std::int32_t value = 0;   // 1-byte data zero-extended, 2-byte data sign-extended, 4-byte data as is

    std::uint8_t Tag() const { return prefix & 0xFC; }
};

struct MainItem : Item {
    using Item::Item;
    std::vector<Item> items;          // the globals in effect (ascending tag), then the locals
    std::vector<MainItem> children;   // for a collection: what it contains, in order

    const Item* FindItem(std::uint8_t tag) const;
};

std::vector<MainItem> Parse(std::span<const std::uint8_t> bytes);

const MainItem* FindMainItem(const MainItem& item, std::uint16_t usagePage, std::uint16_t usage);
const MainItem* FindFeatureItem(const MainItem& root, std::uint16_t usagePage, std::uint16_t usage);
const MainItem* FindInputItem(const MainItem& root, std::uint16_t usagePage, std::uint16_t usage);

}  // namespace reportdescriptor
