#include "app/SingleInstance.h"

#include "app/CommandLine.h"
#include "app/LaunchFeedback.h"

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
#include <QtEndian>

#include <unistd.h>

namespace {

constexpr char Magic[] = "KLVO";
constexpr int LengthBytes = 4;
constexpr int HeaderBytes = 8;      // the magic and the length
constexpr int MaxPathBytes = 16384; // four times the longest path Linux opens
constexpr int MaxMessageBytes = HeaderBytes + MaxPathBytes + LengthBytes + MaxLaunchTokenBytes;
constexpr QByteArrayView Answer = "OK";
constexpr int ConnectWaitMs = 2000;
constexpr int AnswerWaitMs = 10000; // the running kelvo may be busy fitting a large picture
constexpr int MessageWaitMs = 5000; // a peer that has not sent its message by then is dropped
constexpr int MaxOpenConnections = 8;

QString RuntimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
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

QByteArray WithLength(const QByteArray &bytes)
{
    char length[LengthBytes];
    qToBigEndian<quint32>(quint32(bytes.size()), length);
    return QByteArray(length, sizeof length) + bytes;
}

QByteArray HandoverMessage(const QString &picture, const QByteArray &launchToken)
{
    QByteArray message = Magic + WithLength(QFile::encodeName(picture));
    if (!launchToken.isEmpty())
        message += WithLength(launchToken);
    return message;
}

// The length field at `at`, which has come whole.
quint32 LengthAt(QLocalSocket *connection, qint64 at)
{
    return qFromBigEndian<quint32>(connection->peek(at + LengthBytes).constData() + at);
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
        // A socket file that nobody listens on (left by a kelvo that crashed) refuses at once.
        if (!socket.waitForConnected(ConnectWaitMs))
            continue;
        socket.write(HandoverMessage(picture, launchToken));
        socket.waitForBytesWritten(ConnectWaitMs);
        const QDeadlineTimer deadline(AnswerWaitMs);
        QByteArray answer;
        while (answer.size() < Answer.size() && socket.waitForReadyRead(int(deadline.remainingTime())))
            answer += socket.read(Answer.size() - answer.size());
        return answer == Answer ? Handover::Delivered : Handover::NoAnswer;
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
        connection->setReadBufferSize(MaxMessageBytes);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] { ReadMessage(connection); });
        QTimer::singleShot(MessageWaitMs, connection, [connection] { Drop(connection); });
        ReadMessage(connection);
    }
}

void InstanceServer::ReadMessage(QLocalSocket *connection)
{
    if (connection->state() != QLocalSocket::ConnectedState || connection->bytesAvailable() < HeaderBytes)
        return;
    const quint32 length = LengthAt(connection, HeaderBytes - LengthBytes);
    if (!connection->peek(HeaderBytes).startsWith(Magic) || length > quint32(MaxPathBytes))
        return Drop(connection);
    const qint64 pathEnd = HeaderBytes + qint64(length);
    const qint64 available = connection->bytesAvailable();
    if (available < pathEnd)
        return;
    // The token is written together with the path: a message that ends with its path has none.
    quint32 tokenLength = 0;
    if (available > pathEnd) {
        if (available < pathEnd + LengthBytes)
            return;
        tokenLength = LengthAt(connection, pathEnd);
        if (tokenLength > quint32(MaxLaunchTokenBytes))
            return Drop(connection);
        if (available < pathEnd + LengthBytes + tokenLength)
            return;
    }
    connection->skip(HeaderBytes);
    const QString picture = QFile::decodeName(connection->read(length));
    connection->skip(LengthBytes);
    QByteArray token = connection->read(tokenLength);
    if (!IsLaunchToken(token))
        token.clear();
    connection->write(Answer.data(), Answer.size());
    connection->disconnectFromServer();
    // From the event loop, not from inside the socket's signal: opening the picture may show
    // a message box.
    QTimer::singleShot(0, this, [this, picture, token] {
        if (OnPictureHandedOver)
            OnPictureHandedOver(picture, token);
    });
}
