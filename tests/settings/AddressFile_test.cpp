#include "settings/AddressFile.h"

#include "support/TestFolder.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

// Readable failures. Static, so that other test files may have their own.
static void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
static void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << b.toHex(' ').toStdString();
}
static void PrintTo(const AddressEntry &e, std::ostream *os)
{
    *os << '{' << e.Caption.toStdString() << " [" << e.SubItems.join('|').toStdString() << "] " << e.ImageIndex << ' '
        << e.StateIndex << ' ' << e.OverlayIndex << ' ' << e.Data << '}';
}

namespace {

QByteArray Short(const QByteArray &s)
{
    return char(s.size()) + s;
}
QByteArray Le32(quint32 v)
{
    const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    return QByteArray(bytes, 4);
}
QByteArray Prop(const QByteArray &name, const QByteArray &tagAndValue)
{
    return Short(name) + tagAndValue;
}

// A stream of the list with the given properties, in the given order.
QByteArray Stream(const QByteArray &properties)
{
    return "TPF0" + Short("TListView") + Short("AddressList") + properties + QByteArray(2, '\0');
}

QByteArray ItemsData(const QByteArray &block)
{
    return Prop("Items.Data", '\x0A' + Le32(block.size()) + block);
}

template <size_t N> QByteArray Bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

// The empty book, byte by byte; 名前 and メールアドレス in CP932.
const QByteArray EmptyHead =
    "TPF0" + Short("TListView") + Short("AddressList") + Short("Left") + Bytes("\x02\x00") + Short("Top") +
    Bytes("\x02\x00") + Short("Width") + "\x03\x90\x01" + Short("Height") + Bytes("\x03\xF1\x00") + Short("Align") +
    "\x07" + Short("alTop") + Short("Columns") + "\x0E\x01" + Short("AutoSize") + "\x09" + Short("Caption") + "\x06" +
    Short("\x96\xBC\x91\x4F") + Bytes("\x00\x01") + Short("AutoSize") + "\x09" + Short("Caption") + "\x06" +
    Short("\x83\x81\x81\x5B\x83\x8B\x83\x41\x83\x68\x83\x8C\x83\x58") + Bytes("\x00\x00") + Short("HotTrackStyles") +
    "\x0B" + Short("htUnderlineCold") + Short("htUnderlineHot") + Bytes("\x00");
const QByteArray EmptyTail = Bytes("\x08TabOrder\x02\x00\x09ViewStyle\x07\x08vsReport\x00\x00");

AddressEntry Entry(const QString &name, const QStringList &subItems)
{
    AddressEntry e;
    e.Caption = name;
    e.SubItems = subItems;
    return e;
}

// The message of the error `f` throws; a read error also hands over the entries read before it.
QString ErrorOf(const std::function<void()> &f, QList<AddressEntry> *partial = nullptr)
{
    try {
        f();
    } catch (const EAddressReadError &e) {
        if (partial)
            *partial = e.Entries;
        return e.Message;
    } catch (const Exception &e) {
        return e.Message;
    }
    return QStringLiteral("(no error)");
}

QString ReadError(const QByteArray &bytes, QList<AddressEntry> *partial = nullptr)
{
    return ErrorOf([&] { ReadAddressStream(bytes); }, partial);
}

} // namespace

// An empty list has no Items.Data; one entry of a two-character name and a 12-character
// address is a 38-byte record in a 46-byte block.
TEST(AddressFile, ByteExactFiles)
{
    // Total and count, then the record: indexes 0, -1, -1, one sub-item, data 0, name, address.
    const QByteArray block = QByteArray::fromHex("2E0000000100000000000000FFFFFFFFFFFFFFFF0100000000000000048E529363") +
                             Short("ab@docomo.jp");
    ASSERT_EQ(block.size(), 46);
    const std::pair<QList<AddressEntry>, QByteArray> files[] = {
        {{}, EmptyHead + EmptyTail},
        {{Entry(QStringLiteral("山田"), {"ab@docomo.jp"})}, EmptyHead + ItemsData(block) + EmptyTail}};
    for (const auto &[entries, bytes] : files) {
        EXPECT_EQ(WriteAddressStream(entries), bytes);
        EXPECT_EQ(ReadAddressStream(bytes), entries);
    }
}

TEST(AddressFile, LongTextsAreCutBeforeAWholeCharacter)
{
    const QString a(200, u'あ'); // two bytes each
    const struct
    {
        QString text, kept;
    } cases[] = {
        {QString(300, u'x'), QString(255, u'x')},
        {a, QString(127, u'あ')}, // 254 bytes: the 128th character would end at byte 256
        {u'x' + a, u'x' + QString(127, u'あ')},
        {u'ｱ' + a, u'ｱ' + QString(127, u'あ')}, // half-width katakana is one byte
        {QString(254, u'x') + u'あ', QString(254, u'x')},
        {QString(253, u'x') + u'あ', QString(253, u'x') + u'あ'},
    };
    for (const auto &c : cases) {
        const QList<AddressEntry> back = ReadAddressStream(WriteAddressStream({Entry(c.text, {c.text, "a@b"})}));
        ASSERT_EQ(back.size(), 1);
        EXPECT_EQ(back[0].Caption, c.kept) << c.text.size();
        EXPECT_EQ(back[0].SubItems, QStringList({c.kept, "a@b"}));
    }
}

TEST(AddressFile, WrittenEntriesReadBackUnchanged)
{
    AddressEntry odd = Entry(QStringLiteral("ﾊﾝｶｸ \"全角\", x"), {"", QStringLiteral("二つ目"), "3"});
    odd.ImageIndex = -7;
    odd.StateIndex = 300000;
    odd.OverlayIndex = 2;
    odd.Data = 0xDEADBEEF;
    const QList<AddressEntry> entries{Entry(QStringLiteral("山田"), {"taro@example.jp"}), odd, Entry("", {})};
    EXPECT_EQ(ReadAddressStream(WriteAddressStream(entries)), entries);
}

TEST(AddressFile, PropertiesInAnyOrderAndUnknownOnesOfEveryKindAreSkipped)
{
    const AddressEntry e = Entry("n", {"a@b"});
    const QByteArray block = Le32(8 + 20 + 2 + 4) + Le32(1) + Le32(0) + Le32(~0u) + Le32(~0u) + Le32(1) + Le32(0) +
                             Short("n") + Short("a@b");
    // Tags 00 to 15; a list holds a nested list, a collection an item with its order, one
    // without and one holding a list.
    const QByteArrayList unknown =
        QByteArray("00 0102FF060361626301090000 027F 03FF7F 0401020304 0540404040404040404040 060178 070461546f70 "
                   "08 09 0A03000000AABBCC 0B0161016200 0C020000006869 0D 0E020501014109000100010142010200000000 "
                   "0F00008040 100101010101010101 110202020202020202 120200000042304430 13FFFFFFFFFFFFFFFF "
                   "1403000000E38182 150303030303030303")
            .split(' ');
    for (const QByteArray &hex : unknown) {
        const QByteArray odd = Prop("Unknown", QByteArray::fromHex(hex));
        const QByteArray stream = Stream(Prop("ViewStyle", "\x07\x08vsReport") + odd + ItemsData(block) + odd +
                                         Prop("Left", Bytes("\x02\x00")) + odd);
        QList<AddressEntry> read;
        EXPECT_EQ(ErrorOf([&] { read = ReadAddressStream(stream); }), "(no error)") << hex.constData();
        EXPECT_EQ(read, QList<AddressEntry>{e}) << hex.constData();
    }
}

TEST(AddressFile, MalformedStreamsAreFormatErrors)
{
    const QString format = QStringLiteral("不正なストリーム フォーマット");
    const QByteArray good = WriteAddressStream({Entry("n", {"a@b"})});
    QByteArray badSignature = good;
    badSignature[3] = '1';
    const QByteArray block1 = Le32(8 + 20 + 1) + Le32(1) + Le32(0) + Le32(0) + Le32(0) + Le32(0) + Le32(0) + Short("");
    QByteArray negativeSubItems = block1;
    negativeSubItems.replace(20, 4, Le32(~0u));
    QByteArray totalTooSmall = block1;
    totalTooSmall[0] = 28;
    const struct
    {
        const char *name;
        QByteArray stream;
    } cases[] = {
        {"wrong signature", badSignature},
        {"unknown tag", Stream(Prop("X", "\x16"))},
        {"tag FF", Stream(Prop("X", "\xFF"))},
        {"Items.Data not binary", Stream(Prop("Items.Data", Bytes("\x02\x00")))},
        {"collection item without list", Stream(Prop("C", "\x0E\x02\x01\x09"))},
        {"negative sub-item count", Stream(ItemsData(negativeSubItems))},
        {"total disagrees with block", Stream(ItemsData(totalTooSmall))},
        {"child object", Stream("").chopped(1) + "\x01"},
        {"lists nested without end", Stream(Prop("X", QByteArray(4000, '\x01')))},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReadError(c.stream), format) << c.name;
}

TEST(AddressFile, EveryTruncationIsAReadErrorKeepingWhatWasRead)
{
    const QList<AddressEntry> entries{Entry("a", {"a@b"}), Entry(QStringLiteral("い"), {"c@d"})};
    const QByteArray good = WriteAddressStream(entries);
    const qsizetype afterItems = good.indexOf("\x08TabOrder");
    for (qsizetype n = 0; n < good.size(); ++n) {
        QList<AddressEntry> partial{Entry("stale", {})};
        EXPECT_FALSE(ReadError(good.left(n), &partial).isEmpty());
        EXPECT_EQ(partial, n >= afterItems ? entries : QList<AddressEntry>{}) << n;
    }
}

TEST(AddressFile, ClaimsBeyondTheDataFailWithoutAllocating)
{
    const QString read = QStringLiteral("ストリームの読み込みエラー");
    const QByteArray record = Le32(0) + Le32(~0u) + Le32(~0u) + Le32(1) + Le32(0) + Short("n") + Short("a@b");
    auto block = [](quint32 count, const QByteArray &records) {
        return Le32(8 + records.size()) + Le32(count) + records;
    };
    QByteArray hugeSubItems = record;
    hugeSubItems.replace(12, 4, Le32(0x7FFFFFFF));
    EXPECT_EQ(ReadError(Stream(ItemsData(block(0x7FFFFFFF, record)))), read);
    EXPECT_EQ(ReadError(Stream(ItemsData(block(0xFFFFFFFF, record)))), read);
    EXPECT_EQ(ReadError(Stream(ItemsData(block(1, hugeSubItems)))), read);
    EXPECT_EQ(ReadError(Stream(Prop("Items.Data", "\x0A\xFF\xFF\xFF\x7F"))), read);
    for (const char *tag : {"\x0A", "\x0C", "\x12", "\x14"})
        EXPECT_EQ(ReadError(Stream(Prop("X", QByteArray(tag) + "\xFF\xFF\xFF\xFF"))), read) << int(*tag);

    // A count above the records present keeps the records before the end.
    QList<AddressEntry> partial;
    EXPECT_EQ(ReadError(Stream(ItemsData(block(3, record + record + record.left(25)))), &partial), read);
    EXPECT_EQ(partial, QList<AddressEntry>(2, Entry("n", {"a@b"})));
}

TEST(AddressFile, MissingFileCannotBeOpened)
{
    TestFolder folder;
    EXPECT_EQ(ErrorOf([] { ReadAddressFile("missing.dat"); }), QStringLiteral("ファイル missing.dat を開けません"));
}

// A disk that fills up half way through the new book must leave the old book whole.
TEST(AddressFile, FailedWriteKeepsTheOldFile)
{
    TestFolder folder;
    const QList<AddressEntry> old{Entry("old", {"old@example.jp"})};
    WriteAddressFile(AddressFileName, old);
    EXPECT_EQ(ReadAddressFile(folder.File(AddressFileName)), old);
    const QByteArray before = folder.Read(AddressFileName);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100; // far below the new file's size
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString message =
        ErrorOf([] { WriteAddressFile(AddressFileName, QList<AddressEntry>(20, Entry("new", {"new@example.jp"}))); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(message, QStringLiteral("ファイル address.dat を作成できません"));
    EXPECT_EQ(folder.Read(AddressFileName), before);
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), QStringList{AddressFileName});
}
