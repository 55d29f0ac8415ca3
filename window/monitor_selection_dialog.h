#pragma once
// The monitor selection: shows what MonitorSelection decides. A backup file
// that expects a monitor ends the dialog before it shows (with at most a
// message); otherwise the connected monitors are listed, the selected one
// shows its identification, and a maker's monitor plugged in or out rebuilds
// the list.
#include <QDialog>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/monitor_selection.h"

class QSocketNotifier;
namespace Ui {
class MonitorSelectionDialog;
}

class MonitorSelectionDialog : public QDialog {
    Q_OBJECT
public:
    // `owner` owns the messages this dialog shows before the list shows;
    // the list owns those that come while it shows.
    MonitorSelectionDialog(MonitorSelection& selection, QWidget* owner);
    ~MonitorSelectionDialog() override;

    // Decides by the backup file's loader flag, model name and serial number,
    // and lets the user choose when it comes to a list. The chosen monitor
    // (kNoMonitor when none), or nullopt on Cancel.
    std::optional<MonitorHandle> Choose(std::uint32_t mode, const std::string& model, const std::string& serial);

    // A HID interface arrived or left. The device watch calls it; tests too.
    void OnDeviceChange(const DeviceEvent& event);

    void accept() override;
    void reject() override;

private:
    void ShowPendingMessage();
    void FillMonitorList();
    void WatchDeviceChanges();
    void ReadDeviceEvents();
    std::optional<std::size_t> SelectedLine() const;

    std::unique_ptr<Ui::MonitorSelectionDialog> ui_;
    MonitorSelection& selection_;
    QWidget* owner_;
    MonitorHandle chosen_ = kNoMonitor;
    std::unique_ptr<DeviceEvents> deviceEvents_;
    std::unique_ptr<QSocketNotifier> deviceNotifier_;
};
