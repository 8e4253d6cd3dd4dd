#include "settings/AddressFile.h"

#include "support/Failure.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const auto Short = [](const QByteArray &s) { return char(s.size()) + s; };
const auto Le32 = [](quint32 v) { return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24); };
const auto Stream = [](const QByteArray &properties) { // the list with these, in this order
    return "TPF0" + Short("TListView") + Short("AddressList") + properties + QByteArray(2, '\0');
};
const auto Items = [](quint32 total, quint32 count, const QByteArray &records) {
    return Short("Items.Data") + '\x0A' + Le32(8 + records.size()) + Le32(total) + Le32(count) + records;
};
const auto Record = [](const QByteArray &name, const QByteArray &address, quint32 subItems = 1) {
    return Le32(0) + Le32(~0u) + Le32(~0u) + Le32(subItems) + Le32(0) + Short(name) + Short(address);
};

// The empty book byte by byte (名前 and メールアドレス in CP932), and one entry; what was read is written
// back, texts cut to 255 bytes before a character that would not fit. The reader skips unknown properties
// of every kind, refuses bad forms and checks lengths and counts against what the stream still holds.
TEST(AddressFile, ByteExactFilesAndTheReadersRules)
{
    const QByteArray two = QByteArray("\x02\x00", 2),
                     head = Short("Left") + two + Short("Top") + two + Short("Width") + "\x03\x90\x01" +
                            Short("Height") + QByteArray("\x03\xF1\x00", 3) + Short("Align") + "\x07" + Short("alTop") +
                            Short("Columns") + "\x0E\x01" + Short("AutoSize") + "\x09" + Short("Caption") + "\x06" +
                            Short("\x96\xBC\x91\x4F") + QByteArray("\x00\x01", 2) + Short("AutoSize") + "\x09" +
                            Short("Caption") + "\x06" +
                            Short("\x83\x81\x81\x5B\x83\x8B\x83\x41\x83\x68\x83\x8C\x83\x58") +
                            QByteArray("\x00\x00", 2) + Short("HotTrackStyles") + "\x0B" + Short("htUnderlineCold") +
                            Short("htUnderlineHot") + '\0',
                     tail = Short("TabOrder") + two + Short("ViewStyle") + "\x07" + Short("vsReport");
    EXPECT_EQ(WriteAddressStream({}), Stream(head + tail));
    EXPECT_EQ(WriteAddressStream({{QStringLiteral("山田"), {"ab@docomo.jp"}}}),
              Stream(head + Items(46, 1, Record("\x8E\x52\x93\x63", "ab@docomo.jp")) + tail));

    const AddressEntry odd{QStringLiteral("ﾊﾝｶｸ \"全角\", x"), {"", "2", "3"}, -7, 300000, 2, 0xDEADBEEF},
        cut{QString(254, u'x'), {QString(255, u'x'), u'ｱ' + QString(127, u'あ')}},
        longer{QString(254, u'x') + u'あ', {QString(300, u'x'), u'ｱ' + QString(200, u'あ')}};
    EXPECT_EQ(ReadAddressStream(WriteAddressStream({odd, {"", {}}, longer})),
              QList<AddressEntry>({odd, {"", {}}, cut}));
    const QString format = QStringLiteral("不正なストリーム フォーマット"),
                  read = QStringLiteral("ストリームの読み込みエラー");
    const QByteArray one = Items(34, 1, Record("n", "a@b"));
    // Tags 00 to 15, each behind a blank that becomes the name "U" (01 55); a list nests a list, a
    // collection holds items with and without their order.
    const QByteArray unknown = QByteArray::fromHex(
        QByteArray(
            " 00 0102FF060361626301090000 027F 03FF7F 0401020304 0540404040404040404040 060178 070461546f70 08 09 "
            "0A03000000AABBCC 0B0161016200 0C020000006869 0D 0E020501014109000100010142010200000000 0F00008040 "
            "100101010101010101 110202020202020202 120200000042304430 13FFFFFFFFFFFFFFFF 1403000000E38182 "
            "150303030303030303")
            .replace(' ', "0155"));
    const std::tuple<const char *, QByteArray, QString> rows[] = {
        {"in any order, unknown ones skipped", Stream(unknown + one + unknown + Short("Left") + "\x02\x01" + unknown),
         ""},
        {"wrong signature", "TPF1" + Stream(one).mid(4), format},
        {"unknown tag", Stream(Short("X") + "\x16"), format},
        {"negative sub-item count", Stream(Items(29, 1, Record("n", "", ~0u).chopped(1))), format},
        {"total disagrees with block", Stream(Items(28, 1, Record("", "", 0).chopped(1))), format},
        {"child object", Stream(one).chopped(1) + "\x01", format},
        {"lists nested without end", Stream(Short("X") + QByteArray(4000, '\x01')), format},
        {"count beyond the records", Stream(Items(34, 0x7FFFFFFF, Record("n", "a@b"))), read},
        {"sub-items beyond the record", Stream(Items(34, 1, Record("n", "a@b", MaxSubItems))), read},
        {"more sub-items than a list shows", Stream(Items(97, 1, Record("n", QByteArray(64, '\0'), 65))), format},
        {"binary beyond the stream", Stream(Short("Items.Data") + "\x0A\xFF\xFF\xFF\x7F"), read},
    };
    for (const auto &[name, stream, error] : rows) {
        const auto reading = [&s = stream, &n = name] {
            EXPECT_EQ(ReadAddressStream(s), QList<AddressEntry>({{"n", {"a@b"}}})) << n;
        };
        EXPECT_EQ(FailureOf<EAddressReadError>(reading), error) << name;
    }
}

// No file is an empty book; a FIFO is refused before anything waits on it, a file larger than any book before it
// is read.
TEST(AddressFile, OnlyARegularFileOfABooksSizeIsRead)
{
    TestFolder folder;
    EXPECT_EQ(ReadAddressFile(folder.File("none.dat")), QList<AddressEntry>());
    ASSERT_EQ(mkfifo(QFile::encodeName(folder.File("fifo.dat")).constData(), 0600), 0);
    QFile large(folder.File("large.dat"));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(MaxAddressFileBytes + 1));
    for (const auto &[name, error] :
         {std::pair("fifo.dat", "ファイル %1 を開けません"),
          {"large.dat", "ファイル %1 はアドレス帳として大きすぎます（2097152 バイトまで）。"}})
        EXPECT_EQ(FailureOf<EAddressReadError>([&, name = name] { ReadAddressFile(folder.File(name)); }),
                  QString::fromUtf8(error).arg(folder.File(name)));
}

} // namespace
