#include "tools/vfwtool/info_format.h"

#include <iomanip>

#include "tools/vfwtool/describe.h"
#include "tools/vfwtool/report.h"

namespace {

// A label and its value, the labels padded to one column.
class Rows {
public:
    explicit Rows(std::ostream& out) : out_(out) {}
    Rows& Text(std::string_view label, std::string_view value) {
        out_ << std::left << std::setw(18) << label << Printable(value) << '\n';
        return *this;
    }
    Rows& Number(std::string_view label, std::uint64_t value) { return Text(label, std::to_string(value)); }

private:
    std::ostream& out_;
};

void WriteComponentTable(std::ostream& out, const FirmwareSet& set) {
    const auto row = [&](auto type, auto id, auto length, auto seconds, auto attribute, auto crc) {
        out << "  " << std::left << std::setw(6) << type << std::setw(8) << id << std::right << std::setw(12) << length
            << std::setw(9) << seconds << std::setw(11) << attribute << "  " << crc << '\n';
    };
    row("type", "id", "length", "seconds", "attribute", "crc32");
    for (const auto& [type, c] : set.components)
        row(type, ComponentId(type), c.data.size, c.writeSeconds, static_cast<unsigned>(c.attribute),
            Crc32Hex(c.data.bytes()));
}

void WriteSet(std::ostream& out, std::string_view key, const FirmwareSet& set) {
    out << "\nset " << Printable(ShownVersion(key)) << '\n';
    WriteComponentTable(out, set);
}

}  // namespace

void WriteInfoTable(std::string_view path, const LoadedFile& file, std::ostream& out) {
    out << OneLine(path) << ": " << Printable(Summary(file)) << '\n';
    Rows rows(out);
    if (const auto* p = std::get_if<FirmwarePackage>(&file.content)) {
        rows.Text("model", ShownText(p->modelName)).Text("version", ShownVersion(p->version));
        for (const auto& [key, set] : p->sets) WriteSet(out, key, set);
    } else if (const auto* image = std::get_if<FirmwareImage>(&file.content)) {
        const FirmwareComponent& c = image->component;
        rows.Text("model", ShownText(image->modelName))
            .Text("type", std::to_string(c.type) + " " + std::string(ComponentId(c.type)))
            .Text("version field", ShownVersionField(*image))
            .Number("write seconds", c.writeSeconds)
            .Number("attribute", c.attribute)
            .Number("length", c.data.size)
            .Text("crc32", Crc32Hex(c.data.bytes()));
    } else if (const auto* r = std::get_if<BackupRecord>(&file.content)) {
        const BackupInfo& info = r->info;
        rows.Number("loader flag", info.loaderFlag)
            .Text("model", ShownText(info.modelName))
            .Text("serial", ShownText(info.serialNumber))
            .Number("stage", info.stage)
            .Text("target version", ShownVersion(ShownText(info.targetVersion)))
            .Text("current version", ShownVersion(ShownText(info.currentVersion)))
            .Number("saved setting B8", info.savedSettingB8)
            .Number("saved setting 54", info.savedSetting54)
            .Number("setting 9", info.setting9)
            .Number("setting 10", info.setting10)
            .Number("setting 11", info.setting11)
            .Number("setting 12", info.setting12)
            .Number("setting 13", info.setting13)
            .Number("saved setting 68", info.savedSetting68);
        if (r->set) WriteSet(out, r->set->key, *r->set);
        else rows.Text("set", "none");
    }
}
