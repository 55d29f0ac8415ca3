#pragma once
// The container in which every package, image and backup file is stored:
//
//   offset 0  2 bytes  checksum: the encrypted payload bytes summed, negated modulo 65536
//   offset 2  N bytes  payload encrypted with the package cipher (Blowfish, ECB), N a multiple of 8
//
// Files are read in large blocks straight into the caller's buffer and
// decrypted there, so a load holds about one copy of the payload. Files are
// written to a temporary file beside the target and renamed over it, so a
// crash or power loss leaves either the old file or the new one, never a torn one.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/status.h"
#include "package/blowfish.h"

// Status codes of the container (see common/status.h), the same values as the
// package library's kPkgInvalid, kPkgCannotOpen, kPkgBadChecksum and kPkgNothingToWrite.
inline constexpr Status kContainerNoData = 0x80000001;
inline constexpr Status kContainerCannotOpen = 0x80000011;
// Also given for a file that cannot be a container at all: shorter than the
// 2-byte checksum, or with a payload that is not a whole number of blocks. Such
// a file is as damaged as one whose checksum fails, and is treated the same way.
inline constexpr Status kContainerBadChecksum = 0x80000012;
inline constexpr Status kContainerNothingToWrite = 0x80000014;

// The 37 bytes of the package key: a GUID text and its terminating zero.
inline constexpr char kPackageKeyText[] = "5D2C8A41-9E07-4B3F-B6D1-A04C72E915F8";

// Builds the package cipher. Idempotent; the cipher is also built on first use.
void InitPackageCipher();
const Blowfish& PackageCipher();

// Encrypts length bytes rounded up to whole blocks; a trailing partial block is
// padded with zero bytes. dst may equal src and must hold the rounded length.
void EncryptBlocks(const std::uint8_t* src, std::uint8_t* dst, std::size_t length);
// Decrypts ceil(length / 8) whole blocks; dst may equal src.
void DecryptBlocks(const std::uint8_t* src, std::uint8_t* dst, std::size_t length);

std::uint16_t ContainerChecksum(std::span<const std::uint8_t> bytes);

// The file's size minus 2: the length of the payload that ReadContainer delivers.
std::optional<std::uint64_t> ContainerPayloadSize(const std::string& path);

// Whether a symbolic link in the file's place is followed: a package may be
// reached through one; the backup file, which the updater writes itself, never is.
enum class FileLinks { Follow, Refuse };

// The functions below read a regular file only: a FIFO or a device in its
// place is refused (kContainerCannotOpen), never waited on. They note a failed system call as this thread's system
// failure (common/system_failure.h), with the file's path, and forget an
// earlier note as they start.

// Reads, verifies and decrypts a container whose payload is exactly payload.size()
// bytes. On failure the buffer's contents are not to be used; `fault`, when
// given, receives a one-line description of what is wrong with the file
// (without its name, which the caller knows).
Status ReadContainer(const std::string& path, std::span<std::uint8_t> payload, std::string* fault = nullptr,
                     FileLinks links = FileLinks::Follow);

// The whole payload of a container file in a buffer of its own, which parsed
// objects may share instead of copying out of it.
using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;
struct ContainerFile {
    Status status = kStatusSuccess;
    SharedBytes payload;  // set on success
    std::string fault;    // set on failure
};
ContainerFile ReadContainerFile(const std::string& path, FileLinks links = FileLinks::Follow);

// Encrypts length bytes of data (padded with zeros to whole blocks) and writes
// them as a container, replacing any file at path atomically. A missing data
// pointer or a length of 0 leaves an existing file as it was.
Status WriteContainer(const std::string& path, const std::uint8_t* data, std::size_t length);
