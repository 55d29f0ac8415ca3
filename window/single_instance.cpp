#include "window/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <memory>

namespace {

// The user's own runtime directory, so that every user can run an updater of their own.
QString InstancePath(const QString& name) {
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (directory.isEmpty()) directory = QDir::tempPath();
    return QDir(directory).filePath(name);
}

// The request is one line: "raise", then a space and the activation token
// when the asking start has one.
constexpr char kRaiseRequest[] = "raise";
// More than a request holds: the rest is not read.
constexpr qsizetype kLongestRequest = 4096;

QString ActivationToken(const QByteArray& request) {
    const QByteArray line = request.left(request.indexOf('\n')).trimmed();
    const QByteArray prefix = QByteArray(kRaiseRequest) + ' ';
    if (!line.startsWith(prefix)) return {};
    return QString::fromUtf8(line.mid(prefix.size()).trimmed());
}

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
            // The asking start writes its request and hangs up.
            auto request = std::make_shared<QByteArray>();
            connect(socket, &QLocalSocket::readyRead, socket, [socket, request] {
                request->append(socket->read(kLongestRequest - request->size()));
                if (request->size() >= kLongestRequest) socket->readAll();  // not kept
            });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket, request] {
                request->append(socket->read(kLongestRequest - request->size()));
                socket->deleteLater();
                emit RaiseRequested(ActivationToken(*request));
            });
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
    QByteArray request = kRaiseRequest;
    // Given by the launcher that started this process, on Wayland: the first
    // instance's window may take the focus with it.
    if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); !token.isEmpty()) request += ' ' + token;
    socket.write(request + '\n');
    socket.flush();
    socket.disconnectFromServer();
}
