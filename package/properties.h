#pragma once
// The numbered properties of each kind of object: their sizes and bytes, and
// the fields of a backup record that can be replaced.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/status.h"
#include "package/content.h"

// The bytes of a property, or nothing when the object does not offer it.
std::optional<std::vector<std::uint8_t>> PropertyBytes(const FirmwareImage& image, std::uint32_t id);
std::optional<std::vector<std::uint8_t>> PropertyBytes(const FirmwarePackage& package, std::uint32_t id);
std::optional<std::vector<std::uint8_t>> PropertyBytes(const BackupRecord& record, std::uint32_t id);

// Replaces a backup record field from the caller's bytes. Ranges are not
// checked here; they are checked when the record is saved and loaded.
Status SetRecordProperty(BackupRecord& record, std::uint32_t id, std::span<const std::uint8_t> bytes);
