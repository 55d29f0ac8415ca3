#include "emulator/uhid_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "emulator/device_transport.h"

namespace {
ReportType TypeOf(std::uint8_t rtype) {
    switch (rtype) {
    case UHID_FEATURE_REPORT: return ReportType::Feature;
    case UHID_OUTPUT_REPORT: return ReportType::Output;
    default: return ReportType::Input;
    }
}
}  // namespace

void FillCreate2(const Monitor& monitor, uhid_event& event) {
    const InterfaceAttributes attributes = monitor.Attributes();
    const std::vector<std::uint8_t> descriptor = monitor.Descriptor();
    std::memset(&event, 0, sizeof event);
    event.type = UHID_CREATE2;
    auto& create = event.u.create2;
    std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "Quillon emulated monitor");
    create.bus = BUS_USB;
    create.vendor = attributes.vendor;
    create.product = attributes.product;
    create.version = attributes.version;
    create.rd_size = static_cast<std::uint16_t>(std::min<std::size_t>(descriptor.size(), HID_MAX_DESCRIPTOR_SIZE));
    std::copy_n(descriptor.begin(), create.rd_size, create.rd_data);
}

bool AnswerRequest(Monitor& monitor, const uhid_event& request, uhid_event& reply) {
    std::memset(&reply, 0, sizeof reply);
    if (request.type == UHID_GET_REPORT) {
        const auto& get = request.u.get_report;
        const ReportReply answer = GetHostReport(monitor, TypeOf(get.rtype), get.rnum);
        if (answer.err == ENODEV) return false;  // power gone: no answer, the unplug follows
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = get.id;
        reply.u.get_report_reply.err = static_cast<std::uint16_t>(answer.err);
        reply.u.get_report_reply.size = static_cast<std::uint16_t>(std::min<std::size_t>(answer.data.size(), UHID_DATA_MAX));
        std::copy_n(answer.data.begin(), reply.u.get_report_reply.size, reply.u.get_report_reply.data);
        return true;
    }
    if (request.type == UHID_SET_REPORT) {
        const auto& set = request.u.set_report;
        const std::size_t size = std::min<std::size_t>(set.size, UHID_DATA_MAX);
        const int err = SetHostReport(monitor, TypeOf(set.rtype), std::span(set.data, size));
        if (err == ENODEV) return false;
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = set.id;
        reply.u.set_report_reply.err = static_cast<std::uint16_t>(err);
        return true;
    }
    return false;  // start, open, close and output need no answer
}
