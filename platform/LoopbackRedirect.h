#pragma once

#include <QByteArray>
#include <QObject>
#include <QUrl>
#include <QUrlQuery>

class QTcpServer;
class QTcpSocket;

// Where the browser comes back to after a sign-in (RFC 8252, 7.3): a listener on 127.0.0.1,
// at a port the system picks, open only while a sign-in waits. The first request for "/"
// is the answer: its query is kept, the browser gets Page, and the listener closes. Other
// requests (a favicon) get a 404; a connection that says nothing for a while is dropped.
class LoopbackRedirect : public QObject
{
    Q_OBJECT
public:
    explicit LoopbackRedirect(QObject *parent = nullptr);
    ~LoopbackRedirect() override;

    // False when no port could be had.
    bool Listen();
    void Close();
    // http://127.0.0.1:<port>/
    QUrl RedirectUri() const;
    // The query of the answer, once Answered.
    QUrlQuery Answer() const { return answer; }

    // The page the browser shows once it has come back (HTML, UTF-8).
    QByteArray Page;

    // The most of a request that is read: a browser's request line and headers are far less.
    static constexpr qsizetype MaxRequest = 16 * 1024;

signals:
    void Answered();

private:
    void Accept();
    void Read(QTcpSocket *socket);

    QTcpServer *server;
    QUrlQuery answer;
};
