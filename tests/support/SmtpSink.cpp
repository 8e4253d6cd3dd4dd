#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

const QString Python = QStringLiteral("/usr/bin/python3");
const QString SinkScript = QStringLiteral(KELVO_SOURCE_DIR "/tests/support/smtp_sink.py");
constexpr int StartTimeoutMs = 15000;
constexpr int WaitTimeoutMs = 10000;

QString SmtpSink::Certificates()
{
    static QTemporaryDir dir;
    static const bool made = QProcess::execute(Python, {SinkScript, "certs", dir.path()}) == 0 &&
                             qputenv("SSL_CERT_FILE", QFile::encodeName(dir.filePath("ca.pem")));
    return made ? dir.path() : QString();
}

SmtpSink::SmtpSink(Mode mode, const QString &certificate, const QString &address)
{
    QStringList arguments{SinkScript, QString::fromLatin1(mode == OAuth ? "oauth" : "serve"), folder.path()};
    if (mode == OAuth)
        arguments << Certificates();
    else if (mode != Plain || address != QLatin1String("127.0.0.1"))
        arguments << (mode == Tls        ? "tls"
                      : mode == StartTls ? "starttls"
                                         : "plain")
                  << Certificates() << certificate << address;
    process.start(Python, arguments);
    QByteArray out;
    while (!out.contains('\n') && process.waitForReadyRead(StartTimeoutMs))
        out += process.readAllStandardOutput();
    const QList<QByteArray> ports = out.trimmed().split(' ');
    if (ports.value(0) == "PORT") {
        port = quint16(ports.value(1).toUInt());
        httpsPort = quint16(ports.value(2).toUInt());
    }
    if (port == 0)
        error = QStringLiteral("the SMTP sink did not start: %1 %2")
                    .arg(QString::fromUtf8(out), QString::fromUtf8(process.readAllStandardError()));
}

QByteArray SmtpSink::Control(const QByteArray &command)
{
    process.write(command + '\n');
    QByteArray answer;
    while (!answer.contains('\n') && process.waitForReadyRead(WaitTimeoutMs))
        answer += process.readAllStandardOutput();
    return answer.trimmed();
}

SmtpSink::~SmtpSink()
{
    process.closeWriteChannel(); // the sink ends when its standard input closes; else the QProcess kills it
    process.waitForFinished(5000);
}

QList<SmtpSink::Message> SmtpSink::Messages() const
{
    QList<Message> result;
    // A message's .json file appears last and whole.
    for (int n = 1; QFile::exists(folder.filePath(QString::number(n) + ".json")); ++n) {
        const QString stem = folder.filePath(QString::number(n));
        const QJsonObject o = QJsonDocument::fromJson(ReadFile(stem + ".json")).object();
        const auto text = [&o](const char *key) { return o.value(key).toString().toUtf8(); };
        result << Message{{}, text("helo"), text("auth"), text("mechanism"), text("token"), ReadFile(stem + ".eml")};
        for (const QJsonValue r : o.value("rcpt").toArray())
            result.last().Rcpt << r.toString().toUtf8();
    }
    return result;
}

QList<SmtpSink::Message> SmtpSink::WaitForMessages(int count) const
{
    QList<Message> got;
    (void)QTest::qWaitFor([&] { return (got = Messages()).size() >= count; }, WaitTimeoutMs);
    return got;
}

QJsonObject SmtpSink::Parse(const QByteArray &message)
{
    QProcess p;
    p.start(Python, {SinkScript, QStringLiteral("parse"), QStringLiteral("-")});
    p.write(message);
    p.closeWriteChannel();
    p.waitForFinished(StartTimeoutMs);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}
