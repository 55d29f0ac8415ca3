#pragma once
// The program's name and version, and where its run logs are kept, from the main
// window's context menu.
#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // `logFolder`: where the run logs are kept; empty: nowhere, and the line is hidden.
    AboutDialog(const std::string& logFolder, QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};
