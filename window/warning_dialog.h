#pragma once
// The last confirmation before the update: Execute works only once both
// warnings are ticked; the dialog shows the update's estimated duration.
#include <QDialog>
#include <cstdint>
#include <memory>

namespace Ui {
class WarningDialog;
}

class WarningDialog : public QDialog {
    Q_OBJECT
public:
    WarningDialog(std::uint32_t minutes, QWidget* parent);
    ~WarningDialog() override;

    // Execute and the Enter key: ends the dialog only when both boxes are ticked.
    void accept() override;

private:
    bool BothTicked() const;
    void UpdateExecute();

    std::unique_ptr<Ui::WarningDialog> ui_;
};
