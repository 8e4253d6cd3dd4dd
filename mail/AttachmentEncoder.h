#pragma once

#include "net/SocketEvents.h"

#include <QIODevice>
#include <QObject>

// How an attachment's bytes become text: base64 as MIME has it, or uuencode lines.
enum class EncodingMethod { Base64, Uuencode };

// Turns the bytes of InputStream into lines of printable text (CR LF ended) written to
// OutputStream. Only encoding exists. The streams belong to the caller.
class AttachmentEncoder : public QObject
{
public:
    explicit AttachmentEncoder(QObject *owner = nullptr);

    // Encodes all of InputStream, from its first byte, into OutputStream from its
    // current position; leaves OutputStream at position 0. A failing stream throws
    // Exception; OnEndEncode fires on every path.
    void Encode();

    NotifyEvent OnBeginEncode;
    NotifyEvent OnEndEncode;
    QIODevice *InputStream = nullptr;
    QIODevice *OutputStream = nullptr;
    EncodingMethod Method = EncodingMethod::Base64;

private:
    void EncodeLines();
    void WriteText(const QByteArray &text);
};
