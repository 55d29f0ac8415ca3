#pragma once
// The programs that the update will close, sorted by name, for the user to accept.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class CProcessDlg;
}

class CProcessDlg : public QDialog {
    Q_OBJECT
public:
    CProcessDlg(const std::vector<std::string>& programs, QWidget* parent);
    ~CProcessDlg() override;

private:
    std::unique_ptr<Ui::CProcessDlg> ui_;
};
