#include "window/package_chooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>

#include "window/catalogue_qt.h"

namespace {

// Where a package the user downloaded most likely is.
QString StartFolder() {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QDir(downloads).exists()) return downloads;
    return QDir::homePath();
}

}  // namespace

std::optional<std::string> ChoosePackageFile(QWidget* owner) {
    QFileDialog dialog(owner, Text(text_id::kChoosePackage), StartFolder());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({Text(text_id::kPackageFilter) + QStringLiteral(" (*.vfw)"),
                           Text(text_id::kAllFilesFilter) + QStringLiteral(" (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    // The name's bytes as the file system has them.
    return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
}
