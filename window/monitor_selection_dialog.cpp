#include "window/monitor_selection_dialog.h"

#include <QSignalBlocker>
#include <QSocketNotifier>

#include "window/catalogue_qt.h"
#include "window/message_box.h"
#include "window/window_placement.h"
#include "ui_monitor_selection_dialog.h"

MonitorSelectionDialog::MonitorSelectionDialog(MonitorSelection& selection, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::MonitorSelectionDialog>()), selection_(selection), owner_(owner) {
    ui_->setupUi(this);
    ui_->okButton->setText(Text(text_id::kOk));
    ui_->cancelButton->setText(Text(text_id::kCancel));
    connect(ui_->okButton, &QPushButton::clicked, this, &MonitorSelectionDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &MonitorSelectionDialog::reject);
    connect(ui_->monitors, &QComboBox::currentIndexChanged, this, [this](int line) {
        if (line >= 0) selection_.Select(static_cast<std::size_t>(line));
    });
}

MonitorSelectionDialog::~MonitorSelectionDialog() = default;

std::optional<MonitorHandle> MonitorSelectionDialog::Choose(std::uint32_t mode, const std::string& model,
                                                           const std::string& serial) {
    const SelectionResult result = selection_.Discover(mode, model, serial);
    ShowPendingMessage();
    if (result == SelectionResult::Cancel) {
        selection_.Cancel(std::nullopt);
        return std::nullopt;
    }
    if (result == SelectionResult::Ok) return selection_.Confirm(std::nullopt);

    WatchDeviceChanges();
    FillMonitorList();
    adjustSize();
    PlaceInWorkArea(*this);
    if (exec() != QDialog::Accepted) return std::nullopt;
    return chosen_;
}

void MonitorSelectionDialog::ShowPendingMessage() {
    // A message that comes while the list shows (a monitor plugged in) opens
    // over the list; one before it, over the window. On Wayland, where the
    // compositor places a dialog over its parent, a hidden parent would leave
    // the message with none.
    if (const std::optional<UserMessage> message = selection_.TakeMessage())
        ShowUserMessage(isVisible() ? this : owner_, *message);
}

std::optional<std::size_t> MonitorSelectionDialog::SelectedLine() const {
    const int line = ui_->monitors->currentIndex();
    if (line < 0) return std::nullopt;
    return static_cast<std::size_t>(line);
}

void MonitorSelectionDialog::FillMonitorList() {
    {
        const QSignalBlocker quiet(ui_->monitors);  // identification follows once the list is whole
        ui_->monitors->clear();
        for (const MonitorEntry& entry : selection_.Entries())
            ui_->monitors->addItem(QString::fromStdString(entry.Line()));
    }
    const bool listed = !selection_.Entries().empty();
    ui_->prompt->setText(Text(listed ? text_id::kSelectMonitor : text_id::kConnectMonitor));
    ui_->okButton->setEnabled(listed);
    if (!listed) return;
    ui_->monitors->setCurrentIndex(0);
    selection_.Select(0);
}

void MonitorSelectionDialog::WatchDeviceChanges() {
    if (deviceEvents_) return;
    deviceEvents_ = WatchDevices();
    if (!deviceEvents_) return;  // the list then stays as it is: the user can cancel and start again
    deviceNotifier_ = std::make_unique<QSocketNotifier>(deviceEvents_->Fd(), QSocketNotifier::Read);
    connect(deviceNotifier_.get(), &QSocketNotifier::activated, this, &MonitorSelectionDialog::ReadDeviceEvents);
}

void MonitorSelectionDialog::ReadDeviceEvents() {
    while (const std::optional<DeviceEvent> event = deviceEvents_->Next()) OnDeviceChange(*event);
}

void MonitorSelectionDialog::OnDeviceChange(const DeviceEvent& event) {
    if (!selection_.OnDeviceChange(&event)) return;
    ShowPendingMessage();
    FillMonitorList();
}

void MonitorSelectionDialog::accept() {
    chosen_ = selection_.Confirm(SelectedLine());
    deviceNotifier_.reset();
    QDialog::accept();
}

void MonitorSelectionDialog::reject() {
    selection_.Cancel(SelectedLine());
    deviceNotifier_.reset();
    QDialog::reject();
}
