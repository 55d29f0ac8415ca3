#pragma once
// One updater at a time per user: the first start holds a lock file and
// listens on a local server, both named after the instance in the user's
// runtime directory; a later start finds the lock taken, asks the first over
// the server to raise its window, and ends. The request carries the later
// start's activation token, if its launcher gave it one: on Wayland a window
// takes the focus only with such a token.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name);

    // True for the first start; false when another instance runs, which has
    // then been asked to come to the front.
    bool IsFirst() const { return first_; }

signals:
    // A later start asked this instance to bring its window to the front,
    // with its activation token (XDG_ACTIVATION_TOKEN), or none.
    void RaiseRequested(const QString& activationToken);

private:
    void Listen(const QString& path);
    static void AskToRaise(const QString& path);

    QLockFile lock_;
    QLocalServer server_;
    bool first_ = false;
};
