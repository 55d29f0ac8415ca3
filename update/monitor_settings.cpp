#include "update/monitor_settings.h"

#include "monitor/command_status.h"
#include "monitor/command_usages.h"
#include "monitor/indexed_settings.h"
#include "monitor/setting_b8.h"
#include "monitor/settings.h"
#include "monitor/transactions.h"
#include "update/monitor_steps.h"
#include "update/update_status.h"

namespace {

// A monitor that lacks a setting is no reason to stop.
bool Fatal(Status status) { return IsFailure(status) && status != kMonUnavailable; }

bool Has(MonitorHandle monitor, MonUsage usage) { return HasUsage(monitor, usage.page, usage.usage); }

}  // namespace

Status SaveMonitorSettings(UpdateContext& c) {
    // The record's stores are not checked: the backup file write that follows reports a bad record.
    std::int32_t value = 0;
    Status status = MonGetSetting45(c.monitor, &value);
    c.setting9 = static_cast<std::uint32_t>(value);
    PkgSetProperty(c.record, kPropSetting9, &c.setting9, sizeof c.setting9);
    if (Fatal(status)) return status;

    value = 0;
    status = MonGetSetting53(c.monitor, &value);
    c.setting10 = static_cast<std::uint32_t>(value);
    PkgSetProperty(c.record, kPropSetting10, &c.setting10, sizeof c.setting10);
    if (Fatal(status)) return status;

    // A monitor without one of these three keeps 0 for it; one that stops
    // answering stops the update, rather than have 0 put back as its value later.
    if (std::uint8_t byte = 0; (status = MonGetSetting22(c.monitor, &byte)) == kStatusSuccess) {
        c.setting11 = byte;
        PkgSetProperty(c.record, kPropSetting11, &c.setting11, sizeof c.setting11);
    }
    if (Fatal(status)) return status;
    if (std::uint8_t byte = 0; (status = MonGetSetting30(c.monitor, &byte)) == kStatusSuccess) {
        c.setting12 = byte;
        PkgSetProperty(c.record, kPropSetting12, &c.setting12, sizeof c.setting12);
    }
    if (Fatal(status)) return status;
    if (std::uint16_t word = 0; (status = MonGetSetting40(c.monitor, &word)) == kStatusSuccess) {
        c.setting13 = word;
        PkgSetProperty(c.record, kPropSetting13, &c.setting13, sizeof c.setting13);
    }
    return Fatal(status) ? status : kStatusSuccess;
}

Status NeutraliseMonitorSettings(MonitorHandle m, UpdateProgress* progress) {
    if (const Status status = MonSetSetting45(m, 1); Fatal(status)) return status;
    if (Has(m, command_usage::kSetting68)) {
        const MonUsage u = command_usage::kSetting68;
        if (IsFailure(MonWriteValue(m, u.page, u.usage, 0))) return kUpdWriteFailed;
    }
    // Switching B8 off and on makes the monitor take the values that follow.
    Status status = MonSetSettingB8(m, 0, progress);
    if (status == kStatusSuccess) status = MonSetSettingB8(m, 1, progress);
    if (Fatal(status)) return status;
    if (status = MonSetSetting54(m, 0); Fatal(status)) return status;
    if (status = MonSetSetting53(m, 0); Fatal(status)) return status;
    if (Has(m, command_usage::kSetting22Presence)) {
        if (status = MonSetSetting22(m, 0); IsFailure(status)) return status;
    }
    if (Has(m, command_usage::kSetting30Presence)) {
        if (status = MonSetSetting30(m, 0); IsFailure(status)) return status;
    }
    if (Has(m, command_usage::kSetting40)) {
        if (status = MonSetSetting40(m, 0); IsFailure(status)) return status;
    }
    return kStatusSuccess;
}

Status RestoreMonitorSettings(const UpdateContext& c) {
    const MonitorHandle m = c.monitor;
    if (const Status status = MonSetSetting53(m, c.setting10); Fatal(status)) return status;
    if (const Status status = MonSetSetting54(m, c.savedSetting54); Fatal(status)) return status;
    // A monitor without one of these four is no reason to stop; one that stops
    // answering is: the update then ends before its last stage and puts them
    // back when it is resumed, instead of leaving them lost.
    if (Has(m, command_usage::kSetting68)) {
        if (const Status status = MonSetSetting68(m, c.savedSetting68); Fatal(status)) return status;
    }
    if (Has(m, command_usage::kSetting22Presence)) {
        if (const Status status = MonSetSetting22(m, static_cast<std::uint8_t>(c.setting11)); Fatal(status)) return status;
    }
    if (Has(m, command_usage::kSetting30Presence)) {
        if (const Status status = MonSetSetting30(m, static_cast<std::uint8_t>(c.setting12)); Fatal(status)) return status;
    }
    if (Has(m, command_usage::kSetting40)) {
        if (const Status status = MonSetSetting40(m, c.setting13); Fatal(status)) return status;
    }
    if (const Status status = MonSetSetting45(m, c.setting9); Fatal(status)) return status;
    // A monitor without setting B8 has nothing of it to put back.
    const Status b8 = MonSetSettingB8(m, static_cast<std::int32_t>(c.savedSettingB8), c.progress);
    return Fatal(b8) ? b8 : kStatusSuccess;
}

Status RestoreListedSettings(const UpdateContext& c) {
    const auto list = c.components.find(kSettingListType);
    if (list == c.components.end()) return kStatusSuccess;
    const ComponentDescriptor& d = list->second;
    // Items are 16-bit little-endian; the monitor takes the index from the low byte.
    if (d.data == nullptr) return kUpdBadArgument;
    const std::uint32_t items = d.length / 2;  // an odd last byte is no item
    // Indexed settings are reached only on a monitor with switch F0: one without
    // it has none to store again, and its update is not to fail for that.
    const bool indexed = Has(c.monitor, command_usage::kSwitchF0);
    for (std::uint32_t i = 0; indexed && i < items; ++i) {
        if (const Status status = MonRewriteIndexedSetting(c.monitor, d.data[2 * i]); IsFailure(status)) return status;
    }
    // Switching B8 off and on makes the monitor take the stored values. A
    // monitor that stops answering here would be left with B8 off: the stage
    // then stays, so that a resumed update does this again.
    if (const Status status = MonSetSettingB8(c.monitor, 0, c.progress); Fatal(status)) return status;
    if (const Status status = MonSetSettingB8(c.monitor, 1, c.progress); Fatal(status)) return status;
    return kStatusSuccess;
}
