#include "package/properties.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "package/pkg.h"
#include "package/version_text.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

static_assert(std::endian::native == std::endian::little, "fields are replaced through their little-endian bytes");

// The low `size` bytes of an integer, little-endian.
template <typename T>
Bytes LowBytes(T value, std::size_t size) {
    Bytes out(size);
    std::memcpy(out.data(), &value, std::min(size, sizeof value));
    return out;
}

// A text in a field of `size` bytes, zero-padded.
Bytes TextBytes(std::string_view text, std::size_t size) {
    Bytes out(size, 0);
    std::memcpy(out.data(), text.data(), std::min(text.size(), size));
    return out;
}

template <std::size_t N, typename T>
Bytes ArrayBytes(const std::array<T, N>& array) {
    Bytes out(N);
    std::memcpy(out.data(), array.data(), N);
    return out;
}

// The descriptor's bytes with its padding zeroed, so the property is deterministic.
Bytes DescriptorBytes(const FirmwareComponent& c) {
    const ComponentDescriptor d = c.Descriptor();
    Bytes out(sizeof(ComponentDescriptor), 0);
    std::memcpy(out.data() + offsetof(ComponentDescriptor, writeSeconds), &d.writeSeconds, sizeof d.writeSeconds);
    std::memcpy(out.data() + offsetof(ComponentDescriptor, attribute), &d.attribute, sizeof d.attribute);
    std::memcpy(out.data() + offsetof(ComponentDescriptor, data), &d.data, sizeof d.data);
    std::memcpy(out.data() + offsetof(ComponentDescriptor, length), &d.length, sizeof d.length);
    return out;
}

bool IsComponentProperty(std::uint32_t id) { return id >= 15 && id <= 20; }
std::uint16_t ComponentTypeOf(std::uint32_t id) { return static_cast<std::uint16_t>(id - 14); }

std::optional<Bytes> SetComponentProperty(const FirmwareSet* set, std::uint32_t id) {
    if (set == nullptr) return std::nullopt;
    const auto it = set->components.find(ComponentTypeOf(id));
    if (it == set->components.end()) return std::nullopt;
    return DescriptorBytes(it->second);
}

// Copies the smaller of the caller's size and `max` bytes over the start of a field.
template <typename T>
void Overwrite(T& field, std::span<const std::uint8_t> bytes, std::size_t max) {
    std::memcpy(&field, bytes.data(), std::min({bytes.size(), max, sizeof(T)}));
}

}  // namespace

std::optional<Bytes> PropertyBytes(const FirmwareImage& image, std::uint32_t id) {
    const FirmwareComponent& c = image.component;
    switch (id) {
        case 0: return LowBytes(kKindImage, 2);
        case 1: return ArrayBytes(image.modelName);
        case 2: return TextBytes(image.versionField, kVersionFieldLength);
        case 14: return LowBytes(c.type, 2);
        default:
            if (IsComponentProperty(id) && c.type == ComponentTypeOf(id)) return DescriptorBytes(c);
            return std::nullopt;
    }
}

std::optional<Bytes> PropertyBytes(const FirmwarePackage& package, std::uint32_t id) {
    const bool single = package.Kind() == kKindSinglePackage;
    const FirmwareSet* set = single && !package.sets.empty() ? &package.sets.begin()->second : nullptr;
    switch (id) {
        case 0: return LowBytes(package.Kind(), 2);
        case 1: return ArrayBytes(package.modelName);
        case 2: return TextBytes(package.version, kVersionLength);
        case 3:
            if (set == nullptr) return std::nullopt;
            return TextBytes(package.sets.begin()->first, kVersionLength);
        default:
            if (IsComponentProperty(id)) return SetComponentProperty(set, id);
            return std::nullopt;
    }
}

std::optional<Bytes> PropertyBytes(const BackupRecord& record, std::uint32_t id) {
    const BackupInfo& info = record.info;
    switch (id) {
        case 0: return LowBytes(kKindBackupRecord, 2);
        case 1: return ArrayBytes(info.modelName);
        case 2: return ArrayBytes(info.targetVersion);
        case 3: return ArrayBytes(info.currentVersion);
        case 4: return ArrayBytes(info.serialNumber);
        case 5: return LowBytes(info.loaderFlag, 1);
        case 6: return LowBytes(info.stage, 4);
        case 7: return LowBytes(info.savedSettingB8, 1);
        case 8: return LowBytes(info.savedSetting54, 2);
        case 9: return LowBytes(info.setting9, 1);
        case 10: return LowBytes(info.setting10, 1);
        case 11: return LowBytes(info.setting11, 2);
        case 12: return LowBytes(info.setting12, 2);
        case 13: return LowBytes(info.setting13, 2);
        case 21: return LowBytes(info.savedSetting68, 2);
        default:
            if (IsComponentProperty(id)) return SetComponentProperty(record.set ? &*record.set : nullptr, id);
            return std::nullopt;
    }
}

Status SetRecordProperty(BackupRecord& record, std::uint32_t id, std::span<const std::uint8_t> bytes) {
    BackupInfo& info = record.info;
    // Ids 0, 5, 9 and 10 take exactly this many bytes; a shorter buffer would be read past its end.
    const auto exactly = [&](std::size_t n) { return bytes.size() >= n; };
    switch (id) {
        case 0: {
            // The record's kind cannot change: a record saved as another kind would never load as one.
            if (!exactly(2)) return kPkgBufferTooSmall;
            const auto kind = static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
            return kind == kKindBackupRecord ? kStatusSuccess : kPkgInvalid;
        }
        case 1: Overwrite(info.modelName, bytes, 16); return kStatusSuccess;  // the terminator stays
        case 2: Overwrite(info.targetVersion, bytes, 26); return kStatusSuccess;
        case 3: Overwrite(info.currentVersion, bytes, 26); return kStatusSuccess;
        case 4: Overwrite(info.serialNumber, bytes, 9); return kStatusSuccess;
        case 5:
            if (!exactly(1)) return kPkgBufferTooSmall;
            Overwrite(info.loaderFlag, bytes, 1);
            return kStatusSuccess;
        case 6: Overwrite(info.stage, bytes, 4); return kStatusSuccess;
        case 7: Overwrite(info.savedSettingB8, bytes, 4); return kStatusSuccess;
        case 8: Overwrite(info.savedSetting54, bytes, 2); return kStatusSuccess;
        case 9:
        case 10:
            if (!exactly(1)) return kPkgBufferTooSmall;
            Overwrite(id == 9 ? info.setting9 : info.setting10, bytes, 1);
            return kStatusSuccess;
        case 11: Overwrite(info.setting11, bytes, 2); return kStatusSuccess;
        case 12: Overwrite(info.setting12, bytes, 2); return kStatusSuccess;
        case 13: Overwrite(info.setting13, bytes, 2); return kStatusSuccess;
        case 21: Overwrite(info.savedSetting68, bytes, 2); return kStatusSuccess;
        default: break;
    }
    if (!IsComponentProperty(id) || !record.set) return kPkgPropertyAbsent;
    const auto it = record.set->components.find(ComponentTypeOf(id));
    if (it == record.set->components.end()) return kPkgPropertyAbsent;
    if (bytes.size() < sizeof(ComponentDescriptor)) return kPkgBufferTooSmall;
    ComponentDescriptor d;
    std::memcpy(&d, bytes.data(), sizeof d);
    if (d.data == nullptr || d.length == 0) return kStatusSuccess;  // nothing to take over
    FirmwareComponent& c = it->second;
    c.writeSeconds = d.writeSeconds;
    c.attribute = d.attribute;
    c.data = SharedSlice::CopyOf(std::span(d.data, d.length));
    return kStatusSuccess;
}
