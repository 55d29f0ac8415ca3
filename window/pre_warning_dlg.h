#pragma once
// The read-me dialog shown before anything else happens.
#include <QDialog>
#include <memory>

namespace Ui {
class CPreWarningDlg;
}

class CPreWarningDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPreWarningDlg(QWidget* parent);
    ~CPreWarningDlg() override;

private:
    std::unique_ptr<Ui::CPreWarningDlg> ui_;
};
