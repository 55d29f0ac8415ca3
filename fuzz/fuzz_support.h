#pragma once
// Shared by the fuzz targets: reading the fuzzer's bytes as a small stream,
// a scratch directory per process, and containers built around a payload so
// that the fuzzer reaches the payload parsers without guessing a checksum.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fuzz_support {

// Takes bytes off the front of the input; what is asked past the end reads as zero.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(U8() | U8() << 8); }
    // Up to `count` bytes, fewer at the end of the input.
    std::span<const std::uint8_t> Take(std::size_t count);
    std::span<const std::uint8_t> Rest() { return Take(bytes_.size()); }
    bool Empty() const { return pos_ >= bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// A directory of this process's own, removed at exit.
const std::string& ScratchDir();
// Replaces the file `name` in the scratch directory with `bytes` and returns its path.
std::string WriteScratchFile(const std::string& name, std::span<const std::uint8_t> bytes);

// A whole container file holding `payload`: the checksum, then the payload
// padded to whole blocks and encrypted.
std::vector<std::uint8_t> ContainerAround(std::span<const std::uint8_t> payload);

// The first byte of a file target's input says how the rest is used: with its
// low bit clear the rest is a payload wrapped in a valid container, with it set
// the rest is the file as it is (the container's own checks).
inline constexpr std::uint8_t kRawFileBit = 0x01;
std::vector<std::uint8_t> FileBytes(std::uint8_t mode, std::span<const std::uint8_t> rest);

}  // namespace fuzz_support
