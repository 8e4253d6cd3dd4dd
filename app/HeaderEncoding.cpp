#include "app/HeaderEncoding.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <functional>
#include <limits>

#include <cerrno>
#include <iconv.h>

namespace {

const QByteArray EscAscii("\x1B(B");

// One character of ISO-2022-JP: the escape that designates its set and its bytes.
struct JisCharacter
{
    QByteArray escape;
    QByteArray bytes;
};

// Encodes characters one at a time with iconv; results are kept, since a mail uses few
// distinct characters.
class JisEncoder
{
public:
    JisEncoder() : cd(iconv_open("ISO-2022-JP", "UTF-8"))
    {
        if (cd == reinterpret_cast<iconv_t>(-1))
            throw Exception(QCoreApplication::translate("HeaderEncoding", "ISO-2022-JP への変換ができません"));
    }
    ~JisEncoder() { iconv_close(cd); }
    JisEncoder(const JisEncoder &) = delete;
    JisEncoder &operator=(const JisEncoder &) = delete;

    // False when ISO-2022-JP cannot carry the character.
    bool Encode(char32_t c, JisCharacter &character)
    {
        const auto cached = cache.constFind(c);
        if (cached != cache.constEnd()) {
            character = *cached;
            return !character.bytes.isEmpty();
        }
        QByteArray in = QString::fromUcs4(&c, 1).toUtf8();
        char out[32];
        char *ip = in.data(), *op = out;
        size_t il = static_cast<size_t>(in.size()), ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const size_t r = iconv(cd, &ip, &il, &op, &ol);
        JisCharacter result;
        if (r != static_cast<size_t>(-1)) {
            iconv(cd, nullptr, nullptr, &op, &ol); // back to ASCII
            QByteArray all(out, static_cast<qsizetype>(op - out));
            // The output is [escape] bytes [ESC ( B]; split it into its set and bytes.
            if (all.startsWith('\x1B')) {
                result.escape = all.left(3);
                all.remove(0, 3);
                if (all.endsWith(EscAscii))
                    all.chop(3);
            } else {
                result.escape = EscAscii;
            }
            result.bytes = all;
        }
        cache.insert(c, result);
        character = result;
        return !result.bytes.isEmpty();
    }

private:
    iconv_t cd;
    QHash<char32_t, JisCharacter> cache;
};

JisEncoder &Encoder()
{
    static JisEncoder encoder;
    return encoder;
}

bool IsHalfWidthKana(QChar c)
{
    return c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F;
}

QString WidenKana(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        if (!IsHalfWidthKana(text[i])) {
            out.append(text[i++]);
            continue;
        }
        qsizetype j = i;
        while (j < text.size() && IsHalfWidthKana(text[j]))
            ++j;
        // Compatibility composition widens a run and joins ｶﾞ into ガ; a voiced mark with
        // nothing to join stays a mark of its own.
        QString run = text.mid(i, j - i).normalized(QString::NormalizationForm_KC);
        run.replace(QChar(0x3099), QChar(0x309B)).replace(QChar(0x309A), QChar(0x309C));
        out.append(run);
        i = j;
    }
    return out;
}

char32_t MapCp932(char32_t c)
{
    switch (c) {
    case 0xFF5E:
        return 0x301C; // FULLWIDTH TILDE -> WAVE DASH
    case 0x2225:
        return 0x2016; // PARALLEL TO -> DOUBLE VERTICAL LINE
    case 0xFF0D:
        return 0x2212; // FULLWIDTH HYPHEN-MINUS -> MINUS SIGN
    case 0xFFE0:
        return 0x00A2; // cent
    case 0xFFE1:
        return 0x00A3; // pound
    case 0xFFE2:
        return 0x00AC; // not
    case 0x2014:
        return 0x2015; // EM DASH -> HORIZONTAL BAR, the JIS dash
    default:
        return c;
    }
}

const char32_t Geta = 0x3013; // 〓

// The characters of the text as ISO-2022-JP has them, each one the code can carry.
QList<JisCharacter> JisCharacters(const QString &text)
{
    QList<JisCharacter> characters;
    QList<uint> codes = WidenKana(text).toUcs4();
    for (qsizetype i = 0; i < codes.size(); ++i) {
        char32_t c = MapCp932(codes[i]);
        // ヷ ヸ ヹ ヺ (what ﾜﾞ and ｦﾞ widen to) are not in JIS X 0208: ワ ヰ ヱ ヲ and a
        // voiced mark say the same.
        if (c >= 0x30F7 && c <= 0x30FA) {
            codes.insert(i + 1, 0x309B);
            c += 0x30EF - 0x30F7;
        }
        JisCharacter character;
        if (c == '\r' || c == '\n' || !Encoder().Encode(c, character)) {
            c = Geta;
            Encoder().Encode(c, character);
        }
        characters.append(character);
    }
    return characters;
}

// The characters as ISO-2022-JP texts that each start and end in ASCII: an escape where the
// character set changes, and the escape back to ASCII at the end. A text ends where the next
// character, with its escapes, would make it longer than roomFor(the number of texts before
// it, whether it begins with "."). There is always one text, empty for no characters.
QList<QByteArray> JisTexts(const QList<JisCharacter> &characters,
                           const std::function<qsizetype(qsizetype index, bool dot)> &roomFor)
{
    QList<QByteArray> texts;
    QByteArray text;
    QByteArray current = EscAscii;
    const auto close = [&] {
        if (current != EscAscii)
            text.append(EscAscii);
        texts.append(text);
        text.clear();
        current = EscAscii;
    };
    for (const JisCharacter &c : characters) {
        const qsizetype needed = text.size() + (c.escape != current ? c.escape.size() : 0) + c.bytes.size() +
                                 (c.escape != EscAscii ? EscAscii.size() : 0);
        if (!text.isEmpty() && needed > roomFor(texts.size(), text.startsWith('.')))
            close();
        if (c.escape != current) {
            text.append(c.escape);
            current = c.escape;
        }
        text.append(c.bytes);
    }
    close();
    return texts;
}

} // namespace

QString EncodeWords(const QString &text, int used)
{
    // A word is "=?ISO-2022-JP?B?", 4 base64 characters for every 3 bytes, and "?=":
    // the bytes that fit in a word of at most `length` characters. Even the shortest
    // room holds one character with its escapes (8 bytes). The words after the first
    // begin folded lines, after their blank.
    const auto bytesFor = [](int length) { return std::max(9, (std::min(75, length) - 18) / 4 * 3); };
    const auto roomFor = [&](qsizetype index, bool) { return bytesFor(index == 0 ? 76 - used : 75); };
    QStringList words;
    for (const QByteArray &bytes : JisTexts(JisCharacters(text), roomFor))
        words.append(QStringLiteral("=?ISO-2022-JP?B?") + QString::fromLatin1(bytes.toBase64()) + QStringLiteral("?="));
    return words.join(QStringLiteral("\r\n "));
}

QString EncodeSubject(const QString &subject)
{
    return EncodeWords(subject, 9); // after "Subject: "
}

QString DisplayName(const QString &name, int used)
{
    const auto control = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; };
    if (!IsAscii(name) || std::any_of(name.cbegin(), name.cend(), control))
        return EncodeWords(name, used);
    // Already a quoted string: a quote at each end and every quote between escaped.
    bool quoted = name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'));
    for (qsizetype i = 1; quoted && i < name.size() - 1; ++i) {
        if (name[i] == QLatin1Char('\\'))
            quoted = ++i < name.size() - 1; // an escape may not take the closing quote
        else
            quoted = name[i] != QLatin1Char('"');
    }
    QString shown = name;
    const QString specials = QStringLiteral("()<>[]:;@\\,\"");
    if (!quoted && std::any_of(name.cbegin(), name.cend(), [&](QChar c) { return specials.contains(c); })) {
        shown.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        shown = QLatin1Char('"') + shown + QLatin1Char('"');
    }
    return used + shown.size() <= 76 ? shown : EncodeWords(name, used);
}

bool IsAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0x7F)
            return false;
    return true;
}

QByteArray ToIso2022Jp(const QString &text)
{
    const auto unlimited = [](qsizetype, bool) { return std::numeric_limits<qsizetype>::max(); };
    return JisTexts(JisCharacters(text), unlimited).first();
}

QList<QByteArray> EncodeBodyLines(const QStringList &lines, bool &allAscii, int limit)
{
    allAscii = true;
    for (const QString &line : lines)
        allAscii = allAscii && IsAscii(line);

    // A piece that starts with "." keeps a byte for the dot the SMTP client puts in front.
    const auto roomFor = [limit](qsizetype, bool dot) { return dot ? limit - 1 : limit; };
    QList<QByteArray> out;
    for (const QString &line : lines) {
        if (!allAscii) {
            out.append(JisTexts(JisCharacters(line), roomFor));
            continue;
        }
        // ASCII as it is, only cut where it would pass the limit.
        QByteArray bytes = line.toLatin1();
        do {
            const int room = roomFor(0, bytes.startsWith('.'));
            out.append(bytes.left(room));
            bytes.remove(0, room);
        } while (!bytes.isEmpty());
    }
    return out;
}
