// The item table of a HEIF file (ISO/IEC 23008-12 on the ISO base media file format), read
// only as far as the sizes of what its primary image is made of. Every count, offset and
// length is checked against the bytes that are there.
#include "imaging/HeifSizes.h"

#include "imaging/Picture.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QtEndian>

#include <functional>

namespace {

constexpr quint32 FourCc(const char (&text)[5])
{
    return quint32(uchar(text[0])) << 24 | quint32(uchar(text[1])) << 16 | quint32(uchar(text[2])) << 8 |
           uchar(text[3]);
}

// Big-endian reads at a cursor; a read past the end gives 0 and marks the reader failed.
class Reader
{
public:
    Reader(const QByteArray &bytes, qsizetype at, qsizetype end) : bytes(&bytes), at(at), end(end) {}

    quint64 Read(int size)
    {
        if (size < 0 || size > 8 || end - at < size) {
            failed = true;
            at = end;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | uchar((*bytes)[at + i]);
        at += size;
        return value;
    }
    void Skip(qsizetype size)
    {
        failed |= end - at < size;
        at = failed ? end : at + size;
    }
    quint32 U8() { return quint32(Read(1)); }
    quint32 U16() { return quint32(Read(2)); }
    quint32 U32() { return quint32(Read(4)); }

    const QByteArray *bytes;
    qsizetype at, end;
    bool failed = false;
};

// Calls visit(type, body) for each box in [at, end); false when a box does not fit.
bool ForEachBox(const QByteArray &bytes, qsizetype at, qsizetype end,
                const std::function<bool(quint32, Reader &)> &visit)
{
    while (at < end) {
        Reader head(bytes, at, end);
        quint64 size = head.U32();
        const quint32 type = head.U32();
        if (size == 1)
            size = head.Read(8);
        else if (size == 0)
            size = quint64(end - at);
        if (head.failed || size < quint64(head.at - at) || size > quint64(end - at))
            return false;
        Reader body(bytes, head.at, at + qsizetype(size));
        if (!visit(type, body))
            return false;
        at += qsizetype(size);
    }
    return true;
}

struct Extent
{
    quint64 Offset, Length;
};

struct Item
{
    quint32 Type = 0;
    int ConstructionMethod = 0; // 0: in the file, 1: in the idat box
    QList<Extent> Extents;
    QList<int> Properties; // indices into the property list, from 1
    QList<quint32> Parts;  // the tiles of a grid, the layers of an overlay
};

struct ItemTable
{
    quint32 Primary = 0;
    QHash<quint32, Item> Items;
    QList<QPair<quint32, Reader>> Properties;
    QList<QPair<quint32, quint32>> Auxiliaries; // alpha and depth images, and the image each serves
    qsizetype IdatAt = 0, IdatEnd = 0;
    qint64 ExtentsListed = 0; // in every iloc box of the file together
};

bool ReadItemInfo(ItemTable &table, Reader &r)
{
    const int version = int(r.U32() >> 24);
    r.Read(version == 0 ? 2 : 4); // entry count; the boxes follow
    return ForEachBox(*r.bytes, r.at, r.end, [&](quint32 type, Reader &infe) {
        const int v = int(infe.U32() >> 24);
        if (type == FourCc("infe") && v >= 2) {
            const quint32 id = quint32(infe.Read(v == 2 ? 2 : 4));
            infe.U16(); // protection index
            table.Items[id].Type = infe.U32();
        }
        return !infe.failed;
    });
}

// Extents are counted as they are read, over every iloc box of the file: with fields of no bytes, a few bytes of the
// table could list billions of them. Files of every tool give an image one extent or a few, and a grid of tiles some
// hundreds of images.
constexpr qint64 MostExtents = 1 << 16;

bool ReadLocations(ItemTable &table, Reader &r)
{
    const int version = int(r.U32() >> 24);
    const quint32 sizes = r.U16();
    const int offsetSize = int(sizes >> 12), lengthSize = int(sizes >> 8 & 15), baseSize = int(sizes >> 4 & 15);
    const int indexSize = version >= 1 ? int(sizes & 15) : 0;
    const quint32 count = quint32(r.Read(version < 2 ? 2 : 4));
    for (quint32 i = 0; i < count && !r.failed; ++i) {
        Item &item = table.Items[quint32(r.Read(version < 2 ? 2 : 4))];
        item.ConstructionMethod = version >= 1 ? int(r.U16() & 15) : 0;
        r.U16(); // data reference: 0, this file
        const quint64 base = r.Read(baseSize);
        const quint32 extents = r.U16();
        if ((table.ExtentsListed += extents) > MostExtents)
            return false;
        for (quint32 e = 0; e < extents && !r.failed; ++e) {
            r.Read(indexSize);
            const quint64 offset = base + r.Read(offsetSize);
            item.Extents.append({offset, r.Read(lengthSize)});
        }
    }
    return !r.failed;
}

bool ReadReferences(ItemTable &table, Reader &r)
{
    const int idSize = r.U32() >> 24 == 0 ? 2 : 4;
    return ForEachBox(*r.bytes, r.at, r.end, [&](quint32 type, Reader &reference) {
        const quint32 from = quint32(reference.Read(idSize));
        const quint32 count = reference.U16();
        for (quint32 i = 0; i < count && !reference.failed; ++i) {
            const quint32 to = quint32(reference.Read(idSize));
            if (type == FourCc("dimg"))
                table.Items[from].Parts.append(to);
            else if (type == FourCc("auxl"))
                table.Auxiliaries.append({from, to});
        }
        return !reference.failed;
    });
}

bool ReadProperties(ItemTable &table, Reader &r)
{
    return ForEachBox(*r.bytes, r.at, r.end, [&](quint32 type, Reader &box) {
        if (type == FourCc("ipco"))
            return ForEachBox(*box.bytes, box.at, box.end, [&](quint32 property, Reader &body) {
                table.Properties.append({property, body});
                return true;
            });
        if (type != FourCc("ipma"))
            return true;
        const quint32 versionAndFlags = box.U32();
        const quint32 entries = box.U32();
        for (quint32 i = 0; i < entries && !box.failed; ++i) {
            Item &item = table.Items[quint32(box.Read(versionAndFlags >> 24 == 0 ? 2 : 4))];
            const quint32 count = box.U8();
            for (quint32 k = 0; k < count && !box.failed; ++k)
                item.Properties.append(versionAndFlags & 1 ? int(box.U16() & 0x7FFF) : int(box.U8() & 0x7F));
        }
        return !box.failed;
    });
}

// The body of the item's property of the given type; null when it has none.
const Reader *PropertyOf(const ItemTable &table, const Item &item, quint32 type)
{
    for (const int index : item.Properties)
        if (index >= 1 && index <= table.Properties.size() && table.Properties[index - 1].first == type)
            return &table.Properties[index - 1].second;
    return nullptr;
}

// The meta box's children that say what the items are and where their data lies.
bool ReadItemTable(const QByteArray &file, ItemTable &table)
{
    bool found = false;
    const bool read = ForEachBox(file, 0, file.size(), [&](quint32 type, Reader &meta) {
        if (type != FourCc("meta"))
            return true;
        found = true;
        meta.U32(); // version and flags
        return ForEachBox(file, meta.at, meta.end, [&](quint32 child, Reader &r) {
            if (child == FourCc("iinf"))
                return ReadItemInfo(table, r);
            if (child == FourCc("iloc"))
                return ReadLocations(table, r);
            if (child == FourCc("iref"))
                return ReadReferences(table, r);
            if (child == FourCc("iprp"))
                return ReadProperties(table, r);
            if (child == FourCc("pitm"))
                table.Primary = quint32(r.Read(r.U32() >> 24 == 0 ? 2 : 4));
            else if (child == FourCc("idat"))
                table.IdatAt = r.at, table.IdatEnd = r.end;
            return !r.failed;
        });
    });
    return read && found && table.Items.contains(table.Primary);
}

// The item's data, its extents joined; a single extent (the usual case) is not copied.
// Extents that together run longer than the file or the idat box that holds them cannot
// be, and are refused before anything is joined: the join is never larger than the file.
bool ItemData(const QByteArray &file, const ItemTable &table, const Item &item, QByteArray &data)
{
    const qsizetype at = item.ConstructionMethod == 1 ? table.IdatAt : 0;
    const quint64 size = quint64((item.ConstructionMethod == 1 ? table.IdatEnd : file.size()) - at);
    if (item.ConstructionMethod > 1)
        return false;
    QList<QByteArrayView> pieces;
    quint64 total = 0;
    for (const Extent &e : item.Extents) {
        // A length of 0 stands for all the rest.
        const quint64 length = e.Offset > size ? 0 : e.Length ? e.Length : size - e.Offset;
        if (e.Offset > size || length > size - e.Offset || (total += length) > size)
            return false;
        pieces.append(QByteArrayView(file.constData() + at + e.Offset, qsizetype(length)));
    }
    data.clear();
    if (pieces.size() == 1) {
        data = QByteArray::fromRawData(pieces[0].data(), pieces[0].size());
        return true;
    }
    data.reserve(qsizetype(total));
    for (const QByteArrayView piece : std::as_const(pieces))
        data.append(piece);
    return true;
}

// Bits of an HEVC NAL unit, emulation prevention bytes (0 0 3) taken out.
class BitReader
{
public:
    BitReader(const uchar *nal, qsizetype size)
    {
        for (qsizetype i = 0, zeros = 0; i < size && bytes.size() < 512; ++i) {
            if (zeros >= 2 && nal[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = nal[i] == 0 ? zeros + 1 : 0;
            bytes.append(char(nal[i]));
        }
    }
    quint32 Bits(int n)
    {
        quint32 value = 0;
        for (int i = 0; i < n; ++i, ++at) {
            const qsizetype byte = at / 8;
            failed |= byte >= bytes.size();
            value = value << 1 | (failed ? 0 : uchar(bytes[byte]) >> (7 - at % 8) & 1);
        }
        return value;
    }
    // Unsigned exponential-Golomb code.
    quint32 Golomb()
    {
        int zeros = 0;
        while (!failed && Bits(1) == 0)
            failed |= ++zeros > 31;
        return failed ? 0 : (quint32(1) << zeros) - 1 + Bits(zeros);
    }
    QByteArray bytes;
    qint64 at = 0;
    bool failed = false;
};

// The picture size of an HEVC sequence parameter set: what the decoder allocates.
bool SequencePictureSize(const uchar *nal, qsizetype size, qint64 &width, qint64 &height)
{
    BitReader r(nal, size);
    r.Bits(16 + 4); // NAL header, video parameter set
    const int subLayers = int(r.Bits(3));
    r.Bits(1 + 88 + 8); // temporal nesting, the general profile and level
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i)
        profile[i] = r.Bits(1), level[i] = r.Bits(1);
    if (subLayers > 0)
        r.Bits(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i)
        r.Bits((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    r.Golomb();          // its own number
    if (r.Golomb() == 3) // chroma 4:4:4: whether its planes are coded apart
        r.Bits(1);
    width = r.Golomb();
    height = r.Golomb();
    return !r.failed;
}

constexpr int SequenceParameterSet = 33;

class SizeCheck
{
public:
    SizeCheck(const QByteArray &file, const ItemTable &table, qint64 width, qint64 height)
        : file(file), table(table), claimedWidth(width), claimedHeight(height)
    {}

    // A picture larger than the limit is refused as too large; one larger than the image
    // claims (a lying file) fails.
    bool Fits(qint64 width, qint64 height) const
    {
        if (width < 1 || height < 1)
            return false;
        CheckPictureSize(width, height);
        return width <= claimedWidth + HevcCodingPadding && height <= claimedHeight + HevcCodingPadding;
    }

    bool Check(quint32 id, int depth)
    {
        if (checked.contains(id))
            return true;
        checked.insert(id);
        const auto item = table.Items.constFind(id);
        if (item == table.Items.cend() || depth > 8)
            return false;
        if (item->Type == FourCc("grid") || item->Type == FourCc("iovl")) {
            if (!CanvasFits(*item))
                return false;
        } else if (item->Type == FourCc("hvc1") && !CodedPicturesFit(*item)) {
            return false;
        }
        for (const quint32 part : item->Parts)
            if (!Check(part, depth + 1))
                return false;
        return true;
    }

private:
    // The canvas of a grid (version, flags, rows and columns less one) or of an overlay
    // (version, flags, a fill colour of four 16-bit values), then its width and height:
    // 32 bits each when the flags' lowest bit is set, else 16.
    bool CanvasFits(const Item &item)
    {
        QByteArray data;
        if (!ItemData(file, table, item, data) || !WithinReadingBudget(data))
            return false;
        Reader r(data, 0, data.size());
        r.U8();
        const int wide = r.U8() & 1 ? 4 : 2;
        r.Read(item.Type == FourCc("grid") ? 2 : 8);
        const qint64 width = qint64(r.Read(wide)), height = qint64(r.Read(wide));
        return !r.failed && Fits(width, height);
    }

    // The parameter sets of the HEVC configuration (after its 22-byte header, arrays of NAL
    // units each with a 16-bit length) and any in the data (NAL units each after a length
    // of the configuration's size).
    bool CodedPicturesFit(const Item &item)
    {
        const Reader *configuration = PropertyOf(table, item, FourCc("hvcC"));
        if (!configuration)
            return false;
        Reader r = *configuration;
        r.Skip(21);
        const int lengthSize = int(r.U8() & 3) + 1;
        int sequences = 0;
        for (quint32 arrays = r.U8(); arrays > 0 && !r.failed; --arrays) {
            const bool parameterSets = (r.U8() & 0x3F) == SequenceParameterSet;
            for (quint32 count = r.U16(); count > 0 && !r.failed; --count) {
                const qsizetype length = r.U16();
                if (r.failed || r.end - r.at < length || (parameterSets && !NalFits(*r.bytes, r.at, length, sequences)))
                    return false;
                r.at += length;
            }
        }
        QByteArray data;
        if (r.failed || !ItemData(file, table, item, data) || !WithinReadingBudget(data))
            return false;
        for (Reader units(data, 0, data.size()); units.at < units.end;) {
            const quint64 length = units.Read(lengthSize);
            if (units.failed || length > quint64(units.end - units.at))
                return false;
            if (length > 0 && (uchar(data[units.at]) >> 1 & 0x3F) == SequenceParameterSet &&
                !NalFits(data, units.at, qsizetype(length), sequences))
                return false;
            units.at += qsizetype(length);
        }
        return sequences > 0;
    }

    bool NalFits(const QByteArray &bytes, qsizetype at, qsizetype length, int &sequences) const
    {
        qint64 width = 0, height = 0;
        ++sequences;
        return SequencePictureSize(reinterpret_cast<const uchar *>(bytes.constData()) + at, length, width, height) &&
               Fits(width, height);
    }

    // The images of a file any tool writes keep their data apart, so that checking them
    // all reads the file once; items that point at the same bytes over and over could
    // make it read them thousands of times.
    bool WithinReadingBudget(const QByteArray &data)
    {
        read += data.size();
        return read <= 4 * qint64(file.size());
    }

    const QByteArray &file;
    const ItemTable &table;
    const qint64 claimedWidth, claimedHeight;
    QSet<quint32> checked;
    qint64 read = 0;
};

} // namespace

bool HeifSizesHold(const QByteArray &file)
{
    ItemTable table;
    if (!ReadItemTable(file, table))
        return false;
    // The size the primary image claims, before it is turned or cropped.
    const Reader *size = PropertyOf(table, table.Items[table.Primary], FourCc("ispe"));
    if (!size)
        return false;
    Reader r = *size;
    r.U32(); // version and flags
    const qint64 width = r.U32(), height = r.U32();
    if (r.failed)
        return false;
    CheckPictureSize(width, height);
    SizeCheck check(file, table, width, height);
    if (!check.Check(table.Primary, 0))
        return false;
    for (const auto &[auxiliary, image] : table.Auxiliaries)
        if (image == table.Primary && !check.Check(auxiliary, 0))
            return false;
    return true;
}
