#include "window/program_list_dialog.h"

#include "window/catalogue_qt.h"
#include "ui_program_list_dialog.h"

ProgramListDialog::ProgramListDialog(const std::vector<std::string>& programs, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ProgramListDialog>()) {
    ui_->setupUi(this);
    ui_->explanation->setText(Text(text_id::kProgramsToClose));
    ui_->okButton->setText(Text(text_id::kOk));
    ui_->cancelButton->setText(Text(text_id::kCancel));
    // Alphabetical whatever order the programs come in, and whatever the letters' case.
    QStringList names;
    for (const std::string& name : programs) names << QString::fromStdString(name);
    names.sort(Qt::CaseInsensitive);
    ui_->programs->addItems(names);
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    adjustSize();  // the size the texts take, wrapped lines included
}

ProgramListDialog::~ProgramListDialog() = default;
