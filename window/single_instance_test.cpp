// One updater at a time: a second start asks the first to come to the front.
#include "window/single_instance.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <unistd.h>

#include <optional>

#include "window/updater_app.h"
#include "window/window_testing.h"

namespace {

QString UniqueName() { return QStringLiteral("Quillon Updater test %1").arg(getpid()); }

// On Wayland the first may take the focus only with the activation token the
// later start's launcher gave it, which the request carries over.
struct RaiseCase {
    const char* name;
    const char* launcherToken;  // nullptr: the later start has none
};
const RaiseCase kRaiseCases[] = {{"NoToken", nullptr}, {"WithToken", "weston-7_ab.c"}};

TEST(SingleInstanceTest, ALaterStartAsksTheFirstToComeToTheFront) {
    const QByteArray saved = qgetenv("XDG_ACTIVATION_TOKEN");
    for (const RaiseCase& c : kRaiseCases) {
        SCOPED_TRACE(c.name);
        SingleInstance first(UniqueName());
        ASSERT_TRUE(first.IsFirst());
        QSignalSpy raised(&first, &SingleInstance::RaiseRequested);

        if (c.launcherToken != nullptr)
            qputenv("XDG_ACTIVATION_TOKEN", c.launcherToken);
        else
            qunsetenv("XDG_ACTIVATION_TOKEN");
        {
            SingleInstance second(UniqueName());
            EXPECT_FALSE(second.IsFirst());
        }
        qunsetenv("XDG_ACTIVATION_TOKEN");
        // The request is sent by now; the first reads it in its event loop.
        for (int i = 0; i < 10 && raised.count() == 0; ++i) QCoreApplication::processEvents();
        ASSERT_EQ(raised.count(), 1);
        EXPECT_EQ(raised.front().front().toString().toStdString(),
                  std::string(c.launcherToken != nullptr ? c.launcherToken : ""));
    }
    if (!saved.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", saved);
}

// A second start ends at once. A package given to it is not handed to the
// first, which may be showing or writing its own: the user is told so.
TEST(SingleInstanceTest, ASecondStartEndsAndSaysAPackageGivenToItWasNotOpened) {
    struct SecondStart {
        const char* name;
        std::string package;
        int exitCode;
        std::vector<window_testing::ShownMessage> messages;
    };
    const SecondStart cases[] = {
        {"WithoutPackage", "", 0, {}},
        {"WithPackage", "/home/u/Downloads/QX2701.vfw", 1,
         {window_testing::Expected(
             {text_id::kPackageNotOpened, {"/home/u/Downloads/QX2701.vfw"}, MessageIcon::Information})}},
    };
    for (const SecondStart& c : cases) {
        SCOPED_TRACE(c.name);
        SingleInstance first(UniqueName());
        ASSERT_TRUE(first.IsFirst());
        QSignalSpy raised(&first, &SingleInstance::RaiseRequested);
        window_testing::ModalUser user;
        if (!c.messages.empty()) user.Acknowledge();
        EXPECT_EQ(RunWindow(c.package, UniqueName()), c.exitCode);
        EXPECT_EQ(user.messages, c.messages);
        for (int i = 0; i < 10 && raised.count() == 0; ++i) QCoreApplication::processEvents();
        EXPECT_EQ(raised.count(), 1);
    }
}

TEST(SingleInstanceTest, TheNameIsFreeAgainOnceTheFirstHasEnded) {
    {
        SingleInstance first(UniqueName());
        ASSERT_TRUE(first.IsFirst());
    }
    SingleInstance next(UniqueName());
    EXPECT_TRUE(next.IsFirst());
}

}  // namespace

namespace {

using window_testing::ModalUser;
using window_testing::ShownMessage;

// The window and quillon-cli share one update lock: a window started while
// another update holds it names that update and ends without opening.
TEST(WindowUpdateLockTest, AWindowStartedDuringAnotherUpdateSaysSoAndEnds) {
    std::optional<UpdateLock> other;
    other.emplace();
    ASSERT_TRUE(other->Held());
    {
        ModalUser user;
        user.Acknowledge();
        EXPECT_FALSE(LockUpdatesForWindow().has_value());
        // Named as the kernel knows the holder: here, this test binary.
        const std::string holder =
            std::string(program_invocation_short_name) + " (process " + std::to_string(getpid()) + ")";
        EXPECT_EQ(user.messages,
                  std::vector<ShownMessage>{window_testing::Expected(
                      {text_id::kUpdateRunning, {holder}, MessageIcon::Information})});
    }
    other.reset();  // that update ended
    std::optional<UpdateLock> window = LockUpdatesForWindow();
    ASSERT_TRUE(window.has_value());
    EXPECT_TRUE(window->Held());
    // ... and while the window holds it, quillon-cli's lock is refused in turn.
    const UpdateLock cli;
    EXPECT_TRUE(cli.Busy());
    EXPECT_EQ(cli.Holder().pid, getpid());
}

}  // namespace
