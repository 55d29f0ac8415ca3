#include "tools/vfwtool/loaded_file.h"

#include "common/bytes.h"

std::optional<LoadedFile> LoadFile(const std::string& path, std::string& fault) {
    ContainerFile file = ReadContainerFile(path);
    if (file.status != kStatusSuccess) {
        fault = file.fault;
        return std::nullopt;
    }
    auto content = ParsePayload(file.payload, fault);
    if (!content) return std::nullopt;
    // ParsePayload accepted the payload, so it holds at least its first word.
    const std::uint16_t kind = ReadU16(*file.payload, 0);
    return LoadedFile{std::move(file.payload), kind, std::move(*content)};
}
