#pragma once
// Host side of the emulated HID devices: one SOCK_SEQPACKET socket per
// interface in a directory, named "VID_XXXX&PID_XXXX#suffix", speaking
// struct uhid_event datagrams (see emulated_linux.cpp).
#include <string_view>

// True for "VID_XXXX&PID_XXXX#suffix" (upper-case hexadecimal, suffix not empty).
bool IsEmulatedDeviceName(std::string_view name);
