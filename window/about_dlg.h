#pragma once
// The program's name and version, from the main window's context menu.
#include <QDialog>
#include <memory>

namespace Ui {
class CAboutDlg;
}

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};
