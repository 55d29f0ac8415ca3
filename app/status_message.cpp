#include "app/status_message.h"

#include <utility>

namespace {

UserMessage Error(TextId text, std::vector<MessageArgument> arguments = {}) {
    return {text, std::move(arguments), MessageIcon::Error, MessageCaption::Quillon};
}

}  // namespace

UserMessage StatusMessage(Status status, std::string_view recordModel, std::string_view recordSerial) {
    using namespace text_id;
    switch (status) {
        case 0x80000002:  // unknown handle, or a package of the wrong content kind
        case 0x80000005:  // the package's model name does not match the monitor
            return Error(kNoFileForMonitor);
        case 0x8000000C: return Error(kCannotUpdateWithFile);  // no firmware set fits the current version
        case 0x80000011: return Error(kFileOpenFailed);
        case 0x80000012:  // a file fails its checksum
        case 0x8000001A:  // a component does not fit the monitor's memory
            return Error(kFileBroken);
        // The error code texts tell support which check failed.
        case 0x8000001B: return Error(kUpdateFailed, {std::string("0001010100")});  // written data differs
        case 0x8000001E: return Error(kUpdateFailed, {std::string("0002020000")});  // version read back differs
        case 0x80000024: return Error(kNoPackageFile);
        case 0x80000025: return Error(kSeveralPackageFiles);
        case 0x80000026: return Error(kCalibrating);
        // Not a failure of the tool: the monitor already runs this firmware.
        case 0x80000028: return {kAlreadyApplied, {}, MessageIcon::Information, MessageCaption::Quillon};
        case 0x80000029: return Error(kMonitorNotFound, {std::string(recordModel), std::string(recordSerial)});
        case 0x8000002A: return Error(kOnlyOneMonitor, {std::string(recordModel), std::string(recordSerial)});
        case 0x8000002B: return Error(kSamePc);
        case 0x80000030: return Error(kDevicesRefused);  // a device rule is missing
        default: return Error(kCommunicationError);
    }
}

std::string MessageText(const UserMessage& message, Language language) {
    std::string text = CatalogueText(message.text, language);
    if (message.arguments.empty()) return text;
    return FormatCatalogueText(text, message.arguments);
}

std::string MessageText(const UserMessage& message) { return MessageText(message, CatalogueLanguage()); }
