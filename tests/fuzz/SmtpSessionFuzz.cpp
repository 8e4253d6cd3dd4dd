// libFuzzer target for a whole SMTP session (Connect, SendMail, Disconnect) against a server on loopback that says
// what the input says: each reply in turn, one for each line the client sends (the message text after a 354 to DATA
// counts as one, through its "."), or unasked when the client sends nothing for a moment. Every way it goes ends in
// success or an Exception, never a crash or a hang; and a mail counts as delivered only when the server answered
// its "." with a 2xx.
#include "mail/SmtpClient.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int listener = -1;
quint16 port = 0;

// The server's side of one connection. Replies are the input's pieces between zero bytes, each sent with a CR LF
// when it lacks a line feed.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(QList<QByteArray> replies) : replies(std::move(replies)) {}

    void Serve(int connection)
    {
        fd = connection;
        Reply(); // the greeting
        while (!replies.isEmpty() && Await())
            Reply();
        ::close(fd);
    }

    // What the server answered to the message's ".", when it got that far.
    QByteArray AnswerToMessage;

private:
    // Waits for the client's next line (or its whole message); false when it has gone.
    bool Await()
    {
        for (;;) {
            const qsizetype end = inMessage ? received.indexOf("\r\n.\r\n") : received.indexOf('\n');
            if (end >= 0) {
                lastLine = received.left(end + 1);
                received.remove(0, end + (inMessage ? 5 : 1));
                return true;
            }
            pollfd wait{fd, POLLIN, 0};
            // Silence outside the message: the client waits for more of a reply, which comes unasked.
            if (::poll(&wait, 1, inMessage ? 2000 : 20) == 0)
                return !inMessage;
            char buffer[16384];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            received.append(buffer, got);
        }
    }

    void Reply()
    {
        QByteArray reply = replies.takeFirst();
        if (!reply.endsWith('\n'))
            reply += "\r\n";
        if (inMessage)
            AnswerToMessage = reply;
        inMessage = lastLine.startsWith("DATA") && reply.startsWith("354");
        lastLine.clear();
        ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
    }

    QList<QByteArray> replies;
    QByteArray received, lastLine;
    bool inMessage = false;
    int fd = -1;
};

// Whether a reply's first line starts with a 2xx code.
bool Accepts(const QByteArray &reply)
{
    return reply.size() >= 3 && reply[0] == '2' && std::isdigit(uchar(reply[1])) && std::isdigit(uchar(reply[2]));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        std::abort();
    port = ntohs(address.sin_port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the connection's protection and the login; the replies follow.
    QList<QByteArray> replies = QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)).split('\0');
    if (replies.size() > 64)
        replies.resize(64);
    SmtpClient client;
    client.Host = QStringLiteral("127.0.0.1");
    client.Port = port;
    client.TimeOut = 3000; // a wait the server never ends fails the input instead of hanging
    client.HeloName = "kelvo";
    client.Security = SmtpSecurity(data[0] % 3);
    client.Auth = client.Security != SmtpSecurity::None && (data[0] & 4);
    client.AuthUser = "kelvo";
    client.Password = "secret";
    client.Mail = {.FromAddress = "me@example.com", .To = {"you@example.jp", "Bad <bad@example.jp>"},
                   .Body = {"hi", ".", "bye"}};

    ScriptedPeer peer(replies);
    std::thread server([&] {
        // The client connects first thing; should it not, the server does not wait for it for ever.
        pollfd wait{listener, POLLIN, 0};
        if (::poll(&wait, 1, 5000) == 1)
            if (const int connection = ::accept(listener, nullptr, nullptr); connection >= 0)
                peer.Serve(connection);
    });
    bool delivered = false;
    try {
        client.Connect();
        client.SendMail();
        delivered = true;
        client.Disconnect();
    } catch (const Exception &) {
    }
    client.SocketClient::Disconnect();
    server.join();
    if (delivered && !Accepts(peer.AnswerToMessage))
        std::abort();
    return 0;
}
