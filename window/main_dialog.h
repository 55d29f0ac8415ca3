#pragma once
// The main window: shows what MainWorkflow decides and runs its dialogs. It
// leads from the read-me to the completion message, ticks the workflow once a
// second while a worker thread runs, and refuses to close while one exists.
#include <QDialog>
#include <QTimer>
#include <memory>

#include "app/main_workflow.h"

namespace Ui {
class MainDialog;
}

class MainDialog : public QDialog, public WorkflowView {
    Q_OBJECT
public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    // The start-up sequence; the window shows afterwards unless the run has ended.
    void Start();
    // Start, then the window until the run ends.
    void Run();
    MainWorkflow& Workflow() { return workflow_; }
    // The once-a-second timer's work; tests call it instead of waiting a second.
    void Tick() { workflow_.Tick(); }
    bool TimerRunning() const { return timer_.isActive(); }
    // Brings the window, or the dialog in front of it, to the user (a second
    // start asked, with its activation token, or none).
    void BringToFront(const QString& activationToken);

    // Escape, the close box and every end of the run: the exit path, which
    // refuses while a worker thread exists.
    void reject() override;

private:
    bool ConfirmReadMe() override;
    bool ConfirmProgramsToClose(const std::vector<std::string>& programs) override;
    std::optional<MonitorHandle> SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                               const std::string& model, const std::string& serial) override;
    std::optional<std::string> ChoosePackage() override;
    bool ConfirmWarning(std::uint32_t minutes) override;
    void ShowMessage(const UserMessage& message) override;
    void ShowTitle(const std::string& title) override;
    void ShowCurrentVersion(const VersionLines& lines) override;
    void ShowNewVersion(const std::optional<VersionLines>& lines) override;
    void SetUpdateEnabled(bool enabled) override;
    void SetWaitCursor(bool on) override;
    void SetTimerRunning(bool running) override;
    void ShowProgress(const ProgressSnapshot& progress) override;
    void EndDialog() override;

    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void SetFonts();

    std::unique_ptr<Ui::MainDialog> ui_;
    QTimer timer_;
    bool waitCursor_ = false;
    MainWorkflow workflow_{*this};  // last, so that it goes first, before the widgets it shows in
};
