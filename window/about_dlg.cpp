#include "window/about_dlg.h"

#include "ui_about_dlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    // The About box keeps its own texts in both languages.
    ui_->version->setText(QStringLiteral("Version " QUILLON_VERSION));
}

CAboutDlg::~CAboutDlg() = default;
