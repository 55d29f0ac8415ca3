#include "emulator/monitor_state.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/atomic_file.h"
#include "common/bytes.h"
#include "common/crc32.h"

// File layout, little-endian: magic, mode u8, boot selector u8, setting count
// u32 and per setting page u16, usage u16, length u16, bytes; 256 indexed
// settings u32; five components as length u32 and bytes; CRC-32 of all before.
namespace {

constexpr std::string_view kMagic = "QMEMUST1";

class Writer {
public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U16(std::uint16_t v) { U8(static_cast<std::uint8_t>(v)); U8(static_cast<std::uint8_t>(v >> 8)); }
    void U32(std::uint32_t v) { U16(static_cast<std::uint16_t>(v)); U16(static_cast<std::uint16_t>(v >> 16)); }
    void Bytes(const std::vector<std::uint8_t>& v) { bytes.insert(bytes.end(), v.begin(), v.end()); }
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool Has(std::size_t n) const { return bytes_.size() - at_ >= n; }
    std::uint8_t U8() { return bytes_[at_++]; }
    std::uint16_t U16() { auto v = ReadU16(bytes_, at_); at_ += 2; return v; }
    std::uint32_t U32() { auto v = ReadU32(bytes_, at_); at_ += 4; return v; }
    std::vector<std::uint8_t> Bytes(std::size_t n) {
        std::vector<std::uint8_t> v(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                                    bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return v;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

}  // namespace

std::vector<std::uint8_t> SerializeState(const MonitorState& state) {
    Writer w;
    w.bytes.assign(kMagic.begin(), kMagic.end());
    w.U8(static_cast<std::uint8_t>(state.mode));
    w.U8(state.bootSelector);
    w.U32(static_cast<std::uint32_t>(state.settings.size()));
    for (const auto& [address, value] : state.settings) {
        w.U16(address.page);
        w.U16(address.usage);
        w.U16(static_cast<std::uint16_t>(value.size()));
        w.Bytes(value);
    }
    for (std::uint32_t value : state.indexedSettings) w.U32(value);
    for (const auto& component : state.components) {
        w.U32(static_cast<std::uint32_t>(component.size()));
        w.Bytes(component);
    }
    w.U32(Crc32(w.bytes));
    return std::move(w.bytes);
}

std::optional<MonitorState> DeserializeState(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kMagic.size() + 4 || std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> body(bytes.data(), bytes.size() - 4);
    if (Crc32(body) != ReadU32(bytes, bytes.size() - 4)) return std::nullopt;

    Reader r(body.subspan(kMagic.size()));
    MonitorState state;
    if (!r.Has(6)) return std::nullopt;
    const std::uint8_t mode = r.U8();
    if (mode > static_cast<std::uint8_t>(MonitorMode::Stopped)) return std::nullopt;
    state.mode = static_cast<MonitorMode>(mode);
    state.bootSelector = r.U8();
    for (std::uint32_t n = r.U32(); n > 0; --n) {
        if (!r.Has(6)) return std::nullopt;
        const UsageAddress address{r.U16(), r.U16()};
        const std::uint16_t length = r.U16();
        if (!r.Has(length)) return std::nullopt;
        state.settings[address] = r.Bytes(length);
    }
    if (!r.Has(4 * state.indexedSettings.size())) return std::nullopt;
    for (auto& value : state.indexedSettings) value = r.U32();
    for (auto& component : state.components) {
        if (!r.Has(4)) return std::nullopt;
        const std::uint32_t length = r.U32();
        if (!r.Has(length)) return std::nullopt;
        component = r.Bytes(length);
    }
    if (!r.AtEnd()) return std::nullopt;
    return state;
}

bool SaveStateFile(const std::string& path, const MonitorState& state, std::string* fault) {
    return WriteFileAtomically(path, SerializeState(state), fault);
}

std::optional<MonitorState> LoadStateFile(const std::string& path, std::string* fault) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno != ENOENT && fault != nullptr) *fault = std::string("cannot open: ") + std::strerror(errno);
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto state = DeserializeState(bytes);
    if (!state && fault != nullptr) *fault = "not an emulator state file, or damaged";
    return state;
}
