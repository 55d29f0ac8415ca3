#include "update/component_writing.h"

#include <algorithm>

#include "monitor/component_transfer.h"
#include "update/update_status.h"

bool CarriesFirmware(const std::map<std::uint16_t, ComponentDescriptor>& components) {
    return std::any_of(kComponentWriteOrder.begin(), kComponentWriteOrder.end(),
                       [&](std::uint16_t type) { return components.contains(type); });
}

std::string_view ComponentIdentifier(std::uint16_t type) {
    switch (type) {
        case 1: return "AIC653";
        case 2: return "PRG000";
        case 3: return "PRG001";
        case 4: return "INP027";
        case 5: return "AIC904";
        default: return "";
    }
}

Status CheckComponentsFit(MonitorHandle monitor, const std::map<std::uint16_t, ComponentDescriptor>& components,
                          const std::vector<std::uint16_t>& types) {
    for (const std::uint16_t type : types) {
        const auto it = components.find(type);
        if (it == components.end() || ComponentIdentifier(type).empty()) continue;
        if (const Status status = MonCheckComponentFits(monitor, ComponentIdentifier(type), it->second.length);
            IsFailure(status))
            return status;
    }
    return kStatusSuccess;
}

Status WriteComponent(MonitorHandle monitor, std::uint16_t type, const ComponentDescriptor& c,
                      UpdateProgress* progress) {
    if (c.data == nullptr) return kUpdBadArgument;
    switch (type) {
        case 1: return MonWriteAic653Component(monitor, c.data, c.length, progress);
        case 2: return MonWritePrgComponent(monitor, 0, c.data, c.length, progress);
        case 3: return MonWritePrgComponent(monitor, 1, c.data, c.length, progress);
        case 4: return MonWriteInp027Component(monitor, c.data, c.length, progress);
        case 5: return MonWriteAic904Component(monitor, c.data, c.length, progress);
        default: return kUpdBadArgument;
    }
}

Status VerifyComponent(MonitorHandle monitor, std::uint16_t type, const ComponentDescriptor& c,
                       UpdateProgress* progress) {
    if (c.data == nullptr) return kUpdBadArgument;
    const std::string_view id = ComponentIdentifier(type);
    if (id.empty()) return kUpdBadArgument;
    return MonVerifyComponent(monitor, id, c.data, c.length, progress);
}
