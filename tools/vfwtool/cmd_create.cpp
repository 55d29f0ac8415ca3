// create: a firmware package from component files.
#include <algorithm>
#include <cstring>

#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/component_source.h"
#include "tools/vfwtool/report.h"
#include "tools/vfwtool/values.h"

namespace {

constexpr std::size_t kMaxSets = 53;  // the room in a package's directory

struct SetPlan {
    std::string given;  // as on the command line, for messages
    std::string key;    // memory form
    std::vector<ComponentOption> components;
};

struct PackagePlan {
    std::string output;
    std::string model;
    std::string version;  // memory form
    std::vector<SetPlan> sets;
};

// Checks the whole command line before any file is read, so that a wrong
// command line is always reported as such.
std::optional<PackagePlan> Plan(const ParsedArguments& line, std::string& error) {
    PackagePlan plan;
    for (const auto& [name, value] : line.options) {
        if (name == "--set") {
            auto key = ParseVersion(name, value, error);
            if (!key) return std::nullopt;
            const bool duplicate =
                std::any_of(plan.sets.begin(), plan.sets.end(), [&](const SetPlan& s) { return s.key == *key; });
            if (duplicate) {
                error = "--set " + value + " is given twice";
                return std::nullopt;
            }
            if (plan.sets.size() == kMaxSets) {
                error = "a package holds at most 53 sets";
                return std::nullopt;
            }
            plan.sets.push_back(SetPlan{value, std::move(*key), {}});
        } else if (name == "--component") {
            if (plan.sets.empty()) {
                error = "--component " + value + " comes before any --set";
                return std::nullopt;
            }
            auto wanted = ParseComponentOption(name, value, error);
            if (!wanted) return std::nullopt;
            auto& components = plan.sets.back().components;
            const bool duplicate = std::any_of(components.begin(), components.end(),
                                               [&](const ComponentOption& c) { return c.type == wanted->type; });
            if (duplicate) {
                error = "--component " + value + ": the set already has a component of type " +
                        std::to_string(wanted->type);
                return std::nullopt;
            }
            components.push_back(std::move(*wanted));
        }
    }

    const std::string* output = line.Value("-o");
    const std::string* model = line.Value("--model");
    const std::string* version = line.Value("--version");
    if (output == nullptr || model == nullptr || version == nullptr || plan.sets.empty()) {
        error = "needs -o OUT, --model NAME, --version V and at least one --set KEY";
        return std::nullopt;
    }
    for (const SetPlan& s : plan.sets) {
        if (s.components.empty()) {
            error = "--set " + s.given + " has no --component";
            return std::nullopt;
        }
    }
    auto modelName = ParseModelName("--model", *model, error);
    auto versionText = ParseVersion("--version", *version, error);
    if (!modelName || !versionText) return std::nullopt;
    plan.output = *output;
    plan.model = std::move(*modelName);
    plan.version = std::move(*versionText);
    return plan;
}

}  // namespace

int RunCreate(const ParsedArguments& line, std::ostream&, std::ostream& err) {
    std::string error;
    const auto plan = Plan(line, error);
    if (!plan) return UsageError(err, "create: " + error);

    FirmwarePackage package;
    std::memcpy(package.modelName.data(), plan->model.data(), plan->model.size());
    package.version = plan->version;
    for (const SetPlan& planned : plan->sets) {
        FirmwareSet& set = package.sets[planned.key];
        set.key = planned.key;
        for (const ComponentOption& wanted : planned.components) {
            auto component = ReadComponent(wanted.file, wanted.type, wanted.writeSeconds, wanted.attribute, err);
            if (!component) return kExitBadFile;
            set.components.emplace(wanted.type, std::move(*component));
        }
    }

    const auto payload = SerializePackage(package);
    if (!payload) return FileError(err, plan->output, "the package would not fit the 32-bit sizes of its format");
    if (WriteContainer(plan->output, payload->data(), payload->size()) != kStatusSuccess)
        return FileError(err, plan->output, "cannot be written");
    return kExitOk;
}
