#include "app/status_message.h"

#include <utility>

#include "app/app_status.h"
#include "monitor/command_status.h"
#include "monitor/component_transfer.h"
#include "package/pkg.h"
#include "update/update_status.h"

namespace {

UserMessage Error(TextId text, std::vector<MessageArgument> arguments = {}) {
    return {text, std::move(arguments), MessageIcon::Error, MessageCaption::Quillon};
}

}  // namespace

UserMessage StatusMessage(Status status, std::string_view recordModel, std::string_view recordSerial,
                          std::string_view detail) {
    using namespace text_id;
    // Each code is named by the layer that gives it to the application. Where
    // two layers give one value, the comment names the other: a switch cannot
    // hold one value twice.
    switch (status) {
        case kPkgInvalidHandle:  // also the file phase's package of the wrong content kind
        case kPkgModelMismatch:  // the package's model name does not match the monitor
            return Error(kNoFileForMonitor);
        case kPkgNoMatchingSet: return Error(kCannotUpdateWithFile);  // no firmware set fits the current version
        case kPkgCannotOpen: return Error(kFileOpenFailed);            // = kContainerCannotOpen
        case kPkgBadChecksum:       // = kContainerBadChecksum: a file fails its checksum
        case kMonGeometryMismatch:  // a component does not fit the monitor's memory
            return Error(kFileBroken);
        // The error code texts tell support which check failed.
        case kMonVerifyMismatch: return Error(kUpdateFailed, {std::string("0001010100")});   // written data differs
        case kUpdVersionMismatch: return Error(kUpdateFailed, {std::string("0002020000")});  // version read back differs
        case kAppNoPackageFile: return Error(kNoPackageFile);
        case kAppSeveralPackageFiles: return Error(kSeveralPackageFiles);
        case kMonLockRefused: return Error(kCalibrating);
        // Not a failure of the tool: the monitor already runs this firmware.
        case kAppAlreadyApplied: return {kAlreadyApplied, {}, MessageIcon::Information, MessageCaption::Quillon};
        case kAppRecordedMonitorMissing:
            return Error(kMonitorNotFound, {std::string(recordModel), std::string(recordSerial)});
        case kAppSeveralCandidates: return Error(kOnlyOneMonitor, {std::string(recordModel), std::string(recordSerial)});
        case kAppResumableWithoutBackup: return Error(kSamePc);
        case kAppDevicesRefused: return Error(kDevicesRefused);  // a device rule is missing
        case kAppProgramNotClosed: return Error(kProgramNotClosed, {std::string(detail)});
        case kAppSameIdentityTwice:
            return Error(kSameIdentityTwice, {std::string(recordModel), std::string(recordSerial), std::string(detail)});
        case kAppIdentityNotRecordable:
            return Error(kIdentityNotRecordable, {std::string(recordModel), std::string(recordSerial)});
        default: return Error(kCommunicationError);
    }
}

std::string MessageText(const UserMessage& message, Language language) {
    std::string text = CatalogueText(message.text, language);
    if (message.arguments.empty()) return text;
    return FormatCatalogueText(text, message.arguments);
}

std::string MessageText(const UserMessage& message) { return MessageText(message, CatalogueLanguage()); }

std::string RunLogLine(const UserMessage& message, Language language) {
    if (message.runLogPath.empty()) return {};
    const MessageArgument path[] = {message.runLogPath};
    return FormatCatalogueText(CatalogueText(text_id::kRunLogWritten, language), path);
}

std::string RecordFoldersLine(const UserMessage& message, Language language) {
    if (message.recordFolders.empty()) return {};
    std::string folders;
    for (const std::string& folder : message.recordFolders) folders += (folders.empty() ? "" : ", ") + folder;
    const MessageArgument argument[] = {folders};
    return FormatCatalogueText(CatalogueText(text_id::kNoRecordFound, language), argument);
}

std::string MessageBoxText(const UserMessage& message, Language language) {
    std::string text = MessageText(message, language);
    for (const std::string& line : {RecordFoldersLine(message, language), RunLogLine(message, language)})
        if (!line.empty()) text += "\n\n" + line;
    return text;
}
