#include "app/SingleInstance.h"

#include "app/CommandLine.h"
#include "app/HandoverMessage.h"
#include "app/LaunchFeedback.h"
#include "platform/Exception.h"
#include "settings/FileLocations.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

namespace {

constexpr int ConnectWaitMs = 2000;
// A running kelvo answers from its event loop, before it opens the picture; one that has not
// answered by then is frozen or stopped, and the start asks whether to start beside it.
constexpr int AnswerWaitMs = 5000;
constexpr int MessageWaitMs = 5000; // a peer that has not sent its message by then is dropped
constexpr int MaxOpenConnections = 8;

// The user's runtime folder. Where there is none that Qt trusts (no XDG_RUNTIME_DIR, and the
// fallback it would make in the temporary folder taken by another user), a folder of kelvo's
// own in the user's cache, which no other user can take: without one, two kelvos would write
// the same files.
QString RuntimeFolder()
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    QString own =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/kelvo/runtime");
    try {
        MakeFolderFor(own + QStringLiteral("/socket"));
    } catch (const Exception &e) {
        PrintError(QStringLiteral("kelvo: ") + e.Message);
        return {};
    }
    return own;
}

// kelvo.ini may not exist yet (the first run), nor its folder: the part of the path that
// exists is taken with its links resolved, so that one file always gives one name.
QString StablePath(const QString &path)
{
    QFileInfo info(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!info.exists() && !info.isRoot()) {
        rest.prepend(QLatin1Char('/') + info.fileName());
        info.setFile(info.absolutePath());
    }
    return info.canonicalFilePath() + rest;
}

void Drop(QLocalSocket *connection)
{
    connection->abort();
    connection->deleteLater();
}

} // namespace

QStringList InstanceSocketPaths(const QStringList &files)
{
    const QString folder = RuntimeFolder();
    if (folder.isEmpty())
        return {};
    QStringList sockets;
    for (const QString &file : files) {
        const QByteArray hash =
            QCryptographicHash::hash(StablePath(file).toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
        sockets.append(QStringLiteral("%1/kelvo-%2-%3").arg(folder, QString::number(getuid()), QLatin1String(hash)));
    }
    return sockets;
}

std::unique_ptr<QLockFile> LockStart()
{
    const QString folder = RuntimeFolder();
    if (folder.isEmpty())
        return nullptr;
    auto lock = std::make_unique<QLockFile>(QStringLiteral("%1/kelvo-%2.lock").arg(folder, QString::number(getuid())));
    return lock->tryLock(10000) ? std::move(lock) : nullptr;
}

Handover HandToRunningKelvo(const QStringList &sockets, const QString &picture, const QByteArray &launchToken)
{
    for (const QString &path : sockets) {
        QLocalSocket socket;
        socket.connectToServer(path);
        // A socket file that nobody listens on (left by a kelvo that crashed) refuses at once;
        // one whose kelvo has stopped taking connections keeps the start waiting.
        if (!socket.waitForConnected(ConnectWaitMs)) {
            if (socket.error() == QLocalSocket::SocketTimeoutError)
                return Handover::NoAnswer;
            continue;
        }
        socket.write(HandoverMessage({picture, launchToken}));
        socket.waitForBytesWritten(ConnectWaitMs);
        const QDeadlineTimer deadline(AnswerWaitMs);
        QByteArray answer;
        while (answer.size() < HandoverAnswer.size() && socket.waitForReadyRead(int(deadline.remainingTime())))
            answer += socket.read(HandoverAnswer.size() - answer.size());
        return answer == HandoverAnswer ? Handover::Delivered : Handover::NoAnswer;
    }
    return Handover::NobodyListens;
}

InstanceServer::InstanceServer(QObject *parent) : QObject(parent)
{}

// The servers go with their parent, and with them their socket files.
InstanceServer::~InstanceServer() = default;

bool InstanceServer::Listen(const QStringList &sockets)
{
    for (const QString &path : sockets) {
        auto *server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        QLocalServer::removeServer(path);
        if (!server->listen(path)) {
            const QString warning = QCoreApplication::translate(
                "CommandLine",
                "kelvo: %1 で待ち受けできません（%2）。別の kelvo が同じファイルに書き込むおそれがあります。");
            PrintError(warning.arg(path, server->errorString()));
            delete server;
            return false;
        }
        connect(server, &QLocalServer::newConnection, this, [this, server] { Accept(server); });
    }
    return true;
}

void InstanceServer::Accept(QLocalServer *server)
{
    while (QLocalSocket *connection = server->nextPendingConnection()) {
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        // However many peers connect, and whatever they send or keep back, the window holds
        // a few connections of one message each for a few seconds at most.
        if (openConnections >= MaxOpenConnections) {
            Drop(connection);
            continue;
        }
        ++openConnections;
        connect(connection, &QObject::destroyed, this, [this] { --openConnections; });
        connection->setReadBufferSize(MaxHandoverMessageBytes);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] { ReadMessage(connection); });
        QTimer::singleShot(MessageWaitMs, connection, [connection] { Drop(connection); });
        ReadMessage(connection);
    }
}

void InstanceServer::ReadMessage(QLocalSocket *connection)
{
    if (connection->state() != QLocalSocket::ConnectedState)
        return;
    HandedOver handed;
    switch (ReadHandoverMessage(connection->peek(MaxHandoverMessageBytes), handed)) {
    case MessageRead::Incomplete:
        return;
    case MessageRead::Invalid:
        return Drop(connection);
    case MessageRead::Complete:
        break;
    }
    if (!IsLaunchToken(handed.LaunchToken))
        handed.LaunchToken.clear();
    connection->write(HandoverAnswer.data(), HandoverAnswer.size());
    connection->disconnectFromServer();
    // From the event loop, not from inside the socket's signal: opening the picture may show
    // a message box.
    QTimer::singleShot(0, this, [this, handed] {
        if (OnPictureHandedOver)
            OnPictureHandedOver(handed.Picture, handed.LaunchToken);
    });
}
