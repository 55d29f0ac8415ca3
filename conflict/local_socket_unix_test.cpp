#include "conflict/local_socket_unix.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <vector>

#include "common/clock.h"
#include "common/system_failure.h"

namespace {

// A listening socket in a temporary directory that QUILLON_PIPE_DIR points to.
class LocalSocketTest : public ::testing::Test {
protected:
    LocalSocketTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pipes-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        setenv("QUILLON_PIPE_DIR", dir_.c_str(), 1);
    }
    ~LocalSocketTest() override {
        unsetenv("QUILLON_PIPE_DIR");
        std::filesystem::remove_all(dir_);
    }

    UniqueFd Listen(const std::string& name, int backlog = 4) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = dir_ + "/" + name;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(fd.get(), backlog), 0);
        return fd;
    }

    std::string dir_;
};

TEST_F(LocalSocketTest, PathIsThePartAfterTheLastSlash) {
    EXPECT_EQ(LocalPipePath("Tintorra 7"), dir_ + "/Tintorra 7");
    EXPECT_EQ(LocalPipePath("a/b/Scanvell"), dir_ + "/Scanvell");
    unsetenv("QUILLON_PIPE_DIR");
    setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
    EXPECT_EQ(LocalPipePath("Scanvell"), "/run/user/1000/Scanvell");
}

TEST_F(LocalSocketTest, ConnectWriteReadAndWait) {
    const UniqueFd listener = Listen("Scanvell");
    LocalSocketUnix client("Scanvell");
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.BytesAvailable(), -1);
    ASSERT_TRUE(client.Connect());
    EXPECT_FALSE(client.Connect());  // already open: refused, and the connection stays
    EXPECT_TRUE(client.IsOpen());
    const UniqueFd peer(accept(listener.get(), nullptr, nullptr));

    EXPECT_TRUE(client.Write("", 0));
    EXPECT_TRUE(client.Write("hello", 5));
    char got[5];
    ASSERT_EQ(read(peer.get(), got, 5), 5);
    EXPECT_EQ(std::string(got, 5), "hello");

    VirtualClock clock;
    ScopedClock installed(clock);
    bool timedOut = false;
    EXPECT_FALSE(client.WaitForData(0, &timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_FALSE(client.WaitForData(25, &timedOut));
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(clock.NowMs(), 25u);  // polled every millisecond of the timeout

    ASSERT_EQ(write(peer.get(), "abc", 3), 3);
    EXPECT_TRUE(client.WaitForData(-1, &timedOut));
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(client.BytesAvailable(), 3);
    char back[3];
    ASSERT_TRUE(client.Read(back, 3));
    EXPECT_EQ(std::string(back, 3), "abc");
}

TEST_F(LocalSocketTest, APeerThatLeftClosesTheConnection) {
    const UniqueFd listener = Listen("Tintorra 7");
    LocalSocketUnix client("Tintorra 7");
    ASSERT_TRUE(client.Connect());
    close(accept(listener.get(), nullptr, nullptr));
    char byte;
    EXPECT_FALSE(client.Read(&byte, 1));
    EXPECT_FALSE(client.IsOpen());

    ASSERT_TRUE(client.Connect());
    close(accept(listener.get(), nullptr, nullptr));
    EXPECT_FALSE(client.Write("x", 1));  // the peer is gone: EPIPE, without a signal
    EXPECT_FALSE(client.IsOpen());
}

// A receiver that never accepts, with its backlog full, must not hold the
// update thread: the connect gives up after 1 s of the clock's time.
TEST_F(LocalSocketTest, AReceiverThatNeverAcceptsIsGivenUpAfterOneSecond) {
    const UniqueFd listener = Listen("busy", 0);
    std::vector<UniqueFd> queued;  // fill the backlog until a connect would block
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir_ + "/busy";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (bool full = false; !full && queued.size() < 64;) {
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
        full = connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
        ASSERT_TRUE(!full || errno == EAGAIN) << std::strerror(errno);
        if (!full) queued.push_back(std::move(fd));
    }

    VirtualClock clock;
    ScopedClock installed(clock);
    LocalSocketUnix client("busy");
    auto connected = std::async(std::launch::async, [&client] {
        const bool result = client.Connect();
        return std::make_pair(result, TakeSystemFailure());
    });
    // A watchdog only: a connect that blocks is let go by accepting, so the test fails instead of hanging.
    if (connected.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the connect blocks";
        while (connected.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
            close(accept(listener.get(), nullptr, nullptr));
    }
    const auto [result, failure] = connected.get();
    EXPECT_FALSE(result);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(failure, (SystemFailure{"connect " + path, EAGAIN}));
    EXPECT_EQ(clock.NowMs(), 1000u);
}

TEST_F(LocalSocketTest, NothingListening) {
    LocalSocketUnix client("nobody");
    EXPECT_FALSE(client.Connect());
    EXPECT_FALSE(client.IsOpen());
    EXPECT_FALSE(client.Write("x", 1));
    EXPECT_FALSE(client.WaitForData(10));
}

// A quit request that cannot be delivered leaves the call and the pipe's path.
TEST_F(LocalSocketTest, FailedCallsAreNotedWithThePipesPath) {
    const struct {
        const char* name;
        std::function<bool(LocalSocketUnix&, UniqueFd& listener)> attempt;
        SystemFailure cause;
    } cases[] = {
        {"nothing at the path", [](LocalSocketUnix& client, UniqueFd&) { return client.Connect(); },
         {"connect " + dir_ + "/pipe", ENOENT}},
        {"nobody listens any more", [this](LocalSocketUnix& client, UniqueFd& listener) {
             listener = Listen("pipe");
             listener.Close();
             return client.Connect();
         },
         {"connect " + dir_ + "/pipe", ECONNREFUSED}},
        {"the peer has left", [this](LocalSocketUnix& client, UniqueFd& listener) {
             listener = Listen("pipe");
             if (!client.Connect()) return true;
             close(accept(listener.get(), nullptr, nullptr));
             return client.Write("x", 1);
         },
         {"send " + dir_ + "/pipe", EPIPE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_ + "/pipe");
        LocalSocketUnix client("pipe");
        UniqueFd listener;
        EXPECT_FALSE(c.attempt(client, listener));
        EXPECT_EQ(TakeSystemFailure(), c.cause);
    }
}

}  // namespace
