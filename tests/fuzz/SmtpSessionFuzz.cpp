// libFuzzer target for a whole SMTP session (Connect, SendMail, Disconnect) against a server on loopback that says
// what the input says. It ends in success or an Exception, never a crash or a hang, and a mail counts as delivered
// only when the reply the client took for the answer to its "." was a 2xx. (The server cannot tell which of its
// replies that was: one it sent unasked may reach the client just after the ".".)
#include "mail/SmtpClient.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int listener = -1;
sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};

// One connection: the replies in turn, each after a line of the client's (after a 354 to DATA, after the message
// through its "."), or unasked once the client is silent for 20 ms.
void Serve(int client, QList<QByteArray> replies)
{
    QByteArray received, line;
    for (bool inMessage = false; !replies.isEmpty();) {
        const QByteArray reply = replies.takeFirst() + "\r\n";
        inMessage = line.startsWith("DATA") && reply.startsWith("354");
        ::send(client, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
        line.clear();
        const QByteArray end = inMessage ? "\r\n.\r\n" : "\n";
        qsizetype at = -1;
        while ((at = received.indexOf(end)) < 0) {
            pollfd wait{client, POLLIN, 0};
            if (::poll(&wait, 1, inMessage ? 2000 : 20) == 0 && !inMessage)
                break;
            char buffer[16384];
            const ssize_t got = wait.revents ? ::recv(client, buffer, sizeof buffer, 0) : 0;
            if (got <= 0)
                return; // gone, or stuck in the message
            received.append(buffer, got);
        }
        if (at >= 0)
            line = received.left(at + 1), received.remove(0, at + end.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    // No handshake with this server ever completes: an empty trust store spares loading the system's each time.
    setenv("SSL_CERT_FILE", "/dev/null", 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    socklen_t length = sizeof address;
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        std::abort();
    return 0;
}

// The first byte chooses the protection and the login; the replies follow, separated by zero bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    SmtpClient client;
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = ntohs(address.sin_port);
    client.TimeOut = 3000;
    client.Security = SmtpSecurity((data[0] & 3) % 3);
    client.Auth = client.Security != SmtpSecurity::None && (data[0] & 4);
    client.AuthUser = "kelvo";
    client.Password = "secret";
    client.Mail = {.FromAddress = "me@example.com", .To = {"you@example.jp", "Bad <bad@x>"}, .Body = {"hi", "."}};
    std::thread server([&] {
        pollfd wait{listener, POLLIN, 0};
        if (::poll(&wait, 1, 5000) == 1) // the client connects first thing
            if (const int connection = ::accept(listener, nullptr, nullptr); connection >= 0) {
                const auto replies = QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split(0);
                Serve(connection, replies.mid(0, 64));
                ::close(connection);
            }
    });
    std::optional<int> answerToDot; // set once SendMail has counted the mail delivered
    try {
        client.Connect();
        client.SendMail();
        answerToDot = client.ReplyCode; // its last command was "."
        client.Disconnect();
    } catch (const Exception &) {
    }
    client.SocketClient::Disconnect();
    server.join();
    if (answerToDot && (*answerToDot < 200 || *answerToDot > 299))
        std::abort();
    return 0;
}
