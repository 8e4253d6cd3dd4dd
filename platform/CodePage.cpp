#include "platform/CodePage.h"

#include "platform/Exception.h"

#include <QCoreApplication>

#include <cerrno>
#include <iconv.h>

namespace {

class Converter
{
public:
    Converter(const char *to, const char *from) : cd(iconv_open(to, from))
    {
        if (cd == reinterpret_cast<iconv_t>(-1))
            throw Exception(QCoreApplication::translate("CodePage", "文字コード %1 から %2 への変換ができません")
                                .arg(QLatin1String(from), QLatin1String(to)));
    }
    ~Converter() { iconv_close(cd); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts as much as it can; returns false on an invalid or incomplete input
    // sequence, leaving `in`/`inLeft` at the offending byte.
    bool Run(char *&in, size_t &inLeft, QByteArray &out)
    {
        char buffer[4096];
        while (inLeft > 0) {
            char *o = buffer;
            size_t oLeft = sizeof buffer;
            const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
            out.append(buffer, static_cast<qsizetype>(o - buffer));
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                return false;
            }
        }
        Flush(out);
        return true;
    }

    void Flush(QByteArray &out)
    {
        char buffer[64];
        char *o = buffer;
        size_t oLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &o, &oLeft);
        out.append(buffer, static_cast<qsizetype>(o - buffer));
    }

private:
    iconv_t cd;
};

int Utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

} // namespace

QString FromCodePage(const QByteArray &bytes, const char *charset)
{
    Converter converter("UTF-8", charset);
    QByteArray copy = bytes;
    char *in = copy.data();
    size_t left = static_cast<size_t>(copy.size());
    QByteArray out;
    out.reserve(copy.size() * 2);
    while (!converter.Run(in, left, out)) {
        out.append("\xEF\xBF\xBD"); // U+FFFD for the byte that is no character
        ++in;
        --left;
        converter.Flush(out);
    }
    return QString::fromUtf8(out);
}

QByteArray ToCodePage(const QString &text, const char *charset, char replacement, bool *lossless)
{
    Converter converter(charset, "UTF-8");
    QByteArray utf8 = text.toUtf8();
    char *in = utf8.data();
    size_t left = static_cast<size_t>(utf8.size());
    QByteArray out;
    out.reserve(utf8.size());
    bool ok = true;
    while (!converter.Run(in, left, out)) {
        ok = false;
        const size_t skip = std::min<size_t>(left, static_cast<size_t>(Utf8Length(static_cast<unsigned char>(*in))));
        in += skip;
        left -= skip;
        converter.Flush(out); // back to the initial shift state before the stand-in
        out.append(replacement);
    }
    if (lossless)
        *lossless = ok;
    return out;
}

QByteArray CutCP932(const QByteArray &bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype end = 0;
    while (end < bytes.size()) {
        const int length = CP932CharLength(static_cast<unsigned char>(bytes[end]));
        if (end + length > maxBytes)
            break;
        end += length;
    }
    return bytes.left(end);
}
