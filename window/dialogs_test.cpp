// The dialogs one by one: the warning's gating and estimate, the sorted
// program list, the About item, and every dialog of a run in both languages,
// with its catalogue texts and room for them. With QUILLON_SCREENSHOT_DIR set,
// the language test also saves a picture of every dialog there.
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QtTest/QTest>

#include <optional>

#include "app/progress_text.h"
#include "app/run_log_testing.h"
#include "window/about_dialog.h"
#include "window/window_testing.h"
#include "window/read_me_dialog.h"
#include "window/program_list_dialog.h"
#include "window/monitor_selection_dialog.h"
#include "window/warning_dialog.h"

namespace {

using namespace app_testing;
using namespace window_testing;

struct BoxCase {
    bool power;
    bool cable;
};

TEST(WarningDialogTest, ExecuteAndEnterWorkOnlyWithBothBoxesTicked) {
    for (const BoxCase c : {BoxCase{false, false}, BoxCase{true, false}, BoxCase{false, true}, BoxCase{true, true}}) {
        SCOPED_TRACE(testing::Message() << "power " << c.power << ", cable " << c.cable);
        WarningDialog dialog(7, nullptr);
        dialog.show();
        auto& execute = Child<QPushButton>(dialog, "executeButton");
        EXPECT_FALSE(execute.isEnabled());
        if (c.power) Child<QCheckBox>(dialog, "powerBox").click();
        if (c.cable) Child<QCheckBox>(dialog, "cableBox").click();
        const bool both = c.power && c.cable;
        EXPECT_EQ(execute.isEnabled(), both);

        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(dialog.result() == QDialog::Accepted, both);
        EXPECT_EQ(dialog.isVisible(), !both);
    }
}

TEST(WarningDialogTest, UntickingEitherBoxDisablesExecuteAgain) {
    for (const char* box : {"powerBox", "cableBox"}) {
        SCOPED_TRACE(box);
        WarningDialog dialog(7, nullptr);
        dialog.show();
        Child<QCheckBox>(dialog, "powerBox").click();
        Child<QCheckBox>(dialog, "cableBox").click();
        Child<QCheckBox>(dialog, box).click();
        EXPECT_FALSE(Child<QPushButton>(dialog, "executeButton").isEnabled());
        dialog.accept();  // what Enter and Execute call
        EXPECT_TRUE(dialog.isVisible());
    }
}

TEST(WarningDialogTest, ASingleDigitEstimateHasASpaceBeforeIt) {
    const Language saved = CatalogueLanguage();
    SetCatalogueLanguage(Language::English);
    const std::pair<std::uint32_t, const char*> cases[] = {{6, "Time for update: about  6 minute(s)"},
                                                           {12, "Time for update: about 12 minute(s)"}};
    for (const auto& [minutes, text] : cases) {
        WarningDialog dialog(minutes, nullptr);
        EXPECT_EQ(LabelText(dialog, "estimate"), text);
    }
    SetCatalogueLanguage(saved);
}

TEST(ProcessDialogTest, ListsTheProgramsAlphabetically) {
    ProgramListDialog dialog({"Zeta Screen", "alpha Tools", "Beta Sync"}, nullptr);
    auto& list = Child<QListWidget>(dialog, "programs");
    QStringList lines;
    for (int i = 0; i < list.count(); ++i) lines << list.item(i)->text();
    EXPECT_EQ(lines, (QStringList{"alpha Tools", "Beta Sync", "Zeta Screen"}));
}

// Every text of the dialog has the room it needs, across and down, and lies
// inside the dialog: nothing is cut off.
void ExpectTextsFit(QWidget& dialog) {
    const auto expectInside = [&dialog](const QWidget& widget) {
        const QRect place(widget.mapTo(&dialog, QPoint(0, 0)), widget.size());
        EXPECT_TRUE(dialog.rect().contains(place))
            << "at " << place.x() << "," << place.y() << " size " << place.width() << "x" << place.height()
            << " in " << dialog.width() << "x" << dialog.height();
    };
    const auto expectRoom = [](const QWidget& widget) {
        EXPECT_GE(widget.width(), widget.sizeHint().width());
        EXPECT_GE(widget.height(), widget.sizeHint().height());
    };
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) continue;
        SCOPED_TRACE(label->objectName().toStdString());
        if (label->wordWrap())
            EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        else
            expectRoom(*label);
        expectInside(*label);
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (!button->isVisible()) continue;
        SCOPED_TRACE(button->objectName().toStdString());
        expectRoom(*button);
        expectInside(*button);
    }
    for (QComboBox* box : dialog.findChildren<QComboBox*>()) {
        SCOPED_TRACE(box->objectName().toStdString());
        expectRoom(*box);
        expectInside(*box);
    }
}

// The updater's own icon (not Qt's default, which is null), at the desktop's largest size.
void ExpectUpdaterIcon(const QWidget& window) {
    EXPECT_FALSE(window.windowIcon().isNull()) << window.metaObject()->className();
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(256, 256))) << window.metaObject()->className();
}

class LanguageTest : public ::testing::TestWithParam<Language> {
protected:
    void SetUp() override {
        saved_ = CatalogueLanguage();
        SetCatalogueLanguage(GetParam());
        // Without one, Japanese texts are measured in placeholder glyphs, which
        // are smaller than a Japanese font's: a cut text would pass unseen.
        if (GetParam() == Language::Japanese) {
            ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Japanese).isEmpty())
                << "no Japanese font installed: install fonts-noto-cjk";
        }
    }
    void TearDown() override { SetCatalogueLanguage(saved_); }

    static std::string Catalogue(TextId id) { return CatalogueText(id, GetParam()); }

    // The picture of a dialog for the documentation, when asked for.
    static void Picture(QWidget& widget, const char* name) {
        const QString folder = qEnvironmentVariable("QUILLON_SCREENSHOT_DIR");
        if (folder.isEmpty()) return;
        const char* language = GetParam() == Language::Japanese ? "ja" : "en";
        const QString path = QStringLiteral("%1/%2-%3.png").arg(folder, name, language);
        EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
    }

    // Checks a dialog as it opens, pictures it, then lets `act` end it.
    template <typename T>
    std::function<void(T&)> Look(const char* name, std::function<void(T&)> act) {
        return [name, act = std::move(act)](T& dialog) {
            ExpectTextsFit(dialog);
            ExpectUpdaterIcon(dialog);
            Picture(dialog, name);
            act(dialog);
        };
    }

    Bench bench;
    ModalUser user;

private:
    Language saved_ = Language::English;
};
INSTANTIATE_TEST_SUITE_P(BothLanguages, LanguageTest, ::testing::Values(Language::English, Language::Japanese),
                         [](const auto& info) { return info.param == Language::Japanese ? "Japanese" : "English"; });

TEST_P(LanguageTest, EveryDialogOfARunShowsItsTextsInFull) {
    bench.Plug(MonitorKind::CombinedTunnel, "SN000001");
    bench.Plug(MonitorKind::OlderTunnel, "SN000002");
    bench.WritePackage();
    const auto text = [](TextId id) { return QString::fromStdString(Catalogue(id)); };
    UpdateRun* shownRun = nullptr;  // the window's run, once it is made
    user.At<ReadMeDialog>(Look<ReadMeDialog>("read-me", [&](ReadMeDialog& d) {
            EXPECT_EQ(LabelText(d, "heading"), text(text_id::kReadMeHeading));
            EXPECT_EQ(Child<QPlainTextEdit>(d, "readMe").toPlainText(), text(text_id::kReadMe).replace("\r\n", "\n"));
            EXPECT_EQ(Child<QPushButton>(d, "okButton").text(), text(text_id::kOk));
            EXPECT_EQ(Child<QPushButton>(d, "cancelButton").text(), text(text_id::kCancel));
            Child<QPushButton>(d, "okButton").click();
        }))
        .At<MonitorSelectionDialog>(Look<MonitorSelectionDialog>("select-monitor", [&](MonitorSelectionDialog& d) {
            EXPECT_EQ(LabelText(d, "prompt"), text(text_id::kSelectMonitor));
            Child<QPushButton>(d, "okButton").click();
        }))
        .At<QMenu>([&](QMenu& menu) {
            // The About box names the folder of the logs; the picture shows a user's.
            shownRun->stateFolders = StateFolders{"/home/ann/.local/state/quillon", {}};
            Picture(menu, "about-item");
            ASSERT_EQ(menu.actions().size(), 1);
            QAction* about = menu.actions().front();
            EXPECT_EQ(about->text(), text(text_id::kAboutItem));
            QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(about).center());
        })
        .At<AboutDialog>(Look<AboutDialog>("about", [&](AboutDialog& d) {
            // Where the run logs are kept.
            const std::string logs = "/home/ann/.local/state/quillon";
            const MessageArgument folder[] = {logs};
            EXPECT_EQ(LabelText(d, "runLogs").toStdString(),
                      FormatCatalogueText(Catalogue(text_id::kRunLogFolder), folder));
            EXPECT_NE(LabelText(d, "runLogs").toStdString().find(logs), std::string::npos);
            Child<QPushButton>(d, "okButton").click();
            bench.UseFolders(*shownRun);
        }))
        .At<WarningDialog>(Look<WarningDialog>("warning", [&](WarningDialog& d) {
            EXPECT_EQ(LabelText(d, "heading"), text(text_id::kWarningHeading));
            EXPECT_EQ(LabelText(d, "explanation"), text(text_id::kWarningText));
            EXPECT_EQ(Child<QCheckBox>(d, "powerBox").text(), text(text_id::kWarningPower));
            EXPECT_EQ(Child<QCheckBox>(d, "cableBox").text(), text(text_id::kWarningCable));
            EXPECT_EQ(Child<QPushButton>(d, "executeButton").text(), text(text_id::kExecute));
            Child<QCheckBox>(d, "powerBox").click();
            Child<QCheckBox>(d, "cableBox").click();
            Child<QPushButton>(d, "executeButton").click();
        }))
        .At<QMessageBox>([&](QMessageBox& box) {
            ExpectUpdaterIcon(box);
            Picture(box, "complete");
            // The completion message in this language, with the new version, over the window.
            const VersionLines after = MergedVersionLines(MemoryText(kAfter), "");
            EXPECT_EQ(box.text().toStdString(), MessageText({text_id::kComplete, {after.head, after.tail}}));
            EXPECT_EQ(box.windowTitle(), "window_test");  // the executable's name
            EXPECT_EQ(box.icon(), QMessageBox::Information);
            EXPECT_EQ(box.textFormat(), Qt::PlainText);
            EXPECT_EQ(box.standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(box.buttons().size(), 1);
            EXPECT_TRUE(box.parentWidget() != nullptr && box.parentWidget()->isVisible());
            ExpectTextsFit(box);
            // The update is over before the message shows.
            EXPECT_FALSE(bench.BackupExists());
            box.button(QMessageBox::Ok)->click();
        });

    WindowRun run(bench);
    shownRun = &run.window.Workflow().Run();
    run.Start();
    run.TickWhileWorking();
    ExpectTextsFit(run.window);
    ExpectUpdaterIcon(run.window);
    EXPECT_EQ(LabelText(run.window, "currentLabel"), text(text_id::kCurrentVersion));
    EXPECT_EQ(LabelText(run.window, "newLabel"), text(text_id::kUpdatedVersion));
    EXPECT_EQ(run.UpdateButton().text(), text(text_id::kUpdateButton));
    Picture(run.window, "main-window");
    // The arrow is drawn in the screen's own pixels: sharp on a scaled screen too.
    EXPECT_EQ(Child<QLabel>(run.window, "arrow").pixmap().devicePixelRatio(), run.window.devicePixelRatioF());

    // The bar and its line as an update shows them: writing, then a wait whose end is unknown.
    ProgressSnapshot writing;
    writing.started = true;
    writing.step = UpdateStep::WritingComponent;
    writing.component = 2;
    writing.components = 3;
    writing.progress = 4200;
    writing.secondsLeft = 11 * 60 + 20;
    WorkflowView& shown = run.window;  // as the workflow shows it
    shown.SetUpdateEnabled(false);
    shown.ShowProgress(writing);
    const QProgressBar& bar = Child<QProgressBar>(run.window, "progress");
    EXPECT_EQ(bar.value(), 4200);
    EXPECT_EQ(bar.maximum(), 10000);
    EXPECT_EQ(LabelText(run.window, "progressText").toStdString(), ProgressLine(writing, GetParam()));
    ExpectTextsFit(run.window);
    Picture(run.window, "main-window-progress");
    ProgressSnapshot waiting = writing;
    waiting.step = UpdateStep::Restarting;
    waiting.waitEndUnknown = true;
    waiting.waitElapsedSeconds = 20;
    waiting.waitLongestSeconds = 60;
    shown.ShowProgress(waiting);
    EXPECT_EQ(bar.maximum(), 0);  // busy
    EXPECT_EQ(LabelText(run.window, "progressText").toStdString(), ProgressLine(waiting, GetParam()));
    ExpectTextsFit(run.window);
    Picture(run.window, "main-window-waiting");
    shown.ShowProgress(ProgressSnapshot{});
    shown.SetUpdateEnabled(true);

    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, run.window.rect().center(),
                                run.window.mapToGlobal(run.window.rect().center()));
    QApplication::sendEvent(&run.window, &menuEvent);

    run.UpdateButton().click();
    run.TickWhileWorking();
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());  // OK on the completion message ends the updater
    EXPECT_EQ(user.opened, (std::vector<std::string>{"ReadMeDialog", "MonitorSelectionDialog", "QMenu", "AboutDialog",
                                                     "WarningDialog", "QMessageBox"}));
}

TEST_P(LanguageTest, TheProgramListShowsItsTextsInFull) {
    // Programs the updater knows by name and lists (conflict/known_programs.cpp).
    ProgramListDialog dialog({"Tintorra 7", "Omnitint Pro", "Panelwarden Pro"}, nullptr);
    dialog.show();
    EXPECT_EQ(LabelText(dialog, "explanation").toStdString(), Catalogue(text_id::kProgramsToClose));
    EXPECT_EQ(Child<QPushButton>(dialog, "okButton").text().toStdString(), Catalogue(text_id::kOk));
    ExpectTextsFit(dialog);
    Picture(dialog, "programs");
}

}  // namespace
