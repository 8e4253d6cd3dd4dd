#include "mail/SmtpClient.h"

#include "support/SmtpSink.h"
#include "support/TestFolder.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QTimer>

#include <gtest/gtest.h>

// The whole road against a real server: aiosmtpd receives the mail and Python's email
// package reads it back, so the message is checked by readers that are not ours.
TEST(SmtpRealServer, JpegAttachmentArrivesWhole)
{
    SmtpSink sink;
    ASSERT_NE(sink.Port(), 0) << sink.Error().toStdString();
    TestFolder folder;

    QImage picture(40, 30, QImage::Format_RGB888);
    picture.fill(QColor(60, 90, 128));
    const QString path = folder.File("kelvo.jpg");
    ASSERT_TRUE(picture.save(path, "JPG"));
    const QByteArray jpeg = folder.Read("kelvo.jpg");

    SmtpClient smtp;
    bool stuck = false;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        stuck = true;
        smtp.Cancel();
    });
    watchdog.start(10000);
    smtp.Host = "127.0.0.1";
    smtp.Port = sink.Port();
    smtp.UserID = "kelvo-host";
    MailMessage &m = smtp.PostMessage;
    m.FromName = "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=";
    m.FromAddress = "sender@example.com";
    m.ToAddress = {"Phone <phone@example.jp>"};
    m.ToCarbonCopy = {"copy:cc@example.jp"};
    m.ToBlindCarbonCopy = {"bcc@example.jp"};
    m.Subject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
    m.LocalProgram = "kelvo 0.32";
    m.Body = {"Hello.", ".", "", "Bye."};
    m.Attachments = {path};
    smtp.Connect();
    smtp.SendMail();
    smtp.Disconnect();
    EXPECT_FALSE(stuck);

    const QList<SmtpSink::Message> got = sink.WaitForMessages(1);
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].From, "sender@example.com");
    EXPECT_EQ(got[0].Rcpt, QList<QByteArray>({"phone@example.jp", "cc@example.jp", "bcc@example.jp"}));
    EXPECT_EQ(got[0].Helo, "kelvo-host");

    const QJsonObject parsed = SmtpSink::Parse(got[0].Data);
    ASSERT_FALSE(parsed.isEmpty());
    EXPECT_EQ(parsed.value("content_type").toString(), "multipart/mixed");
    EXPECT_EQ(parsed.value("boundary").toString().toLatin1(), smtp.Boundary());
    EXPECT_EQ(parsed.value("defects").toArray().size(), 0);
    const QJsonArray parts = parsed.value("parts").toArray();
    ASSERT_EQ(parts.size(), 2);
    const QJsonObject text = parts[0].toObject(), file = parts[1].toObject();
    EXPECT_EQ(text.value("content_type").toString(), "text/plain");
    EXPECT_EQ(text.value("charset").toString(), "us-ascii");
    EXPECT_EQ(SmtpSink::PartData(parsed, 0),
              "Hello.\r\n.\r\n\r\nBye."); // dot-stuffing undone; the last CR LF belongs to the delimiter
    EXPECT_EQ(file.value("content_type").toString(), "application/octet-stream");
    EXPECT_EQ(file.value("disposition").toString(), "attachment");
    EXPECT_EQ(file.value("filename").toString(), "kelvo.jpg");
    EXPECT_EQ(file.value("defects").toArray().size(), 0);
    EXPECT_EQ(SmtpSink::PartData(parsed, 1), jpeg);

    QStringList headers;
    for (const QJsonValue &h : parsed.value("headers").toArray())
        headers << h.toArray()[0].toString() + ": " + h.toArray()[1].toString();
    EXPECT_TRUE(headers.contains("Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=")) << headers.join('|').toStdString();
    EXPECT_TRUE(headers.contains("To: Phone <phone@example.jp>"));
    EXPECT_FALSE(headers.join('|').contains("bcc@"));
}
