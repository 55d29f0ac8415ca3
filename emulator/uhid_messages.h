#pragma once
// The uhid messages a monitor sends and answers, shared by the socket server
// and the /dev/uhid device.
#include <linux/uhid.h>

#include "emulator/monitor.h"

// UHID_CREATE2 for the monitor's interface as it is plugged in now.
void FillCreate2(const Monitor& monitor, uhid_event& event);

// The reply to a GET_REPORT or SET_REPORT. False when nothing is to be sent:
// the message is no request, or the monitor lost power during it.
bool AnswerRequest(Monitor& monitor, const uhid_event& request, uhid_event& reply);
