#include "settings/AddressFile.h"

#include "platform/AtomicFile.h"
#include "platform/CodePage.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// Texts of the read errors.
QString InvalidStreamFormatText()
{
    return QCoreApplication::translate("AddressFile", "不正なストリーム フォーマット");
}

QString StreamReadErrorText()
{
    return QCoreApplication::translate("AddressFile", "ストリームの読み込みエラー");
}

// The tag byte before each value of the stream, saying what kind of value follows.
enum class Tag : quint8 {
    Null = 0x00, // also ends a list, a collection or an object's properties
    List = 0x01,
    Int8 = 0x02,
    Int16 = 0x03,
    Int32 = 0x04,
    Extended = 0x05, // 10-byte floating point
    String = 0x06,   // short string
    Ident = 0x07,    // short string
    False = 0x08,
    True = 0x09,
    Binary = 0x0A,  // 32-bit length, then the bytes
    Set = 0x0B,     // names, then an empty one
    LString = 0x0C, // 32-bit length, then the bytes
    Nil = 0x0D,
    Collection = 0x0E,
    Single = 0x0F,
    Currency = 0x10,
    Date = 0x11,
    WString = 0x12, // 32-bit length in UTF-16 units
    Int64 = 0x13,
    Utf8String = 0x14,
    Double = 0x15,
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
    throw Exception(InvalidStreamFormatText());
}
[[noreturn]] void ReadError()
{
    throw Exception(StreamReadErrorText());
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

    Tag PeekTag() const { return static_cast<Tag>(Peek()); }
    Tag NextTag() { return static_cast<Tag>(Byte()); }

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

void SkipValue(Reader &in, Tag tag, int depth);

// The properties of one object or collection item, up to the empty name that ends them.
void SkipProperties(Reader &in, int depth)
{
    while (in.ShortString().size() > 0)
        SkipValue(in, in.NextTag(), depth);
}

// The size of a value that its tag alone tells; -1 for the others.
int FixedSize(Tag tag)
{
    switch (tag) {
    case Tag::Null:
    case Tag::False:
    case Tag::True:
    case Tag::Nil:
        return 0;
    case Tag::Int8:
        return 1;
    case Tag::Int16:
        return 2;
    case Tag::Int32:
    case Tag::Single:
        return 4;
    case Tag::Currency:
    case Tag::Date:
    case Tag::Int64:
    case Tag::Double:
        return 8;
    case Tag::Extended:
        return 10;
    default:
        return -1;
    }
}

void SkipCollection(Reader &in, int depth)
{
    while (in.PeekTag() != Tag::Null) {
        // An item may be preceded by its order as an integer.
        const Tag next = in.PeekTag();
        if (next == Tag::Int8 || next == Tag::Int16 || next == Tag::Int32)
            SkipValue(in, in.NextTag(), depth + 1);
        if (in.NextTag() != Tag::List)
            FormatError();
        SkipProperties(in, depth + 1);
    }
    in.Byte();
}

void SkipValue(Reader &in, Tag tag, int depth)
{
    if (depth > MaxNesting)
        FormatError();
    if (const int size = FixedSize(tag); size >= 0) {
        in.Skip(size);
        return;
    }
    switch (tag) {
    case Tag::String:
    case Tag::Ident:
        in.ShortString();
        break;
    case Tag::Binary:
    case Tag::LString:
    case Tag::Utf8String:
        in.Skip(in.UInt32());
        break;
    case Tag::WString:
        // The length counts UTF-16 code units.
        in.Skip(qint64(in.UInt32()) * 2);
        break;
    case Tag::Set:
        while (in.ShortString().size() > 0) {
        }
        break;
    case Tag::List:
        while (in.PeekTag() != Tag::Null)
            SkipValue(in, in.NextTag(), depth + 1);
        in.Byte();
        break;
    case Tag::Collection:
        SkipCollection(in, depth);
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
        // The list shows one sub-item; a count beyond what any list writes is damage, and
        // taken as it stands it would cost an empty text each (52 million of them in a
        // 52 MB block: a gigabyte and half a minute).
        if (subCount < 0 || subCount > MaxSubItems)
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
        const Tag tag = in.NextTag();
        if (name.compare(ItemsDataName, Qt::CaseInsensitive) == 0) {
            if (tag != Tag::Binary)
                FormatError();
            Reader block = in.Sub(in.UInt32());
            ReadItems(block, entries);
        } else {
            SkipValue(in, tag, 0);
        }
    }
    // The list owns no child objects.
    if (in.NextTag() != Tag::Null)
        FormatError();
}

// A text as a short string's bytes: CP932, at most 255 of them.
QByteArray ShortStringBytes(const QString &text)
{
    return CutCP932(ToCP932(text), 255);
}

class Writer
{
public:
    QByteArray Out;

    void Byte(quint8 b) { Out.append(static_cast<char>(b)); }
    void Put(Tag tag) { Byte(static_cast<quint8>(tag)); }

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
            Put(Tag::Int8);
            Byte(static_cast<quint8>(v));
        } else if (v >= -32768 && v <= 32767) {
            Put(Tag::Int16);
            Byte(static_cast<quint8>(v));
            Byte(static_cast<quint8>(v >> 8));
        } else {
            Put(Tag::Int32);
            UInt32(static_cast<quint32>(v));
        }
    }

    void Ident(const char *ident)
    {
        Put(Tag::Ident);
        Name(ident);
    }

    void String(const QString &text)
    {
        Put(Tag::String);
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
    w.Put(Tag::Collection);
    // The captions address.dat has always held, whatever the window's language.
    for (const QString &caption : {QStringLiteral("名前"), QStringLiteral("メールアドレス")}) {
        w.Put(Tag::List);
        w.Name("AutoSize");
        w.Put(Tag::True);
        w.Name("Caption");
        w.String(caption);
        w.Put(Tag::Null);
    }
    w.Put(Tag::Null);

    w.Name("HotTrackStyles");
    w.Put(Tag::Set);
    w.Name("htUnderlineCold");
    w.Name("htUnderlineHot");
    w.Byte(0);

    if (!entries.isEmpty()) {
        const QByteArray block = ItemsBlock(entries);
        w.Name(ItemsDataName);
        w.Put(Tag::Binary);
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
    const OpenRefusal why = OpenRegularFile(file);
    if (why == OpenRefusal::Missing)
        return {};
    const QString shownPath = QDir::toNativeSeparators(path);
    if (why != OpenRefusal::None)
        throw EAddressReadError(QCoreApplication::translate("AddressFile", "ファイル %1 を開けません").arg(shownPath),
                                {});
    if (file.size() > MaxAddressFileBytes)
        throw EAddressReadError(
            QCoreApplication::translate("AddressFile", "ファイル %1 はアドレス帳として大きすぎます（%2 バイトまで）。")
                .arg(shownPath)
                .arg(MaxAddressFileBytes),
            {});
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        throw EAddressReadError(StreamReadErrorText(), {});
    return ReadAddressStream(bytes);
}

void WriteAddressFile(const QString &path, const QList<AddressEntry> &entries)
{
    WriteFileAtomically(
        path, WriteAddressStream(entries),
        QCoreApplication::translate("AddressFile", "ファイル %1 を作成できません").arg(QDir::toNativeSeparators(path)));
}
