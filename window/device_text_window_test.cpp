// Model names and serial numbers are whatever bytes a monitor sends: the
// monitor list, the window's title and a message that names the monitor show
// them escaped, never as control characters or broken text.
#include <QtTest/QTest>

#include "window/monitor_selection_dialog.h"
#include "window/read_me_dialog.h"
#include "window/window_testing.h"

namespace {

using namespace app_testing;
using namespace window_testing;

struct ShownIdentity {
    std::string model, serial;
    QString line;  // in the monitor list
};

const ShownIdentity kClearScreen{"QX\x1b[2J27", "SN\x1b[2J0", "Name:QX\\x1b[2J27  S/N:SN\\x1b[2J0"};
const ShownIdentity kIdentities[] = {
    kClearScreen,
    {"QX27\rOK", "SN\r00001", "Name:QX27\\x0dOK  S/N:SN\\x0d00001"},
    {"QX\xff\xfe" "27", "SN\xff" "0001", "Name:QX\\xff\\xfe27  S/N:SN\\xff0001"},
    {"QX27\xe3\x83", "SN\\0001", "Name:QX27\\xe3\\x83  S/N:SN\\\\0001"},
    {"モニター27", "番号01", QString::fromUtf8("Name:モニター27  S/N:番号01")},
};

MonitorConfig ConfigOf(const ShownIdentity& identity) {
    MonitorConfig config = Bench::Config(MonitorKind::CombinedTunnel, identity.serial);
    config.model = identity.model;
    return config;
}

// No control character but the line feeds between a message's lines, and no
// U+FFFD that bytes which are not UTF-8 would have become.
void ExpectShowable(const QString& text) {
    for (const QChar character : text) {
        const unsigned c = character.unicode();
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F && !(c >= 0x80 && c <= 0x9F)))
            << "U+" << std::hex << c << " in " << text.toStdString();
        EXPECT_NE(c, 0xFFFDu) << text.toStdString();
    }
}

class DeviceTextWindowTest : public ::testing::Test {
protected:
    Bench bench;
    ModalUser user;
};

TEST_F(DeviceTextWindowTest, TheListAndTheTitleShowTheMonitorsTextsEscaped) {
    for (const ShownIdentity& identity : kIdentities) bench.Plug(ConfigOf(identity));
    bench.WritePackage(WithModel("*"));
    QStringList listed;
    user.Press<ReadMeDialog>("okButton").At<MonitorSelectionDialog>([&](MonitorSelectionDialog& dialog) {
        auto& monitors = Child<QComboBox>(dialog, "monitors");
        listed = Lines(monitors);
        monitors.setCurrentIndex(2);
        Child<QPushButton>(dialog, "okButton").click();
    });
    WindowRun run(bench);
    run.Start();
    QStringList expected;
    for (const ShownIdentity& identity : kIdentities) expected << identity.line;
    EXPECT_EQ(listed, expected);
    for (const QString& line : listed) ExpectShowable(line);
    EXPECT_EQ(LabelText(run.window, "title"), "QX\\xff\\xfe27 (S/N:SN\\xff0001)");
    run.TickWhileWorking();
    QTest::keyClick(&run.window, Qt::Key_Escape);
    EXPECT_TRUE(run.Ended());
}

// Two monitors that present one identity: the message names it, escaped.
TEST_F(DeviceTextWindowTest, AMessageNamesTheMonitorEscaped) {
    bench.Plug(ConfigOf(kClearScreen));
    bench.Plug(ConfigOf(kClearScreen));
    bench.WritePackage(WithModel("*"));
    user.Press<ReadMeDialog>("okButton").Press<MonitorSelectionDialog>("okButton").Acknowledge();
    WindowRun run(bench);
    run.Start();
    EXPECT_TRUE(run.Ended());
    ASSERT_EQ(user.messages.size(), 1u);
    const QString& text = user.messages[0].text;
    ExpectShowable(text);
    EXPECT_TRUE(text.contains("QX\\x1b[2J27") && text.contains("SN\\x1b[2J0")) << text.toStdString();
    EXPECT_FALSE(bench.BackupExists());
}

}  // namespace
