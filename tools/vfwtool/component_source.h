#pragma once
// A component's bytes read from a plain file given on the command line.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "package/content.h"

// The file's bytes as a component of the given type. A file that cannot be
// read, is empty, or is larger than a component's 32-bit length is reported
// on `err` by name and gives nothing.
std::optional<FirmwareComponent> ReadComponent(const std::string& path, std::uint16_t type, std::uint16_t writeSeconds,
                                               std::uint8_t attribute, std::ostream& err);
