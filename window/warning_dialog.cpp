#include "window/warning_dialog.h"

#include "window/catalogue_qt.h"
#include "app/status_message.h"
#include "ui_warning_dialog.h"

WarningDialog::WarningDialog(std::uint32_t minutes, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::WarningDialog>()) {
    ui_->setupUi(this);
    ui_->heading->setText(Text(text_id::kWarningHeading));
    ui_->explanation->setText(Text(text_id::kWarningText));
    ui_->powerBox->setText(Text(text_id::kWarningPower));
    ui_->cableBox->setText(Text(text_id::kWarningCable));
    const UserMessage estimate{text_id::kUpdateMinutes, {static_cast<int>(minutes)}};
    ui_->estimate->setText(QString::fromStdString(MessageText(estimate)));
    ui_->executeButton->setText(Text(text_id::kExecute));
    ui_->cancelButton->setText(Text(text_id::kCancel));
    ui_->executeButton->setEnabled(false);
    connect(ui_->powerBox, &QCheckBox::toggled, this, &WarningDialog::UpdateExecute);
    connect(ui_->cableBox, &QCheckBox::toggled, this, &WarningDialog::UpdateExecute);
    connect(ui_->executeButton, &QPushButton::clicked, this, &WarningDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    adjustSize();  // the size the texts take, wrapped lines included
}

WarningDialog::~WarningDialog() = default;

bool WarningDialog::BothTicked() const { return ui_->powerBox->isChecked() && ui_->cableBox->isChecked(); }

void WarningDialog::UpdateExecute() { ui_->executeButton->setEnabled(BothTicked()); }

void WarningDialog::accept() {
    if (BothTicked()) QDialog::accept();
}
