// The main window end to end against emulated monitors: every dialog of a
// fresh update, the monitor list, the start-up messages, a resumed update and
// the refusal to close while a worker thread runs.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QWindow>
#include <QtTest/QTest>

#include "app/run_log_testing.h"
#include "common/temp_dir_testing.h"
#include "emulator/monitor_state.h"
#include "window/window_testing.h"
#include "window/read_me_dialog.h"
#include "window/monitor_selection_dialog.h"
#include "window/warning_dialog.h"

namespace {

using namespace app_testing;
using namespace window_testing;

// A transfer well inside the component writes of a combined-tunnel monitor.
constexpr std::uint32_t kCutAtTransfer = 150;

QString Completion() {
    const VersionLines after = MergedVersionLines(MemoryText(kAfter), "");
    return Expected({text_id::kComplete, {after.head, after.tail}, MessageIcon::Information}).text;
}

// Ticks both warnings and presses Execute.
void ConfirmWarning(WarningDialog& dialog) {
    Child<QCheckBox>(dialog, "powerBox").setChecked(true);
    Child<QCheckBox>(dialog, "cableBox").setChecked(true);
    Child<QPushButton>(dialog, "executeButton").click();
}

class WindowTest : public ::testing::Test {
protected:
    Bench bench;
    ModalUser user;
};

class FreshUpdateWindowTest : public ::testing::TestWithParam<MonitorKind> {
protected:
    Bench bench;
    ModalUser user;
};
INSTANTIATE_TEST_SUITE_P(AllKinds, FreshUpdateWindowTest, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST_P(FreshUpdateWindowTest, LeadsThroughEveryDialogToTheCompletionMessage) {
    bench.Plug(GetParam());
    bench.WritePackage();
    QStringList listed;
    QString estimate;
    user.Press<ReadMeDialog>("okButton")
        .At<MonitorSelectionDialog>([&](MonitorSelectionDialog& dialog) {
            listed = Lines(Child<QComboBox>(dialog, "monitors"));
            EXPECT_EQ(LabelText(dialog, "prompt").toStdString(), CatalogueText(text_id::kSelectMonitor));
            Child<QPushButton>(dialog, "okButton").click();
        })
        .At<WarningDialog>([&](WarningDialog& dialog) {
            estimate = LabelText(dialog, "estimate");
            ConfirmWarning(dialog);
        })
        .Acknowledge();

    WindowRun run(bench);
    run.Start();
    EXPECT_EQ(listed, QStringList{"Name:QX2701  S/N:SN000001"});
    ASSERT_TRUE(run.window.isVisible());
    // The file phase: the wait cursor, Update disabled, no new version yet.
    EXPECT_TRUE(run.window.TimerRunning());
    EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor,
              Qt::WaitCursor);
    EXPECT_FALSE(run.UpdateButton().isEnabled());
    EXPECT_EQ(LabelText(run.window, "newHead"), "");

    run.TickWhileWorking();
    // Ready: both versions, the label of the new one, Update enabled.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(run.window.TimerRunning());
    EXPECT_EQ(LabelText(run.window, "title"), "QX2701 (S/N:SN000001)");
    EXPECT_EQ(LabelText(run.window, "currentLabel").toStdString(), CatalogueText(text_id::kCurrentVersion));
    EXPECT_EQ(LabelText(run.window, "newLabel").toStdString(), CatalogueText(text_id::kUpdatedVersion));
    const std::string before = MemoryText(kBefore), after = MemoryText(kAfter);
    EXPECT_EQ(LabelText(run.window, "currentHead").toStdString(), FormatVersionHead(before));
    EXPECT_EQ(LabelText(run.window, "currentTail").toStdString(), FormatVersionTail(before));
    EXPECT_EQ(LabelText(run.window, "newHead").toStdString(), FormatVersionHead(after));
    EXPECT_EQ(LabelText(run.window, "newTail").toStdString(), FormatVersionTail(after));
    EXPECT_TRUE(run.UpdateButton().isEnabled());
    // Until the update begins, the bar stands at 0 with no line under it.
    const QProgressBar& bar = Child<QProgressBar>(run.window, "progress");
    EXPECT_EQ(bar.maximum(), 10000);
    EXPECT_EQ(bar.value(), 0);
    EXPECT_EQ(LabelText(run.window, "progressText"), "");

    run.UpdateButton().click();
    // Five components of 30 s: (150 + 59) / 60 + 1 minutes.
    EXPECT_EQ(estimate.toStdString(), MessageText({text_id::kUpdateMinutes, {4}}));
    EXPECT_TRUE(run.window.TimerRunning());
    EXPECT_FALSE(run.UpdateButton().isEnabled());
    run.TickWhileWorking();

    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, Completion());
    EXPECT_EQ(bar.value(), 10000);  // full once the update completed, not before
    EXPECT_EQ(user.messages[0].icon, QMessageBox::Information);
    EXPECT_EQ(user.messages[0].caption, "window_test");  // the executable's name
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(bench.VersionOf(bench.Open()), after);
}

// However the user closes the completion message (OK, Escape, the box's close
// button), the updater ends: the window goes, nothing else opens, and the
// monitor keeps its new firmware.
struct CompletionClose {
    const char* how;
    void (*close)(QMessageBox&);
};
const CompletionClose kCompletionCloses[] = {
    {"OK", [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }},
    {"Escape", [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }},
    {"CloseButton", [](QMessageBox& box) { box.close(); }},
};

class CompletionCloseTest : public WindowTest, public ::testing::WithParamInterface<CompletionClose> {};
INSTANTIATE_TEST_SUITE_P(EveryWay, CompletionCloseTest, ::testing::ValuesIn(kCompletionCloses),
                         [](const auto& info) { return std::string(info.param.how); });

TEST_P(CompletionCloseTest, ClosingTheCompletionMessageEndsTheUpdater) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    bool windowShownUnder = false;
    user.Press<ReadMeDialog>("okButton")
        .Press<MonitorSelectionDialog>("okButton")
        .At<WarningDialog>([](WarningDialog& dialog) { ConfirmWarning(dialog); })
        .At<QMessageBox>([&](QMessageBox& box) {
            EXPECT_EQ(box.text(), Completion());
            windowShownUnder = box.parentWidget() != nullptr && box.parentWidget()->isVisible();
            GetParam().close(box);
        });
    WindowRun run(bench);
    run.Start();
    run.TickWhileWorking();
    run.UpdateButton().click();
    run.TickWhileWorking();
    EXPECT_TRUE(windowShownUnder);
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());
    EXPECT_FALSE(run.window.TimerRunning());
    EXPECT_EQ(user.opened,
              (std::vector<std::string>{"ReadMeDialog", "MonitorSelectionDialog", "WarningDialog", "QMessageBox"}));
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(bench.VersionOf(bench.Open()), MemoryText(kAfter));
}

TEST_F(WindowTest, TwoMonitorsAreListedAndTheSecondIsUpdated) {
    Monitor& first = bench.Plug(MonitorKind::CombinedTunnel, "SN000001");
    Monitor& second = bench.Plug(MonitorKind::OlderTunnel, "SN000002");
    bench.WritePackage();
    QStringList listed;
    user.Press<ReadMeDialog>("okButton")
        .At<MonitorSelectionDialog>([&](MonitorSelectionDialog& dialog) {
            auto& monitors = Child<QComboBox>(dialog, "monitors");
            listed = Lines(monitors);
            EXPECT_EQ(monitors.currentIndex(), 0);
            monitors.setCurrentIndex(1);
            Child<QPushButton>(dialog, "okButton").click();
        })
        .At<WarningDialog>(ConfirmWarning)
        .Acknowledge();

    WindowRun run(bench);
    run.Start();
    EXPECT_EQ(listed, (QStringList{"Name:QX2701  S/N:SN000001", "Name:QX2701  S/N:SN000002"}));
    EXPECT_EQ(LabelText(run.window, "title"), "QX2701 (S/N:SN000002)");
    run.TickWhileWorking();
    run.UpdateButton().click();
    run.TickWhileWorking();

    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, Completion());
    EXPECT_EQ(second.RunningVersion(), kAfter);
    EXPECT_EQ(first.RunningVersion(), kBefore);
}

TEST_F(WindowTest, TheListFollowsMonitorsPluggedInAndOut) {
    Monitor& first = bench.Plug(MonitorKind::CombinedTunnel, "SN000001");
    bench.WritePackage();
    MonitorConfig config;
    config.serial = "SN000002";
    config.model = "QX2702";
    config.transferTime = {0, 0};
    struct Seen {
        QStringList lines;
        int selected = -1;
        QString prompt;
        bool okEnabled = false;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen;
    user.Press<ReadMeDialog>("okButton").At<MonitorSelectionDialog>([&](MonitorSelectionDialog& dialog) {
        auto& monitors = Child<QComboBox>(dialog, "monitors");
        const auto look = [&] {
            seen.push_back({Lines(monitors), monitors.currentIndex(), LabelText(dialog, "prompt"),
                            Child<QPushButton>(dialog, "okButton").isEnabled()});
        };
        look();
        Monitor& second = bench.platform.Add(config);
        dialog.OnDeviceChange({DeviceEvent::Kind::Arrival, bench.platform.PathOf(second)});
        monitors.setCurrentIndex(1);
        look();
        // Another maker's device changes nothing.
        dialog.OnDeviceChange({DeviceEvent::Kind::Arrival, "emulated:VID_1234&PID_0001#9"});
        look();
        // Lower-case vendor ids count too.
        QString path = QString::fromStdString(bench.platform.PathOf(first)).toLower();
        bench.platform.Unplug(first);
        dialog.OnDeviceChange({DeviceEvent::Kind::Removal, path.toStdString()});
        look();
        path = QString::fromStdString(bench.platform.PathOf(second));
        bench.platform.Unplug(second);
        dialog.OnDeviceChange({DeviceEvent::Kind::Removal, path.toStdString()});
        look();
        Child<QPushButton>(dialog, "cancelButton").click();
    });

    WindowRun run(bench);
    run.Start();
    const QString select = QString::fromStdString(CatalogueText(text_id::kSelectMonitor));
    const QString connect = QString::fromStdString(CatalogueText(text_id::kConnectMonitor));
    const QString line1 = "Name:QX2701  S/N:SN000001", line2 = "Name:QX2702  S/N:SN000002";
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {{line1}, 0, select, true},
                        {{line1, line2}, 1, select, true},  // rebuilt, then the user chose line 2
                        {{line1, line2}, 1, select, true},
                        {{line2}, 0, select, true},  // rebuilt: the first line selected again
                        {{}, -1, connect, false},
                    }));
    EXPECT_TRUE(run.Ended());  // cancelled: the run ends without a message
    EXPECT_TRUE(user.messages.empty());
}

// A package of another version than the bench's, for a package that does not
// lie beside the executable.
PackageContents PackageElsewhere() {
    PackageContents contents;
    contents.images = VersionFields{103, 202, 4, 4, 5};
    contents.version = MemoryText(contents.images);
    return contents;
}

QString CompletionOf(const std::string& version) {
    const VersionLines after = MergedVersionLines(version, "");
    return Expected({text_id::kComplete, {after.head, after.tail}, MessageIcon::Information}).text;
}

// Installed, the updater has no package beside it: the user chooses one,
// starting in Downloads where there is one, else in the home folder.
TEST(PackageChooserTest, WithNoPackageBesideTheUserChoosesOneAndItIsInstalled) {
    struct Home {
        const char* name;
        bool downloads;
    };
    for (const Home home : {Home{"WithDownloads", true}, Home{"WithoutDownloads", false}}) {
        SCOPED_TRACE(home.name);
        Bench bench;
        bench.Plug(MonitorKind::CombinedTunnel);
        const TempDir homeFolder;
        const TempDir config;  // no user-dirs.dirs: Downloads is where it is by default
        const ScopedVariable homeVariable("HOME", homeFolder.Path());
        const ScopedVariable configVariable("XDG_CONFIG_HOME", config.Path());
        const std::string start = home.downloads ? homeFolder.File("Downloads") : homeFolder.Path();
        std::filesystem::create_directories(start);
        const std::string package = start + "/QX2701 firmware.vfw";
        WritePackageFile(package, PackageElsewhere());

        QString startedIn, caption;
        QStringList filters;
        ModalUser user;
        user.Press<ReadMeDialog>("okButton")
            .At<QFileDialog>([&](QFileDialog& chooser) {
                startedIn = chooser.directory().absolutePath();
                caption = chooser.windowTitle();
                filters = chooser.nameFilters();
                // Typed into the file name field, then Open.
                Child<QLineEdit>(chooser, "fileNameEdit").setText(QString::fromStdString(package));
                static_cast<QDialog&>(chooser).accept();  // Open: the chooser checks that the file exists
            })
            .Press<MonitorSelectionDialog>("okButton")
            .At<WarningDialog>(ConfirmWarning)
            .Acknowledge();
        WindowRun run(bench);
        run.Start();
        run.TickWhileWorking();
        run.UpdateButton().click();
        run.TickWhileWorking();

        EXPECT_EQ(startedIn.toStdString(), start);
        EXPECT_EQ(caption.toStdString(), CatalogueText(text_id::kChoosePackage));
        EXPECT_EQ(filters, (QStringList{QString::fromStdString(CatalogueText(text_id::kPackageFilter)) + " (*.vfw)",
                                        QString::fromStdString(CatalogueText(text_id::kAllFilesFilter)) + " (*)"}));
        EXPECT_EQ(user.messages, (std::vector<ShownMessage>{{"window_test", CompletionOf(PackageElsewhere().version),
                                                             QMessageBox::Information}}));
        EXPECT_EQ(bench.VersionOf(bench.Open()), PackageElsewhere().version);
    }
}

// A package named on the command line (quillon FILE.vfw) is the one installed:
// neither those beside the executable nor a chooser are looked at.
TEST_F(WindowTest, APackageNamedOnTheCommandLineIsInstalledWithoutAChooser) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    bench.WritePackage({}, "other.vfw");  // alone, two would be refused
    const TempDir elsewhere;
    const std::string package = elsewhere.File("named.vfw");
    WritePackageFile(package, PackageElsewhere());
    user.Press<ReadMeDialog>("okButton")
        .Press<MonitorSelectionDialog>("okButton")
        .At<WarningDialog>(ConfirmWarning)
        .Acknowledge();
    WindowRun run(bench);
    run.window.Workflow().Run().packagePath = package;
    run.Start();
    run.TickWhileWorking();
    run.UpdateButton().click();
    run.TickWhileWorking();
    EXPECT_EQ(user.opened,
              (std::vector<std::string>{"ReadMeDialog", "MonitorSelectionDialog", "WarningDialog", "QMessageBox"}));
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, CompletionOf(PackageElsewhere().version));
    EXPECT_EQ(bench.VersionOf(bench.Open()), PackageElsewhere().version);
}

// Each way the start-up sequence or the file phase ends with a message.
struct StartUpMessageCase {
    const char* name;
    std::function<void(Bench&)> setUp;
    UserMessage expected;
    bool listShown;  // the message comes after the monitor was chosen
    bool chooser = false;  // none beside the executable: the file chooser opens first, and is cancelled
};

const StartUpMessageCase kStartUpMessages[] = {
    {"NoPackage", [](Bench& b) { b.Plug(MonitorKind::CombinedTunnel); }, {text_id::kNoPackageFile, {}}, false, true},
    {"TwoPackages",
     [](Bench& b) {
         b.Plug(MonitorKind::CombinedTunnel);
         b.WritePackage();
         b.WritePackage({}, "other.VFW");
     },
     {text_id::kSeveralPackageFiles, {}},
     false},
    {"AlreadyApplied",
     [](Bench& b) {
         b.Plug(MonitorKind::CombinedTunnel);
         b.WritePackage({.version = MemoryText(kBefore)});
     },
     {text_id::kAlreadyApplied, {}, MessageIcon::Information},
     true},
    {"ModelMismatch",
     [](Bench& b) {
         b.Plug(MonitorKind::OlderNative);
         b.WritePackage({.model = "QZ27*"});
     },
     {text_id::kNoFileForMonitor, {}},
     true},
    {"NoFittingSet",
     [](Bench& b) {
         b.Plug(MonitorKind::OlderTunnel);
         b.WritePackage({.from = VersionFields{101, 201, 3, 4, 5}});
     },
     {text_id::kCannotUpdateWithFile, {}},
     true},
    {"Calibrating",
     [](Bench& b) {
         Monitor& monitor = b.Plug(MonitorKind::OlderNative);
         b.WritePackage();
         FaultPlan calibrating;
         calibrating.calibratingReads = FaultPlan::kAlways;
         monitor.AddFaults(calibrating);
     },
     {text_id::kCalibrating, {}},
     true},
};

class StartUpMessageTest : public ::testing::TestWithParam<StartUpMessageCase> {
protected:
    Bench bench;
    ModalUser user;
};
INSTANTIATE_TEST_SUITE_P(EachPath, StartUpMessageTest, ::testing::ValuesIn(kStartUpMessages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(StartUpMessageTest, ShowsItsMessageAndEndsTheRunWithoutAWord) {
    GetParam().setUp(bench);
    user.Press<ReadMeDialog>("okButton");
    if (GetParam().chooser) user.At<QFileDialog>([](QFileDialog& chooser) { chooser.reject(); });
    if (GetParam().listShown) user.Press<MonitorSelectionDialog>("okButton");
    user.Acknowledge();

    WindowRun run(bench);
    run.Start();
    run.TickWhileWorking();
    // Once a monitor was chosen the run has a log, and an error message says where, under its text.
    UserMessage expected = GetParam().expected;
    EXPECT_EQ(run.window.Workflow().RunLogPath().empty(), !GetParam().listShown);
    if (expected.icon == MessageIcon::Error) expected.runLogPath = run.window.Workflow().RunLogPath();
    EXPECT_EQ(user.messages, std::vector<ShownMessage>{Expected(expected)});
    if (!expected.runLogPath.empty() && !user.messages.empty()) {
        const std::string shown = user.messages[0].text.toStdString();
        EXPECT_TRUE(shown.starts_with(MessageText(expected) + "\n\n")) << shown;
        EXPECT_TRUE(shown.ends_with("\n\nA record of this run was written to " + expected.runLogPath + ".")) << shown;
    }
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(bench.BackupExists());  // nothing was written: the monitor was put back
}

TEST_F(WindowTest, EscapeAndTheCloseBoxAreRefusedWhileAWorkerThreadRuns) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    user.Press<ReadMeDialog>("okButton")
        .Press<MonitorSelectionDialog>("okButton")
        .At<WarningDialog>(ConfirmWarning)
        .Acknowledge();
    WindowRun run(bench);
    const auto tryToClose = [&](const char* phase) {
        SCOPED_TRACE(phase);
        ASSERT_TRUE(run.window.Workflow().WorkerExists());
        QTest::keyClick(&run.window, Qt::Key_Escape);
        EXPECT_FALSE(run.window.close());
        EXPECT_TRUE(run.window.isVisible());
        EXPECT_FALSE(run.Ended());
    };

    run.Start();
    tryToClose("file phase");
    run.TickWhileWorking();
    run.UpdateButton().click();
    tryToClose("update phase");
    run.TickWhileWorking();
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, Completion());
    EXPECT_TRUE(run.Ended());
}

TEST_F(WindowTest, EscapeOnceReadyEndsTheRunAndPutsTheMonitorBack) {
    bench.Plug(MonitorKind::OlderNative);
    bench.WritePackage();
    user.Press<ReadMeDialog>("okButton")
        .Press<MonitorSelectionDialog>("okButton")
        .Press<WarningDialog>("cancelButton");
    WindowRun run(bench);
    run.Start();
    run.TickWhileWorking();
    EXPECT_TRUE(bench.BackupExists());
    // Cancelling the warning goes back to Ready.
    run.UpdateButton().click();
    EXPECT_TRUE(run.UpdateButton().isEnabled());
    EXPECT_FALSE(run.window.Workflow().WorkerExists());

    QTest::keyClick(&run.window, Qt::Key_Escape);
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(ReadSettings(bench.Open()), bench.before);
}

TEST_F(WindowTest, CancellingTheReadMeEndsTheRunWithoutAMessage) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    user.Press<ReadMeDialog>("cancelButton");
    WindowRun run(bench);
    run.Start();
    EXPECT_TRUE(run.Ended());
    EXPECT_FALSE(run.window.isVisible());
    EXPECT_EQ(user.opened, std::vector<std::string>{"ReadMeDialog"});
}

// Power lost in the middle of writing the firmware, with the monitor back
// only after the run has given up: the next start resumes at once.
TEST_F(WindowTest, AnUpdateCutShortIsResumedByTheNextStart) {
    Monitor& monitor = bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    FaultPlan cut;
    cut.unplugAtTransfer = kCutAtTransfer;
    monitor.AddFaults(cut);

    {
        user.Press<ReadMeDialog>("okButton")
            .Press<MonitorSelectionDialog>("okButton")
            .At<WarningDialog>(ConfirmWarning)
            .Acknowledge();
        WindowRun first(bench);
        first.Start();
        first.TickWhileWorking();
        first.UpdateButton().click();
        first.TickWhileWorking();
        ASSERT_EQ(user.messages.size(), 1u);
        EXPECT_NE(user.messages[0].text, Completion());
        EXPECT_TRUE(first.Ended());
        ASSERT_TRUE(bench.BackupExists());
    }
    bench.clock.Advance(60'000);
    user.messages.clear();

    // The recorded monitor is found without a list; the versions show at once.
    QString estimate;
    user.Press<ReadMeDialog>("okButton")
        .At<WarningDialog>([&](WarningDialog& dialog) {
            estimate = LabelText(dialog, "estimate");
            ConfirmWarning(dialog);
        })
        .Acknowledge();
    WindowRun second(bench);
    second.Start();
    EXPECT_FALSE(second.window.TimerRunning());  // no file phase
    EXPECT_TRUE(second.UpdateButton().isEnabled());
    EXPECT_EQ(LabelText(second.window, "newHead").toStdString(), FormatVersionHead(MemoryText(kAfter)));
    EXPECT_EQ(LabelText(second.window, "newTail").toStdString(), FormatVersionTail(MemoryText(kAfter)));
    second.UpdateButton().click();
    // The estimate comes from the backup file's descriptors.
    EXPECT_EQ(estimate.toStdString(), MessageText({text_id::kUpdateMinutes, {4}}));
    second.TickWhileWorking();
    const ShownMessage complete{"window_test", Completion(), QMessageBox::Information};
    EXPECT_EQ(user.messages, std::vector<ShownMessage>{complete});
    EXPECT_FALSE(bench.BackupExists());
    EXPECT_EQ(monitor.RunningVersion(), kAfter);
}

}  // namespace

namespace {

// On Wayland a client neither places its top-level windows nor learns where
// they are: the compositor places a dialog over the window it is transient for
// (once that window shows), and the positions Qt reports are only those asked for.
bool OnWayland() { return QGuiApplication::platformName() == QLatin1String("wayland"); }

// `dialog` opens over `owner`: it is transient for the owner's window and,
// where the client places its windows, centred on it.
void ExpectPlacedOn(const QWidget& dialog, const QWidget& owner) {
    ASSERT_NE(dialog.windowHandle(), nullptr);
    EXPECT_EQ(dialog.windowHandle()->transientParent(), owner.windowHandle());
    if (OnWayland()) return;
    const QPoint offset = dialog.frameGeometry().center() - owner.frameGeometry().center();
    EXPECT_LE(std::abs(offset.x()), 2) << offset.x() << "," << offset.y();
    EXPECT_LE(std::abs(offset.y()), 2) << offset.x() << "," << offset.y();
}

}  // namespace

// On a plain X11 desktop a dialog whose owner has never been placed opens in the
// screen's top-left corner; the offscreen screen (800 x 600) shows the same.
TEST_F(WindowTest, StartUpDialogsOpenCentredOnThePlacedWindow) {
    bench.Plug(MonitorKind::CombinedTunnel);
    // Two packages: the read-me, then a start-up message.
    bench.WritePackage();
    bench.WritePackage({}, "other.vfw");
    WindowRun run(bench);
    QPoint windowAtReadMe;
    user.At<ReadMeDialog>([&](ReadMeDialog& dialog) {
            windowAtReadMe = run.window.pos();
            ExpectPlacedOn(dialog, run.window);
            Child<QPushButton>(dialog, "okButton").click();
        })
        .At<QMessageBox>([&](QMessageBox& box) {
            ExpectPlacedOn(box, run.window);
            box.button(QMessageBox::Ok)->click();
        });

    run.Start();
    EXPECT_EQ(user.opened, (std::vector<std::string>{"ReadMeDialog", "QMessageBox"}));
    if (OnWayland()) return;  // the compositor places the window
    // The window sits where the work area puts it: centred across, a third of the way down.
    const QRect work = run.window.screen()->availableGeometry();
    EXPECT_NEAR(windowAtReadMe.x() + run.window.frameSize().width() / 2, work.center().x(), 2);
    EXPECT_GT(windowAtReadMe.y(), work.top());
}

// The dialogs of the update open over the window, which shows by then.
TEST_F(WindowTest, TheWarningAndTheCompletionMessageOpenOverTheShownWindow) {
    bench.Plug(MonitorKind::CombinedTunnel);
    bench.WritePackage();
    WindowRun run(bench);
    user.Press<ReadMeDialog>("okButton")
        .Press<MonitorSelectionDialog>("okButton")
        .At<WarningDialog>([&](WarningDialog& dialog) {
            EXPECT_TRUE(run.window.isVisible());
            ExpectPlacedOn(dialog, run.window);
            ConfirmWarning(dialog);
        })
        .At<QMessageBox>([&](QMessageBox& box) {
            EXPECT_TRUE(run.window.isVisible());
            ExpectPlacedOn(box, run.window);
            box.button(QMessageBox::Ok)->click();
        });
    run.Start();
    run.TickWhileWorking();
    run.UpdateButton().click();
    run.TickWhileWorking();
    EXPECT_TRUE(run.Ended());
}

// A monitor waiting in an update plugged in while the list shows is refused
// with a message (no backup file names it), which opens over the list: the
// window under it is still hidden, and on Wayland a dialog over a hidden window
// would be placed as if it had no parent.
TEST_F(WindowTest, AMessageWhileTheListShowsOpensOverTheList) {
    bench.Plug(MonitorKind::CombinedTunnel, "SN000001");
    bench.WritePackage();
    const MonitorConfig waiting = bench.WaitingConfig(MonitorKind::OlderTunnel, "SN000002");

    WindowRun run(bench);
    QPointer<MonitorSelectionDialog> list;
    user.Press<ReadMeDialog>("okButton")
        .At<MonitorSelectionDialog>([&](MonitorSelectionDialog& dialog) {
            list = &dialog;
            Monitor& plugged = bench.platform.Add(waiting);
            dialog.OnDeviceChange({DeviceEvent::Kind::Arrival, bench.platform.PathOf(plugged)});
        })
        .At<QMessageBox>([&](QMessageBox& box) {
            ASSERT_FALSE(list.isNull());
            EXPECT_TRUE(list->isVisible());
            EXPECT_FALSE(run.window.isVisible());
            EXPECT_EQ(box.parentWidget(), list.data());
            ExpectPlacedOn(box, *list);
            user.messages.push_back({box.windowTitle(), box.text(), box.icon()});
            box.button(QMessageBox::Ok)->click();
        })
        .Press<MonitorSelectionDialog>("cancelButton");  // the list, in front again
    run.Start();
    // Under the message, where a record was looked for.
    UserMessage expected;
    expected.text = text_id::kSamePc;
    expected.recordFolders = {bench.StateFolder(), bench.Folder().substr(0, bench.Folder().size() - 1)};
    EXPECT_EQ(user.messages, std::vector<ShownMessage>{Expected(expected)});
    EXPECT_EQ(user.opened, (std::vector<std::string>{"ReadMeDialog", "MonitorSelectionDialog", "QMessageBox",
                                                     "MonitorSelectionDialog"}));
    EXPECT_TRUE(run.Ended());
}
