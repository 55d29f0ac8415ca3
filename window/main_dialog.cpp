#include "window/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include "app/progress_text.h"
#include "common/display_text.h"
#include "window/about_dialog.h"
#include "window/catalogue_qt.h"
#include "window/message_box.h"
#include "window/read_me_dialog.h"
#include "window/program_list_dialog.h"
#include "window/monitor_selection_dialog.h"
#include "window/package_chooser.h"
#include "window/updater_icon.h"
#include "window/warning_dialog.h"
#include "window/window_placement.h"
#include "ui_main_dialog.h"

namespace {

constexpr int kTickMs = 1000;
// The bar counts hundredths of a percent, as the progress snapshot does.
constexpr int kProgressWhole = 10000;

// The arrow from the current version to the new one, drawn in the screen's own
// pixels: a scaled screen would otherwise show it blown up and blurred.
QPixmap ArrowPixmap(QSize size, qreal pixelRatio, const QColor& color) {
    QPixmap pixmap(size * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();
    QPainterPath arrow;
    arrow.moveTo(0.1 * w, 0.4 * h);
    arrow.lineTo(0.55 * w, 0.4 * h);
    arrow.lineTo(0.55 * w, 0.25 * h);
    arrow.lineTo(0.95 * w, 0.5 * h);
    arrow.lineTo(0.55 * w, 0.75 * h);
    arrow.lineTo(0.55 * w, 0.6 * h);
    arrow.lineTo(0.1 * w, 0.6 * h);
    arrow.closeSubpath();
    painter.fillPath(arrow, color);
    return pixmap;
}

// The height of `lines` lines of `sample` in the widget's font, measured with
// the fonts its characters fall back to: lines of Japanese are taller than
// the default font's own.
int LinesHeight(const QWidget& widget, const QString& sample, int lines) {
    const QString text = QStringList(lines, sample).join(QLatin1Char('\n'));
    const QRect unbounded(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return widget.fontMetrics().boundingRect(unbounded, Qt::AlignLeft, text).height();
}

QFont VersionFont(int pixels, QFont::Weight weight) {
    QFont font;
    // The monitors' own serif face where the system has it, a serif otherwise.
    font.setFamilies({QStringLiteral("Century"), QStringLiteral("Century Schoolbook"), QStringLiteral("C059"),
                      QStringLiteral("DejaVu Serif")});
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// A version line: the monitor's own version text may hold any bytes.
QString ShownVersionLine(const std::string& line) { return QString::fromStdString(DisplayText(line)); }

}  // namespace

MainDialog::MainDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::MainDialog>()) {
    ui_->setupUi(this);
    // Set here as well as for the application: the dialogs inherit it from this window.
    setWindowIcon(UpdaterIcon());
    // A close box, no minimize or maximize box, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    SetFonts();
    ui_->arrow->setPixmap(
        ArrowPixmap(ui_->arrow->minimumSize(), devicePixelRatioF(), palette().color(QPalette::WindowText)));
    ui_->currentLabel->setText(Text(text_id::kCurrentVersion));
    ui_->updateButton->setText(Text(text_id::kUpdateButton));
    ui_->updateButton->setEnabled(false);
    // Enter must not press Update by surprise: the button takes a click or Space.
    ui_->updateButton->setAutoDefault(false);
    ui_->progress->setRange(0, kProgressWhole);
    // Room for two lines from the start: the window does not grow when a long step wraps.
    ui_->progressText->setMinimumHeight(LinesHeight(*ui_->progressText, Text(text_id::kStepWriting), 2));
    connect(ui_->updateButton, &QPushButton::clicked, this, [this] { workflow_.PressUpdate(); });
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &MainDialog::Tick);
}

MainDialog::~MainDialog() {
    if (waitCursor_) QApplication::restoreOverrideCursor();
}

void MainDialog::SetFonts() {
    ui_->title->setFont(VersionFont(18, QFont::Normal));
    const QFont versions = VersionFont(14, QFont::Bold);
    // Room for a whole version line from the start: the new version arrives
    // once the window shows, and must not find it too narrow.
    const int lineWidth = QFontMetrics(versions).horizontalAdvance(QStringLiteral("00000-00000-00000"));
    for (QLabel* line : {ui_->currentHead, ui_->currentTail, ui_->newHead, ui_->newTail}) {
        line->setFont(versions);
        line->setMinimumWidth(lineWidth);
    }
}

void MainDialog::Start() {
    // Placed before start-up runs: the read-me, the program list and the
    // start-up messages open centred on this window, even while it is hidden.
    adjustSize();
    PlaceInWorkArea(*this);
    workflow_.Start();
    if (workflow_.Ended()) return;
    adjustSize();
    PlaceInWorkArea(*this);
}

void MainDialog::Run() {
    Start();
    if (!workflow_.Ended()) exec();
}

void MainDialog::BringToFront(const QString& activationToken) {
    QWidget* front = QApplication::activeModalWidget();
    if (front == nullptr || front == this) front = this;
    if (front->isHidden()) return;  // nothing shows yet, or the run is over
    // On Wayland the compositor gives the focus only for a token from the
    // launcher; Qt takes it from the environment when it activates a window.
    if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    front->raise();
    front->activateWindow();
}

bool MainDialog::ConfirmReadMe() { return ReadMeDialog(this).exec() == QDialog::Accepted; }

bool MainDialog::ConfirmProgramsToClose(const std::vector<std::string>& programs) {
    return ProgramListDialog(programs, this).exec() == QDialog::Accepted;
}

std::optional<MonitorHandle> MainDialog::SelectMonitor(MonitorSelection& selection, std::uint32_t mode,
                                                            const std::string& model, const std::string& serial) {
    return MonitorSelectionDialog(selection, this).Choose(mode, model, serial);
}

std::optional<std::string> MainDialog::ChoosePackage() { return ChoosePackageFile(this); }

bool MainDialog::ConfirmWarning(std::uint32_t minutes) {
    return WarningDialog(minutes, this).exec() == QDialog::Accepted;
}

void MainDialog::ShowMessage(const UserMessage& message) { ShowUserMessage(this, message); }

void MainDialog::ShowTitle(const std::string& title) { ui_->title->setText(QString::fromStdString(title)); }

void MainDialog::ShowCurrentVersion(const VersionLines& lines) {
    ui_->currentHead->setText(ShownVersionLine(lines.head));
    ui_->currentTail->setText(ShownVersionLine(lines.tail));
}

void MainDialog::ShowNewVersion(const std::optional<VersionLines>& lines) {
    ui_->newLabel->setText(lines ? Text(text_id::kUpdatedVersion) : QString());
    ui_->newHead->setText(lines ? ShownVersionLine(lines->head) : QString());
    ui_->newTail->setText(lines ? ShownVersionLine(lines->tail) : QString());
}

void MainDialog::SetUpdateEnabled(bool enabled) { ui_->updateButton->setEnabled(enabled); }

void MainDialog::SetWaitCursor(bool on) {
    if (on == waitCursor_) return;
    waitCursor_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainDialog::SetTimerRunning(bool running) {
    if (running)
        timer_.start();
    else
        timer_.stop();
}

void MainDialog::ShowProgress(const ProgressSnapshot& progress) {
    // A wait whose end is unknown shows busy; its line says how long it may last.
    ui_->progress->setRange(0, progress.waitEndUnknown ? 0 : kProgressWhole);
    ui_->progress->setValue(static_cast<int>(progress.progress));
    ui_->progressText->setText(QString::fromStdString(ProgressLine(progress, CatalogueLanguage())));
}

void MainDialog::EndDialog() {
    SetTimerRunning(false);
    QDialog::done(0);
}

void MainDialog::reject() { workflow_.Close(); }

void MainDialog::closeEvent(QCloseEvent* event) {
    if (!workflow_.Ended()) workflow_.Close();
    if (workflow_.Ended())
        event->accept();
    else
        event->ignore();
}

// Linux gives an application no window menu of its own to add to, so the
// About item sits in the window's context menu (right click, or the Menu key).
void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    const QString about = Text(text_id::kAboutItem);
    if (about.isEmpty()) return;
    QMenu menu(this);
    menu.addAction(about, this, [this] { AboutDialog(RunStateFolders(workflow_.Run()).own, this).exec(); });
    menu.exec(event->globalPos());
}
