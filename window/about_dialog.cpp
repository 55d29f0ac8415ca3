#include "window/about_dialog.h"

#include "app/message_catalogue.h"
#include "app/message_format.h"
#include "ui_about_dialog.h"

AboutDialog::AboutDialog(const std::string& logFolder, QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    // The About box keeps its own texts in both languages.
    ui_->version->setText(QStringLiteral("Version " QUILLON_VERSION));
    // Where support finds the record of a failed update.
    const std::string& logs = logFolder;
    const MessageArgument folder[] = {logs};
    ui_->runLogs->setText(QString::fromStdString(FormatCatalogueText(CatalogueText(text_id::kRunLogFolder), folder)));
    ui_->runLogs->setVisible(!logs.empty());  // no home folder: no logs
}

AboutDialog::~AboutDialog() = default;
