// image: an image file of one component.
#include <cstring>

#include "package/version_text.h"
#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/component_source.h"
#include "tools/vfwtool/report.h"
#include "tools/vfwtool/values.h"

namespace {

struct ImagePlan {
    std::string output;
    std::string model;
    std::string file;
    std::uint16_t type = 0;
    std::string versionField = "00000";  // stored form
    std::uint16_t writeSeconds = 0;
    std::uint8_t attribute = 0;
};

std::optional<ImagePlan> Plan(const ParsedArguments& line, std::string& error) {
    const std::string* output = line.Value("-o");
    const std::string* model = line.Value("--model");
    const std::string* type = line.Value("--type");
    const std::string* file = line.Value("--file");
    if (output == nullptr || model == nullptr || type == nullptr || file == nullptr) {
        error = "needs -o OUT, --model NAME, --type T and --file F";
        return std::nullopt;
    }
    ImagePlan plan;
    plan.output = *output;
    plan.file = *file;
    auto modelName = ParseModelName("--model", *model, error);
    if (!modelName) return std::nullopt;
    plan.model = std::move(*modelName);
    const auto parsedType = ParseComponentType("--type", *type, error);
    if (!parsedType) return std::nullopt;
    plan.type = *parsedType;
    if (const std::string* field = line.Value("--version-field")) {
        auto parsed = ParseVersionField("--version-field", *field, error);
        if (!parsed) return std::nullopt;
        plan.versionField = std::move(*parsed);
    }
    if (const std::string* seconds = line.Value("--seconds")) {
        const auto parsed = ParseNumber("--seconds", *seconds, 0xFFFF, error);
        if (!parsed) return std::nullopt;
        plan.writeSeconds = static_cast<std::uint16_t>(*parsed);
    }
    if (const std::string* attribute = line.Value("--attribute")) {
        const auto parsed = ParseNumber("--attribute", *attribute, 0xFF, error);
        if (!parsed) return std::nullopt;
        plan.attribute = static_cast<std::uint8_t>(*parsed);
    }
    return plan;
}

}  // namespace

int RunImage(const ParsedArguments& line, std::ostream&, std::ostream& err) {
    std::string error;
    const auto plan = Plan(line, error);
    if (!plan) return UsageError(err, "image: " + error);

    auto component = ReadComponent(plan->file, plan->type, plan->writeSeconds, plan->attribute, err);
    if (!component) return kExitBadFile;
    FirmwareImage image;
    std::memcpy(image.modelName.data(), plan->model.data(), plan->model.size());
    // Type 5 holds its version field converted in memory, as version texts are.
    image.versionField = plan->type == 5 ? VersionToInternal(plan->versionField) : plan->versionField;
    image.component = std::move(*component);

    const auto payload = SerializeImage(image);
    if (!payload) return FileError(err, plan->output, "the image would not fit the 32-bit length of its format");
    if (WriteContainer(plan->output, payload->data(), payload->size()) != kStatusSuccess)
        return FileError(err, plan->output, "cannot be written");
    return kExitOk;
}
