#include "window/message_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace {

QString Caption(MessageCaption caption) {
    if (caption == MessageCaption::ExecutableName)
        return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QStringLiteral("Quillon");
}

}  // namespace

void ShowUserMessage(QWidget* owner, const UserMessage& message) {
    const QMessageBox::Icon icon =
        message.icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Critical;
    const QString text = QString::fromStdString(MessageBoxText(message, CatalogueLanguage()));
    QMessageBox box(icon, Caption(message.caption), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);  // "<" and ">" in a text are characters, not markup
    box.exec();
}
