#pragma once
// A monitor's identity: its model name and serial number, compared by one rule
// wherever a monitor is recognised (the list, the selection, the backup record,
// reconnecting after a restart, resuming, --monitor and the run log).
//
// The monitor keeps its serial number in a field of 8 bytes and pads a shorter
// one with zero bytes. The serial number is the text before the first zero
// byte, so the same monitor compares equal whether its identity was read from
// the monitor, from the backup record or from a command line.
#include <string>
#include <string_view>

struct MonitorIdentity {
    std::string model;
    std::string serial;  // never holds a zero byte

    // From the identity block's fields as the monitor sends them.
    static MonitorIdentity FromFields(std::string_view model, std::string_view serialField) {
        return {std::string(model.substr(0, model.find('\0'))),
                std::string(serialField.substr(0, serialField.find('\0')))};
    }
    // Whether it names a monitor: one whose identity cannot be read names none.
    bool Known() const { return !model.empty() && !serial.empty(); }

    bool operator==(const MonitorIdentity&) const = default;
};
