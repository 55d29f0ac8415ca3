// The QApplication of the window's tests, on the offscreen platform: made
// before the first test and destroyed after the last, while Qt's own globals
// are still there.
#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace {

QtMessageHandler otherMessages = nullptr;

// Quiet about what the offscreen platform cannot do (raise a window, grab the
// keyboard, ...), which the tests do not rely on.
void QuietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    if (otherMessages != nullptr)
        otherMessages(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

class QtApplication final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        otherMessages = qInstallMessageHandler(QuietPlatformNotes);
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[12] = "window_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const kQtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
