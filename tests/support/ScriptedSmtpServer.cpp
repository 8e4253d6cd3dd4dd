#include "support/ScriptedSmtpServer.h"

#include <QString>

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// No single wait of the server is longer than this; a silent client is a problem, not a hang.
constexpr int StepTimeoutMs = 5000;

QByteArray Bare(const QByteArray &line)
{
    return line.endsWith("\r\n") ? line.chopped(2) : line.endsWith('\n') ? line.chopped(1) : line;
}

// A line for a problem's text.
QString Text(const QByteArray &bytes)
{
    return QString::fromLatin1(Bare(bytes).left(200));
}

// Waits a while for fd to become readable, or until stop.
bool Readable(int fd, const std::atomic<bool> &stop)
{
    for (int waited = 0; !stop && waited < StepTimeoutMs; waited += 20)
        if (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 20) > 0)
            return true;
    return false;
}

} // namespace

ScriptedSmtpServer::Script ScriptedSmtpServer::Greeting()
{
    return {Say("220 test.local ESMTP ready"), Expect("HELO kelvo"), Say("250 test.local")};
}

ScriptedSmtpServer::Script ScriptedSmtpServer::Mail(const QByteArray &from, const QList<QByteArray> &rcpts)
{
    Script s{Expect("RSET"), Say("250 OK"), Expect("MAIL FROM:<" + from + ">"), Say("250 OK")};
    for (const QByteArray &r : rcpts)
        s << Expect("RCPT TO:<" + r + ">") << Say("250 OK");
    return s << Expect("DATA") << Say("354 go ahead") << ReadMessage() << Say("250 queued");
}

ScriptedSmtpServer::ScriptedSmtpServer(const Script &s, int receiveBuffer) : script(s)
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&addr), len) == 0 && ::listen(listener, 4) == 0 &&
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    worker = std::thread([this] {
        // OpenSSL writes to the socket with write(), which raises SIGPIPE when the client has
        // already closed; blocked in this thread only, it becomes EPIPE here and the client
        // side of the process still shows whether kelvo's own sends raise it.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        bool going = Accept() || Problem(QStringLiteral("no client connected"));
        for (const Step &step : script)
            going = going && !stop && RunStep(step);
        // Whatever the client says after the script is unexpected, until it closes.
        QByteArray line;
        while (going && conn >= 0 && !stop && ReadLine(line))
            Problem(QStringLiteral("unexpected line %1").arg(Text(line)));
    });
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    Stop();
    ::close(listener);
}

void ScriptedSmtpServer::Finish()
{
    if (worker.joinable())
        worker.join();
}

void ScriptedSmtpServer::Stop()
{
    stop = true;
    Finish();
    CloseConnection();
}

bool ScriptedSmtpServer::Problem(const QString &text)
{
    std::lock_guard lock(mutex);
    problems << text;
    return false;
}

void ScriptedSmtpServer::CloseConnection()
{
    SSL_free(ssl);
    ssl = nullptr;
    if (conn >= 0)
        ::close(conn);
    conn = -1;
    pending.clear();
}

bool ScriptedSmtpServer::Accept()
{
    CloseConnection();
    if (port != 0 && Readable(listener, stop))
        conn = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    return conn >= 0;
}

// Reads more bytes into pending; false on close, error, time-out or stop.
bool ScriptedSmtpServer::Fill()
{
    while ((ssl && SSL_pending(ssl) > 0) || Readable(conn, stop)) {
        char buf[65536];
        const int n = ssl ? SSL_read(ssl, buf, sizeof buf) : int(::recv(conn, buf, sizeof buf, 0));
        if (n > 0)
            pending.append(buf, n);
        if (n > 0 || !ssl || SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ)
            return n > 0;
    }
    return false;
}

bool ScriptedSmtpServer::ReadLine(QByteArray &line, bool logged)
{
    while (!pending.contains('\n'))
        if (!Fill())
            return false;
    line = pending.left(pending.indexOf('\n') + 1);
    pending.remove(0, line.size());
    std::lock_guard lock(mutex);
    if (logged)
        lines.append(Bare(line));
    return true;
}

bool ScriptedSmtpServer::RunStep(const Step &step)
{
    QByteArray line, text;
    switch (step.kind) {
    case Step::Reply:
        // A client that hung up fails at the next Expect; a flood it gave up on is no problem.
        (void)(ssl ? SSL_write(ssl, step.text.constData(), int(step.text.size()))
                   : ::send(conn, step.text.constData(), size_t(step.text.size()), MSG_NOSIGNAL));
        return true;
    case Step::Expect:
        if (!ReadLine(line))
            return Problem(QStringLiteral("expected %1, got nothing").arg(Text(step.text)));
        if (!line.endsWith("\r\n") || (step.amount == 0 && Bare(line) != step.text))
            Problem(QStringLiteral("expected %1 and CR LF, got %2").arg(Text(step.text), Text(line)));
        return true;
    case Step::ExpectClose:
        return !ReadLine(line) || Problem(QStringLiteral("expected a hang-up, got %1").arg(Text(line)));
    case Step::ReadData:
        while (ReadLine(line, false) && line != ".\r\n")
            text += line;
        {
            std::lock_guard lock(mutex);
            messages << text;
        }
        return line == ".\r\n" || Problem(QStringLiteral("message text ended without \".\""));
    case Step::ReadBytes:
        while (pending.size() < step.amount)
            if (!Fill())
                return Problem(QStringLiteral("fewer bytes than %1 came").arg(step.amount));
        pending.clear();
        return true;
    case Step::Pause:
        for (int waited = 0; !stop && waited < step.amount; waited += 10)
            ::usleep(10000);
        return true;
    case Step::Close:
        if (const linger now{1, 0}; step.amount == 1)
            ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        CloseConnection();
        return true;
    case Step::Accept:
        return Accept() || Problem(QStringLiteral("no second connection"));
    case Step::Tls:
        return StartTls(step.text);
    }
    return true;
}

bool ScriptedSmtpServer::StartTls(const QByteArray &certificate)
{
    SSL_CTX *context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, (certificate + ".pem").constData());
    SSL_CTX_use_PrivateKey_file(context, (certificate + ".key").constData(), SSL_FILETYPE_PEM);
    ssl = SSL_new(context);
    SSL_CTX_free(context);
    SSL_set_fd(ssl, conn);
    const timeval bound{StepTimeoutMs / 1000, 0}; // a silent client fails the handshake
    ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    return SSL_accept(ssl) == 1 || Problem(QStringLiteral("TLS handshake failed"));
}
