// Capabilities derived from a report descriptor, the way the Windows HID
// parser presents them, and the extraction of fields from reports.
//
// Rules where the derivation must decide:
//
// - Kinds. A Constant main item (data bit 0) is padding: it takes its bits and
//   gives no capability. So does a main item without any usage. An Array item
//   (data bit 1 clear) lists selectors and gives button capabilities; a
//   Variable item of Report Size 1 gives button capabilities (a 1-bit field can
//   only be 0 or 1, so its logical range is not consulted); every other
//   Variable item gives value capabilities.
// - Usages. A usage written with 4 data bytes carries its own page in the high
//   16 bits; the others take the Usage Page in effect at the main item. Usage
//   Minimum and Usage Maximum pair up into a range (in either order); a range
//   whose minimum exceeds its maximum, or whose ends name different pages, is
//   dropped. Inside a Delimiter set only the first usage counts.
// - Variable items: the usages (a range counts as one usage per element) take
//   the Report Count elements in order, one capability per usage or range.
//   When the elements run out first, the remaining usages are ignored and a
//   range is cut short (usageMax shrinks); when the usages run out first, the
//   last usage or range takes the rest, so a single usage becomes a value
//   array, and a range's extra elements belong to its last usage.
// - Array items: one button capability per usage or range, each covering the
//   whole field (bit position, Report Size, Report Count). Selectors count
//   from Logical Minimum through the usages in order (firstSelector). A
//   selector naming usage 0 ("no event") is not reported.
// - Bit positions. Each (report type, report ID) has its own counter, starting
//   at the bit after the report ID byte. A main item whose Report Size or
//   Report Count is 0 takes no bits and is ignored.
// - Report IDs. Without Report ID items every field is in report 0. A Report ID
//   item of 0 or above 255 is malformed. Fields declared before the first
//   Report ID item stay in report 0 even when later ones have IDs (a mix the
//   HID rules forbid, kept as written).
// - Report lengths. The longest report of a type, in bytes, plus the report ID
//   byte (counted also for report 0); 0 when there is no report of that type.
// - Collections. A Linux hidraw node carries every top-level collection of an
//   interface, so all of them count. The Windows parser gives one interface per
//   top-level collection, where items directly inside it have link collection
//   0; so here items directly inside any top-level collection have link
//   collection 0 with that collection's usage as link usage, and nested
//   collections are numbered 1, 2, ... in order of appearance. Main items
//   outside every collection have link collection 0 and link usage 0:0. The
//   top-level usage page and usage are those of the first top-level
//   collection. A collection's usage is the first usage given before it.
// - Logical and physical limits are signed numbers of their data size (0x81 is
//   -127); Unit and Unit Exponent are kept as given.
// - Push and Pop are honoured; long items are read as short ones (as the tree
//   parser does).
//
// Malformed input and limits: a Report ID out of range, a Pop without Push,
// more than kMaxGlobalStackDepth Pushes, a collection nested deeper than
// reportdescriptor::kMaxCollectionDepth, a Report Size or Report Count above
// 65535 (they would not fit the tables), a report longer than
// kMaxReportDataBytes, or more than kMaxCapabilities capabilities,
// kMaxButtonElements button elements or kMaxValueUsages value usages of one
// report type, end the derivation at that item. Everything derived before it
// is kept (the offending main item gives nothing and takes no bits). Only the
// first reportdescriptor::kMaxDescriptorBytes bytes are read. A truncated last
// item ends the derivation like the end of the bytes; collections left open
// keep what they gave.
#include "hid/capabilities.h"

#include <algorithm>
#include <limits>

#include "hid/report_descriptor.h"

namespace {

using reportdescriptor::RawItem;

enum : std::uint8_t {
    kTagUsagePage = 0x04,
    kTagLogicalMinimum = 0x14,
    kTagLogicalMaximum = 0x24,
    kTagPhysicalMinimum = 0x34,
    kTagPhysicalMaximum = 0x44,
    kTagUnitExponent = 0x54,
    kTagUnit = 0x64,
    kTagReportSize = 0x74,
    kTagReportId = 0x84,
    kTagReportCount = 0x94,
    kTagPush = 0xA4,
    kTagPop = 0xB4,
    kTagUsage = 0x08,
    kTagUsageMinimum = 0x18,
    kTagUsageMaximum = 0x28,
    kTagDelimiter = 0xA8,
    kTagInput = 0x80,
    kTagOutput = 0x90,
    kTagFeature = 0xB0,
    kTagCollection = 0xA0,
    kTagEndCollection = 0xC0,
};

constexpr std::uint32_t kDataConstant = 0x01;
constexpr std::uint32_t kDataVariable = 0x02;
constexpr std::uint32_t kDataNullState = 0x40;
constexpr std::uint32_t kDataFlagsMask = 0x1FF;
constexpr std::uint32_t kMaxFieldWidth = 0xFFFF;  // Report Size and Report Count fit the 16-bit table fields
constexpr std::size_t kReportIds = 256;
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::int32_t SignedData(const RawItem& raw) {
    switch (raw.dataSize) {
        case 1: return static_cast<std::int8_t>(raw.data);
        case 2: return static_cast<std::int16_t>(raw.data);
        default: return static_cast<std::int32_t>(raw.data);
    }
}

struct Globals {
    std::uint16_t usagePage = 0;
    std::int32_t logicalMin = 0;
    std::int32_t logicalMax = 0;
    std::int32_t physicalMin = 0;
    std::int32_t physicalMax = 0;
    std::int32_t unitExponent = 0;
    std::uint32_t units = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

// A usage or a usage range as written; the page is settled at the main item.
struct LocalUsage {
    bool hasOwnPage = false;
    std::uint16_t page = 0;
    std::uint16_t min = 0;
    std::uint16_t max = 0;
    bool isRange = false;
};

// One end of a usage range: the usage, and its page when written in 4 bytes.
struct RangeEnd {
    bool hasOwnPage = false;
    std::uint16_t page = 0;
    std::uint16_t usage = 0;
};

RangeEnd ReadUsage(const RawItem& raw) {
    RangeEnd end;
    end.usage = static_cast<std::uint16_t>(raw.data);
    if (raw.dataSize == 4) {
        end.hasOwnPage = true;
        end.page = static_cast<std::uint16_t>(raw.data >> 16);
    }
    return end;
}

struct OpenCollection {
    std::uint16_t link = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
};

class Deriver {
public:
    // False ends the derivation at this item.
    bool Add(const RawItem& raw) {
        switch (raw.Tag()) {
            case kTagUsagePage: globals_.usagePage = static_cast<std::uint16_t>(raw.data); return true;
            case kTagLogicalMinimum: globals_.logicalMin = SignedData(raw); return true;
            case kTagLogicalMaximum: globals_.logicalMax = SignedData(raw); return true;
            case kTagPhysicalMinimum: globals_.physicalMin = SignedData(raw); return true;
            case kTagPhysicalMaximum: globals_.physicalMax = SignedData(raw); return true;
            case kTagUnitExponent: globals_.unitExponent = static_cast<std::int32_t>(raw.data); return true;
            case kTagUnit: globals_.units = raw.data; return true;
            case kTagReportSize: globals_.reportSize = raw.data; return true;
            case kTagReportCount: globals_.reportCount = raw.data; return true;
            case kTagReportId:
                if (raw.data == 0 || raw.data >= kReportIds) return false;
                globals_.reportId = static_cast<std::uint8_t>(raw.data);
                return true;
            case kTagPush:
                if (pushed_.size() >= kMaxGlobalStackDepth) return false;
                pushed_.push_back(globals_);
                return true;
            case kTagPop:
                if (pushed_.empty()) return false;
                globals_ = pushed_.back();
                pushed_.pop_back();
                return true;
            case kTagUsage: AddUsage(ReadUsage(raw), ReadUsage(raw), false); return true;
            case kTagUsageMinimum: rangeMin_ = ReadUsage(raw); CompleteRange(); return true;
            case kTagUsageMaximum: rangeMax_ = ReadUsage(raw); CompleteRange(); return true;
            case kTagDelimiter:
                inDelimiterSet_ = raw.data == 1;
                usagesBeforeDelimiterSet_ = usages_.size();
                return true;
            case kTagInput: return AddMainItem(HidReportType::Input, raw.data);
            case kTagOutput: return AddMainItem(HidReportType::Output, raw.data);
            case kTagFeature: return AddMainItem(HidReportType::Feature, raw.data);
            case kTagCollection: return OpenCollectionItem();
            case kTagEndCollection:
                if (!open_.empty()) open_.pop_back();
                return true;
            default: return true;
        }
    }

    HidCapabilities Finish() {
        for (std::size_t type = 0; type < kHidReportTypes; ++type) {
            std::uint32_t longest = 0;
            for (std::size_t id = 0; id < kReportIds; ++id)
                if (reportSeen_[type][id]) longest = std::max(longest, (reportBits_[type][id] + 7) / 8 + 1);
            const auto length = static_cast<std::uint16_t>(longest);  // at most kMaxReportDataBytes + 1
            switch (static_cast<HidReportType>(type)) {
                case HidReportType::Input: result_.caps.inputReportByteLength = length; break;
                case HidReportType::Output: result_.caps.outputReportByteLength = length; break;
                case HidReportType::Feature: result_.caps.featureReportByteLength = length; break;
            }
        }
        result_.caps.numberLinkCollectionNodes = sawCollection_ ? nextNestedLink_ : 0;
        return std::move(result_);
    }

private:
    struct Usage {
        std::uint16_t page = 0;
        std::uint16_t min = 0;
        std::uint16_t max = 0;
        bool isRange = false;
        std::uint32_t Count() const { return static_cast<std::uint32_t>(max) - min + 1; }
    };

    void AddUsage(const RangeEnd& min, const RangeEnd& max, bool isRange) {
        if (inDelimiterSet_ && usages_.size() > usagesBeforeDelimiterSet_) return;
        usages_.push_back({min.hasOwnPage, min.page, min.usage, max.usage, isRange});
    }

    void CompleteRange() {
        if (!rangeMin_ || !rangeMax_) return;
        const RangeEnd min = *rangeMin_, max = *rangeMax_;
        rangeMin_.reset();
        rangeMax_.reset();
        const bool samePage = min.hasOwnPage == max.hasOwnPage && min.page == max.page;
        if (samePage && min.usage <= max.usage) AddUsage(min, max, true);
    }

    // The usages given since the last main item, with their pages settled;
    // the local state is cleared.
    std::vector<Usage> TakeUsages() {
        std::vector<Usage> usages;
        usages.reserve(usages_.size());
        for (const auto& local : usages_)
            usages.push_back({local.hasOwnPage ? local.page : globals_.usagePage, local.min, local.max, local.isRange});
        usages_.clear();
        rangeMin_.reset();
        rangeMax_.reset();
        inDelimiterSet_ = false;
        return usages;
    }

    bool OpenCollectionItem() {
        const std::vector<Usage> usages = TakeUsages();
        if (open_.size() >= reportdescriptor::kMaxCollectionDepth) return false;
        OpenCollection collection;
        if (!usages.empty()) {
            collection.usagePage = usages.front().page;
            collection.usage = usages.front().min;
        }
        if (open_.empty()) {
            if (!sawCollection_) {
                result_.caps.usagePage = collection.usagePage;
                result_.caps.usage = collection.usage;
            }
        } else {
            if (nextNestedLink_ == 0xFFFF) return false;
            collection.link = nextNestedLink_++;
        }
        sawCollection_ = true;
        open_.push_back(collection);
        return true;
    }

    HidCapsCommon CommonFields(const Usage& usage, std::uint32_t flags, std::uint32_t bitPosition,
                               std::uint32_t reportCount) const {
        HidCapsCommon common;
        common.usagePage = usage.page;
        common.reportId = globals_.reportId;
        if (!open_.empty()) {
            common.linkCollection = open_.back().link;
            common.linkUsagePage = open_.back().usagePage;
            common.linkUsage = open_.back().usage;
        }
        common.isRange = usage.isRange;
        common.usageMin = usage.min;
        common.usageMax = usage.max;
        common.usage = usage.min;
        common.bitField = static_cast<std::uint16_t>(flags & kDataFlagsMask);
        common.bitPosition = bitPosition;
        common.bitSize = static_cast<std::uint16_t>(globals_.reportSize);
        common.reportCount = static_cast<std::uint16_t>(reportCount);
        return common;
    }

    HidButtonCaps ButtonCaps(const HidCapsCommon& common, std::int32_t firstSelector) const {
        HidButtonCaps caps;
        static_cast<HidCapsCommon&>(caps) = common;
        caps.logicalMin = globals_.logicalMin;
        caps.logicalMax = globals_.logicalMax;
        caps.firstSelector = firstSelector;
        return caps;
    }

    HidValueCaps ValueCaps(const HidCapsCommon& common, std::uint32_t flags) const {
        HidValueCaps caps;
        static_cast<HidCapsCommon&>(caps) = common;
        caps.logicalMin = globals_.logicalMin;
        caps.logicalMax = globals_.logicalMax;
        caps.physicalMin = globals_.physicalMin;
        caps.physicalMax = globals_.physicalMax;
        caps.unitExponent = globals_.unitExponent;
        caps.units = globals_.units;
        caps.hasNull = (flags & kDataNullState) != 0;
        return caps;
    }

    bool AddMainItem(HidReportType type, std::uint32_t flags) {
        const std::vector<Usage> usages = TakeUsages();
        const std::uint32_t size = globals_.reportSize;
        const std::uint32_t count = globals_.reportCount;
        if (size == 0 || count == 0) return true;
        if (size > kMaxFieldWidth || count > kMaxFieldWidth) return false;

        const auto t = static_cast<std::size_t>(type);
        const std::uint8_t id = globals_.reportId;
        const std::uint32_t start = reportBits_[t][id];
        const std::uint64_t end = start + std::uint64_t{size} * count;
        if (end > std::uint64_t{kMaxReportDataBytes} * 8) return false;

        std::vector<HidButtonCaps> buttons;
        std::vector<HidValueCaps> values;
        std::uint32_t buttonElements = 0;
        std::uint32_t valueUsages = 0;
        if ((flags & kDataConstant) == 0 && !usages.empty()) {
            if (flags & kDataVariable) {
                std::uint32_t bit = start;
                std::uint32_t remaining = count;
                for (std::size_t i = 0; i < usages.size() && remaining > 0; ++i) {
                    Usage usage = usages[i];
                    const bool last = i + 1 == usages.size();
                    const std::uint32_t take = last ? remaining : std::min(usage.Count(), remaining);
                    if (take < usage.Count()) usage.max = static_cast<std::uint16_t>(usage.min + take - 1);
                    const HidCapsCommon common = CommonFields(usage, flags, bit, take);
                    if (size == 1) {
                        buttons.push_back(ButtonCaps(common, 0));
                        buttonElements += take;
                    } else {
                        values.push_back(ValueCaps(common, flags));
                        valueUsages += usage.Count();
                    }
                    bit += take * size;
                    remaining -= take;
                }
            } else {
                std::int64_t selector = globals_.logicalMin;
                for (const auto& usage : usages) {
                    const auto first = std::clamp<std::int64_t>(selector, kInt32Min, kInt32Max);
                    buttons.push_back(ButtonCaps(CommonFields(usage, flags, start, count), static_cast<std::int32_t>(first)));
                    selector += usage.Count();
                }
                buttonElements = count;
            }
        }

        auto& buttonList = result_.buttonCaps[t];
        auto& valueList = result_.valueCaps[t];
        if (buttonList.size() + valueList.size() + buttons.size() + values.size() > kMaxCapabilities) return false;
        if (std::uint64_t{buttonElements_[t]} + buttonElements > kMaxButtonElements) return false;
        if (std::uint64_t{valueUsages_[t]} + valueUsages > kMaxValueUsages) return false;

        buttonList.insert(buttonList.end(), buttons.begin(), buttons.end());
        valueList.insert(valueList.end(), values.begin(), values.end());
        buttonElements_[t] += buttonElements;
        valueUsages_[t] += valueUsages;
        reportBits_[t][id] = static_cast<std::uint32_t>(end);
        reportSeen_[t][id] = true;
        return true;
    }

    Globals globals_;
    std::vector<Globals> pushed_;
    std::vector<LocalUsage> usages_;
    std::optional<RangeEnd> rangeMin_;
    std::optional<RangeEnd> rangeMax_;
    bool inDelimiterSet_ = false;
    std::size_t usagesBeforeDelimiterSet_ = 0;
    std::vector<OpenCollection> open_;
    bool sawCollection_ = false;
    std::uint16_t nextNestedLink_ = 1;
    std::array<std::array<std::uint32_t, kReportIds>, kHidReportTypes> reportBits_{};
    std::array<std::array<bool, kReportIds>, kHidReportTypes> reportSeen_{};
    std::array<std::uint32_t, kHidReportTypes> buttonElements_{};
    std::array<std::uint32_t, kHidReportTypes> valueUsages_{};
    HidCapabilities result_;
};

// The field bytes of a report: everything after the report ID byte.
std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> report) { return report.subspan(1); }

bool FieldFits(std::span<const std::uint8_t> report, std::uint64_t bitPosition, std::uint64_t bits) {
    return !report.empty() && bitPosition + bits <= std::uint64_t{report.size() - 1} * 8;
}

// `count` (at most 32) bits from `bitPosition`, least significant bit first.
std::uint32_t ReadBits(std::span<const std::uint8_t> fields, std::uint64_t bitPosition, unsigned count) {
    std::uint64_t result = 0;
    unsigned done = 0;
    while (done < count) {
        const std::uint64_t bit = bitPosition + done;
        const unsigned shift = static_cast<unsigned>(bit % 8);
        const unsigned take = std::min(8 - shift, count - done);
        const std::uint64_t chunk = (fields[bit / 8] >> shift) & ((1u << take) - 1);
        result |= chunk << done;
        done += take;
    }
    return static_cast<std::uint32_t>(result);
}

std::int64_t SignExtend(std::uint32_t value, unsigned bits) {
    if (bits >= 32) return static_cast<std::int32_t>(value);
    const std::uint32_t sign = 1u << (bits - 1);
    return static_cast<std::int64_t>(value ^ sign) - sign;
}

bool Covers(const HidCapsCommon& caps, std::uint16_t usage) {
    return caps.isRange ? caps.usageMin <= usage && usage <= caps.usageMax : caps.usage == usage;
}

}  // namespace

std::uint16_t HidCapabilities::ReportByteLength(HidReportType t) const {
    switch (t) {
        case HidReportType::Input: return caps.inputReportByteLength;
        case HidReportType::Output: return caps.outputReportByteLength;
        case HidReportType::Feature: return caps.featureReportByteLength;
    }
    return 0;
}

HidCapabilities DeriveCapabilities(std::span<const std::uint8_t> descriptor) {
    descriptor = descriptor.first(std::min(descriptor.size(), reportdescriptor::kMaxDescriptorBytes));
    Deriver deriver;
    std::size_t pos = 0;
    while (const auto raw = reportdescriptor::ReadRawItem(descriptor, pos)) {
        if (!deriver.Add(*raw)) break;
        pos += raw->Length();
    }
    return deriver.Finish();
}

const HidValueCaps* FindValueCaps(const HidCapabilities& caps, HidReportType type, std::uint16_t usagePage,
                                  std::uint16_t usage, std::uint8_t reportId) {
    for (const auto& value : caps.Values(type))
        if (value.usagePage == usagePage && value.reportId == reportId && Covers(value, usage)) return &value;
    return nullptr;
}

// The slots of an Array field count once, however many capabilities share them.
std::uint32_t MaxUsageListLength(const HidCapabilities& caps, HidReportType type, std::uint16_t usagePage) {
    std::uint32_t length = 0;
    const HidButtonCaps* previousArray = nullptr;
    for (const auto& button : caps.Buttons(type)) {
        if (usagePage != 0 && button.usagePage != usagePage) continue;
        if (button.IsArray()) {
            const bool sameField = previousArray && previousArray->reportId == button.reportId &&
                                   previousArray->bitPosition == button.bitPosition;
            previousArray = &button;
            if (sameField) continue;
        }
        length += button.reportCount;
    }
    return length;
}

std::optional<std::vector<std::uint16_t>> GetUsages(const HidCapabilities& caps, HidReportType type,
                                                    std::uint16_t usagePage, std::span<const std::uint8_t> report) {
    if (report.empty()) return std::nullopt;
    std::vector<std::uint16_t> usages;
    for (const auto& button : caps.Buttons(type)) {
        if (button.usagePage != usagePage || button.reportId != report[0]) continue;
        if (!FieldFits(report, button.bitPosition, std::uint64_t{button.bitSize} * button.reportCount))
            return std::nullopt;
        const auto fields = FieldBytes(report);
        if (!button.IsArray()) {
            // One bit per usage; extra bits of a range belong to its last usage.
            for (std::uint32_t i = 0; i < button.reportCount; ++i) {
                if (!ReadBits(fields, std::uint64_t{button.bitPosition} + i, 1)) continue;
                const std::uint16_t usage = button.isRange
                    ? static_cast<std::uint16_t>(std::min<std::uint32_t>(button.usageMin + i, button.usageMax))
                    : button.usage;
                if (std::find(usages.begin(), usages.end(), usage) == usages.end()) usages.push_back(usage);
            }
            continue;
        }
        if (button.bitSize > 32) continue;
        const std::int64_t lastSelector = std::int64_t{button.firstSelector} + (button.usageMax - button.usageMin);
        for (std::uint32_t slot = 0; slot < button.reportCount; ++slot) {
            const std::uint64_t bit = button.bitPosition + std::uint64_t{slot} * button.bitSize;
            const std::uint32_t raw = ReadBits(fields, bit, button.bitSize);
            const std::int64_t selector = button.logicalMin < 0 ? SignExtend(raw, button.bitSize) : std::int64_t{raw};
            if (selector < button.logicalMin || selector > button.logicalMax) continue;
            if (selector < button.firstSelector || selector > lastSelector) continue;
            const auto usage = static_cast<std::uint16_t>(button.usageMin + (selector - button.firstSelector));
            if (usage != 0) usages.push_back(usage);
        }
    }
    return usages;
}

std::optional<std::uint32_t> GetUsageValue(const HidValueCaps& value, std::uint16_t usage,
                                           std::span<const std::uint8_t> report) {
    if (report.empty() || report[0] != value.reportId || !Covers(value, usage)) return std::nullopt;
    if (!value.isRange && value.reportCount != 1) return std::nullopt;
    const std::uint32_t index = value.isRange ? usage - value.usageMin : 0;
    if (index >= value.reportCount || value.bitSize == 0 || value.bitSize > 32) return std::nullopt;
    const std::uint64_t bitPosition = value.bitPosition + std::uint64_t{index} * value.bitSize;
    if (!FieldFits(report, bitPosition, value.bitSize)) return std::nullopt;
    return ReadBits(FieldBytes(report), bitPosition, value.bitSize);
}

std::optional<std::vector<std::uint8_t>> GetUsageValueArray(const HidValueCaps& value,
                                                            std::span<const std::uint8_t> report) {
    if (report.empty() || report[0] != value.reportId) return std::nullopt;
    const std::uint64_t bits = std::uint64_t{value.bitSize} * value.reportCount;
    if (bits == 0 || !FieldFits(report, value.bitPosition, bits)) return std::nullopt;
    std::vector<std::uint8_t> bytes((bits + 7) / 8);
    const auto fields = FieldBytes(report);
    std::size_t i = 0;
    if (value.bitPosition % 8 == 0) {  // byte-aligned, as block transfers are: whole bytes copy as they are
        const std::size_t whole = static_cast<std::size_t>(bits / 8);
        std::copy_n(fields.begin() + value.bitPosition / 8, whole, bytes.begin());
        i = whole;
    }
    for (; i < bytes.size(); ++i) {
        const std::uint64_t done = std::uint64_t{i} * 8;
        bytes[i] = static_cast<std::uint8_t>(
            ReadBits(fields, value.bitPosition + done, static_cast<unsigned>(std::min<std::uint64_t>(8, bits - done))));
    }
    return bytes;
}

std::optional<std::int32_t> GetScaledUsageValue(const HidValueCaps& value, std::uint16_t usage,
                                                std::span<const std::uint8_t> report) {
    const auto raw = GetUsageValue(value, usage, report);
    if (!raw || value.logicalMin >= value.logicalMax) return std::nullopt;
    const std::int64_t logical = value.logicalMin < 0 ? SignExtend(*raw, value.bitSize) : std::int64_t{*raw};
    if (logical < value.logicalMin || logical > value.logicalMax) return std::nullopt;
    if (value.physicalMin == 0 && value.physicalMax == 0) return static_cast<std::int32_t>(logical);
    // Both factors stay below 2^32 in magnitude, so their product fits 64 unsigned bits.
    const std::int64_t physicalSpan = std::int64_t{value.physicalMax} - value.physicalMin;
    const std::uint64_t magnitude = static_cast<std::uint64_t>(logical - value.logicalMin) *
                                    static_cast<std::uint64_t>(physicalSpan < 0 ? -physicalSpan : physicalSpan);
    const auto step = static_cast<std::int64_t>(
        magnitude / static_cast<std::uint64_t>(std::int64_t{value.logicalMax} - value.logicalMin));
    return static_cast<std::int32_t>(value.physicalMin + (physicalSpan < 0 ? -step : step));
}
