// extract and decrypt: bytes out of a file, written as a plain file.
#include "common/atomic_file.h"
#include "tools/vfwtool/commands.h"
#include "tools/vfwtool/describe.h"
#include "tools/vfwtool/report.h"
#include "tools/vfwtool/values.h"

namespace {

struct Request {
    std::optional<std::string> key;  // memory form
    std::uint16_t type = 0;
};

// The component a request names in a set, or nothing after reporting its absence.
const FirmwareComponent* FindInSet(const std::string& path, const FirmwareSet& set, std::string_view key,
                                   std::uint16_t type, std::ostream& err) {
    const auto it = set.components.find(type);
    if (it == set.components.end()) {
        FileError(err, path, "set " + ShownVersion(key) + " holds no component of type " + std::to_string(type));
        return nullptr;
    }
    return &it->second;
}

// The requested component of a loaded file, or nothing after reporting why;
// `exitCode` is then what the command returns.
const FirmwareComponent* Select(const std::string& path, const LoadedFile& file, const Request& request,
                                std::ostream& err, int& exitCode) {
    exitCode = kExitBadFile;
    if (const auto* p = std::get_if<FirmwarePackage>(&file.content)) {
        if (!request.key) {
            exitCode = UsageError(err, "extract: " + path + " is a package: name the set with --set KEY");
            return nullptr;
        }
        const auto it = p->sets.find(*request.key);
        if (it == p->sets.end()) {
            FileError(err, path, "holds no set " + ShownVersion(*request.key));
            return nullptr;
        }
        return FindInSet(path, it->second, it->first, request.type, err);
    }
    if (const auto* image = std::get_if<FirmwareImage>(&file.content)) {
        if (request.key) {
            exitCode = UsageError(err, "extract: " + path + " is an image, which has no sets: leave out --set");
            return nullptr;
        }
        if (image->component.type != request.type) {
            FileError(err, path, "the image holds type " + std::to_string(image->component.type) + ", not " +
                                     std::to_string(request.type));
            return nullptr;
        }
        return &image->component;
    }
    const auto& record = std::get<BackupRecord>(file.content);
    if (!record.set) {
        FileError(err, path, "the backup record holds no set");
        return nullptr;
    }
    if (request.key && *request.key != record.set->key) {
        FileError(err, path, "the backup record's set is " + ShownVersion(record.set->key) + ", not " +
                                 ShownVersion(*request.key));
        return nullptr;
    }
    return FindInSet(path, *record.set, record.set->key, request.type, err);
}

int WriteOut(const std::string& output, std::span<const std::uint8_t> bytes, std::ostream& err) {
    std::string fault;
    if (!WriteFileAtomically(output, bytes, &fault)) return FileError(err, output, fault);
    return kExitOk;
}

}  // namespace

int RunExtract(const ParsedArguments& line, std::ostream&, std::ostream& err) {
    const std::string* type = line.Value("--type");
    const std::string* output = line.Value("-o");
    if (type == nullptr || output == nullptr) return UsageError(err, "extract: needs --type T and -o OUT");
    std::string error;
    Request request;
    const auto parsedType = ParseComponentType("--type", *type, error);
    if (!parsedType) return UsageError(err, "extract: " + error);
    request.type = *parsedType;
    if (const std::string* key = line.Value("--set")) {
        request.key = ParseVersion("--set", *key, error);
        if (!request.key) return UsageError(err, "extract: " + error);
    }

    const std::string& path = line.operands[0];
    std::string fault;
    const auto file = LoadFile(path, fault);
    if (!file) return FileError(err, path, fault);
    int exitCode = kExitOk;
    const FirmwareComponent* component = Select(path, *file, request, err, exitCode);
    if (component == nullptr) return exitCode;
    return WriteOut(*output, component->data.bytes(), err);
}

int RunDecrypt(const ParsedArguments& line, std::ostream&, std::ostream& err) {
    const std::string* output = line.Value("-o");
    if (output == nullptr) return UsageError(err, "decrypt: needs -o OUT");

    // Only the container is checked: decrypt is how a payload that fails to parse is looked at.
    const std::string& path = line.operands[0];
    const ContainerFile file = ReadContainerFile(path);
    if (file.status != kStatusSuccess) return FileError(err, path, file.fault);
    return WriteOut(*output, *file.payload, err);
}
