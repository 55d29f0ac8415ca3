#pragma once
// The objects a decrypted payload holds, their byte layouts and their
// serialization: firmware components, sets, packages, images and the backup
// record. Parsers refuse any content that is malformed or would make them read
// outside the payload; a refusal abandons the whole object.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "package/container.h"

// Content kinds: the first 16-bit word of a payload.
inline constexpr std::uint16_t kKindImage = 1;
inline constexpr std::uint16_t kKindSinglePackage = 16;
inline constexpr std::uint16_t kKindMultiPackage = 32;
inline constexpr std::uint16_t kKindBackupRecord = 256;

inline constexpr std::uint16_t kFirstComponentType = 1;
inline constexpr std::uint16_t kLastComponentType = 6;

inline constexpr std::size_t kModelNameBytes = 16;

// A component as it crosses the library's interface (properties 15 to 20).
// The field order is fixed; on this 64-bit build the pointer makes the
// structure 24 bytes (with padding after `reserved` and after `length`), and
// those 24 bytes are the size of properties 15 to 20.
struct ComponentDescriptor {
    std::uint16_t writeSeconds = 0;
    std::uint8_t attribute = 0;
    std::uint8_t reserved = 0;
    const std::uint8_t* data = nullptr;  // valid until the component is replaced or its object destroyed
    std::uint32_t length = 0;
};
static_assert(sizeof(ComponentDescriptor) == 24, "property size of ids 15 to 20");

// Bytes owned jointly with the buffer they live in, usually the payload they
// were loaded from, so that loading a large package copies nothing.
struct SharedSlice {
    SharedBytes owner;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    std::span<const std::uint8_t> bytes() const { return {data, size}; }
    static SharedSlice CopyOf(std::span<const std::uint8_t> bytes);
};

struct FirmwareComponent {
    std::uint16_t type = 0;  // 1 to 6
    std::uint16_t writeSeconds = 0;
    std::uint8_t attribute = 0;
    SharedSlice data;  // never empty

    ComponentDescriptor Descriptor() const;
};

struct FirmwareSet {
    std::string key;  // the monitor version text this set is made for, in memory form
    std::map<std::uint16_t, FirmwareComponent> components;  // by type, ascending
};

struct FirmwarePackage {
    std::array<std::uint8_t, kModelNameBytes> modelName{};  // the 16 bytes as stored
    std::string version;                                     // in memory form
    std::map<std::string, FirmwareSet> sets;                 // by directory key, byte-wise order

    // Not stored: 32 with more than one set, else 16.
    std::uint16_t Kind() const { return sets.size() > 1 ? kKindMultiPackage : kKindSinglePackage; }
};

struct FirmwareImage {
    std::array<std::uint8_t, kModelNameBytes> modelName{};
    std::string versionField;  // 5 characters; in memory form for type 5
    FirmwareComponent component;
};

// The values of a backup record, in creation order.
struct BackupInfo {
    std::uint32_t loaderFlag = 0;  // only the low byte is stored
    std::array<char, 17> modelName{};
    std::array<char, 9> serialNumber{};
    std::array<char, 26> targetVersion{};  // in memory form
    std::array<char, 26> currentVersion{};
    std::uint32_t stage = 0;
    std::uint32_t savedSettingB8 = 0;
    std::uint32_t savedSetting54 = 0;
    std::uint32_t setting9 = 0;
    std::uint32_t setting10 = 0;
    std::uint16_t setting11 = 0;
    std::uint16_t setting12 = 0;
    std::uint16_t setting13 = 0;
    std::uint16_t savedSetting68 = 0;
};

struct BackupRecord {
    BackupInfo info;
    std::optional<FirmwareSet> set;
};

// The update stages a backup record may hold. 550 is among them: the update
// writes the backup file in that stage, and refusing such a file would make an
// update interrupted there impossible to resume.
bool IsKnownStage(std::uint32_t stage);
// Empty when the record's values are in range; else what is out of range.
std::string BackupInfoFault(const BackupInfo& info);

// Parsers. Each returns nothing and sets `fault` (a one-line text naming the
// structure and what is wrong) when the content is invalid.
std::optional<FirmwareComponent> ParseComponent(const SharedBytes& owner, std::span<const std::uint8_t> block,
                                                std::string& fault);
std::optional<FirmwareSet> ParseSet(const SharedBytes& owner, std::span<const std::uint8_t> block, std::string& fault);
std::optional<FirmwarePackage> ParsePackage(const SharedBytes& payload, std::string& fault);
std::optional<FirmwareImage> ParseImage(const SharedBytes& payload, std::string& fault);
std::optional<BackupRecord> ParseBackupRecord(const SharedBytes& payload, std::string& fault);

// Serializers. They fail only when a size would not fit its 32-bit field.
std::optional<std::vector<std::uint8_t>> SerializeSet(const FirmwareSet& set);
std::optional<std::vector<std::uint8_t>> SerializePackage(const FirmwarePackage& package);
std::optional<std::vector<std::uint8_t>> SerializeImage(const FirmwareImage& image);
std::optional<std::vector<std::uint8_t>> SerializeBackupRecord(const BackupRecord& record);

// Adds a component of `type` to a set, copying the descriptor's bytes.
// kPkgInvalid: type outside 1 to 6, or no data; kPkgComponentPresent: the type is present.
Status AddComponent(FirmwareSet& set, std::uint16_t type, const ComponentDescriptor& descriptor);

// The key of the package's set that serves a monitor with this version text,
// or "" when none does. Candidates replace fields by "00000", from the last
// field to the first as the least binding: the first candidate that equals a
// key's first 25 characters wins.
std::string FindMatchingSetKey(const FirmwarePackage& package, std::string_view monitorVersion);

// Any object a payload can hold, chosen by its content kind.
using Content = std::variant<FirmwareImage, FirmwarePackage, BackupRecord>;
// Parses a whole payload by its first word; on failure sets `fault`.
std::optional<Content> ParsePayload(const SharedBytes& payload, std::string& fault);
std::optional<std::vector<std::uint8_t>> Serialize(const Content& content);
