#include "mail/AttachmentEncoder.h"

#include "platform/Exception.h"

namespace {

const char MimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 45 input bytes make one line: 60 characters, and the length character of a uuencoded line.
constexpr int BytesPerLine = 45;

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
    for (int v = 0; v < 64; ++v)
        alphabet[v] = Method == EncodingMethod::Base64 ? MimeAlphabet[v] : (v == 0 ? '`' : char(32 + v));

    auto writeLine = [this](const char *line, qint64 length) {
        if (OutputStream->write(line, length) != length)
            throw Exception(QStringLiteral("Stream write error"));
    };

    unsigned char in[BytesPerLine];
    char line[BytesPerLine / 3 * 4 + 3];
    // The size is taken once: asking a file for it stats the file every time.
    const qint64 size = InputStream->size();
    while (InputStream->pos() < size) {
        const qint64 n = InputStream->read(reinterpret_cast<char *>(in), BytesPerLine);
        if (n <= 0)
            throw Exception(QStringLiteral("Stream read error"));
        int len = 0;
        if (Method == EncodingMethod::Uuencode)
            line[len++] = alphabet[n];
        qint64 i = 0;
        for (; n - i >= 3; i += 3) {
            const unsigned b1 = in[i], b2 = in[i + 1], b3 = in[i + 2];
            line[len++] = alphabet[b1 >> 2];
            line[len++] = alphabet[((b1 & 3) << 4) | (b2 >> 4)];
            line[len++] = alphabet[((b2 & 15) << 2) | (b3 >> 6)];
            line[len++] = alphabet[b3 & 63];
        }
        if (n - i == 1) {
            const unsigned b1 = in[i];
            line[len++] = alphabet[b1 >> 2];
            line[len++] = alphabet[(b1 & 3) << 4];
            if (Method == EncodingMethod::Base64) {
                line[len++] = '=';
                line[len++] = '=';
            }
        } else if (n - i == 2) {
            const unsigned b1 = in[i], b2 = in[i + 1];
            line[len++] = alphabet[b1 >> 2];
            line[len++] = alphabet[((b1 & 3) << 4) | (b2 >> 4)];
            line[len++] = alphabet[(b2 & 15) << 2];
            if (Method == EncodingMethod::Base64)
                line[len++] = '=';
        }
        line[len++] = '\r';
        line[len++] = '\n';
        writeLine(line, len);
    }
    if (Method == EncodingMethod::Uuencode)
        writeLine("`\r\n", 3);
}
