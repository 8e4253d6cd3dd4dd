#include "settings/AddressFile.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// Value tags of the component stream.
enum Tag : quint8 {
    vaNull = 0x00,
    vaList = 0x01,
    vaInt8 = 0x02,
    vaInt16 = 0x03,
    vaInt32 = 0x04,
    vaExtended = 0x05,
    vaString = 0x06,
    vaIdent = 0x07,
    vaFalse = 0x08,
    vaTrue = 0x09,
    vaBinary = 0x0A,
    vaSet = 0x0B,
    vaLString = 0x0C,
    vaNil = 0x0D,
    vaCollection = 0x0E,
    vaSingle = 0x0F,
    vaCurrency = 0x10,
    vaDate = 0x11,
    vaWString = 0x12,
    vaInt64 = 0x13,
    vaUTF8String = 0x14,
    vaDouble = 0x15,
};

const char Signature[] = "TPF0";
const char ItemsDataName[] = "Items.Data";

// Fixed part of an entry record: image, state and overlay index, sub-item count, data.
constexpr qsizetype RecordFixedSize = 5 * 4;
// A record holds at least its fixed part and the caption's length byte.
constexpr qsizetype RecordMinimumSize = RecordFixedSize + 1;
constexpr qsizetype BlockHeaderSize = 8;

// Lists and collections inside skipped properties nest; a crafted file must not be
// able to run the reader out of stack.
constexpr int MaxNesting = 32;

[[noreturn]] void FormatError()
{
    throw Exception(InvalidStreamFormatText);
}
[[noreturn]] void ReadError()
{
    throw Exception(StreamReadErrorText);
}

// Reads little-endian values from a window of bytes. Every read checks first that the
// bytes are there, so a length or count is never trusted beyond what is left.
class Reader
{
public:
    Reader(const char *data, qsizetype size) : data(data), size(size) {}

    qsizetype Left() const { return size - pos; }

    void Need(qint64 count) const
    {
        if (count < 0 || count > Left())
            ReadError();
    }

    quint8 Peek() const
    {
        Need(1);
        return static_cast<quint8>(data[pos]);
    }

    quint8 Byte()
    {
        const quint8 b = Peek();
        ++pos;
        return b;
    }

    quint32 UInt32()
    {
        Need(4);
        const auto *p = reinterpret_cast<const unsigned char *>(data + pos);
        pos += 4;
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }

    qint32 Int32() { return static_cast<qint32>(UInt32()); }

    void Skip(qint64 count)
    {
        Need(count);
        pos += static_cast<qsizetype>(count);
    }

    QByteArray Bytes(qint64 count)
    {
        Need(count);
        QByteArray bytes(data + pos, static_cast<qsizetype>(count));
        pos += static_cast<qsizetype>(count);
        return bytes;
    }

    QByteArray ShortString() { return Bytes(Byte()); }

    // A window over the next `count` bytes, which this reader passes over.
    Reader Sub(qint64 count)
    {
        Need(count);
        Reader sub(data + pos, static_cast<qsizetype>(count));
        pos += static_cast<qsizetype>(count);
        return sub;
    }

private:
    const char *data;
    qsizetype size;
    qsizetype pos = 0;
};

void SkipValue(Reader &in, quint8 tag, int depth);

// The properties of one object or collection item, up to the empty name that ends them.
void SkipProperties(Reader &in, int depth)
{
    while (in.ShortString().size() > 0)
        SkipValue(in, in.Byte(), depth);
}

void SkipValue(Reader &in, quint8 tag, int depth)
{
    if (depth > MaxNesting)
        FormatError();
    switch (tag) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
        break;
    case vaInt8:
        in.Skip(1);
        break;
    case vaInt16:
        in.Skip(2);
        break;
    case vaInt32:
    case vaSingle:
        in.Skip(4);
        break;
    case vaCurrency:
    case vaDate:
    case vaInt64:
    case vaDouble:
        in.Skip(8);
        break;
    case vaExtended:
        in.Skip(10);
        break;
    case vaString:
    case vaIdent:
        in.ShortString();
        break;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
        in.Skip(in.UInt32());
        break;
    case vaWString:
        // The length counts UTF-16 code units.
        in.Skip(qint64(in.UInt32()) * 2);
        break;
    case vaSet:
        while (in.ShortString().size() > 0) {
        }
        break;
    case vaList:
        while (in.Peek() != vaNull)
            SkipValue(in, in.Byte(), depth + 1);
        in.Byte();
        break;
    case vaCollection:
        while (in.Peek() != vaNull) {
            // An item may be preceded by its order as an integer.
            const quint8 next = in.Peek();
            if (next == vaInt8 || next == vaInt16 || next == vaInt32)
                SkipValue(in, in.Byte(), depth + 1);
            if (in.Byte() != vaList)
                FormatError();
            SkipProperties(in, depth + 1);
        }
        in.Byte();
        break;
    default:
        FormatError();
    }
}

// The Items.Data block replaces the whole list; entries are added one by one so that a
// block cut short still leaves those before the cut.
void ReadItems(Reader &block, QList<AddressEntry> &entries)
{
    entries.clear();
    block.Need(BlockHeaderSize);
    const qint64 total = block.Int32();
    if (total != block.Left() + 4)
        FormatError();
    const qint64 count = block.UInt32();
    if (count > block.Left() / RecordMinimumSize)
        ReadError();
    for (qint64 i = 0; i < count; ++i) {
        AddressEntry entry;
        entry.ImageIndex = block.Int32();
        entry.StateIndex = block.Int32();
        entry.OverlayIndex = block.Int32();
        const qint32 subCount = block.Int32();
        entry.Data = block.UInt32();
        if (subCount < 0)
            FormatError();
        entry.Caption = FromCP932(block.ShortString());
        // Each sub-item takes at least its length byte.
        block.Need(subCount);
        for (qint32 s = 0; s < subCount; ++s)
            entry.SubItems.append(FromCP932(block.ShortString()));
        entries.append(entry);
    }
}

void ReadStream(Reader &in, QList<AddressEntry> &entries)
{
    if (in.Bytes(4) != QByteArray(Signature))
        FormatError();
    in.ShortString(); // class name
    in.ShortString(); // object name
    for (;;) {
        const QByteArray name = in.ShortString();
        if (name.isEmpty())
            break;
        const quint8 tag = in.Byte();
        if (name.compare(ItemsDataName, Qt::CaseInsensitive) == 0) {
            if (tag != vaBinary)
                FormatError();
            Reader block = in.Sub(in.UInt32());
            ReadItems(block, entries);
        } else {
            SkipValue(in, tag, 0);
        }
    }
    // The list owns no child objects.
    if (in.Byte() != vaNull)
        FormatError();
}

// CP932 bytes of a text, cut to at most 255 bytes before the first character that would
// not fit whole: half a double-byte character would come back as garbage.
QByteArray ShortStringBytes(const QString &text)
{
    const QByteArray bytes = ToCP932(text);
    qsizetype end = 0;
    while (end < bytes.size()) {
        const qsizetype next = end + CP932CharLength(static_cast<unsigned char>(bytes[end]));
        if (next > 255)
            break;
        end = next;
    }
    return bytes.left(std::min(end, bytes.size()));
}

class Writer
{
public:
    QByteArray Out;

    void Byte(quint8 b) { Out.append(static_cast<char>(b)); }

    void UInt32(quint32 v)
    {
        for (int i = 0; i < 4; ++i)
            Byte(static_cast<quint8>(v >> (8 * i)));
    }

    void ShortString(const QByteArray &bytes)
    {
        Q_ASSERT(bytes.size() <= 255);
        Byte(static_cast<quint8>(bytes.size()));
        Out.append(bytes);
    }

    void Name(const char *name) { ShortString(QByteArray(name)); }

    // An integer with the smallest tag that holds it.
    void Integer(qint32 v)
    {
        if (v >= -128 && v <= 127) {
            Byte(vaInt8);
            Byte(static_cast<quint8>(v));
        } else if (v >= -32768 && v <= 32767) {
            Byte(vaInt16);
            Byte(static_cast<quint8>(v));
            Byte(static_cast<quint8>(v >> 8));
        } else {
            Byte(vaInt32);
            UInt32(static_cast<quint32>(v));
        }
    }

    void Ident(const char *ident)
    {
        Byte(vaIdent);
        Name(ident);
    }

    void String(const QString &text)
    {
        Byte(vaString);
        ShortString(ShortStringBytes(text));
    }
};

QByteArray ItemsBlock(const QList<AddressEntry> &entries)
{
    Writer w;
    w.UInt32(0); // total, filled in below
    w.UInt32(static_cast<quint32>(entries.size()));
    for (const AddressEntry &e : entries) {
        w.UInt32(static_cast<quint32>(e.ImageIndex));
        w.UInt32(static_cast<quint32>(e.StateIndex));
        w.UInt32(static_cast<quint32>(e.OverlayIndex));
        w.UInt32(static_cast<quint32>(e.SubItems.size()));
        w.UInt32(e.Data);
        w.ShortString(ShortStringBytes(e.Caption));
        for (const QString &s : e.SubItems)
            w.ShortString(ShortStringBytes(s));
    }
    Writer total;
    total.UInt32(static_cast<quint32>(w.Out.size()));
    w.Out.replace(0, 4, total.Out);
    return w.Out;
}

} // namespace

QList<AddressEntry> ReadAddressStream(const QByteArray &bytes)
{
    QList<AddressEntry> entries;
    try {
        Reader in(bytes.constData(), bytes.size());
        ReadStream(in, entries);
    } catch (const EAddressReadError &) {
        throw;
    } catch (const Exception &e) {
        throw EAddressReadError(e.Message, entries);
    }
    return entries;
}

QByteArray WriteAddressStream(const QList<AddressEntry> &entries)
{
    Writer w;
    w.Out.append(Signature, 4);
    w.Name("TListView");
    w.Name("AddressList");

    w.Name("Left");
    w.Integer(0);
    w.Name("Top");
    w.Integer(0);
    w.Name("Width");
    w.Integer(400);
    w.Name("Height");
    w.Integer(241);
    w.Name("Align");
    w.Ident("alTop");

    w.Name("Columns");
    w.Byte(vaCollection);
    for (const QString &caption : {QStringLiteral("名前"), QStringLiteral("メールアドレス")}) {
        w.Byte(vaList);
        w.Name("AutoSize");
        w.Byte(vaTrue);
        w.Name("Caption");
        w.String(caption);
        w.Byte(vaNull);
    }
    w.Byte(vaNull);

    w.Name("HotTrackStyles");
    w.Byte(vaSet);
    w.Name("htUnderlineCold");
    w.Name("htUnderlineHot");
    w.Byte(0);

    if (!entries.isEmpty()) {
        const QByteArray block = ItemsBlock(entries);
        w.Name(ItemsDataName);
        w.Byte(vaBinary);
        w.UInt32(static_cast<quint32>(block.size()));
        w.Out.append(block);
    }

    w.Name("TabOrder");
    w.Integer(0);
    w.Name("ViewStyle");
    w.Ident("vsReport");
    w.Byte(0); // end of properties
    w.Byte(0); // end of child objects
    return w.Out;
}

QList<AddressEntry> ReadAddressFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EAddressReadError(QStringLiteral("ファイル %1 を開けません").arg(QDir::toNativeSeparators(path)), {});
    return ReadAddressStream(file.readAll());
}

void WriteAddressFile(const QString &path, const QList<AddressEntry> &entries)
{
    WriteFileAtomically(path, WriteAddressStream(entries),
                        QStringLiteral("ファイル %1 を作成できません").arg(QDir::toNativeSeparators(path)));
}
