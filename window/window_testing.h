#pragma once
// What the window's tests share: a user who answers the modal dialogs one
// after the other, and runs of the main window over the bench's emulated
// monitors. The QApplication comes from window_testing_environment.cpp.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/app_testing.h"
#include "window/main_dialog.h"

namespace window_testing {

template <typename T>
T& Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) throw std::logic_error(std::string("no child ") + name);
    return *child;
}

inline QString LabelText(QWidget& parent, const char* name) { return Child<QLabel>(parent, name).text(); }

// A message box as the user saw it.
struct ShownMessage {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool operator==(const ShownMessage&) const = default;
};

inline ShownMessage Expected(const UserMessage& message) {
    const QMessageBox::Icon icon =
        message.icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Critical;
    const QString caption =
        message.caption == MessageCaption::Quillon ? QStringLiteral("Quillon") : QStringLiteral("window_test");
    return {caption, QString::fromStdString(MessageBoxText(message, CatalogueLanguage())), icon};
}
inline ShownMessage Expected(TextId text, MessageIcon icon = MessageIcon::Error) { return Expected({text, {}, icon}); }

inline void PrintTo(const ShownMessage& m, std::ostream* out) {
    *out << "[" << m.caption.toStdString() << "] " << m.text.toStdString() << " (icon " << m.icon << ")";
}

// Plays the user: each modal dialog, message box or menu that opens is handed
// to the next step, which must end it. A dialog that opens with no step left is
// a test failure and is cancelled, so that a test never hangs.
class ModalUser {
public:
    using Step = std::function<void(QWidget&)>;

    ModalUser() {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }
    ~ModalUser() { EXPECT_TRUE(steps_.empty()) << steps_.size() << " dialogs expected did not open"; }

    ModalUser& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }
    // A dialog of type T: `act` checks and ends it.
    template <typename T>
    ModalUser& At(std::function<void(T&)> act) {
        return Then([act = std::move(act)](QWidget& w) {
            T* dialog = qobject_cast<T*>(&w);
            if (dialog == nullptr) {
                ADD_FAILURE() << "expected " << T::staticMetaObject.className() << ", got " << w.metaObject()->className();
                Dismiss(w);
                return;
            }
            act(*dialog);
        });
    }
    // A dialog of type T, ended with the button of this name.
    template <typename T>
    ModalUser& Press(const char* button) {
        return At<T>([button](T& dialog) { Child<QPushButton>(dialog, button).click(); });
    }
    // A message box, recorded in `messages` and closed with OK.
    ModalUser& Acknowledge() {
        return At<QMessageBox>([this](QMessageBox& box) {
            messages.push_back({box.windowTitle(), box.text(), box.icon()});
            box.button(QMessageBox::Ok)->click();
        });
    }

    std::vector<ShownMessage> messages;
    std::vector<std::string> opened;  // the class of every modal dialog, in order

private:
    static void Dismiss(QWidget& w) {
        if (auto* dialog = qobject_cast<QDialog*>(&w))
            dialog->reject();
        else
            w.close();
    }

    // The step runs from a timer of its own, so that a dialog it opens in
    // turn is seen by this poll too.
    void Poll() {
        QWidget* modal = QApplication::activePopupWidget();
        if (modal == nullptr) modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == current_.data() || !modal->isVisible()) return;
        current_ = modal;
        opened.emplace_back(modal->metaObject()->className());
        if (steps_.empty()) {
            ADD_FAILURE() << "unexpected dialog " << opened.back();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) ADD_FAILURE() << box->text().toStdString();
            Dismiss(*modal);
            return;
        }
        QTimer::singleShot(0, modal, [modal, step = std::move(steps_.front())] { step(*modal); });
        steps_.pop_front();
    }

    std::deque<Step> steps_;
    QPointer<QWidget> current_;
    QTimer timer_;
};

// One start of the updater's window over the bench, as a new process makes it.
class WindowRun {
public:
    explicit WindowRun(app_testing::Bench& bench) {
        bench.UseFolders(window.Workflow().Run());
    }

    // The start-up sequence; the window shows unless the run ended in it.
    void Start() {
        window.Start();
        if (!Ended()) window.show();
    }
    // Ticks as the timer would until no worker thread is left.
    void TickWhileWorking() {
        while (window.Workflow().WorkerExists()) {
            window.Tick();
            window.Workflow().WaitForWorker();
            window.Tick();
        }
    }
    QPushButton& UpdateButton() { return Child<QPushButton>(window, "updateButton"); }
    bool Ended() { return window.Workflow().Ended(); }

    MainDialog window;
};

inline QStringList Lines(QComboBox& box) {
    QStringList lines;
    for (int i = 0; i < box.count(); ++i) lines << box.itemText(i);
    return lines;
}

}  // namespace window_testing
