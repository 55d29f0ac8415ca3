#pragma once
// The warning dialog's estimate of how long an update takes.
#include <cstdint>
#include <map>

#include "package/content.h"
#include "package/pkg.h"

using ComponentDescriptors = std::map<std::uint16_t, ComponentDescriptor>;

// The package's component descriptors by componentType (1 to 6); those that
// cannot be read are left out.
ComponentDescriptors PackageDescriptors(PackageHandle package);
// The components' write times rounded up to whole minutes, plus one minute.
std::uint32_t EstimateUpdateMinutes(const ComponentDescriptors& descriptors);
