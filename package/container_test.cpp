#include "package/container.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>

#include "common/file_size_limit_testing.h"
#include "common/system_failure.h"
#include "package/package_testing.h"
#include "package/pkg.h"

namespace {

using namespace testing_support;

TEST(ContainerChecksum, IsTheNegatedByteSum) {
    const std::vector<std::uint8_t> ff(8, 0xFF);
    EXPECT_EQ(ContainerChecksum(ff), 0xF808);
    const std::vector<std::uint8_t> oneToEight = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ContainerChecksum(oneToEight), 0xFFDC);
    EXPECT_EQ(ContainerChecksum({}), 0);
}

TEST(ContainerChecksum, AgreesWithTheByteSumAtEveryLength) {
    // All-0xFF bytes load the summing lanes the most; other lengths cover the tails.
    for (std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
        const std::vector<std::uint8_t> bytes(3000, fill);
        std::uint32_t sum = 0;
        for (std::size_t n = 0; n <= bytes.size(); sum += bytes[n < bytes.size() ? n : 0], ++n)
            ASSERT_EQ(ContainerChecksum(std::span(bytes.data(), n)), static_cast<std::uint16_t>(0u - sum)) << n;
    }
    const auto mixed = Pattern(5000, 3);
    std::uint32_t sum = 0;
    for (auto b : mixed) sum += b;
    EXPECT_EQ(ContainerChecksum(mixed), static_cast<std::uint16_t>(0u - sum));
}

TEST(Container, ThirteenBytePayloadIsStoredAsTwoBlocks) {
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    const auto payload = Pattern(13, 1);
    WritePayload(path, payload);

    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), 18u);
    const std::vector<std::uint8_t> encrypted(file.begin() + 2, file.end());
    const std::uint16_t checksum = ContainerChecksum(encrypted);
    EXPECT_EQ(file[0], checksum & 0xFF);  // low byte first
    EXPECT_EQ(file[1], checksum >> 8);

    ASSERT_EQ(ContainerPayloadSize(path), 16u);
    std::vector<std::uint8_t> back(16, 0xAA);
    ASSERT_EQ(ReadContainer(path, back), kStatusSuccess);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), back.begin()));
    EXPECT_EQ(back[13], 0);
    EXPECT_EQ(back[14], 0);
    EXPECT_EQ(back[15], 0);
}

TEST(Container, FileHoldsTheChecksumThenTheEncryptedBlocks) {
    // The encrypted bytes of the block 01..08 under the package key, checked
    // against an independent Blowfish (OpenSSL's, with each word byte-swapped).
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    WritePayload(path, {1, 2, 3, 4, 5, 6, 7, 8});
    const std::vector<std::uint8_t> encrypted = {0x44, 0xE8, 0xBA, 0xCD, 0x5D, 0x6C, 0xC7, 0x69};
    std::vector<std::uint8_t> expected = {static_cast<std::uint8_t>(ContainerChecksum(encrypted)),
                                          static_cast<std::uint8_t>(ContainerChecksum(encrypted) >> 8)};
    expected.insert(expected.end(), encrypted.begin(), encrypted.end());
    EXPECT_EQ(ReadBytes(path), expected);
}

TEST(Container, RoundTripAcrossReadBlockBoundaries) {
    TempDir dir;
    for (std::size_t size : {std::size_t{8}, std::size_t{(1 << 20) - 3}, std::size_t{(1 << 20)}, std::size_t{3 * (1 << 20) + 13}}) {
        const std::string path = dir.File("big.vfw");
        const auto payload = Pattern(size, static_cast<std::uint8_t>(size));
        WritePayload(path, payload);
        auto back = ReadPayload(path);
        ASSERT_EQ(back.size(), (size + 7) / 8 * 8);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), back.begin())) << size;
        EXPECT_TRUE(std::all_of(back.begin() + static_cast<std::ptrdiff_t>(size), back.end(), [](auto b) { return b == 0; }));
    }
}

TEST(Container, EverySingleByteChangeFailsTheChecksum) {
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    WritePayload(path, Pattern(40, 9));
    const auto good = ReadBytes(path);
    for (std::size_t i = 0; i < good.size(); ++i) {
        auto bad = good;
        bad[i] ^= 0x01;
        WriteBytes(path, bad);
        std::vector<std::uint8_t> buffer(40);
        EXPECT_EQ(ReadContainer(path, buffer), kContainerBadChecksum) << "byte " << i;
    }
}

TEST(Container, ImpossibleLengthsAreRefusedAsDamaged) {
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* why;
    };
    const Case cases[] = {
        {{}, "empty file"},
        {{0x00}, "one byte"},
        {{0xF8, 0x08, 1, 2, 3}, "payload of 3 bytes"},
        {std::vector<std::uint8_t>(2 + 15, 0), "payload of 15 bytes"},
    };
    for (const auto& c : cases) {
        WriteBytes(path, c.bytes);
        const ContainerFile file = ReadContainerFile(path);
        EXPECT_EQ(file.status, kContainerBadChecksum) << c.why;
        EXPECT_NE(file.fault.find("truncated"), std::string::npos) << file.fault;
    }
}

TEST(Container, ABufferOfTheWrongSizeIsNotFilled) {
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    WritePayload(path, Pattern(16, 2));
    std::vector<std::uint8_t> small(8);
    EXPECT_NE(ReadContainer(path, small), kStatusSuccess);
}

TEST(Container, MissingFileCannotBeOpened) {
    TempDir dir;
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(ReadContainer(dir.File("none.vfw"), buffer), kContainerCannotOpen);
    EXPECT_EQ(ReadContainerFile(dir.File("none.vfw")).status, kContainerCannotOpen);
    EXPECT_EQ(ReadContainerFile(dir.File("")).status, kContainerCannotOpen);  // a directory
    EXPECT_FALSE(ContainerPayloadSize(dir.File("none.vfw")).has_value());
}

// A package may be reached through a link; what the link leads to must still be a regular file.
TEST(Container, ALinkIsFollowedUnlessRefused) {
    TempDir dir;
    const auto payload = Pattern(24, 5);
    WritePayload(dir.File("p.vfw"), payload);
    std::filesystem::create_symlink("p.vfw", dir.File("link.vfw"));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);  // a blocking open would hang: see above
    std::filesystem::create_symlink("fifo", dir.File("fifo-link.vfw"));

    const ContainerFile followed = ReadContainerFile(dir.File("link.vfw"));
    ASSERT_EQ(followed.status, kStatusSuccess) << followed.fault;
    EXPECT_EQ(*followed.payload, payload);
    std::vector<std::uint8_t> buffer(payload.size());
    EXPECT_EQ(ReadContainer(dir.File("link.vfw"), buffer), kStatusSuccess);
    EXPECT_EQ(ReadContainer(dir.File("link.vfw"), buffer, nullptr, FileLinks::Refuse), kContainerCannotOpen);
    EXPECT_EQ(ReadContainerFile(dir.File("link.vfw"), FileLinks::Refuse).status, kContainerCannotOpen);
    EXPECT_EQ(ReadContainerFile(dir.File("p.vfw"), FileLinks::Refuse).status, kStatusSuccess);

    const ContainerFile fifo = ReadContainerFile(dir.File("fifo-link.vfw"));
    EXPECT_EQ(fifo.status, kContainerCannotOpen);
    EXPECT_EQ(fifo.fault, "cannot be read: a FIFO, not a regular file");
}

TEST(WriteContainer, NothingToWriteLeavesTheFileAlone) {
    TempDir dir;
    const std::string path = dir.File("p.vfw");
    WritePayload(path, Pattern(8, 3));
    const auto before = ReadBytes(path);
    const std::uint8_t byte = 1;
    EXPECT_EQ(WriteContainer(path, nullptr, 8), kContainerNoData);
    EXPECT_EQ(WriteContainer(path, &byte, 0), kContainerNothingToWrite);
    EXPECT_EQ(ReadBytes(path), before);
}

TEST(WriteContainer, ReplacesTheFileAndLeavesNoTemporaryFiles) {
    TempDir dir;
    const std::string path = dir.File(".backup");
    WritePayload(path, Pattern(64, 4));
    WritePayload(path, Pattern(24, 5));
    EXPECT_EQ(ReadPayload(path), Pattern(24, 5));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{".backup"});
}

TEST(WriteContainer, AnUnwritableDirectoryIsReported) {
    TempDir dir;
    const auto payload = Pattern(8, 6);
    EXPECT_EQ(WriteContainer(dir.File("missing/p.vfw"), payload.data(), payload.size()), kContainerCannotOpen);
}

// A write that fails half-way (here: the file size limit is reached) must keep
// the old file whole and remove its partial replacement.
TEST(WriteContainer, AFailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File(".backup");
    WritePayload(path, Pattern(1000, 7));
    const auto before = ReadBytes(path);

    const auto big = Pattern(3 << 20, 8);
    Status status;
    {
        ScopedFileSizeLimit limit(4096);
        status = WriteContainer(path, big.data(), big.size());
    }

    EXPECT_EQ(status, kContainerCannotOpen);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{".backup"});
}

// A failed call leaves the call and the file's path for the message that
// reports the status; a failure that no call made (a damaged file) leaves
// nothing, not even a cause noted before.
TEST(Container, FailedCallsAreNotedWithTheFilesPath) {
    TempDir dir;
    const auto payload = Pattern(16, 9);
    const std::string missing = dir.File("none.vfw");
    const std::string inMissingDirectory = dir.File("missing/p.vfw");
    const std::string directory = dir.File("d");
    std::filesystem::create_directory(directory);
    const std::string damaged = dir.File("damaged.vfw");
    WriteBytes(damaged, {1, 2, 3});
    // Opening a FIFO for reading waits for a writer: were it opened so, these
    // calls would never return and the test would hang (ctest --timeout ends it).
    const std::string fifo = dir.File("fifo.vfw");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir.File("link.backup");
    WritePayload(dir.File("good.backup"), Pattern(16, 3));
    std::filesystem::create_symlink("good.backup", link);
    std::vector<std::uint8_t> buffer(16);
    const struct {
        const char* name;
        std::function<Status()> call;
        Status status;
        std::optional<SystemFailure> cause;
    } cases[] = {
        {"read a missing file", [&] { return ReadContainer(missing, buffer); }, kContainerCannotOpen,
         SystemFailure{"cannot open " + missing, ENOENT}},
        {"load a missing package", [&] {
             PackageHandle handle = kNoPackageHandle;
             return PkgLoadFile(missing.c_str(), &handle);
         },
         kPkgCannotOpen, SystemFailure{"cannot open " + missing, ENOENT}},
        {"write into a missing directory", [&] { return WriteContainer(inMissingDirectory, payload.data(), payload.size()); },
         kContainerCannotOpen, SystemFailure{"cannot create a file beside " + inMissingDirectory, ENOENT}},
        {"write over a directory", [&] { return WriteContainer(directory, payload.data(), payload.size()); },
         kContainerCannotOpen, SystemFailure{"cannot replace " + directory, EISDIR}},
        {"read a damaged file", [&] { return ReadContainerFile(damaged).status; }, kContainerBadChecksum, std::nullopt},
        {"read a directory", [&] { return ReadContainerFile(directory).status; }, kContainerCannotOpen,
         SystemFailure{"cannot read " + directory + " (a directory, not a regular file)", EISDIR}},
        {"read a FIFO", [&] { return ReadContainer(fifo, buffer); }, kContainerCannotOpen,
         SystemFailure{"cannot read " + fifo + " (a FIFO, not a regular file)", EINVAL}},
        {"load a FIFO", [&] {
             PackageHandle handle = kNoPackageHandle;
             return PkgLoadFile(fifo.c_str(), &handle);
         },
         kPkgCannotOpen, SystemFailure{"cannot read " + fifo + " (a FIFO, not a regular file)", EINVAL}},
        {"load a backup file through a link", [&] {
             PackageHandle handle = kNoPackageHandle;
             return PkgLoadFile(link.c_str(), &handle, FileLinks::Refuse);
         },
         kPkgCannotOpen, SystemFailure{"cannot open " + link + " (a symbolic link is not followed)", ELOOP}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoteSystemFailure("an earlier failure", EIO);
        EXPECT_EQ(c.call(), c.status);
        EXPECT_EQ(TakeSystemFailure(), c.cause);
    }
}

}  // namespace
