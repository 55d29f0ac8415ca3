#include "window/read_me_dialog.h"

#include "window/catalogue_qt.h"
#include "ui_read_me_dialog.h"

ReadMeDialog::ReadMeDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::ReadMeDialog>()) {
    ui_->setupUi(this);
    ui_->heading->setText(Text(text_id::kReadMeHeading));
    // The read-me's lines end in CR LF; the text field wants bare line feeds.
    ui_->readMe->setPlainText(Text(text_id::kReadMe).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ui_->okButton->setText(Text(text_id::kOk));
    ui_->cancelButton->setText(Text(text_id::kCancel));
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    adjustSize();  // the size the texts take, wrapped lines included
}

ReadMeDialog::~ReadMeDialog() = default;
