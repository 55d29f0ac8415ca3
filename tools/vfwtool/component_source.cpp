#include "tools/vfwtool/component_source.h"

#include <limits>
#include <memory>

#include "tools/vfwtool/plain_file.h"
#include "tools/vfwtool/report.h"

std::optional<FirmwareComponent> ReadComponent(const std::string& path, std::uint16_t type, std::uint16_t writeSeconds,
                                               std::uint8_t attribute, std::ostream& err) {
    std::string fault;
    auto bytes = ReadPlainFile(path, fault);
    if (!bytes) {
        FileError(err, path, fault);
        return std::nullopt;
    }
    if (bytes->empty()) {
        FileError(err, path, "is empty; a component holds at least one byte");
        return std::nullopt;
    }
    if (bytes->size() > std::numeric_limits<std::uint32_t>::max()) {
        FileError(err, path, "is larger than the 4 GiB a component can hold");
        return std::nullopt;
    }
    // The component shares the buffer it was read into instead of copying it.
    const auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
    FirmwareComponent c;
    c.type = type;
    c.writeSeconds = writeSeconds;
    c.attribute = attribute;
    c.data = SharedSlice{owner, owner->data(), owner->size()};
    return c;
}
