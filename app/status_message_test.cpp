#include "app/status_message.h"

#include <gtest/gtest.h>

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
    StatusCase{0x80000002, {kNoFileForMonitor, {}, kError, kQuillon}},
    StatusCase{0x80000005, {kNoFileForMonitor, {}, kError, kQuillon}},
    StatusCase{0x8000000C, {kCannotUpdateWithFile, {}, kError, kQuillon}},
    StatusCase{0x80000011, {kFileOpenFailed, {}, kError, kQuillon}},
    StatusCase{0x80000012, {kFileBroken, {}, kError, kQuillon}},
    StatusCase{0x8000001A, {kFileBroken, {}, kError, kQuillon}},
    StatusCase{0x8000001B, {kUpdateFailed, Args{"0001010100"}, kError, kQuillon}},
    StatusCase{0x8000001E, {kUpdateFailed, Args{"0002020000"}, kError, kQuillon}},
    StatusCase{0x80000024, {kNoPackageFile, {}, kError, kQuillon}},
    StatusCase{0x80000025, {kSeveralPackageFiles, {}, kError, kQuillon}},
    StatusCase{0x80000026, {kCalibrating, {}, kError, kQuillon}},
    StatusCase{0x80000028, {kAlreadyApplied, {}, MessageIcon::Information, kQuillon}},
    StatusCase{0x80000029, {kMonitorNotFound, Args{"EV2785", "12345678"}, kError, kQuillon}},
    StatusCase{0x8000002A, {kOnlyOneMonitor, Args{"EV2785", "12345678"}, kError, kQuillon}},
    StatusCase{0x8000002B, {kSamePc, {}, kError, kQuillon}}));

// Every code not listed, including success and codes next to listed ones.
INSTANTIATE_TEST_SUITE_P(OtherCodes, StatusMessageTest, testing::Values(
    StatusCase{0x80000015, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x80000016, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x80000000, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x80000001, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x80000027, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x8000002C, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x80000030, {kDevicesRefused, {}, kError, kQuillon}},
    StatusCase{0x00000000, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0x00000028, {kCommunicationError, {}, kError, kQuillon}},
    StatusCase{0xFFFFFFFF, {kCommunicationError, {}, kError, kQuillon}}));

TEST(StatusMessage, PassesTheRecordsModelAndSerialAsGiven) {
    EXPECT_EQ(StatusMessage(0x80000029, "", "").arguments, (Args{"", ""}));
    EXPECT_EQ(StatusMessage(0x8000002A, "%s", "S/N 1").arguments, (Args{"%s", "S/N 1"}));
}

TEST(MessageText, FormatsTheTextWithTheMessagesArguments) {
    const std::tuple<Status, Language, std::string> cases[] = {
        {0x8000001B, Language::English, "Failed to update the monitor.\nError code: 0001010100"},
        {0x8000001E, Language::Japanese, "アップデートに失敗しました。\nエラーコード\uFF1A0002020000"},
        {0x80000029, Language::English,
         "EV2785(12345678) was not found.\nConfirm the USB connection of the monitor, then restart the software."},
        {0x8000002A, Language::English, "Confirm that EV2785(12345678) is the only USB connected monitor."},
        {0x8000002A, Language::Japanese, "EV2785\uFF0812345678\uFF09 だけをUSB接続してください。"},
        {0x80000028, Language::English, "This update file has been applied."},
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
