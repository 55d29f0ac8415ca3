#include "tools/monitor-emulator/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <set>

#include "common/command_line_options.h"
#include "common/display_text.h"

const char* const kUsage =
    "usage: monitor-emulator (--dir DIR | --uhid | --usbip) MONITOR...\n"
    "  MONITOR: [--kind older-native|older-tunnel|combined-tunnel] [--serial 1-8BYTES] [--model 1-24BYTES]\n"
    "           [--firmware-version 25DIGITS] [--state FILE] [--restart-seconds N] [--log FILE]\n"
    "           [--legacy-settings] [--transfer-time US,US] [--area-scale N] [--fault FAULT]...\n"
    "  Each --kind after the first starts another monitor. --uhid serves them through /dev/uhid,\n"
    "  --usbip as USB devices on vhci_hcd (root and the vhci-hcd module). In --serial and --model,\n"
    "  \\xNN is the byte NN and \\\\ a backslash; the lengths count the bytes so given.\n"
    "       monitor-emulator image --component ID --version N [--length BYTES] -o FILE\n"
    "  Options take their value as the next argument or after '=' (-o also attached: -oFILE),\n"
    "  and are spelled whole; \"--\" ends them.\n";

namespace {

// Every option may be given more than once as far as reading goes: --kind starts
// another monitor, --fault adds up, and the others are checked per monitor.
constexpr OptionRule kServeOptions[] = {
    {.name = "--dir", .repeatable = true},
    {.name = "--uhid", .takesValue = false, .repeatable = true},
    {.name = "--usbip", .takesValue = false, .repeatable = true},
    {.name = "--kind", .repeatable = true},
    {.name = "--serial", .repeatable = true},
    {.name = "--model", .repeatable = true},
    {.name = "--firmware-version", .repeatable = true},
    {.name = "--state", .repeatable = true},
    {.name = "--restart-seconds", .repeatable = true},
    {.name = "--log", .repeatable = true},
    {.name = "--legacy-settings", .takesValue = false, .repeatable = true},
    {.name = "--transfer-time", .repeatable = true},
    {.name = "--area-scale", .repeatable = true},
    {.name = "--fault", .repeatable = true},
};
constexpr OptionRule kImageOptions[] = {
    {.name = "--component", .repeatable = true},
    {.name = "--version", .repeatable = true},
    {.name = "--length", .repeatable = true},
    {.name = "-o", .repeatable = true},
};
// Both, so that the options may stand before "image" too.
constexpr auto kAllOptions = [] {
    std::array<OptionRule, std::size(kServeOptions) + std::size(kImageOptions)> all{};
    std::copy(std::begin(kServeOptions), std::end(kServeOptions), all.begin());
    std::copy(std::begin(kImageOptions), std::end(kImageOptions), all.begin() + std::size(kServeOptions));
    return all;
}();

template <typename T>
bool ParseNumber(const std::string& text, T& value, T max) {
    std::uint64_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || parsed > max) return false;
    value = static_cast<T>(parsed);
    return true;
}

std::optional<MonitorKind> ParseKind(const std::string& text) {
    if (text == "older-native") return MonitorKind::OlderNative;
    if (text == "older-tunnel") return MonitorKind::OlderTunnel;
    if (text == "combined-tunnel") return MonitorKind::CombinedTunnel;
    return std::nullopt;
}

std::string DefaultModel(MonitorKind kind) {
    switch (kind) {
    case MonitorKind::OlderNative: return "QN24-EMU";
    case MonitorKind::OlderTunnel: return "QT24-EMU";
    case MonitorKind::CombinedTunnel: return "QC27-EMU";
    }
    return {};
}

// The model name fills the identity block after the serial number's field.
constexpr std::size_t kModelBytes = kIdentityBytes - kSerialFieldBytes;
constexpr const char* kIdentityRule = " without spaces or zero bytes (\\xNN for the byte NN, \\\\ for a backslash)";

// An identity field's bytes from its option value, for `--model` and `--serial`:
// "\xNN" is the byte NN and "\\" a backslash, so that any byte can be given. A zero
// byte or a space would end the field where the host reads it, so neither is taken.
std::optional<std::string> IdentityBytes(const std::string& text, std::size_t maxBytes) {
    std::optional<std::string> bytes = BytesOfDisplayText(text);
    if (!bytes || bytes->empty() || bytes->size() > maxBytes) return std::nullopt;
    if (bytes->find_first_of(std::string_view("\0 ", 2)) != std::string::npos) return std::nullopt;
    return bytes;
}

struct Group {
    MonitorOptions options;
    std::set<std::string> seen;
};

std::optional<ImageOptions> ParseImage(const ParsedArguments& parsed, std::string& error) {
    ImageOptions image;
    bool hasVersion = false;
    for (const auto& [option, value] : parsed.options) {
        if (option == "--component") {
            image.component = value;
        } else if (option == "--version") {
            if (!ParseNumber<std::uint16_t>(value, image.version, 0xFFFF)) {
                error = "--version takes a number up to 65535";
                return std::nullopt;
            }
            hasVersion = true;
        } else if (option == "--length") {
            std::size_t length = 0;
            if (!ParseNumber<std::size_t>(value, length, 1 << 24)) {
                error = "--length takes a byte count";
                return std::nullopt;
            }
            image.length = length;
        } else if (option == "-o") {
            image.output = value;
        }
    }
    if (!FindComponentArea(image.component) || !hasVersion || image.output.empty()) {
        error = "image needs --component PRG000|PRG001|AIC653|INP027|AIC904, --version and -o";
        return std::nullopt;
    }
    return image;
}

}  // namespace

bool ParseFault(const std::string& text, FaultPlan& faults) {
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    std::optional<std::uint32_t> count;
    if (equals != std::string::npos) {
        std::uint32_t parsed = 0;
        if (!ParseNumber<std::uint32_t>(text.substr(equals + 1), parsed, FaultPlan::kAlways - 1) || parsed == 0) {
            return false;
        }
        count = parsed;
    }
    const std::map<std::string, std::uint32_t FaultPlan::*> counted{
        {"calibrating", &FaultPlan::calibratingReads}, {"busy", &FaultPlan::busyReads},
        {"tunnel-mismatch", &FaultPlan::mismatchedReplies}, {"chunk-offset", &FaultPlan::wrongChunkOffsets},
        {"crc-busy", &FaultPlan::crcBusyPolls}, {"wrong-crc", &FaultPlan::wrongCrcs},
        {"corrupt-write", &FaultPlan::corruptWrites},
    };
    if (const auto it = counted.find(name); it != counted.end()) {
        // Without a count: a calibrating lock stays so; the others happen once.
        faults.*(it->second) = count.value_or(name == "calibrating" ? FaultPlan::kAlways : 1);
        return true;
    }
    if (name == "unplug-at" && count) {
        faults.unplugAtTransfer = *count;
        return true;
    }
    if (name == "unplug-after" && count) {
        faults.unplugAfterTransfer = *count;
        return true;
    }
    if (count) return false;
    if (name == "no-return") {
        faults.noReturn = true;
        return true;
    }
    if (name == "foreign-owner") {
        faults.foreignOwner = true;
        return true;
    }
    return false;
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
    CommandLine line;
    const auto fail = [&](const std::string& message) {
        error = message;
        return std::nullopt;
    };
    const ParsedArguments parsed = ParseArguments(args, kAllOptions);
    if (parsed.fault) return fail(parsed.fault->Text());
    if (parsed.help) {
        line.help = true;
        return line;
    }
    const bool image = !parsed.operands.empty() && parsed.operands[0] == "image";
    const std::size_t operands = image ? 1 : 0;
    if (parsed.operands.size() > operands) return fail("unexpected argument " + parsed.operands[operands]);
    const auto taken = image ? std::span<const OptionRule>(kImageOptions) : std::span<const OptionRule>(kServeOptions);
    if (const auto fault = CheckOptions(parsed, taken)) return fail(fault->Text());
    if (image) {
        line.image = ParseImage(parsed, error);
        if (!line.image) return std::nullopt;
        return line;
    }
    ServeOptions serve;
    std::vector<Group> groups(1);
    for (const auto& [arg, value] : parsed.options) {
        if (arg == "--uhid") {
            serve.uhid = true;
            continue;
        }
        if (arg == "--usbip") {
            serve.usbip = true;
            continue;
        }
        if (arg == "--legacy-settings") {
            groups.back().options.config.legacySettings = true;
            continue;
        }
        if (arg == "--dir") {
            serve.dir = value;
            continue;
        }
        if (arg == "--kind" && groups.back().seen.count("--kind") != 0) groups.emplace_back();
        Group& group = groups.back();
        MonitorConfig& config = group.options.config;
        if (arg != "--fault" && !group.seen.insert(arg).second) {
            return fail(arg + " given twice for one monitor (each --kind starts another monitor)");
        }
        if (arg == "--kind") {
            const auto kind = ParseKind(value);
            if (!kind) return fail("unknown kind " + value);
            config.kind = *kind;
        } else if (arg == "--serial") {
            // A serial number shorter than its field is padded with zero bytes, as some monitors do.
            const auto serial = IdentityBytes(value, kSerialFieldBytes);
            if (!serial) return fail(std::string("--serial takes 1 to 8 bytes") + kIdentityRule);
            config.serial = *serial;
        } else if (arg == "--model") {
            const auto model = IdentityBytes(value, kModelBytes);
            if (!model) return fail(std::string("--model takes 1 to 24 bytes") + kIdentityRule);
            config.model = *model;
        } else if (arg == "--firmware-version") {
            const auto fields = ParseVersionText(value);
            if (!fields) return fail("--firmware-version takes five fields of five digits, each at most 65535");
            config.firmware = *fields;
        } else if (arg == "--state") {
            config.statePath = value;
        } else if (arg == "--restart-seconds") {
            std::uint32_t seconds = 0;
            if (!ParseNumber<std::uint32_t>(value, seconds, 86400)) return fail("--restart-seconds takes 0 to 86400");
            config.restartMs = seconds * 1000;
        } else if (arg == "--log") {
            group.options.logPath = value;
        } else if (arg == "--transfer-time") {
            const auto comma = value.find(',');
            if (comma == std::string::npos ||
                !ParseNumber<std::uint32_t>(value.substr(0, comma), config.transferTime.perTransferUs, 1000000) ||
                !ParseNumber<std::uint32_t>(value.substr(comma + 1), config.transferTime.perPacketUs, 1000000)) {
                return fail("--transfer-time takes PER_TRANSFER_US,PER_PACKET_US");
            }
        } else if (arg == "--area-scale") {
            // The monitor refuses a scale that takes a block count past 16 bits.
            if (!ParseNumber<std::uint32_t>(value, config.areaScale, 4096) || config.areaScale == 0)
                return fail("--area-scale takes 1 to 4096");
        } else if (arg == "--fault") {
            if (!ParseFault(value, config.faults)) return fail("unknown fault " + value);
        }
    }
    if (serve.uhid && serve.usbip) return fail("--uhid and --usbip exclude each other");
    if (serve.dir.empty() && !serve.uhid && !serve.usbip) return fail("--dir is required (or --uhid or --usbip)");

    std::set<std::string> serials, states;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        MonitorOptions& monitor = groups[g].options;
        if (groups[g].seen.count("--serial") == 0) {
            const std::string number = std::to_string(g + 1);
            monitor.config.serial = "EMU" + std::string(5 - std::min<std::size_t>(5, number.size()), '0') + number;
        }
        if (groups[g].seen.count("--model") == 0) monitor.config.model = DefaultModel(monitor.config.kind);
        if (!serials.insert(monitor.config.serial).second) return fail("serial " + monitor.config.serial + " used twice");
        if (!monitor.config.statePath.empty() && !states.insert(monitor.config.statePath).second) {
            return fail("state file " + monitor.config.statePath + " used by two monitors");
        }
        serve.monitors.push_back(std::move(monitor));
    }
    line.serve = std::move(serve);
    return line;
}
