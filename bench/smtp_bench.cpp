// Sends one mail with a large attachment to an SMTP server on 127.0.0.1, several times,
// and prints how long each send took. bench/smtp-vs-curl.sh runs it beside curl.
//
//   smtp_bench PORT [ROUNDS] [ATTACHMENT_BYTES] [MESSAGE_OUT] [SECURITY USER PASSWORD]
//
// MESSAGE_OUT receives the text that went out after DATA (without the final "."), so
// that curl can upload exactly the same message. SECURITY is none, starttls or tls; with
// USER the client logs in (the server's certificate must verify: SSL_CERT_FILE).
#include "mail/SmtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double ElapsedMs(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

// Random bytes, which no encoding shrinks; empty when the file cannot be written.
QString WriteAttachment(const QTemporaryDir &dir, int bytes)
{
    QString path = dir.filePath("bench.jpg");
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator rng(1);
    for (char &c : data)
        c = char(rng.bounded(256));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return {};
    return path;
}

// The client as the window fills it, from the command line's PORT and SECURITY USER PASSWORD.
void SetUp(SmtpClient &smtp, int argc, char **argv, const QString &attachment)
{
    smtp.Host = "127.0.0.1";
    smtp.Port = std::atoi(argv[1]);
    smtp.HeloName = "bench";
    smtp.ClearRecipientsAfterSend = false;
    smtp.TimeOut = 60000; // as the window sets it
    const QByteArray security = argc > 5 ? QByteArray(argv[5]) : QByteArray("none");
    smtp.Security = security == "tls"        ? SmtpSecurity::Tls
                    : security == "starttls" ? SmtpSecurity::StartTls
                                             : SmtpSecurity::None;
    smtp.Auth = argc > 7;
    smtp.AuthUser = argc > 7 ? QByteArray(argv[6]) : QByteArray();
    smtp.Password = argc > 7 ? QByteArray(argv[7]) : QByteArray();
    MailMessage &m = smtp.Mail;
    m.FromAddress = "sender@example.com";
    m.To = {"phone@example.jp"};
    m.Subject = "bench";
    m.Mailer = "kelvo bench";
    m.Body = {"A picture."};
    m.Attachments = {attachment};
}

// Composition alone (reading and encoding the attachment), outside any session.
void TimeComposition(SmtpClient &smtp)
{
    std::vector<double> compose;
    for (int r = 0; r < 3; ++r) {
        QElapsedTimer t;
        t.start();
        smtp.ComposeMessage();
        compose.push_back(ElapsedMs(t));
    }
    std::printf("ComposeMessage alone: median %.1f ms of 3\n", Median(compose));
}

void TimeSessions(SmtpClient &smtp, int rounds)
{
    int packets = 0;
    smtp.OnPacketSent = [&](QObject *) { ++packets; };
    std::vector<double> session, send, cpu;
    for (int r = 0; r < rounds; ++r) {
        packets = 0;
        QElapsedTimer t;
        const double c0 = CpuMs();
        t.start();
        smtp.Connect();
        QElapsedTimer s;
        s.start();
        smtp.SendMail();
        send.push_back(ElapsedMs(s));
        smtp.Disconnect();
        session.push_back(ElapsedMs(t));
        cpu.push_back(CpuMs() - c0);
        std::printf("round %d: session %.1f ms, SendMail %.1f ms, CPU %.1f ms, %d packet events, %d bytes\n", r + 1,
                    session.back(), send.back(), cpu.back(), packets, smtp.TotalBytes);
    }
    std::printf("median: session %.1f ms, SendMail %.1f ms, CPU %.1f ms\n", Median(session), Median(send), Median(cpu));
}

// The text that went out after DATA, for curl to upload the same.
bool WriteMessage(const SmtpClient &smtp, const QString &path)
{
    QByteArray text;
    for (const QByteArray &line : smtp.FinalHeader)
        text += line + "\r\n";
    text += "\r\n\r\n" + smtp.MessageBody();
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: smtp_bench PORT [ROUNDS] [ATTACHMENT_BYTES] [MESSAGE_OUT] [SECURITY USER "
                             "PASSWORD]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int bytes = argc > 3 ? std::atoi(argv[3]) : 1024 * 1024;
    QTemporaryDir dir;
    const QString attachment = WriteAttachment(dir, bytes);
    if (attachment.isEmpty())
        return 1;
    SmtpClient smtp;
    SetUp(smtp, argc, argv, attachment);
    try {
        TimeComposition(smtp);
        TimeSessions(smtp, rounds);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "smtp_bench: %s\n", e.what());
        return 1;
    }
    if (argc > 4 && argv[4][0] != '\0' && !WriteMessage(smtp, QString::fromLocal8Bit(argv[4])))
        return 1;
    return 0;
}
