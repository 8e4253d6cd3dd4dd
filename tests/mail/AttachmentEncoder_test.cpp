#include "mail/AttachmentEncoder.h"

#include "platform/Exception.h"

#include <QBuffer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <map>

namespace {

QByteArray Encode(const QByteArray &input, UUMethods method, qint64 startPos = 0)
{
    QByteArray in = input, out;
    QBuffer inBuf(&in), outBuf(&out);
    inBuf.open(QIODevice::ReadOnly);
    outBuf.open(QIODevice::ReadWrite);
    inBuf.seek(startPos);
    AttachmentEncoder enc;
    enc.Method = method;
    enc.InputStream = &inBuf;
    enc.OutputStream = &outBuf;
    enc.Encode();
    EXPECT_EQ(outBuf.pos(), 0);
    return out;
}

QByteArray Bytes(int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

// An independent uudecoder for one line: length character, then groups of four.
QByteArray UuDecodeLine(const QByteArray &line)
{
    auto val = [](char c) { return (c - 32) & 63; };
    const int n = val(line[0]);
    QByteArray out;
    auto at = [&](qsizetype i) { return i < line.size() ? line[i] : '`'; };
    for (int i = 1; out.size() < n; i += 4) {
        const int a = val(at(i)), b = val(at(i + 1)), c = val(at(i + 2)), d = val(at(i + 3));
        out += char((a << 2) | (b >> 4));
        out += char(((b & 15) << 4) | (c >> 2));
        out += char(((c & 3) << 6) | d);
    }
    return out.left(n);
}

} // namespace

TEST(AttachmentEncoder, MimeLinesDecodeBackAndKeepTheirShape)
{
    // Each line as the count of its characters before any padding, then the padding.
    const std::map<int, QByteArray> shapes{{0, ""},    {1, "2=="},     {2, "3="},     {3, "4"},
                                           {45, "60"}, {46, "60|2=="}, {47, "60|3="}, {90, "60|60"}};
    QRandomGenerator rng(20261206);
    QList<int> sizes{0, 1, 2, 3, 45, 46, 47, 90, 10000};
    for (int i = 0; i < 40; ++i)
        sizes << int(rng.bounded(10001));
    for (int size : sizes) {
        SCOPED_TRACE(size);
        const QByteArray in = Bytes(size, quint32(size) * 7 + 1);
        const QByteArray out = Encode(in, uuMime);
        QByteArrayList shape;
        for (QByteArray line : out.split('\n')) {
            if (line.isEmpty())
                continue;
            EXPECT_TRUE(line.endsWith('\r'));
            line.chop(1);
            EXPECT_LE(line.size(), 60);
            EXPECT_FALSE(line.startsWith('.'));
            const qsizetype data = line.indexOf('=') < 0 ? line.size() : line.indexOf('=');
            shape << QByteArray::number(data) + line.mid(data);
        }
        if (shapes.count(size))
            EXPECT_EQ(shape.join('|'), shapes.at(size));
        const auto decoded = QByteArray::fromBase64Encoding(QByteArray(out).replace("\r\n", ""),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, in);
    }
    EXPECT_EQ(Encode("Man", uuMime), "TWFu\r\n");
    EXPECT_EQ(Encode("M", uuMime), "TQ==\r\n");
}

TEST(AttachmentEncoder, UuCodeLinesCarryTheirLengthAndEndWithGrave)
{
    EXPECT_EQ(Encode({}, uuCode), "`\r\n");
    for (int size : {1, 2, 3, 14, 45, 46, 100, 4096}) {
        SCOPED_TRACE(size);
        const QByteArray in = Bytes(size, quint32(size));
        const QByteArray out = Encode(in, uuCode);
        ASSERT_TRUE(out.endsWith("\r\n`\r\n"));
        QList<QByteArray> lines = out.split('\n');
        lines.removeLast();
        ASSERT_EQ(lines.takeLast(), "`\r");
        QByteArray decoded;
        for (int i = 0; i < lines.size(); ++i) {
            const QByteArray line = lines[i].chopped(1);
            const int n = i + 1 < lines.size() ? 45 : size - 45 * i;
            EXPECT_EQ(line[0], char(32 + n)) << i;
            EXPECT_EQ(line.size(), 1 + (n / 3) * 4 + (n % 3 ? n % 3 + 1 : 0)); // no padding
            EXPECT_FALSE(line.contains(' '));
            decoded += UuDecodeLine(line);
        }
        EXPECT_EQ(decoded, in);
    }
    // a zero group is the grave accent, never a blank
    EXPECT_EQ(Encode(QByteArray(3, '\0'), uuCode), "#````\r\n`\r\n");
}

TEST(AttachmentEncoder, ReadsFromTheStartAndFiresEventsOnEveryPath)
{
    EXPECT_EQ(Encode("Man", uuMime, 2), "TWFu\r\n");

    QByteArray in("abc"), out;
    QBuffer inBuf(&in), outBuf(&out);
    inBuf.open(QIODevice::ReadOnly);
    outBuf.open(QIODevice::ReadOnly); // writes fail
    AttachmentEncoder enc;
    QStringList events;
    enc.OnBeginEncode = [&](QObject *s) { events << (s == &enc ? "begin" : "?"); };
    enc.OnEndEncode = [&](QObject *s) { events << (s == &enc ? "end" : "?"); };
    enc.InputStream = &inBuf;
    enc.OutputStream = &outBuf;
    EXPECT_THROW(enc.Encode(), Exception);
    EXPECT_EQ(events, QStringList({"begin", "end"}));

    // A handler of the end event that throws, on either path, reaches the caller.
    enc.OnEndEncode = [](QObject *) { throw Exception("from the handler"); };
    EXPECT_THROW(enc.Encode(), Exception);
    outBuf.close();
    outBuf.open(QIODevice::WriteOnly);
    EXPECT_THROW(enc.Encode(), Exception);
}
