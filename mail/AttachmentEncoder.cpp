#include "mail/AttachmentEncoder.h"

#include "platform/Exception.h"

#include <algorithm>

namespace {

// 45 input bytes make one line: 60 characters, and the length character of a uuencoded line.
constexpr int BytesPerLine = 45;
// Read and written a block of lines at a time: line by line, the calls cost more than the
// encoding.
constexpr int LinesPerBlock = 1024;

// Appends one uuencoded line: its length, then each 6 bits as the character 32 + the value (a
// grave accent for 0, so that no line holds a blank), without padding. Written out here
// because Qt has no uuencoder; base64 lines are Qt's.
void AppendUuencodedLine(QByteArray &text, QByteArrayView bytes)
{
    const auto digit = [](unsigned value) { return value == 0 ? '`' : char(32 + value); };
    char line[1 + BytesPerLine / 3 * 4];
    int length = 0;
    line[length++] = digit(unsigned(bytes.size()));
    for (qsizetype i = 0; i < bytes.size(); i += 3) {
        const qsizetype group = std::min<qsizetype>(3, bytes.size() - i);
        const unsigned b1 = uchar(bytes[i]);
        const unsigned b2 = group > 1 ? uchar(bytes[i + 1]) : 0;
        const unsigned b3 = group > 2 ? uchar(bytes[i + 2]) : 0;
        line[length++] = digit(b1 >> 2);
        line[length++] = digit(((b1 & 3) << 4) | (b2 >> 4));
        if (group > 1)
            line[length++] = digit(((b2 & 15) << 2) | (b3 >> 6));
        if (group > 2)
            line[length++] = digit(b3 & 63);
    }
    text.append(line, length);
}

} // namespace

AttachmentEncoder::AttachmentEncoder(QObject *owner) : QObject(owner)
{}

void AttachmentEncoder::Encode()
{
    if (!InputStream || !OutputStream)
        throw Exception(QStringLiteral("Stream not set"));
    InputStream->seek(0);
    if (OnBeginEncode)
        OnBeginEncode(this);

    // Rewinding the output and the end event happen on every path. Not from a destructor:
    // a handler that throws there would end the program.
    const auto finish = [this] {
        OutputStream->seek(0);
        if (OnEndEncode)
            OnEndEncode(this);
    };
    try {
        EncodeLines();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void AttachmentEncoder::EncodeLines()
{
    // The size is taken once: asking a file for it stats the file every time.
    const qint64 size = InputStream->size();
    while (InputStream->pos() < size) {
        const QByteArray block = InputStream->read(BytesPerLine * LinesPerBlock);
        if (block.isEmpty())
            throw Exception(QStringLiteral("Stream read error"));
        // Whole lines of input make whole base64 lines, so the block is encoded at once.
        const QByteArray base64 = Method == EncodingMethod::Base64 ? block.toBase64() : QByteArray();
        QByteArray text;
        text.reserve(block.size() / BytesPerLine * 64 + 64);
        for (qsizetype at = 0; at < block.size(); at += BytesPerLine) {
            const qsizetype bytes = std::min<qsizetype>(BytesPerLine, block.size() - at);
            if (Method == EncodingMethod::Base64)
                text.append(QByteArrayView(base64).sliced(at / 3 * 4, (bytes + 2) / 3 * 4));
            else
                AppendUuencodedLine(text, QByteArrayView(block).sliced(at, bytes));
            text.append("\r\n");
        }
        WriteText(text);
    }
    if (Method == EncodingMethod::Uuencode)
        WriteText("`\r\n");
}

void AttachmentEncoder::WriteText(const QByteArray &text)
{
    if (OutputStream->write(text) != text.size())
        throw Exception(QStringLiteral("Stream write error"));
}
