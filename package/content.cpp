#include "package/content.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/bytes.h"
#include "package/pkg.h"
#include "package/version_text.h"

namespace {

// Component block.
namespace component {
constexpr std::size_t kType = 0;
constexpr std::size_t kWriteSeconds = 2;
constexpr std::size_t kAttribute = 6;
constexpr std::size_t kLength = 18;
constexpr std::size_t kHeader = 128;
}  // namespace component

// Firmware set block.
namespace set {
constexpr std::uint16_t kMagic = 16;
constexpr std::size_t kKey = 2;
constexpr std::size_t kCount = 51;
constexpr std::size_t kDirectory = 53;
constexpr std::size_t kEntry = 10;  // type u16, offset u32, size u32
constexpr std::size_t kEntryOffset = 2;
constexpr std::size_t kEntrySize = 6;
constexpr std::size_t kHeader = 256;
constexpr std::size_t kMaxEntries = (kHeader - kDirectory) / kEntry;  // 20
}  // namespace set

// Firmware package payload.
namespace package {
constexpr std::size_t kModel = 2;
constexpr std::size_t kVersion = 19;
constexpr std::size_t kCount = 51;
constexpr std::size_t kDirectory = 53;
constexpr std::size_t kEntry = 37;  // key[26], offset u32, size u32, 3 zero bytes
constexpr std::size_t kEntryOffset = 26;
constexpr std::size_t kEntrySize = 30;
constexpr std::size_t kHeader = 2048;
constexpr std::size_t kMaxEntries = (kHeader - kDirectory) / kEntry;  // 53
}  // namespace package

// Firmware image payload; its unnamed header bytes are 0xFF.
namespace image {
constexpr std::size_t kType = 2;
constexpr std::size_t kModel = 4;
constexpr std::size_t kWriteSeconds = 21;
constexpr std::size_t kVersionField = 23;
constexpr std::size_t kAttribute = 28;
constexpr std::size_t kLength = 37;
constexpr std::size_t kHeader = 128;
}  // namespace image

// Backup record payload.
namespace backup {
constexpr std::size_t kLoaderFlag = 2;
constexpr std::size_t kModel = 3;
constexpr std::size_t kSerial = 20;
constexpr std::size_t kStage = 29;
constexpr std::size_t kTargetVersion = 31;
constexpr std::size_t kCurrentVersion = 57;
constexpr std::size_t kSettingB8 = 83;
constexpr std::size_t kSetting54 = 84;
constexpr std::size_t kSetting9 = 86;
constexpr std::size_t kSetting10 = 87;
constexpr std::size_t kSetting11 = 88;
constexpr std::size_t kSetting12 = 90;
constexpr std::size_t kSetting13 = 92;
constexpr std::size_t kSetting68 = 94;
constexpr std::size_t kHeader = 128;
}  // namespace backup

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

// A text from a file as it may appear in a one-line fault: bytes that are not
// printable ASCII are written as \xNN.
std::string Shown(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F) {
            out += ch;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
    return out;
}

bool IsComponentType(std::uint32_t type) { return type >= kFirstComponentType && type <= kLastComponentType; }

std::span<const std::uint8_t> Field(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size) {
    return bytes.subspan(offset, size);
}

// Whether [offset, offset + size) lies within `total`, without overflow.
bool Within(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
    return offset <= total && size <= total - offset;
}

void WriteText(std::span<std::uint8_t> field, std::string_view text) {
    std::memcpy(field.data(), text.data(), std::min(text.size(), field.size()));
}

// A text and its terminator, `field.size()` bytes at most: a text that fills
// the field is written without one.
void WriteTextWithTerminator(std::span<std::uint8_t> field, std::string_view text) {
    WriteText(field, text);
    if (text.size() < field.size()) field[text.size()] = 0;
}

std::uint64_t SetBlockSize(const FirmwareSet& s) {
    std::uint64_t size = set::kHeader;
    for (const auto& [type, c] : s.components) size += component::kHeader + c.data.size;
    return size;
}

void WriteSetBlock(const FirmwareSet& s, std::span<std::uint8_t> out) {
    WriteU16(out, 0, set::kMagic);
    WritePayloadVersion(out.subspan(set::kKey, kVersionFieldBytes), s.key);
    WriteU16(out, set::kCount, static_cast<std::uint16_t>(s.components.size()));
    std::size_t entry = set::kDirectory;
    std::size_t offset = 0;
    for (const auto& [type, c] : s.components) {
        const std::size_t blockSize = component::kHeader + c.data.size;
        WriteU16(out, entry, type);
        WriteU32(out, entry + set::kEntryOffset, static_cast<std::uint32_t>(offset));
        WriteU32(out, entry + set::kEntrySize, static_cast<std::uint32_t>(blockSize));
        auto block = out.subspan(set::kHeader + offset, blockSize);
        WriteU16(block, component::kType, c.type);
        WriteU16(block, component::kWriteSeconds, c.writeSeconds);
        block[component::kAttribute] = c.attribute;
        WriteU32(block, component::kLength, static_cast<std::uint32_t>(c.data.size));
        std::memcpy(block.data() + component::kHeader, c.data.data, c.data.size);
        entry += set::kEntry;
        offset += blockSize;
    }
}

// Offsets are 32-bit: a set must fit them, and have no more components than its directory's room.
bool SetFitsFields(const FirmwareSet& s) {
    return s.components.size() <= set::kMaxEntries && SetBlockSize(s) - set::kHeader <= kMaxU32;
}

}  // namespace

SharedSlice SharedSlice::CopyOf(std::span<const std::uint8_t> bytes) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
    const std::uint8_t* data = owner->data();
    return SharedSlice{std::move(owner), data, bytes.size()};
}

ComponentDescriptor FirmwareComponent::Descriptor() const {
    ComponentDescriptor d;
    d.writeSeconds = writeSeconds;
    d.attribute = attribute;
    d.data = data.data;
    d.length = static_cast<std::uint32_t>(data.size);
    return d;
}

bool IsKnownStage(std::uint32_t stage) {
    static constexpr std::uint32_t kStages[] = {100, 200, 300, 400, 500, 550, 600, 1000};
    return std::find(std::begin(kStages), std::end(kStages), stage) != std::end(kStages);
}

namespace {

// A version field of the record, up to its first zero byte.
VersionText RecordVersion(const std::array<char, 26>& field) {
    return VersionText(TextUpToZero(std::string_view(field.data(), field.size())));
}

std::string LengthFault(const char* name, const VersionText& version) {
    return std::string(name) + " is " + std::to_string(version.Text().size()) + " characters long, not 25";
}

}  // namespace

std::string BackupInfoFault(const BackupInfo& info) {
    if (!IsKnownStage(info.stage)) return "stage " + std::to_string(info.stage) + " is not an update stage";
    // Every field of a version is compared and shown; the target stays empty
    // until the update attaches a firmware set.
    if (const VersionText current = RecordVersion(info.currentVersion); !current.WellFormed())
        return LengthFault("currentVersion", current);
    if (const VersionText target = RecordVersion(info.targetVersion); !target.Text().empty() && !target.WellFormed())
        return LengthFault("targetVersion", target);
    struct Range {
        const char* name;
        std::uint32_t value;
        std::uint32_t max;
    };
    const Range ranges[] = {
        {"savedSettingB8", info.savedSettingB8, 1}, {"savedSetting54", info.savedSetting54 & 0xFFFF, 2},
        {"setting9", info.setting9, 1},             {"setting10", info.setting10, 1},
        {"setting11", info.setting11, 3},           {"setting12", info.setting12, 2},
        {"setting13", info.setting13, 1},           {"savedSetting68", info.savedSetting68, 1},
    };
    for (const auto& r : ranges)
        if (r.value > r.max)
            return std::string(r.name) + " is " + std::to_string(r.value) + ", above its maximum " +
                   std::to_string(r.max);
    return {};
}

std::optional<FirmwareComponent> ParseComponent(const SharedBytes& owner, std::span<const std::uint8_t> block,
                                                std::string& fault) {
    if (block.size() <= component::kHeader) {
        fault = "component block of " + std::to_string(block.size()) + " bytes has no payload";
        return std::nullopt;
    }
    FirmwareComponent c;
    c.type = ReadU16(block, component::kType);
    c.writeSeconds = ReadU16(block, component::kWriteSeconds);
    c.attribute = block[component::kAttribute];
    const std::uint32_t length = ReadU32(block, component::kLength);
    if (!IsComponentType(c.type)) {
        fault = "component type " + std::to_string(c.type) + " is not 1 to 6";
        return std::nullopt;
    }
    // A length that disagrees with the block size would make the component
    // claim bytes it does not have; such a block is refused.
    if (length == 0 || length != block.size() - component::kHeader) {
        fault = "component of type " + std::to_string(c.type) + " has length " + std::to_string(length) +
                " in a block of " + std::to_string(block.size()) + " bytes";
        return std::nullopt;
    }
    c.data = SharedSlice{owner, block.data() + component::kHeader, length};
    return c;
}

std::optional<FirmwareSet> ParseSet(const SharedBytes& owner, std::span<const std::uint8_t> block,
                                    std::string& fault) {
    if (block.size() < set::kHeader || ReadU16(block, 0) != set::kMagic) {
        fault = block.size() < set::kHeader ? "firmware set block of " + std::to_string(block.size()) +
                                                  " bytes is shorter than its 256-byte header"
                                            : "firmware set block does not start with 16";
        return std::nullopt;
    }
    FirmwareSet s;
    s.key = ReadPayloadVersion(Field(block, set::kKey, kVersionFieldBytes));
    if (s.key.size() != kVersionLength) {
        fault = "firmware set key is " + std::to_string(s.key.size()) + " characters long, not 25";
        return std::nullopt;
    }
    const std::uint16_t count = ReadU16(block, set::kCount);
    if (count > set::kMaxEntries) {
        fault = "firmware set " + Shown(s.key) + " lists " + std::to_string(count) + " components; its directory has room for 20";
        return std::nullopt;
    }
    const auto body = block.subspan(set::kHeader);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = set::kDirectory + i * set::kEntry;
        const std::uint16_t type = ReadU16(block, entry);
        const std::uint32_t offset = ReadU32(block, entry + set::kEntryOffset);
        const std::uint32_t size = ReadU32(block, entry + set::kEntrySize);
        const std::string where = "firmware set " + Shown(s.key) + ", component entry " + std::to_string(i) + ": ";
        if (s.components.count(type) != 0) {
            fault = where + "a second component of type " + std::to_string(type);
            return std::nullopt;
        }
        if (!Within(offset, size, body.size())) {
            fault = where + "truncated: the block at " + std::to_string(offset) + " of " + std::to_string(size) +
                    " bytes lies outside the set";
            return std::nullopt;
        }
        auto c = ParseComponent(owner, body.subspan(offset, size), fault);
        if (!c) {
            fault = where + fault;
            return std::nullopt;
        }
        if (c->type != type) {
            fault = where + "the directory says type " + std::to_string(type) + ", the block type " +
                    std::to_string(c->type);
            return std::nullopt;
        }
        s.components.emplace(type, std::move(*c));
    }
    return s;
}

std::optional<FirmwarePackage> ParsePackage(const SharedBytes& payload, std::string& fault) {
    const std::span<const std::uint8_t> bytes(*payload);
    if (bytes.size() < package::kHeader) {
        fault = "truncated: a package payload of " + std::to_string(bytes.size()) +
                " bytes is shorter than its 2048-byte header";
        return std::nullopt;
    }
    FirmwarePackage p;
    std::copy_n(bytes.begin() + package::kModel, kModelNameBytes, p.modelName.begin());
    p.version = ReadPayloadVersion(Field(bytes, package::kVersion, kVersionFieldBytes));
    const std::uint16_t count = ReadU16(bytes, package::kCount);
    if (count > package::kMaxEntries) {
        fault = "package header lists " + std::to_string(count) + " sets; its directory has room for 53";
        return std::nullopt;
    }
    const auto body = bytes.subspan(package::kHeader);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = package::kDirectory + i * package::kEntry;
        std::string key = ReadPayloadVersion(Field(bytes, entry, kVersionFieldBytes));
        const std::uint32_t offset = ReadU32(bytes, entry + package::kEntryOffset);
        const std::uint32_t size = ReadU32(bytes, entry + package::kEntrySize);
        const std::string where = "package set entry " + std::to_string(i) + " (" + Shown(key) + "): ";
        if (p.sets.count(key) != 0) {
            fault = where + "the key is already present";
            return std::nullopt;
        }
        if (!Within(offset, size, body.size())) {
            fault = where + "truncated: the set block at " + std::to_string(offset) + " of " + std::to_string(size) +
                    " bytes lies outside the payload";
            return std::nullopt;
        }
        auto s = ParseSet(payload, body.subspan(offset, size), fault);
        if (!s) {
            fault = where + fault;
            return std::nullopt;
        }
        p.sets.emplace(std::move(key), std::move(*s));
    }
    return p;
}

std::optional<FirmwareImage> ParseImage(const SharedBytes& payload, std::string& fault) {
    const std::span<const std::uint8_t> bytes(*payload);
    if (bytes.size() < image::kHeader) {
        fault = "truncated: an image payload of " + std::to_string(bytes.size()) +
                " bytes is shorter than its 128-byte header";
        return std::nullopt;
    }
    FirmwareImage img;
    img.component.type = ReadU16(bytes, image::kType);
    std::copy_n(bytes.begin() + image::kModel, kModelNameBytes, img.modelName.begin());
    img.component.writeSeconds = ReadU16(bytes, image::kWriteSeconds);
    img.component.attribute = bytes[image::kAttribute];
    const std::uint32_t length = ReadU32(bytes, image::kLength);
    if (!IsComponentType(img.component.type)) {
        fault = "image component type " + std::to_string(img.component.type) + " is not 1 to 6";
        return std::nullopt;
    }
    if (length == 0) {
        fault = "image length is 0";
        return std::nullopt;
    }
    if (!Within(image::kHeader, length, bytes.size())) {
        fault = "truncated: the image claims " + std::to_string(length) + " bytes; the payload holds " +
                std::to_string(bytes.size() - image::kHeader);
        return std::nullopt;
    }
    img.versionField = std::string(TextUpToZero(Field(bytes, image::kVersionField, kVersionFieldLength)));
    if (img.component.type == 5) img.versionField = VersionToInternal(img.versionField);
    img.component.data = SharedSlice{payload, bytes.data() + image::kHeader, length};
    return img;
}

std::optional<BackupRecord> ParseBackupRecord(const SharedBytes& payload, std::string& fault) {
    const std::span<const std::uint8_t> bytes(*payload);
    if (bytes.size() < backup::kHeader) {
        fault = "truncated: a backup record of " + std::to_string(bytes.size()) + " bytes is shorter than 128";
        return std::nullopt;
    }
    BackupRecord r;
    BackupInfo& info = r.info;
    info.loaderFlag = bytes[backup::kLoaderFlag];
    std::copy_n(bytes.begin() + backup::kModel, kModelNameBytes, info.modelName.begin());
    std::copy_n(bytes.begin() + backup::kSerial, info.serialNumber.size(), info.serialNumber.begin());
    info.stage = ReadU16(bytes, backup::kStage);
    const auto readVersion = [&](std::size_t offset, std::array<char, 26>& out) {
        const std::string text = VersionToInternal(TextUpToZero(Field(bytes, offset, kVersionLength)));
        std::copy_n(text.begin(), std::min(text.size(), out.size() - 1), out.begin());
    };
    readVersion(backup::kTargetVersion, info.targetVersion);
    readVersion(backup::kCurrentVersion, info.currentVersion);
    info.savedSettingB8 = bytes[backup::kSettingB8];
    info.savedSetting54 = ReadU16(bytes, backup::kSetting54);
    info.setting9 = bytes[backup::kSetting9];
    info.setting10 = bytes[backup::kSetting10];
    info.setting11 = ReadU16(bytes, backup::kSetting11);
    info.setting12 = ReadU16(bytes, backup::kSetting12);
    info.setting13 = ReadU16(bytes, backup::kSetting13);
    info.savedSetting68 = ReadU16(bytes, backup::kSetting68);
    if (std::string bad = BackupInfoFault(info); !bad.empty()) {
        fault = "backup record: " + bad;
        return std::nullopt;
    }
    if (bytes.size() > backup::kHeader) {
        auto s = ParseSet(payload, bytes.subspan(backup::kHeader), fault);
        if (!s) {
            fault = "backup record's " + fault;
            return std::nullopt;
        }
        r.set = std::move(*s);
    }
    return r;
}

std::optional<std::vector<std::uint8_t>> SerializeSet(const FirmwareSet& s) {
    if (!SetFitsFields(s)) return std::nullopt;
    std::vector<std::uint8_t> out(SetBlockSize(s));
    WriteSetBlock(s, out);
    return out;
}

std::optional<std::vector<std::uint8_t>> SerializePackage(const FirmwarePackage& p) {
    if (p.sets.size() > package::kMaxEntries) return std::nullopt;
    std::uint64_t total = package::kHeader;
    for (const auto& [key, s] : p.sets) {
        const bool offsetFits = total - package::kHeader <= kMaxU32;
        if (!offsetFits || !SetFitsFields(s) || SetBlockSize(s) > kMaxU32) return std::nullopt;
        total += SetBlockSize(s);
    }

    std::vector<std::uint8_t> out(total);
    const std::span<std::uint8_t> bytes(out);
    WriteU16(bytes, 0, p.Kind());
    WriteTextWithTerminator(bytes.subspan(package::kModel, kModelNameBytes), TextUpToZero(p.modelName));
    WritePayloadVersion(bytes.subspan(package::kVersion, kVersionFieldBytes), p.version);
    WriteU16(bytes, package::kCount, static_cast<std::uint16_t>(p.sets.size()));
    std::size_t entry = package::kDirectory;
    std::size_t offset = 0;
    for (const auto& [key, s] : p.sets) {
        const std::size_t size = SetBlockSize(s);
        WritePayloadVersion(bytes.subspan(entry, kVersionFieldBytes), key);
        WriteU32(bytes, entry + package::kEntryOffset, static_cast<std::uint32_t>(offset));
        WriteU32(bytes, entry + package::kEntrySize, static_cast<std::uint32_t>(size));
        WriteSetBlock(s, bytes.subspan(package::kHeader + offset, size));
        entry += package::kEntry;
        offset += size;
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> SerializeImage(const FirmwareImage& img) {
    const FirmwareComponent& c = img.component;
    if (c.data.size > kMaxU32) return std::nullopt;
    std::vector<std::uint8_t> out(image::kHeader + c.data.size, 0xFF);
    const std::span<std::uint8_t> bytes(out);
    WriteU16(bytes, 0, kKindImage);
    WriteU16(bytes, image::kType, c.type);
    WriteTextWithTerminator(bytes.subspan(image::kModel, kModelNameBytes), TextUpToZero(img.modelName));
    WriteU16(bytes, image::kWriteSeconds, c.writeSeconds);
    const std::string field = c.type == 5 ? VersionToStored(img.versionField) : img.versionField;
    WriteTextWithTerminator(bytes.subspan(image::kVersionField, kVersionFieldLength), field);
    bytes[image::kAttribute] = c.attribute;
    WriteU32(bytes, image::kLength, static_cast<std::uint32_t>(c.data.size));
    std::memcpy(out.data() + image::kHeader, c.data.data, c.data.size);
    return out;
}

std::optional<std::vector<std::uint8_t>> SerializeBackupRecord(const BackupRecord& r) {
    if (r.set && !SetFitsFields(*r.set)) return std::nullopt;
    const std::size_t setSize = r.set ? SetBlockSize(*r.set) : 0;
    std::vector<std::uint8_t> out(backup::kHeader + setSize);
    const std::span<std::uint8_t> bytes(out);
    const BackupInfo& info = r.info;
    const auto text = [](const auto& array) { return TextUpToZero(std::string_view(array.data(), array.size())); };
    WriteU16(bytes, 0, kKindBackupRecord);
    bytes[backup::kLoaderFlag] = static_cast<std::uint8_t>(info.loaderFlag);
    std::memcpy(bytes.data() + backup::kModel, info.modelName.data(), kModelNameBytes);
    std::memcpy(bytes.data() + backup::kSerial, info.serialNumber.data(), info.serialNumber.size());
    WriteU16(bytes, backup::kStage, static_cast<std::uint16_t>(info.stage));
    WritePayloadVersion(bytes.subspan(backup::kTargetVersion, kVersionFieldBytes), text(info.targetVersion));
    WritePayloadVersion(bytes.subspan(backup::kCurrentVersion, kVersionFieldBytes), text(info.currentVersion));
    bytes[backup::kSettingB8] = static_cast<std::uint8_t>(info.savedSettingB8);
    WriteU16(bytes, backup::kSetting54, static_cast<std::uint16_t>(info.savedSetting54));
    bytes[backup::kSetting9] = static_cast<std::uint8_t>(info.setting9);
    bytes[backup::kSetting10] = static_cast<std::uint8_t>(info.setting10);
    WriteU16(bytes, backup::kSetting11, info.setting11);
    WriteU16(bytes, backup::kSetting12, info.setting12);
    WriteU16(bytes, backup::kSetting13, info.setting13);
    WriteU16(bytes, backup::kSetting68, info.savedSetting68);
    if (r.set) WriteSetBlock(*r.set, bytes.subspan(backup::kHeader));
    return out;
}

Status AddComponent(FirmwareSet& s, std::uint16_t type, const ComponentDescriptor& d) {
    if (!IsComponentType(type) || d.data == nullptr || d.length == 0) return kPkgInvalid;
    if (s.components.count(type) != 0) return kPkgComponentPresent;
    FirmwareComponent c;
    c.type = type;
    c.writeSeconds = d.writeSeconds;
    c.attribute = d.attribute;
    c.data = SharedSlice::CopyOf(std::span(d.data, d.length));
    s.components.emplace(type, std::move(c));
    return kStatusSuccess;
}

std::string FindMatchingSetKey(const FirmwarePackage& p, std::string_view monitorVersion) {
    std::string text(kVersionLength, '\0');
    std::copy_n(monitorVersion.begin(), std::min(monitorVersion.size(), kVersionLength), text.begin());
    constexpr unsigned kLastFieldBit = 1u << (kVersionFieldCount - 1);
    for (unsigned k = 0; k < 2 * kLastFieldBit; ++k) {
        std::string candidate = text;
        for (unsigned field = 0; field < kVersionFieldCount; ++field)
            if (k & (kLastFieldBit >> field))
                candidate.replace(field * kVersionFieldLength, kVersionFieldLength, kWildcardVersionField);
        for (const auto& [key, s] : p.sets)
            if (key.size() >= kVersionLength && key.compare(0, kVersionLength, candidate) == 0) return key;
    }
    return {};
}

std::optional<Content> ParsePayload(const SharedBytes& payload, std::string& fault) {
    if (payload->size() < 2) {
        fault = "the payload is empty";
        return std::nullopt;
    }
    const std::uint16_t kind = ReadU16(*payload, 0);
    std::optional<Content> result;
    const auto take = [&](auto parsed) {
        if (parsed) result.emplace(std::move(*parsed));
    };
    switch (kind) {
        case kKindImage: take(ParseImage(payload, fault)); break;
        case kKindSinglePackage:
        case kKindMultiPackage: take(ParsePackage(payload, fault)); break;
        case kKindBackupRecord: take(ParseBackupRecord(payload, fault)); break;
        default: fault = "content kind " + std::to_string(kind) + " is not 1, 16, 32 or 256";
    }
    return result;
}

std::optional<std::vector<std::uint8_t>> Serialize(const Content& content) {
    return std::visit(
        [](const auto& object) -> std::optional<std::vector<std::uint8_t>> {
            using T = std::decay_t<decltype(object)>;
            if constexpr (std::is_same_v<T, FirmwareImage>) return SerializeImage(object);
            else if constexpr (std::is_same_v<T, FirmwarePackage>) return SerializePackage(object);
            else return SerializeBackupRecord(object);
        },
        content);
}
