#include "app/status_message.h"

#include <gtest/gtest.h>

#include "app/app_status.h"
#include "monitor/command_status.h"
#include "monitor/component_transfer.h"
#include "package/container.h"
#include "package/pkg.h"
#include "update/update_status.h"

namespace {

using namespace text_id;
using Args = std::vector<MessageArgument>;

struct StatusCase {
    Status status;
    UserMessage expected;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << std::hex << std::showbase << c.status; }

class StatusMessageTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusMessageTest, MapsTheCodeToTextIconAndPlaceholders) {
    EXPECT_EQ(StatusMessage(GetParam().status, "EV2785", "12345678"), GetParam().expected);
}

constexpr auto kError = MessageIcon::Error;
constexpr auto kQuillon = MessageCaption::Quillon;

INSTANTIATE_TEST_SUITE_P(ListedCodes, StatusMessageTest, testing::Values(
    StatusCase{kPkgInvalidHandle, {kNoFileForMonitor, {}, kError, kQuillon}},
    StatusCase{kPkgModelMismatch, {kNoFileForMonitor, {}, kError, kQuillon}},
    StatusCase{kPkgNoMatchingSet, {kCannotUpdateWithFile, {}, kError, kQuillon}},
    StatusCase{kPkgCannotOpen, {kFileOpenFailed, {}, kError, kQuillon}},
    StatusCase{kContainerCannotOpen, {kFileOpenFailed, {}, kError, kQuillon}},  // passed up by PkgLoadFile
    StatusCase{kPkgBadChecksum, {kFileBroken, {}, kError, kQuillon}},
    StatusCase{kContainerBadChecksum, {kFileBroken, {}, kError, kQuillon}},
    StatusCase{kMonGeometryMismatch, {kFileBroken, {}, kError, kQuillon}},
    StatusCase{kMonVerifyMismatch, {kUpdateFailed, Args{"0001010100"}, kError, kQuillon}},
    StatusCase{kUpdVersionMismatch, {kUpdateFailed, Args{"0002020000"}, kError, kQuillon}},
    StatusCase{kAppNoPackageFile, {kNoPackageFile, {}, kError, kQuillon}},
    StatusCase{kAppSeveralPackageFiles, {kSeveralPackageFiles, {}, kError, kQuillon}},
    StatusCase{kMonLockRefused, {kCalibrating, {}, kError, kQuillon}},
    StatusCase{kAppAlreadyApplied, {kAlreadyApplied, {}, MessageIcon::Information, kQuillon}},
    StatusCase{kAppRecordedMonitorMissing, {kMonitorNotFound, Args{"EV2785", "12345678"}, kError, kQuillon}},
    StatusCase{kAppSeveralCandidates, {kOnlyOneMonitor, Args{"EV2785", "12345678"}, kError, kQuillon}},
    StatusCase{kAppResumableWithoutBackup, {kSamePc, {}, kError, kQuillon}},
    StatusCase{kAppProgramNotClosed, {kProgramNotClosed, Args{""}, kError, kQuillon}}));

// Every code not listed, including success and codes next to listed ones.
INSTANTIATE_TEST_SUITE_P(OtherCodes, StatusMessageTest, testing::Values(
    StatusCase{kMonTransferFailed, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kUpdWriteFailed, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kMonUnavailable, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kMonFailed, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kPkgInvalid, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kMonVersionIncomplete, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x8000002C, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{kAppDevicesRefused, {kDevicesRefused, {}, kError, kQuillon}},
    StatusCase{0x00000000, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x00000028, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0xFFFFFFFF, {kCommunicationError, {}, kError, kQuillon}}));

TEST(StatusMessage, PassesTheRecordsModelAndSerialAsGiven) {
    EXPECT_EQ(StatusMessage(kAppRecordedMonitorMissing, "", "").arguments, (Args{"", ""}));
    EXPECT_EQ(StatusMessage(kAppSeveralCandidates, "%s", "S/N 1").arguments, (Args{"%s", "S/N 1"}));
}

TEST(StatusMessage, NamesTheProgramThatCouldNotBeClosed) {
    EXPECT_EQ(StatusMessage(kAppProgramNotClosed, "EV2785", "12345678", "Scanvell 5 Service"),
              (UserMessage{kProgramNotClosed, Args{"Scanvell 5 Service"}, kError, kQuillon}));
    // Only that text takes the name.
    EXPECT_EQ(StatusMessage(kAppRecordedMonitorMissing, "EV2785", "12345678", "Scanvell 5 Service").arguments,
              (Args{"EV2785", "12345678"}));
    EXPECT_EQ(MessageText(StatusMessage(kAppProgramNotClosed, "", "", "Panelwarden Pro"), Language::English),
              "Panelwarden Pro could not be closed.\nIt may be running under another user. Close it (or ask an "
              "administrator to), then restart the software.");
    EXPECT_EQ(MessageText(StatusMessage(kAppProgramNotClosed, "", "", "Panelwarden Pro"), Language::Japanese),
              "Panelwarden Pro を終了できませんでした。\n別のユーザーで実行されている可能性があります。"
              "このプログラムを終了してから（または管理者に終了を依頼してから）、ソフトウェアを再起動してください。");
}

TEST(MessageText, FormatsTheTextWithTheMessagesArguments) {
    const std::tuple<Status, Language, std::string> cases[] = {
        {kMonVerifyMismatch, Language::English, "Failed to update the monitor.\nError code: 0001010100"},
        {kUpdVersionMismatch, Language::Japanese, "アップデートに失敗しました。\nエラーコード\uFF1A0002020000"},
        {kAppRecordedMonitorMissing, Language::English,
         "EV2785(12345678) was not found.\nConfirm the USB connection of the monitor, then restart the software."},
        {kAppSeveralCandidates, Language::English, "Confirm that EV2785(12345678) is the only USB connected monitor."},
        {kAppSeveralCandidates, Language::Japanese, "EV2785\uFF0812345678\uFF09 だけをUSB接続してください。"},
        {kAppAlreadyApplied, Language::English, "This update file has been applied."},
    };
    for (const auto& [status, language, expected] : cases) {
        EXPECT_EQ(MessageText(StatusMessage(status, "EV2785", "12345678"), language), expected) << std::hex << status;
    }
}

TEST(MessageText, ShowsATextWithoutArgumentsUnchanged) {
    // Without arguments nothing is formatted, so a placeholder stays as written.
    UserMessage minutes;
    minutes.text = kUpdateMinutes;
    EXPECT_EQ(MessageText(minutes, Language::English), CatalogueText(kUpdateMinutes, Language::English));
    EXPECT_EQ(MessageText(UserMessage{}, Language::English), "");
}

TEST(MessageText, UsesTheCatalogueLanguageWhenNoneIsGiven) {
    const Language before = CatalogueLanguage();
    UserMessage cancel;
    cancel.text = kCancel;
    for (const auto language : {Language::English, Language::Japanese}) {
        SetCatalogueLanguage(language);
        EXPECT_EQ(MessageText(cancel), CatalogueText(kCancel, language));
    }
    SetCatalogueLanguage(before);
}

}  // namespace
