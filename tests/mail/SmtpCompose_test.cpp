#include "mail/MailHeaderValues.h"
#include "mail/SmtpClient.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

// Each line followed by CR LF ("{B}" stands for the boundary).
QByteArray Lines(const QList<QByteArray> &lines)
{
    return QByteArrayList(lines).join("\r\n") + "\r\n";
}

// The parameter of each of these lines begins at its 50th character.
const QByteArray TextPlain = "Content-Type: text/plain;                        charset=us-ascii";
const QByteArray Multipart = "Content-Type: multipart/mixed;                   boundary=\"{B}\"";
// utf8: the name percent-encoded, for a name outside ASCII (then name is its fallback).
QByteArray PartHeader(const QByteArray &name, const QByteArray &utf8 = {})
{
    auto param = [&](const QByteArray &attribute) {
        return (utf8.isEmpty() ? "" : attribute + "*=UTF-8''" + utf8 + ";\r\n ") + attribute + "=\"" + name + '"';
    };
    return Lines({"--{B}", "Content-Type: application/octet-stream;          " + param("name"),
                  "Content-Transfer-Encoding: base64",
                  "Content-Disposition: attachment;                 " + param("filename"), ""});
}

} // namespace

TEST(SmtpCompose, TheWholeMultipartText)
{
    TestFolder folder;
    SmtpClient smtp;
    smtp.Mail = {.FromName = "Taro",
                 .FromAddress = "taro@example.com",
                 .Subject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=",
                 .Mailer = "kelvo 0.32",
                 .Date = "Sun, 06 Dec 2026 09:00:00 +0900",
                 .MessageId = "<0123456789abcdef0123456789abcdef@example.com>",
                 .ReplyTo = "r@example.com",
                 .To = {"a@example.jp", "Hanako <b@example.jp>"},
                 .Cc = {"cc:c@example.jp"},
                 .Bcc = {"hidden@example.jp"},
                 .Body = {"hello", ".", "..", " .", "", "a\r\n.\r\nQUIT", "b\n.", "c\r", "end"}};
    // Names: after the last "/", "\\" or ":"; quotes escaped; an empty file gives no line; one comes without a folder.
    for (const QString name :
         {"kelvo.jpg", "empty.jpg", "x:y.jpg", "p\\q.jpg", "plain.jpg", "say\"hi\".jpg", "写真.jpg"}) {
        folder.Write(name, name == "kelvo.jpg" ? "\xff\xd8\xff\xe0 picture bytes" : name == "empty.jpg" ? "" : "abc");
        smtp.Mail.Attachments << (name == "plain.jpg" ? name : folder.File(name));
    }
    smtp.FinalHeader = {"Content-Type: text/plain; charset=iso-2022-jp"}; // never sent
    smtp.ComposeMessage();

    const QByteArray b = smtp.FinalHeader.last().split('"').value(1); // from the Content-Type line written last
    EXPECT_TRUE(QRegularExpression("^={20}54535\\d\\d:\\d\\d:\\d\\d====$").match(QString::fromLatin1(b)).hasMatch())
        << b.constData();
    const QByteArray header =
        Lines({"From: Taro<taro@example.com>", "To: a@example.jp,Hanako <b@example.jp>", "CC: cc:c@example.jp",
               "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=", "X-Mailer: kelvo 0.32", "Reply-To: r@example.com",
               "Date: Sun, 06 Dec 2026 09:00:00 +0900", "Message-ID: <0123456789abcdef0123456789abcdef@example.com>",
               "Mime-Version: 1.0", Multipart, "", ""});
    const QByteArray abc = "YWJj\r\n";
    // Lines that hold line ends of their own are split there and each piece dot-stuffed. A name outside ASCII: the
    // UTF-8 name in the extended form, then a plain fallback.
    QByteArray body =
        Lines({"--{B}", TextPlain, "", "hello", "..", "...", " .", "", "a", "..", "QUIT", "b", "..", "c", "end"}) +
        PartHeader("kelvo.jpg") + "/9j/4CBwaWN0dXJlIGJ5dGVz\r\n" + PartHeader("empty.jpg") + PartHeader("y.jpg") + abc +
        PartHeader("q.jpg") + abc + PartHeader("plain.jpg") + abc + PartHeader("say\\\"hi\\\".jpg") + abc +
        PartHeader("__.jpg", "%E5%86%99%E7%9C%9F.jpg") + abc + "--{B}--\r\n";
    EXPECT_EQ(smtp.FinalHeader.join("\r\n") + "\r\n\r\n\r\n" + smtp.MessageBody(),
              QByteArray(header + body).replace("{B}", b));

    // A uuencoded line of 14 bytes begins with "." (its length): stuffed like a body line.
    folder.Write("fourteen", QByteArray(14, 'z'));
    smtp.AttachmentEncoding = EncodingMethod::Uuencode;
    smtp.Mail.Attachments = {folder.File("fourteen")};
    smtp.ComposeMessage();
    EXPECT_TRUE(smtp.MessageBody().contains("\r\n\r\n..>GIZ>GIZ>GIZ>GIZ>GH\r\n`\r\n--"));
}

TEST(HeaderList, SetHeaderValueFindsTheKeyBeforeTheFirstColonWhateverTheCase)
{
    HeaderList list{"X-Note:a:b", "Subject : spaced", "subject: old"};
    list.SetHeaderValue("Subject", "new: with colon");
    list.SetHeaderValue("X-NOTE", "");
    EXPECT_EQ(list, HeaderList({"Subject : spaced", "Subject: new: with colon"}));
}

// The date in English whatever the locale, with the zone's own offset; a new id for every message, from 128 random
// bits and the sender's domain in its ASCII form, or a domain of its own where the sender's would break the id.
TEST(MailHeaderValues, DateAndMessageId)
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    EXPECT_EQ(DateHeaderValue(QDateTime(QDate(2026, 12, 7), QTime(17, 41, 10), QTimeZone(9 * 3600))),
              "Mon, 07 Dec 2026 17:41:10 +0900");
    EXPECT_EQ(DateHeaderValue(QDateTime(QDate(2027, 2, 28), QTime(0, 0, 9), QTimeZone(-12600))),
              "Sun, 28 Feb 2027 00:00:09 -0330");
    QLocale::setDefault(QLocale::c());
    const std::pair<QByteArray, QString> domains[] = {
        {"taro@example.jp", "example.jp"},  {"Taro@Mail.Example.JP", "mail.example.jp"},
        {"taro@例え.jp", "xn--r8jz45g.jp"}, {"no-at-sign", "kelvo.invalid"},
        {"taro@a..jp", "kelvo.invalid"},    {"taro@ex>ample.jp", "kelvo.invalid"}};
    for (const auto &[from, domain] : domains) {
        const QString id = QString::fromLatin1(NewMessageId(from));
        EXPECT_EQ(QRegularExpression("^<[0-9a-f]{32}@(.*)>$").match(id).captured(1), domain) << id.toStdString();
        EXPECT_NE(id, NewMessageId(from));
    }
}
