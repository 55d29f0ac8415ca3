#pragma once
// The values a monitor takes for each of its settings. A write outside them is
// refused, as a monitor refuses a value it has no meaning for.
#include <span>
#include <cstdint>

#include "emulator/report_layout.h"

// Whether `data` (the usage's bytes, of its declared length) is a value the
// monitor takes for `address`. Usages without a rule here take any value.
bool IsValidSettingValue(UsageAddress address, std::span<const std::uint8_t> data);
