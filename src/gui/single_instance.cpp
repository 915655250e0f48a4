#include "gui/single_instance.hpp"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include "platform/file_lock.hpp"

namespace sejfko {

namespace {

constexpr int MaxRequestLength = 64;
constexpr int AskTimeoutMs = 5000;
// Between two tries while the other start is not listening yet.
constexpr int RetryPauseMs = 50;

QString UserName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = qEnvironmentVariable("USERNAME");
    }
    // Only characters that are safe in a socket name.
    QString safe;
    for (QChar c : user) {
        safe += c.isLetterOrNumber() ? c : QLatin1Char('_');
    }
    return safe;
}

}  // namespace

QString SingleInstanceName(const QString& executablePath, const QString& dataDirectory) {
    const QByteArray key = executablePath.toUtf8() + '\n' + dataDirectory.toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex();
    return QStringLiteral("TFoMain-") + UserName() + QLatin1Char('-') +
           QString::fromLatin1(hash.left(16));
}

QString InstanceLockPath(const QString& name) {
    // Where QLocalServer puts the socket of a plain name.
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
}

TInstanceClaim ClaimInstance(const QString& name, TTryFileLock& lock, int patienceMs) {
    const QDeadlineTimer deadline(patienceMs);
    for (;;) {
        if (lock.TryAcquire()) {
            return TInstanceClaim::First;
        }
        if (lock.Error() != 0) {
            // No lock to decide by (the file belongs to someone else, /tmp is read-only...):
            // a copy that answers is the instance, else this one is.
            return AskRunningInstance(name, QStringLiteral("show")).isEmpty()
                       ? TInstanceClaim::First
                       : TInstanceClaim::HandedOver;
        }
        const int remaining = static_cast<int>(deadline.remainingTime());
        if (!AskRunningInstance(name, QStringLiteral("show"), qBound(1, remaining, AskTimeoutMs))
                 .isEmpty()) {
            return TInstanceClaim::HandedOver;
        }
        if (deadline.hasExpired()) {
            return TInstanceClaim::Unresponsive;
        }
        // The holder is still starting (not listening yet) or busy.
        QThread::msleep(RetryPauseMs);
    }
}

QString AskRunningInstance(const QString& name, const QString& request, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs)) {
        return QString();
    }
    socket.write(request.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return QString();
    }
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            break;
        }
        answer += socket.readAll();
    }
    socket.disconnectFromServer();
    return QString::fromUtf8(answer).trimmed();
}

TSingleInstanceServer::TSingleInstanceServer(QObject* parent) : QObject(parent) {
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&FServer, &QLocalServer::newConnection, this, &TSingleInstanceServer::Accept);
}

TSingleInstanceServer::~TSingleInstanceServer() {
    FServer.close();
}

bool TSingleInstanceServer::Listen(const QString& name) {
    if (FServer.listen(name)) {
        return true;
    }
    if (FServer.serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered on it (the caller asked first): a leftover of a crashed copy.
        QLocalServer::removeServer(name);
        return FServer.listen(name);
    }
    return false;
}

void TSingleInstanceServer::Accept() {
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequestLength) {
                    socket->abort();
                }
                return;
            }
            const QString request = QString::fromUtf8(socket->readLine()).trimmed();
            QByteArray answer = "ok\n";
            if (request == QLatin1String("show")) {
                emit ShowRequested();
            } else if (request == QLatin1String("hide")) {
                emit HideRequested();
            } else if (request == QLatin1String("state")) {
                answer = (IsWindowVisible && IsWindowVisible()) ? "visible\n" : "hidden\n";
            } else {
                answer = "unknown\n";
            }
            socket->write(answer);
            socket->disconnectFromServer();
        });
    }
}

}  // namespace sejfko
