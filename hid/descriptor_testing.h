#pragma once
// Report descriptors for tests, written out byte by byte. The bracketed notes
// give each field's report ID and bits (counted from the bit after the report
// ID byte), worked out by hand.
#include <cstdint>
#include <vector>

namespace descriptor_fixtures {

// A deterministic byte source for hostile-input tests, so that failures reproduce.
inline std::vector<std::uint8_t> Noise(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// The boot keyboard: modifier bits, a reserved byte and six key-code slots in;
// five LED bits and padding out. No report IDs.
inline const std::vector<std::uint8_t> kBootKeyboard = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x06,  // Usage (Keyboard)
    0xA1, 0x01,  // Collection (Application)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0xE0,  //   Usage Minimum (Left Control)
    0x29, 0xE7,  //   Usage Maximum (Right GUI)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x01,  //   Logical Maximum (1)
    0x75, 0x01,  //   Report Size (1)
    0x95, 0x08,  //   Report Count (8)
    0x81, 0x02,  //   Input (Data, Variable, Absolute): modifiers            [input 0: bits 0..7]
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x08,  //   Report Size (8)
    0x81, 0x01,  //   Input (Constant): reserved byte                         [input 0: bits 8..15]
    0x95, 0x05,  //   Report Count (5)
    0x75, 0x01,  //   Report Size (1)
    0x05, 0x08,  //   Usage Page (LEDs)
    0x19, 0x01,  //   Usage Minimum (Num Lock)
    0x29, 0x05,  //   Usage Maximum (Kana)
    0x91, 0x02,  //   Output (Data, Variable, Absolute): LEDs                 [output 0: bits 0..4]
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x03,  //   Report Size (3)
    0x91, 0x01,  //   Output (Constant): padding                              [output 0: bits 5..7]
    0x95, 0x06,  //   Report Count (6)
    0x75, 0x08,  //   Report Size (8)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x65,  //   Logical Maximum (101)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0x00,  //   Usage Minimum (0)
    0x29, 0x65,  //   Usage Maximum (101)
    0x81, 0x00,  //   Input (Data, Array): six key-code slots                 [input 0: bits 16..63]
    0xC0,        // End Collection
};

// A wheel mouse with report IDs: buttons and relative axes in report 1 inside
// a Physical collection, a resolution multiplier (with a physical range) in
// feature report 2 inside a Logical collection.
inline const std::vector<std::uint8_t> kMouseWithReportIds = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x02,        // Usage (Mouse)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    0x09, 0x01,        //   Usage (Pointer)
    0xA1, 0x00,        //   Collection (Physical)                               [link collection 1]
    0x05, 0x09,        //     Usage Page (Button)
    0x19, 0x01,        //     Usage Minimum (1)
    0x29, 0x03,        //     Usage Maximum (3)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x95, 0x03,        //     Report Count (3)
    0x75, 0x01,        //     Report Size (1)
    0x81, 0x02,        //     Input (Data, Variable, Absolute): buttons         [input 1: bits 0..2]
    0x95, 0x01,        //     Report Count (1)
    0x75, 0x05,        //     Report Size (5)
    0x81, 0x03,        //     Input (Constant, Variable): padding               [input 1: bits 3..7]
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    0x09, 0x38,        //     Usage (Wheel)
    0x15, 0x81,        //     Logical Minimum (-127)
    0x25, 0x7F,        //     Logical Maximum (127)
    0x75, 0x08,        //     Report Size (8)
    0x95, 0x03,        //     Report Count (3)
    0x81, 0x06,        //     Input (Data, Variable, Relative): X, Y, Wheel     [input 1: bits 8..15, 16..23, 24..31]
    0xC0,              //   End Collection
    0x85, 0x02,        //   Report ID (2)
    0x09, 0x48,        //   Usage (Resolution Multiplier)
    0xA1, 0x02,        //   Collection (Logical)                                [link collection 2]
    0x09, 0x48,        //     Usage (Resolution Multiplier)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x35, 0x01,        //     Physical Minimum (1)
    0x45, 0x04,        //     Physical Maximum (4)
    0x75, 0x02,        //     Report Size (2)
    0x95, 0x01,        //     Report Count (1)
    0xB1, 0x02,        //     Feature (Data, Variable, Absolute)                [feature 2: bits 0..1]
    0x35, 0x00,        //     Physical Minimum (0)
    0x45, 0x00,        //     Physical Maximum (0)
    0x75, 0x06,        //     Report Size (6)
    0xB1, 0x03,        //     Feature (Constant): padding                       [feature 2: bits 2..7]
    0xC0,              //   End Collection
    0xC0,              // End Collection
};

// A vendor page without report IDs: a value array, a usage range of values,
// several usages in one main item (the last one taking the rest as an array),
// signed values with a physical range, buttons, and a range cut short by its
// Report Count.
inline const std::vector<std::uint8_t> kVendorArraysAndRanges = {
    0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
    0x09, 0x01,        // Usage (0x01)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x20,        //   Report Count (32)
    0x09, 0x02,        //   Usage (0x02)
    0x81, 0x02,        //   Input: 0x02, an array of 32 bytes                    [input 0: bits 0..255]
    0x19, 0x10,        //   Usage Minimum (0x10)
    0x29, 0x13,        //   Usage Maximum (0x13)
    0x95, 0x04,        //   Report Count (4)
    0x91, 0x02,        //   Output: one byte for each of 0x10..0x13               [output 0: bits 0..31]
    0x09, 0x20,        //   Usage (0x20)
    0x09, 0x21,        //   Usage (0x21)
    0x09, 0x22,        //   Usage (0x22)
    0x16, 0x00, 0x80,  //   Logical Minimum (-32768)
    0x26, 0xFF, 0x7F,  //   Logical Maximum (32767)
    0x36, 0x00, 0xFC,  //   Physical Minimum (-1024)
    0x46, 0x00, 0x04,  //   Physical Maximum (1024)
    0x75, 0x10,        //   Report Size (16)
    0x95, 0x05,        //   Report Count (5)
    0xB1, 0x02,        //   Feature: 0x20, 0x21, then 0x22 as three elements      [feature 0: bits 0..15, 16..31, 32..79]
    0x35, 0x00,        //   Physical Minimum (0)
    0x45, 0x00,        //   Physical Maximum (0)
    0x05, 0x09,        //   Usage Page (Button)
    0x19, 0x01,        //   Usage Minimum (1)
    0x29, 0x08,        //   Usage Maximum (8)
    0x15, 0x00,        //   Logical Minimum (0)
    0x25, 0x01,        //   Logical Maximum (1)
    0x75, 0x01,        //   Report Size (1)
    0x95, 0x08,        //   Report Count (8)
    0xB1, 0x02,        //   Feature: buttons 1..8                                 [feature 0: bits 80..87]
    0x06, 0x00, 0xFF,  //   Usage Page (0xFF00)
    0x19, 0x30,        //   Usage Minimum (0x30)
    0x29, 0x3F,        //   Usage Maximum (0x3F)
    0x25, 0x0F,        //   Logical Maximum (15)
    0x75, 0x04,        //   Report Size (4)
    0x95, 0x03,        //   Report Count (3)
    0xB1, 0x02,        //   Feature: 0x30..0x32 only, 4 bits each                 [feature 0: bits 88..99]
    0x95, 0x01,        //   Report Count (1)
    0xB1, 0x03,        //   Feature (Constant): padding                           [feature 0: bits 100..103]
    0xC0,              // End Collection
};

// The USB interface of a monitor: one vendor Application collection, every
// usage a feature report of its own, the identification and tunnel usages as
// byte arrays, and one button inside a Logical collection 0xFF10:0x0020.
inline const std::vector<std::uint8_t> kMonitorInterface = {
    0x06, 0x00, 0xFF,              // Usage Page (0xFF00)
    0x09, 0x01,                    // Usage (0x01)
    0xA1, 0x01,                    // Collection (Application)
    0x15, 0x00,                    //   Logical Minimum (0)
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0x85, 0x01,                    //   Report ID (1)
    0x09, 0x35,                    //   Usage (0x35): identification
    0x95, 0x20,                    //   Report Count (32)
    0xB1, 0x02,                    //   Feature: 32 bytes                                 [feature 1: bits 0..255]
    0x85, 0x02,                    //   Report ID (2)
    0x06, 0x01, 0xFF,              //   Usage Page (0xFF01)
    0x09, 0x10,                    //   Usage (0x10)
    0x27, 0xFF, 0xFF, 0x00, 0x00,  //   Logical Maximum (65535)
    0x75, 0x10,                    //   Report Size (16)
    0x95, 0x01,                    //   Report Count (1)
    0xB1, 0x02,                    //   Feature: 16-bit value                             [feature 2: bits 0..15]
    0x85, 0x03,                    //   Report ID (3)
    0x06, 0x02, 0xFF,              //   Usage Page (0xFF02)
    0x09, 0xF4,                    //   Usage (0xF4)
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0xB1, 0x02,                    //   Feature: 8-bit value                              [feature 3: bits 0..7]
    0x85, 0x04,                    //   Report ID (4)
    0x09, 0xFE,                    //   Usage (0xFE)
    0x27, 0xFF, 0xFF, 0xFF, 0x7F,  //   Logical Maximum (0x7FFFFFFF)
    0x75, 0x20,                    //   Report Size (32)
    0xB1, 0x02,                    //   Feature: 32-bit value                             [feature 4: bits 0..31]
    0x85, 0x05,                    //   Report ID (5)
    0x06, 0x03, 0xFF,              //   Usage Page (0xFF03)
    0x09, 0x04,                    //   Usage (0x04): busy flag
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0xB1, 0x02,                    //   Feature: 8-bit value                              [feature 5: bits 0..7]
    0x85, 0x06,                    //   Report ID (6)
    0x09, 0x80,                    //   Usage (0x80): control lock
    0xB1, 0x02,                    //   Feature: 8-bit value                              [feature 6: bits 0..7]
    0x85, 0x07,                    //   Report ID (7)
    0x06, 0x10, 0xFF,              //   Usage Page (0xFF10)
    0x09, 0x20,                    //   Usage (0x20)
    0xA1, 0x02,                    //   Collection (Logical)                              [link collection 1]
    0x09, 0x21,                    //     Usage (0x21)
    0x25, 0x01,                    //     Logical Maximum (1)
    0x75, 0x01,                    //     Report Size (1)
    0xB1, 0x02,                    //     Feature: 1-bit button                           [feature 7: bit 0]
    0x75, 0x1F,                    //     Report Size (31)
    0xB1, 0x03,                    //     Feature (Constant): padding                     [feature 7: bits 1..31]
    0xC0,                          //   End Collection
    0x06, 0x30, 0xFF,              //   Usage Page (0xFF30)
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0x85, 0x10,                    //   Report ID (0x10)
    0x09, 0x01,                    //   Usage (0x01): descriptor transfer
    0x95, 0x40,                    //   Report Count (64)
    0xB1, 0x02,                    //   Feature: 64 bytes                                 [feature 0x10: bits 0..511]
    0x95, 0x28,                    //   Report Count (40): the short channels, 40 bytes each
    0x85, 0x11, 0x09, 0x02, 0xB1, 0x02,  // Report ID (0x11), Usage (0x02), Feature     [feature 0x11: bits 0..319]
    0x85, 0x12, 0x09, 0x03, 0xB1, 0x02,  // Report ID (0x12), Usage (0x03), Feature     [feature 0x12: bits 0..319]
    0x85, 0x15, 0x09, 0x0B, 0xB1, 0x02,  // Report ID (0x15), Usage (0x0B), Feature     [feature 0x15: bits 0..319]
    0x85, 0x16, 0x09, 0x0C, 0xB1, 0x02,  // Report ID (0x16), Usage (0x0C), Feature     [feature 0x16: bits 0..319]
    0x96, 0x08, 0x02,              //   Report Count (520): the long channels, 520 bytes each
    0x85, 0x13, 0x09, 0x04, 0xB1, 0x02,  // Report ID (0x13), Usage (0x04), Feature     [feature 0x13: bits 0..4159]
    0x85, 0x14, 0x09, 0x05, 0xB1, 0x02,  // Report ID (0x14), Usage (0x05), Feature     [feature 0x14: bits 0..4159]
    0x85, 0x17, 0x09, 0x0D, 0xB1, 0x02,  // Report ID (0x17), Usage (0x0D), Feature     [feature 0x17: bits 0..4159]
    0x85, 0x18, 0x09, 0x0E, 0xB1, 0x02,  // Report ID (0x18), Usage (0x0E), Feature     [feature 0x18: bits 0..4159]
    0x85, 0x19,                    //   Report ID (0x19)
    0x09, 0x06,                    //   Usage (0x06): tunnel token
    0x27, 0xFF, 0xFF, 0x00, 0x00,  //   Logical Maximum (65535)
    0x75, 0x10,                    //   Report Size (16)
    0x95, 0x01,                    //   Report Count (1)
    0xB1, 0x02,                    //   Feature: 16-bit value                             [feature 0x19: bits 0..15]
    0x85, 0x1A,                    //   Report ID (0x1A)
    0x09, 0x08,                    //   Usage (0x08): identification, served natively
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0x95, 0x20,                    //   Report Count (32)
    0xB1, 0x02,                    //   Feature: 32 bytes                                 [feature 0x1A: bits 0..255]
    0x85, 0x1B,                    //   Report ID (0x1B)
    0x09, 0x09,                    //   Usage (0x09)
    0x27, 0xFF, 0xFF, 0xFF, 0x7F,  //   Logical Maximum (0x7FFFFFFF)
    0x75, 0x20,                    //   Report Size (32)
    0x95, 0x01,                    //   Report Count (1)
    0xB1, 0x02,                    //   Feature: 32-bit value                             [feature 0x1B: bits 0..31]
    0x85, 0x1C,                    //   Report ID (0x1C)
    0x09, 0x0A,                    //   Usage (0x0A): owner value
    0x27, 0xFF, 0xFF, 0x00, 0x00,  //   Logical Maximum (65535)
    0x75, 0x10,                    //   Report Size (16)
    0xB1, 0x02,                    //   Feature: 16-bit value                             [feature 0x1C: bits 0..15]
    0xC0,                          // End Collection
};

// A monitor's own descriptor, as handed out through the tunnel: an
// Application collection of the Monitor page (0x80, usage 1) with vendor
// feature usages, one inside a Logical collection, and one vendor input.
inline const std::vector<std::uint8_t> kTunnelledMonitor = {
    0x05, 0x80,        // Usage Page (Monitor)
    0x09, 0x01,        // Usage (Monitor Control)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x06, 0x00, 0xFF,  //   Usage Page (0xFF00)
    0x09, 0x35,        //   Usage (0x35)
    0x95, 0x20,        //   Report Count (32)
    0xB1, 0x02,        //   Feature: 0xFF00:0x35, 32 bytes
    0x09, 0xD8,        //   Usage (0xD8)
    0x96, 0x00, 0x01,  //   Report Count (256)
    0xB1, 0x02,        //   Feature: 0xFF00:0xD8, 256 bytes
    0x06, 0x02, 0xFF,  //   Usage Page (0xFF02)
    0x09, 0xF4,        //   Usage (0xF4)
    0x95, 0x04,        //   Report Count (4)
    0xB1, 0x02,        //   Feature: 0xFF02:0xF4, 4 bytes
    0x06, 0x10, 0xFF,  //   Usage Page (0xFF10)
    0x09, 0x20,        //   Usage (0x20)
    0xA1, 0x02,        //   Collection (Logical): 0xFF10:0x20
    0x09, 0x21,        //     Usage (0x21)
    0x95, 0x01,        //     Report Count (1)
    0xB1, 0x02,        //     Feature: 0xFF10:0x21, 1 byte
    0xC0,              //   End Collection
    0x06, 0x21, 0xFF,  //   Usage Page (0xFF21)
    0x09, 0x02,        //   Usage (0x02)
    0x95, 0x08,        //   Report Count (8)
    0x81, 0x02,        //   Input: 0xFF21:0x02, 8 bytes
    0xC0,              // End Collection
};

}  // namespace descriptor_fixtures
