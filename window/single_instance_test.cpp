// One updater at a time: a second start asks the first to come to the front.
#include "window/single_instance.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <unistd.h>

#include "window/window_testing.h"

namespace {

QString UniqueName() { return QStringLiteral("Quillon Updater test %1").arg(getpid()); }

TEST(SingleInstanceTest, ALaterStartAsksTheFirstToComeToTheFront) {
    SingleInstance first(UniqueName());
    ASSERT_TRUE(first.IsFirst());
    QSignalSpy raised(&first, &SingleInstance::RaiseRequested);

    {
        SingleInstance second(UniqueName());
        EXPECT_FALSE(second.IsFirst());
    }
    // The connection is made by now; the first sees it in its event loop.
    for (int i = 0; i < 10 && raised.count() == 0; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(raised.count(), 1);
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
