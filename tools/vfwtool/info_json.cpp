#include "tools/vfwtool/info_format.h"

#include "tools/vfwtool/describe.h"
#include "common/json.h"

namespace {

void WriteSet(JsonWriter& json, std::string_view key, const FirmwareSet& set) {
    json.BeginObject().Field("key", ShownVersion(key)).Key("components").BeginArray();
    for (const auto& [type, c] : set.components) {
        json.BeginObject()
            .Field("type", type)
            .Field("id", ComponentId(type))
            .Field("length", c.data.size)
            .Field("writeSeconds", c.writeSeconds)
            .Field("attribute", c.attribute)
            .Field("crc32", Crc32Hex(c.data.bytes()))
            .EndObject();
    }
    json.EndArray().EndObject();
}

void WritePackage(JsonWriter& json, std::uint16_t kind, const FirmwarePackage& p) {
    json.Field("kind", kind).Field("model", ShownText(p.modelName)).Field("version", ShownVersion(p.version));
    json.Key("sets").BeginArray();
    // Keyed as the package's directory lists them: that key is the one a monitor is matched against.
    for (const auto& [key, set] : p.sets) WriteSet(json, key, set);
    json.EndArray();
}

void WriteImage(JsonWriter& json, std::uint16_t kind, const FirmwareImage& image) {
    const FirmwareComponent& c = image.component;
    json.Field("kind", kind)
        .Field("type", c.type)
        .Field("model", ShownText(image.modelName))
        .Field("versionField", ShownVersionField(image))
        .Field("writeSeconds", c.writeSeconds)
        .Field("attribute", c.attribute)
        .Field("length", c.data.size)
        .Field("crc32", Crc32Hex(c.data.bytes()));
}

void WriteBackup(JsonWriter& json, std::uint16_t kind, const BackupRecord& r) {
    const BackupInfo& info = r.info;
    json.Field("kind", kind)
        .Field("loaderFlag", info.loaderFlag)
        .Field("model", ShownText(info.modelName))
        .Field("serial", ShownText(info.serialNumber))
        .Field("stage", info.stage)
        .Field("targetVersion", ShownVersion(ShownText(info.targetVersion)))
        .Field("currentVersion", ShownVersion(ShownText(info.currentVersion)))
        .Field("savedSettingB8", info.savedSettingB8)
        .Field("savedSetting54", info.savedSetting54)
        .Field("setting9", info.setting9)
        .Field("setting10", info.setting10)
        .Field("setting11", info.setting11)
        .Field("setting12", info.setting12)
        .Field("setting13", info.setting13)
        .Field("savedSetting68", info.savedSetting68);
    json.Key("set");
    if (r.set) WriteSet(json, r.set->key, *r.set);
    else json.Null();
}

}  // namespace

void WriteInfoJson(const LoadedFile& file, std::ostream& out) {
    JsonWriter json(out);
    json.BeginObject();
    std::visit(
        [&](const auto& object) {
            using T = std::decay_t<decltype(object)>;
            if constexpr (std::is_same_v<T, FirmwarePackage>) WritePackage(json, file.kind, object);
            else if constexpr (std::is_same_v<T, FirmwareImage>) WriteImage(json, file.kind, object);
            else WriteBackup(json, file.kind, object);
        },
        file.content);
    json.EndObject();
    out << '\n';
}
