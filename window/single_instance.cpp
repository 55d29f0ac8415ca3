#include "window/single_instance.h"

#include <QDir>
#include <QLocalSocket>

namespace {

// The user's own runtime directory, so that every user can run an updater of their own.
QString InstancePath(const QString& name) {
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (directory.isEmpty()) directory = QDir::tempPath();
    return QDir(directory).filePath(name);
}

// Nothing is ever read: a connection is the request.
constexpr char kRaiseRequest[] = "raise\n";

}  // namespace

SingleInstance::SingleInstance(const QString& name) : lock_(InstancePath(name) + QStringLiteral(".lock")) {
    // The lock decides, not the server: two starts at once cannot both win it,
    // and one left by a crashed instance is taken over (its process is gone).
    lock_.setStaleLockTime(0);
    first_ = lock_.tryLock(0);
    if (first_)
        Listen(InstancePath(name));
    else
        AskToRaise(InstancePath(name));
}

void SingleInstance::Listen(const QString& path) {
    QLocalServer::removeServer(path);  // a socket left by a crashed instance
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit RaiseRequested();
        }
    });
    server_.listen(path);  // without the server the updater still runs; later starts just end
}

void SingleInstance::AskToRaise(const QString& path) {
    QLocalSocket socket;
    // A local connection is made or refused at once; the request is a few bytes
    // that the socket's buffer takes whole.
    socket.connectToServer(path);
    if (socket.state() != QLocalSocket::ConnectedState) return;
    socket.write(kRaiseRequest);
    socket.flush();
    socket.disconnectFromServer();
}
