#include "common/system_failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace {

TEST(SystemFailure, TextIsTheOperationAndTheErrnoText) {
    EXPECT_EQ((SystemFailure{"HIDIOCSFEATURE /dev/hidraw3", EIO}.Text()), "HIDIOCSFEATURE /dev/hidraw3: Input/output error");
    EXPECT_EQ((SystemFailure{"connect /run/user/1000/Scanvell", ENOENT}.Text()),
              "connect /run/user/1000/Scanvell: No such file or directory");
}

TEST(SystemFailure, IsTakenOnceAndTheLatestNoteWins) {
    ClearSystemFailure();
    EXPECT_EQ(TakeSystemFailure(), std::nullopt);
    NoteSystemFailure("open /dev/hidraw1", EACCES);
    NoteSystemFailure("open /dev/hidraw2", ENOENT);
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"open /dev/hidraw2", ENOENT}));
    EXPECT_EQ(TakeSystemFailure(), std::nullopt);

    NoteSystemFailure("open /dev/hidraw1", EACCES);
    ClearSystemFailure();
    EXPECT_EQ(TakeSystemFailure(), std::nullopt);
}

// A worker's failure must not become the cause of a status on another thread,
// nor be lost to it: each thread takes its own.
TEST(SystemFailure, EachThreadKeepsItsOwn) {
    ClearSystemFailure();
    NoteSystemFailure("cannot write /tmp/.backup", ENOSPC);
    std::optional<SystemFailure> before, worker;
    std::thread([&] {
        before = TakeSystemFailure();
        NoteSystemFailure("HIDIOCGFEATURE /dev/hidraw3", ENODEV);
        worker = TakeSystemFailure();
    }).join();
    EXPECT_EQ(before, std::nullopt);
    EXPECT_EQ(worker, (SystemFailure{"HIDIOCGFEATURE /dev/hidraw3", ENODEV}));
    EXPECT_EQ(TakeSystemFailure(), (SystemFailure{"cannot write /tmp/.backup", ENOSPC}));
}

}  // namespace
