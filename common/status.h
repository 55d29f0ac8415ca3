#pragma once
// Status codes shared by every layer: 0 is success, 0x80000000 and above are
// failures. Each layer defines its own failure values; the same value can mean
// different things in different layers, so a status passes upward unchanged.
#include <cstdint>

using Status = std::uint32_t;

inline constexpr Status kStatusSuccess = 0;

constexpr bool IsFailure(Status status) { return status >= 0x80000000u; }
