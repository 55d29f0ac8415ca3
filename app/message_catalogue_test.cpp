#include "app/message_catalogue.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <optional>

#include "app/catalogue_file.h"
#include "app/catalogue_files.h"

namespace {

using namespace text_id;

constexpr TextId kAllIds[] = {
    kAboutItem, kUpdatedVersion, kUpdateButton, kNoPackageFile, kSeveralPackageFiles, kCalibrating,
    kCurrentVersion, kConnectMonitor, kSelectMonitor, kOk, kCancel, kProgramsToClose, kUpdateMinutes,
    kWarningHeading, kWarningText, kWarningPower, kWarningCable, kExecute, kReadMeHeading, kReadMe,
    kComplete, kFileOpenFailed, kFileBroken, kNoFileForMonitor, kAlreadyApplied, kCannotUpdateWithFile,
    kUpdateFailed, kSamePc, kMonitorNotFound, kOnlyOneMonitor, kCommunicationError, kDevicesRefused,
    kProgramNotClosed, kDamagedBackupKept, kStepPreparing, kStepEnteringUpdateMode, kStepWriting,
    kStepVerifying, kStepRestarting, kStepRestoringSettings, kStepFinishing, kMinutesLeft, kUnderAMinuteLeft,
    kWaitingForReturn, kWaitingForCheck, kWaitingForMonitor, kRunLogWritten, kRunLogFolder, kUpdateRunning,
    kCannotStopMinutes,
    kCannotStopUnderAMinute, kSummaryMonitor, kSummaryCurrent, kSummaryNew, kSummaryPrograms,
    kSummaryKeepConnected, kConfirmUpdate, kNoMonitor, kSeveralMonitors, kNoMonitorWithSerial,
    kFinishInterruptedFirst, kNotConfirmed, kNoInterruptedUpdate, kInterruptedUpdate, kListDuringUpdate,
    kStoppedNothingWritten, kStoppedPrepared, kStoppedWriting, kStoppedWritten, kStoppedRestarted,
    kStoppedChecked, kStoppedSettingsRestored, kStoppedDone, kSeveralWithSerial, kSameIdentityTwice,
    kIdentityNotRecordable, kMonitorsNotOpened, kNoRecordFound, kRecordReadFrom, kPackageNotOpened,
    kChoosePackage, kPackageFilter, kAllFilesFilter, kNoRunsRecorded,
};

constexpr Language kLanguages[] = {Language::English, Language::Japanese};

const char* Name(Language language) { return language == Language::English ? "English" : "Japanese"; }

TEST(CatalogueFiles, ParseWithoutAMalformedLine) {
    EXPECT_EQ(ParseCatalogue(EnglishCatalogueFile()).malformedLines, std::vector<std::size_t>{});
    EXPECT_EQ(ParseCatalogue(JapaneseCatalogueFile()).malformedLines, std::vector<std::size_t>{});
}

TEST(CatalogueFiles, CarryTheNamedIdsOnly) {
    std::vector<TextId> named(std::begin(kAllIds), std::end(kAllIds));
    std::sort(named.begin(), named.end());
    for (const auto file : {EnglishCatalogueFile(), JapaneseCatalogueFile()}) {
        std::vector<TextId> ids;
        for (const auto& [id, text] : ParseCatalogue(file).texts) ids.push_back(id);
        EXPECT_EQ(ids, named);
    }
}

TEST(CatalogueFiles, BothLanguagesHaveTheSamePlaceholdersInTheSameOrder) {
    const auto english = ParseCatalogue(EnglishCatalogueFile()).texts;
    const auto japanese = ParseCatalogue(JapaneseCatalogueFile()).texts;
    for (const auto& [id, text] : english) {
        const auto other = japanese.find(id);
        ASSERT_NE(other, japanese.end()) << id;
        EXPECT_EQ(Placeholders(text), Placeholders(other->second)) << id;
    }
}

TEST(CatalogueText, EveryNamedIdHasATextInBothLanguages) {
    for (const auto language : kLanguages) {
        for (const auto id : kAllIds) EXPECT_NE(CatalogueText(id, language), "") << id << ' ' << Name(language);
    }
}

TEST(CatalogueText, IsEmptyForAnIdTheCatalogueLacks) {
    for (const auto language : kLanguages) {
        for (const TextId id : {0u, 100u, 107u, 502u, 603u, 651u, 0xFFFFFFFFu}) {
            EXPECT_EQ(CatalogueText(id, language), "") << id << ' ' << Name(language);
        }
    }
}

struct ExactText {
    TextId id;
    Language language;
    std::string text;
};

// Texts whose line ends, indents, quotation marks or unusual characters an escaping
// mistake would change.
TEST(CatalogueText, KeepsLineEndsIndentsAndSpecialCharacters) {
    const ExactText cases[] = {
        {kCommunicationError, Language::English,
         "Communication error\n"
         "The USB connection between the monitor and the PC may have been blocked.\n"
         "Do as follows:\n"
         "  1. Confirm the USB connection between the monitor and the PC.\n"
         "  2. Unplug the power cord of the monitor.\n"
         "  3. Plug the power cord again after the lamp of the monitor disappears.\n"
         "  4. Restart the software."},
        {kReadMe, Language::English,
         "<Preparation>\r\n\r\n"
         "\u00B7Do NOT connect the USB device to the USB hub of the monitor.\r\n\r\n"
         "\u00B7Exit all applications.\r\n\r\n"
         "\u00B7Configure settings to prevent the PC from entering standby, sleep, or hibernation states "
         "during the update.\r\n\r\n"
         "\u00B7Configure settings to prevent the screen saver from starting on the PC during the update.\r\n\r\n"
         "\r\n"
         "<During Update>\r\n\r\n"
         "\u00B7Do NOT turn off the monitor and the computer during an update. It causes the damage of the "
         "monitor.\r\n\r\n"
         "\u00B7Do NOT remove USB cable during an update. It causes the damage of the monitor. \r\n\r\n"
         "\u00B7Do NOT operate the monitor during an update.\r\n"},
        {kReadMe, Language::Japanese,
         "< 事前準備 >\r\n\r\n"
         "\u30FBモニターのUSB ダウンストリームポートにUSB 機器を接続しないでください。機器が故障する可能性があります。\r\n\r\n"
         "\u30FBアップデート前にすべてのソフトウェアを終了してください。また、アップデート中は他のソフトウェアを起動しないでください。\r\n\r\n"
         "\u30FBアップデート中にコンピュータがスタンバイ、スリープ、サスペンド状態にならないように設定してください。\r\n\r\n"
         "\u30FBアップデート中にコンピュータのスクリーンセーバーが起動しないように設定してください。\r\n\r\n"
         "\r\n"
         "< 実行時の注意 >\r\n\r\n"
         "\u30FBアップデート中はモニターおよびコンピュータの電源を切らないでください。故障の原因となります。\r\n\r\n"
         "\u30FBアップデート中はUSB ケーブルを抜かないでください。故障の原因となります。\r\n\r\n"
         "\u30FBアップデート中はモニターの操作をおこなわないでください。\r\n"},
        {kProgramsToClose, Language::English,
         "Exit the following software before updating the firmware.\n"
         "Click \"OK\" to exit the following software when updating."},
        {kAboutItem, Language::English, "About Quillon (&A)..."},
        {kComplete, Language::Japanese, "ファームウェアのアップデートが完了しました。\n\nバージョン\uFF1A %s%s "},
        {kFileOpenFailed, Language::Japanese,
         "ファイルエラー\nファイルの読み込みに失敗しました。。ファイルが開いていないことを確認して、再度実行してください。"},
        {kOnlyOneMonitor, Language::Japanese, "%s\uFF08%s\uFF09 だけをUSB接続してください。"},
        {kMonitorNotFound, Language::Japanese,
         "%s(%s) が見つかりません。\nモニターのUSB接続を確認し、ソフトウェアを再起動してください。"},
    };
    for (const auto& c : cases) EXPECT_EQ(CatalogueText(c.id, c.language), c.text) << c.id << ' ' << Name(c.language);
}

TEST(CatalogueText, UpdateMinutesRightAlignsTheEstimateInTwoCharacters) {
    const std::pair<int, std::string> english[] = {
        {6, "Time for update: about  6 minute(s)"},
        {12, "Time for update: about 12 minute(s)"},
    };
    for (const auto& [minutes, expected] : english) {
        const MessageArgument argument[] = {minutes};
        EXPECT_EQ(FormatCatalogueText(CatalogueText(kUpdateMinutes, Language::English), argument), expected);
    }
    const MessageArgument six[] = {6};
    EXPECT_EQ(FormatCatalogueText(CatalogueText(kUpdateMinutes, Language::Japanese), six),
              "アップデートに必要な時間\uFF1A約 6分");
}

TEST(CatalogueText, CompletionShowsTheVersionLinesJoined) {
    const MessageArgument lines[] = {"00101-00202-00303", "-00404-00505"};
    EXPECT_EQ(FormatCatalogueText(CatalogueText(kComplete, Language::English), lines),
              "Complete. Version : 00101-00202-00303-00404-00505");
    // In Japanese the version stands on the third line, after an empty one.
    const std::string japanese = FormatCatalogueText(CatalogueText(kComplete, Language::Japanese), lines);
    EXPECT_EQ(japanese,
              "ファームウェアのアップデートが完了しました。\n\nバージョン\uFF1A 00101-00202-00303-00404-00505 ");
}

// Sets the locale variables for one test and puts the previous values back.
class LocaleEnvironment {
public:
    LocaleEnvironment() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (const char* value = getenv(kNames[i])) saved_[i] = value;
        }
    }
    ~LocaleEnvironment() {
        for (std::size_t i = 0; i < std::size(kNames); ++i) Put(kNames[i], saved_[i]);
    }
    void Set(std::optional<std::string> lcAll, std::optional<std::string> lcMessages, std::optional<std::string> lang) {
        Put("LC_ALL", lcAll);
        Put("LC_MESSAGES", lcMessages);
        Put("LANG", lang);
    }

private:
    static void Put(const char* name, const std::optional<std::string>& value) {
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> saved_[std::size(kNames)];
};

TEST(UserInterfaceLanguage, FollowsTheFirstLocaleVariableThatIsSetAndNotEmpty) {
    using E = std::optional<std::string>;
    struct Case {
        E lcAll, lcMessages, lang;
        Language expected;
    };
    const E none;
    const Case cases[] = {
        {none, none, none, Language::English},
        {none, none, "ja_JP.UTF-8", Language::Japanese},
        {none, none, "ja", Language::Japanese},
        {none, none, "ja.UTF-8", Language::Japanese},
        {none, none, "ja@cjknarrow", Language::Japanese},
        {none, none, "en_US.UTF-8", Language::English},
        {none, none, "C", Language::English},
        {none, none, "POSIX", Language::English},
        {none, none, "", Language::English},
        {none, none, "jam", Language::English},
        {none, none, "jav_ID", Language::English},
        {none, none, "JA_JP", Language::English},
        {none, none, "j", Language::English},
        {"C", none, "ja_JP.UTF-8", Language::English},
        {"ja_JP.UTF-8", none, "en_US.UTF-8", Language::Japanese},
        {"", none, "ja_JP.UTF-8", Language::Japanese},
        {"", "", "ja_JP.UTF-8", Language::Japanese},
        {none, "ja_JP.UTF-8", "en_US.UTF-8", Language::Japanese},
        {none, "en_GB.UTF-8", "ja_JP.UTF-8", Language::English},
        {"ja_JP.eucJP", "en_US.UTF-8", "C", Language::Japanese},
    };
    LocaleEnvironment environment;
    for (const auto& c : cases) {
        environment.Set(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(UserInterfaceLanguage(), c.expected)
            << "LC_ALL=" << c.lcAll.value_or("(unset)") << " LC_MESSAGES=" << c.lcMessages.value_or("(unset)")
            << " LANG=" << c.lang.value_or("(unset)");
    }
}

TEST(CatalogueLanguage, SelectsTheLanguageOfTextsWithoutOne) {
    const Language before = CatalogueLanguage();
    for (const auto language : kLanguages) {
        SetCatalogueLanguage(language);
        EXPECT_EQ(CatalogueLanguage(), language);
        EXPECT_EQ(CatalogueText(kCancel), CatalogueText(kCancel, language)) << Name(language);
    }
    EXPECT_EQ(CatalogueText(kCancel, Language::English), "Cancel");
    EXPECT_EQ(CatalogueText(kCancel, Language::Japanese), "キャンセル");
    SetCatalogueLanguage(before);
}

// The language is taken once per process, so each case runs in a fresh one.
TEST(CatalogueLanguageDeathTest, StartsAsTheUserInterfaceLanguage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    LocaleEnvironment environment;
    for (const auto language : kLanguages) {
        environment.Set(std::nullopt, std::nullopt, language == Language::Japanese ? "ja_JP.UTF-8" : "de_DE.UTF-8");
        EXPECT_EXIT(std::exit(CatalogueLanguage() == language ? 0 : 1), testing::ExitedWithCode(0), "")
            << Name(language);
    }
}

}  // namespace
