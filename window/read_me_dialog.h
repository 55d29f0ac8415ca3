#pragma once
// The read-me dialog shown before anything else happens.
#include <QDialog>
#include <memory>

namespace Ui {
class ReadMeDialog;
}

class ReadMeDialog : public QDialog {
    Q_OBJECT
public:
    explicit ReadMeDialog(QWidget* parent);
    ~ReadMeDialog() override;

private:
    std::unique_ptr<Ui::ReadMeDialog> ui_;
};
