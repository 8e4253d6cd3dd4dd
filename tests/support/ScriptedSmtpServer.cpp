#include "support/ScriptedSmtpServer.h"

#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// No single wait of the server is longer than this; a silent client is a problem, not a hang.
constexpr int StepTimeoutMs = 5000;

bool SendAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

ScriptedSmtpServer::Script ScriptedSmtpServer::Greeting(const QByteArray &helo)
{
    return {Say("220 test.local ESMTP ready"), Expect(helo), Say("250 test.local")};
}

ScriptedSmtpServer::Script ScriptedSmtpServer::Mail(const QByteArray &from, const QList<QByteArray> &rcpts)
{
    Script s{Expect("RSET"), Say("250 OK"), Expect("MAIL FROM:<" + from + ">"), Say("250 OK")};
    for (const QByteArray &r : rcpts)
        s << Expect("RCPT TO:<" + r + ">") << Say("250 OK");
    s << Expect("DATA") << Say("354 go ahead") << ReadMessage() << Say("250 queued");
    return s;
}

ScriptedSmtpServer::ScriptedSmtpServer(const Script &s) : script(s)
{
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && ::listen(listener, 4) == 0) {
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    } else {
        Problem(QStringLiteral("cannot listen on 127.0.0.1"));
    }
    worker = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer()
{
    stop = true;
    if (worker.joinable())
        worker.join();
    if (conn >= 0)
        ::close(conn);
    if (listener >= 0)
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
    if (worker.joinable())
        worker.join();
    if (conn >= 0)
        ::close(conn);
    conn = -1;
}

QList<QByteArray> ScriptedSmtpServer::Lines() const
{
    std::lock_guard lock(mutex);
    return lines;
}

QList<QByteArray> ScriptedSmtpServer::Messages() const
{
    std::lock_guard lock(mutex);
    return messages;
}

QStringList ScriptedSmtpServer::Problems() const
{
    std::lock_guard lock(mutex);
    return problems;
}

void ScriptedSmtpServer::Problem(const QString &what)
{
    std::lock_guard lock(mutex);
    problems << what;
}

// Reads more bytes into pending; false on close, error, time-out or stop.
bool ScriptedSmtpServer::Fill(int timeoutMs)
{
    for (int waited = 0; !stop && waited < timeoutMs; waited += 20) {
        pollfd p{conn, POLLIN, 0};
        const int r = ::poll(&p, 1, 20);
        if (r < 0 && errno != EINTR)
            return false;
        if (r <= 0)
            continue;
        char buf[65536];
        const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pending.append(buf, n);
        return true;
    }
    return false;
}

bool ScriptedSmtpServer::ReadLine(QByteArray &line, int timeoutMs)
{
    for (;;) {
        const qsizetype lf = pending.indexOf('\n');
        if (lf >= 0) {
            line = pending.left(lf + 1);
            pending.remove(0, lf + 1);
            return true;
        }
        if (!Fill(timeoutMs))
            return false;
    }
}

void ScriptedSmtpServer::Run()
{
    auto accept = [this]() {
        if (conn >= 0)
            ::close(conn);
        conn = -1;
        pending.clear();
        for (int waited = 0; !stop && waited < StepTimeoutMs; waited += 20) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                conn = ::accept(listener, nullptr, nullptr);
                return conn >= 0;
            }
        }
        return false;
    };
    auto bare = [](const QByteArray &line) {
        return line.endsWith("\r\n") ? line.chopped(2) : line.endsWith('\n') ? line.chopped(1) : line;
    };

    if (listener < 0 || !accept()) {
        Problem(QStringLiteral("no client connected"));
        return;
    }
    for (const Step &step : script) {
        if (stop)
            return;
        switch (step.kind) {
        case Step::Reply:
            if (!SendAll(conn, step.text))
                Problem(QStringLiteral("could not send %1").arg(QString::fromLatin1(step.text.left(60))));
            break;
        case Step::Expect:
        case Step::ExpectAny: {
            QByteArray line;
            if (!ReadLine(line, StepTimeoutMs)) {
                Problem(QStringLiteral("expected %1, got nothing").arg(QString::fromLatin1(step.text)));
                return;
            }
            {
                std::lock_guard lock(mutex);
                lines << bare(line);
            }
            if (!line.endsWith("\r\n"))
                Problem(QStringLiteral("line without CR LF: %1").arg(QString::fromLatin1(line)));
            if (step.kind == Step::Expect && bare(line) != step.text)
                Problem(QStringLiteral("expected %1, got %2")
                            .arg(QString::fromLatin1(step.text), QString::fromLatin1(bare(line))));
            break;
        }
        case Step::ReadData: {
            QByteArray text, line;
            for (;;) {
                if (!ReadLine(line, StepTimeoutMs)) {
                    Problem(QStringLiteral("message text ended without \".\""));
                    std::lock_guard lock(mutex);
                    messages << text;
                    return;
                }
                if (line == ".\r\n")
                    break;
                text += line;
            }
            std::lock_guard lock(mutex);
            messages << text;
            break;
        }
        case Step::ReadBytes:
            while (pending.size() < step.amount)
                if (!Fill(StepTimeoutMs)) {
                    Problem(QStringLiteral("fewer bytes than %1 came").arg(step.amount));
                    return;
                }
            pending.clear();
            break;
        case Step::Pause:
            for (int waited = 0; !stop && waited < step.amount; waited += 10)
                ::usleep(10000);
            break;
        case Step::Close:
            ::close(conn);
            conn = -1;
            break;
        case Step::Accept:
            if (!accept()) {
                Problem(QStringLiteral("no second connection"));
                return;
            }
            break;
        }
    }
    done = true;
    // Whatever the client says after the script is logged as unexpected, until it closes.
    if (conn < 0)
        return;
    QByteArray line;
    while (!stop && ReadLine(line, StepTimeoutMs)) {
        std::lock_guard lock(mutex);
        lines << bare(line);
        problems << QStringLiteral("unexpected line %1").arg(QString::fromLatin1(bare(line)));
    }
}
