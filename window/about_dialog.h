#pragma once
// The program's name and version, and where its run logs are kept, from the main
// window's context menu.
#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};
