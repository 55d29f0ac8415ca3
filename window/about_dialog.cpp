#include "window/about_dialog.h"

#include "ui_about_dialog.h"

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    // The About box keeps its own texts in both languages.
    ui_->version->setText(QStringLiteral("Version " QUILLON_VERSION));
}

AboutDialog::~AboutDialog() = default;
