#pragma once
// How the tool shows the values of a file. Versions and keys are shown in
// stored form (last field decimal), as they are in the file and as the
// commands accept them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "package/content.h"
#include "tools/vfwtool/loaded_file.h"

// "PRG000" and so on; "" for type 6, the list of setting indexes.
std::string_view ComponentId(std::uint16_t type);

// A version text or key of the content model, in stored form.
std::string ShownVersion(std::string_view memoryForm);
// An image's version field in stored form: only type 5 holds it converted.
std::string ShownVersionField(const FirmwareImage& image);

// Texts of fixed-size fields end at their first zero byte.
std::string_view ShownText(std::span<const std::uint8_t> field);
std::string_view ShownText(std::span<const char> field);

// CRC-32 as 8 lower-case hexadecimal digits.
std::string Crc32Hex(std::span<const std::uint8_t> bytes);

// One line on what a file is: "package, kind 32, 2 sets".
std::string Summary(const LoadedFile& file);
