#pragma once
// The last confirmation before the update: Execute works only once both
// warnings are ticked; the dialog shows the update's estimated duration.
#include <QDialog>
#include <cstdint>
#include <memory>

namespace Ui {
class CWarningDlg;
}

class CWarningDlg : public QDialog {
    Q_OBJECT
public:
    CWarningDlg(std::uint32_t minutes, QWidget* parent);
    ~CWarningDlg() override;

    // Execute and the Enter key: ends the dialog only when both boxes are ticked.
    void accept() override;

private:
    bool BothTicked() const;
    void UpdateExecute();

    std::unique_ptr<Ui::CWarningDlg> ui_;
};
