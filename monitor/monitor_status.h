#pragma once
// Status codes of the monitor layer (0 is success, see common/status.h).
// The same values mean other things in other layers.
#include "common/status.h"

// Unknown handle; a feature transfer failed; the usage is not in the tunnelled descriptor.
inline constexpr Status kMonFailed = 0x80000000;
// A required out pointer or buffer is missing, or an argument is out of range.
inline constexpr Status kMonBadArgument = 0x80000001;
// A text does not fit its limit.
inline constexpr Status kMonTextTooLong = 0x80000007;
// A transfer of a command or an identity read failed.
inline constexpr Status kMonTransferFailed = 0x80000015;
// The monitor lacks the usage a command needs.
inline constexpr Status kMonUnavailable = 0x80000016;
// A tunnelled read found no matching reply.
inline constexpr Status kMonNoReply = 0x80000017;
// The monitor's owner value belongs to another program instance.
inline constexpr Status kMonOwnedElsewhere = 0x8001000A;
