#pragma once
// The programs that the update will close, sorted by name, for the user to accept.
#include <QDialog>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class ProgramListDialog;
}

class ProgramListDialog : public QDialog {
    Q_OBJECT
public:
    ProgramListDialog(const std::vector<std::string>& programs, QWidget* parent);
    ~ProgramListDialog() override;

private:
    std::unique_ptr<Ui::ProgramListDialog> ui_;
};
