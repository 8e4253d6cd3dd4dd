#include "mail/AttachmentEncoder.h"

#include "platform/Exception.h"
#include "support/Failure.h"

#include <QBuffer>

#include <gtest/gtest.h>

namespace {

QByteArray Encode(const QByteArray &input, EncodingMethod method)
{
    AttachmentEncoder enc;
    QBuffer in, out;
    in.setData(input);
    in.open(QIODevice::ReadOnly);
    in.seek(input.size()); // encoding starts at the first byte whatever the position
    out.open(QIODevice::ReadWrite);
    enc.Method = method;
    enc.InputStream = &in;
    enc.OutputStream = &out;
    enc.Encode();
    EXPECT_EQ(out.pos(), 0);
    return out.data();
}

TEST(AttachmentEncoder, LinesPaddingAndAlphabets)
{
    const QByteArray a45(45, 'a'), line = QByteArray("YWFh").repeated(15) + "\r\n";
    const std::tuple<QByteArray, EncodingMethod, QByteArray> rows[] = {
        {a45 + "a", EncodingMethod::Base64, line + "YQ==\r\n"},
        {"", EncodingMethod::Uuencode, "`\r\n"},
        {"Ca", EncodingMethod::Uuencode, "\"0V$\r\n`\r\n"},                // no padding
        {QByteArray(3, '\0'), EncodingMethod::Uuencode, "#````\r\n`\r\n"}, // zero is the grave accent, never a blank
        {a45, EncodingMethod::Uuencode, "M" + QByteArray("86%A").repeated(15) + "\r\n`\r\n"},
    };
    for (const auto &[input, method, output] : rows)
        EXPECT_EQ(Encode(input, method), output) << input.size() << " bytes, method " << int(method);
    // Whatever the size, base64 lines join to what Qt's encoder makes of the same bytes.
    for (QByteArray bytes; bytes.size() < 200; bytes += char(bytes.size() * 7919 >> 3))
        EXPECT_EQ(Encode(bytes, EncodingMethod::Base64).replace("\r\n", ""), bytes.toBase64()) << bytes.size();
}

TEST(AttachmentEncoder, EndEventOnEveryPathAndItsFailureReachesTheCaller)
{
    QStringList events;
    AttachmentEncoder enc;
    enc.OnBeginEncode = [&](QObject *) { events << "begin"; };
    enc.OnEndEncode = [&](QObject *) { throw Exception("end " + events.join(' ')); };
    QBuffer in, out; // the output is not open: the first line cannot be written
    in.setData("abc");
    in.open(QIODevice::ReadOnly);
    enc.InputStream = &in;
    enc.OutputStream = &out;
    EXPECT_EQ(FailureOf([&] { enc.Encode(); }), "end begin");
}

} // namespace
