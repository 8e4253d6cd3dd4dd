#include "platform/LoopbackRedirect.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// How long a connection may take to send its request.
constexpr int RequestWaitMs = 10000;

QByteArray Response(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

LoopbackRedirect::LoopbackRedirect(QObject *parent) : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &LoopbackRedirect::Accept);
}

LoopbackRedirect::~LoopbackRedirect() = default;

bool LoopbackRedirect::Listen()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

void LoopbackRedirect::Close()
{
    server->close();
}

QUrl LoopbackRedirect::RedirectUri() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server->serverPort()));
}

void LoopbackRedirect::Accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(RequestWaitMs, socket, [socket] { socket->abort(), socket->deleteLater(); });
    }
}

void LoopbackRedirect::Read(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray();
    request += socket->read(MaxRequest + 1 - request.size());
    socket->setProperty("request", request);
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0 && request.size() <= MaxRequest)
        return;
    // "GET /?code=...&state=... HTTP/1.1": the path of the redirect URI, "/", and its query.
    const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
    const QUrl target(QString::fromLatin1(line.value(1)), QUrl::StrictMode);
    const bool answers = end >= 0 && line.size() == 3 && line[0] == "GET" && target.isValid() &&
                         target.path() == QLatin1String("/") && server->isListening();
    socket->write(answers ? Response("200 OK", Page) : Response("404 Not Found", "<!DOCTYPE html><title>404</title>"));
    socket->disconnectFromHost();
    request.fill('\0');
    socket->setProperty("request", QByteArray());
    if (!answers)
        return;
    answer = QUrlQuery(target);
    Close();
    emit Answered();
}
