#include "ui/single_instance.h"

#include <QDir>
#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

namespace morvane {

namespace {

// A start that finds the lock taken gives up quickly: the holder is alive.
constexpr int kLockTimeoutMs = 100;
// The running instance answers within milliseconds; one that is hung must not keep
// the second start waiting for long.
constexpr int kAnswerTimeoutMs = 1000;

const QByteArray kShowRequest = "show\n";
const QByteArray kShownAnswer = "shown\n";

QString InstanceDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

QString InstanceFileName(const QString& name) {
    return name + QLatin1Char('-') + QString::number(getuid());
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {}

// The server is a member declared after the lock, so its socket is closed before the
// lock is released, and the next owner never finds a live socket it did not make.
SingleInstance::~SingleInstance() = default;

QString SingleInstance::LockFilePath() const {
    return QDir(InstanceDirectory()).filePath(InstanceFileName(name_) + QLatin1String(".lock"));
}

QString SingleInstance::SocketPath() const {
    return QDir(InstanceDirectory()).filePath(InstanceFileName(name_) + QLatin1String(".socket"));
}

bool SingleInstance::Claim() {
    lock_ = std::make_unique<QLockFile>(LockFilePath());
    // The lock is stale only when the process that wrote it has gone, however old it is:
    // an instance that was killed must not block the next start.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(kLockTimeoutMs)) {
        ServeOrWarn();
        return true;
    }
    // A lock that cannot be written at all (no such directory, no permission) says
    // nothing about another instance; running unguarded beats not running.
    if (lock_->error() != QLockFile::LockFailedError) {
        ServeOrWarn();
        return true;
    }
    runningInstanceAnswered_ = AskRunningInstanceToShow();
    return false;
}

void SingleInstance::SetShowRequestHandler(std::function<void()> handler) {
    showRequestHandler_ = std::move(handler);
}

// Without the socket this instance still plays; only a later start can no longer bring
// its window forward and ends without a word, so the reason is told now.
void SingleInstance::ServeOrWarn() {
    if (const Status served = Serve(); !served)
        qWarning("morvane: %s", served.error().message.c_str());
}

Status SingleInstance::Serve() {
    // Only the lock holder may remove the socket: whatever is there now was left by an
    // instance that died, and listening on top of it is not possible.
    QLocalServer::removeServer(SocketPath());
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::AnswerShowRequest);
    if (!server_.listen(SocketPath()))
        return Error{"a later start cannot show this window: " +
                     server_.errorString().toStdString()};
    return {};
}

void SingleInstance::AnswerShowRequest() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine())
                return;
            if (client->readLine() == kShowRequest && showRequestHandler_)
                showRequestHandler_();
            client->write(kShownAnswer);
            client->disconnectFromServer(); // sends the answer first
        });
    }
}

bool SingleInstance::AskRunningInstanceToShow() const {
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    // No server: the running instance is still starting or already closing. This start
    // ends all the same.
    if (!socket.waitForConnected(kAnswerTimeoutMs))
        return false;
    socket.write(kShowRequest);
    // An event loop rather than waitForReadyRead(): the answer may come from a server
    // served by this very thread, as when two instances share one process.
    QEventLoop loop;
    QTimer::singleShot(kAnswerTimeoutMs, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::readyRead, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    loop.exec();
    return socket.readLine() == kShownAnswer;
}

void BringToFront(QWidget& window) {
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

} // namespace morvane
