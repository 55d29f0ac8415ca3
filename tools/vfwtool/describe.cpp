#include "tools/vfwtool/describe.h"

#include <cstdio>

#include "common/crc32.h"
#include "package/version_text.h"

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

std::string Counted(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string_view ComponentId(std::uint16_t type) {
    switch (type) {
        case 1: return "AIC653";
        case 2: return "PRG000";
        case 3: return "PRG001";
        case 4: return "INP027";
        case 5: return "AIC904";
        default: return "";
    }
}

std::string ShownVersion(std::string_view memoryForm) { return VersionToStored(memoryForm); }

std::string ShownVersionField(const FirmwareImage& image) {
    return image.component.type == 5 ? VersionToStored(image.versionField) : image.versionField;
}

std::string_view ShownText(std::span<const std::uint8_t> field) { return TextUpToZero(field); }

std::string_view ShownText(std::span<const char> field) {
    return TextUpToZero(std::string_view(field.data(), field.size()));
}

std::string Crc32Hex(std::span<const std::uint8_t> bytes) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(Crc32(bytes)));
    return hex;
}

std::string Summary(const LoadedFile& file) {
    const std::string kind = "kind " + std::to_string(file.kind);
    return std::visit(
        Overloaded{
            [&](const FirmwarePackage& p) { return "package, " + kind + ", " + Counted(p.sets.size(), "set", "sets"); },
            [&](const FirmwareImage& i) {
                return "image, " + kind + ", type " + std::to_string(i.component.type) + ", " +
                       Counted(i.component.data.size, "byte", "bytes");
            },
            [&](const BackupRecord& r) {
                return "backup record, " + kind + ", stage " + std::to_string(r.info.stage) + ", " +
                       (r.set ? "set " + ShownVersion(r.set->key) : std::string("no set"));
            },
        },
        file.content);
}
