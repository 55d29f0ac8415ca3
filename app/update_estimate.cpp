#include "app/update_estimate.h"

ComponentDescriptors PackageDescriptors(PackageHandle package) {
    ComponentDescriptors descriptors;
    for (std::uint32_t id = kPropFirstComponent; id <= kPropLastComponent; ++id) {
        ComponentDescriptor descriptor;
        if (!IsFailure(PkgGetProperty(package, id, &descriptor, sizeof descriptor)))
            descriptors[static_cast<std::uint16_t>(id - kPropComponentType)] = descriptor;
    }
    return descriptors;
}

std::uint32_t EstimateUpdateMinutes(const ComponentDescriptors& descriptors) {
    // Summed without wrapping at 16 bits: a package of more than 18 hours of
    // writing must not be announced as a one-minute update.
    std::uint32_t seconds = 0;
    for (const auto& [type, descriptor] : descriptors) seconds += descriptor.writeSeconds;
    return (seconds + 59) / 60 + 1;
}
