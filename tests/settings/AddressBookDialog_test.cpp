#include "settings/AddressBookDialog.h"

#include "platform/MsgBox.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

AddressEntry Entry(const QString &name, const QStringList &subItems)
{
    AddressEntry e;
    e.Caption = name;
    e.SubItems = subItems;
    return e;
}

// The address book as the user sees it, driven by its controls.
class AddressBook : public ::testing::Test
{
protected:
    void Open()
    {
        dialog = std::make_unique<AddressBookDialog>([this](const QString &text) { destination.append(text); });
        dialog->show();
    }

    QTreeWidget *List() const { return dialog->findChild<QTreeWidget *>("AddressList"); }
    void Click(const char *button) const { dialog->findChild<QAbstractButton *>(button)->click(); }
    void Add(const QString &name, const QString &address) const
    {
        dialog->findChild<QLineEdit *>("AddNameText")->setText(name);
        dialog->findChild<QLineEdit *>("AddTelText")->setText(address);
        Click("SpeedButton2");
    }
    void Select(int row) const { List()->topLevelItem(row)->setSelected(true); }
    QStringList Rows() const
    {
        QStringList rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            rows.append(List()->topLevelItem(i)->text(0) + "|" + List()->topLevelItem(i)->text(1));
        return rows;
    }

    TestFolder folder;
    MessageRecorder boxes;
    QStringList destination;
    std::unique_ptr<AddressBookDialog> dialog;
};

} // namespace

TEST_F(AddressBook, AddChecksBothBoxesAndAppendsInOrder)
{
    Open();
    Add("", "a@b");
    Add("name", "");
    EXPECT_TRUE(boxes.Messages.isEmpty());
    Add("name", "no-at-sign");
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("不適切なメールアドレスの形式です。")});
    EXPECT_EQ(boxes.Messages.value(0).Kind, MsgKind::Plain);
    EXPECT_TRUE(Rows().isEmpty());

    Add(QStringLiteral("山田"), "taro@example.jp");
    Add("b", "b@x");
    Add("b", "b@x"); // no duplicate check
    EXPECT_EQ(Rows(), QStringList({QStringLiteral("山田|taro@example.jp"), "b|b@x", "b|b@x"}));
    EXPECT_EQ(dialog->findChild<QLineEdit *>("AddTelText")->text(), "b@x"); // the boxes keep their text
    EXPECT_EQ(boxes.Messages.size(), 1);
}

TEST_F(AddressBook, DeleteAndPasteNeedASelection)
{
    Open();
    Click("SpeedButton1");
    Add("a", "a@x");
    Add("b", "b@x");
    Add("c", "c@x");
    Click("SpeedButton4");
    Click("SpeedButton1");
    Select(1);
    Click("SpeedButton4");
    EXPECT_EQ(Rows(), QStringList({"a|a@x", "c|c@x"}));
    Click("SpeedButton4"); // the selection does not slide onto a neighbour
    EXPECT_EQ(Rows(), QStringList({"a|a@x", "c|c@x"}));
    EXPECT_EQ(boxes.Texts(), QStringList({QStringLiteral("メールアドレスが登録されていません。"),
                                          QStringLiteral("削除したいアドレスを選択してください。"),
                                          QStringLiteral("アドレスを選択してください。"),
                                          QStringLiteral("削除したいアドレスを選択してください。")}));
    EXPECT_TRUE(destination.isEmpty());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(folder.Read(AddressFileName).isEmpty());
}

TEST_F(AddressBook, PasteSetsTheDestinationAsCommaTextAndCloses)
{
    const struct
    {
        QStringList subItems;
        QString pasted;
    } cases[] = {
        {{"taro@example.jp"}, "taro@example.jp"},
        {{"taro yamada@x"}, "\"taro yamada@x\""},
        {{"a,b@x"}, "\"a,b@x\""},
        {{"say\"hi\"@x"}, "\"say\"\"hi\"\"@x\""},
        {{"tab\t@x"}, "\"tab\t@x\""},
        {{QStringLiteral("全角　空白@x")}, QStringLiteral("全角　空白@x")},
        {{""}, "\"\""},
        {{"a@x", "b c"}, "a@x,\"b c\""},
    };
    for (const auto &c : cases) {
        const QList<AddressEntry> book{Entry("first", {"first@x"}), Entry("n", c.subItems)};
        WriteAddressFile(AddressFileName, book);
        destination.clear();
        Open();
        Select(1);
        Click("SpeedButton1");
        EXPECT_EQ(destination, QStringList{c.pasted});
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(ReadAddressFile(AddressFileName), book);
    }
    EXPECT_TRUE(boxes.Messages.isEmpty());
}

TEST_F(AddressBook, OnlyCloseWritesTheBookInTheWorkingFolder)
{
    Open();
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(folder.Read(AddressFileName).isEmpty());
    Add("a", "a@x");
    Click("SpeedButton3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(ReadAddressFile(folder.File(AddressFileName)), QList<AddressEntry>{Entry("a", {"a@x"})});

    {
        TestFolder other;
        Open();
        EXPECT_TRUE(Rows().isEmpty());
        Click("SpeedButton3");
        EXPECT_EQ(other.Read(AddressFileName), WriteAddressStream({}));
    }
    Open();
    EXPECT_EQ(Rows(), QStringList{"a|a@x"});
    EXPECT_TRUE(boxes.Messages.isEmpty());
}

TEST_F(AddressBook, ReadErrorShowsTheListAsFarAsRead)
{
    const QList<AddressEntry> book{Entry("a", {"a@x"}), Entry("b", {"b@x"})};
    const QByteArray good = WriteAddressStream(book);
    folder.Write(AddressFileName, good.left(good.size() - 3));
    Open();
    EXPECT_EQ(Rows(), QStringList({"a|a@x", "b|b@x"}));
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("ストリームの読み込みエラー")});
    EXPECT_EQ(boxes.Messages.value(0).Kind, MsgKind::Error);

    boxes.Clear();
    folder.Write(AddressFileName, "TPF1" + good.mid(4));
    Open();
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("不正なストリーム フォーマット")});
}

TEST_F(AddressBook, FailedWriteKeepsTheDialogOpen)
{
    Open();
    Add("a", "a@x");
    ASSERT_TRUE(QDir(folder.Path()).mkdir(AddressFileName));
    Click("SpeedButton3");
    Select(0);
    Click("SpeedButton1");
    ASSERT_EQ(boxes.Messages.size(), 2);
    for (const RecordedMessage &m : boxes.Messages) {
        EXPECT_EQ(m.Kind, MsgKind::Error);
        EXPECT_EQ(m.Text, QStringLiteral("ファイル address.dat を作成できません"));
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Rows(), QStringList{"a|a@x"});

    ASSERT_TRUE(QDir(folder.Path()).rmdir(AddressFileName));
    Click("SpeedButton3");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ReadAddressFile(AddressFileName).size(), 1);
}

// Also takes the picture of the book for the documentation when KELVO_SCREENSHOT names
// a file (run under Xvfb with QT_QPA_PLATFORM=xcb).
TEST_F(AddressBook, RendersJapaneseAtItsFixedSize)
{
    WriteAddressFile(AddressFileName, {Entry(QStringLiteral("山田 太郎"), {"taro@docomo.ne.jp"}),
                                       Entry(QStringLiteral("鈴木 花子"), {"hanako@ezweb.ne.jp"})});
    Open();
    Select(0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    const QFontMetrics metrics(List()->font());
    for (const char32_t c : {U'名', U'前', U'メ', U'帳', U'山'}) {
        EXPECT_TRUE(metrics.inFontUcs4(c)) << QFontInfo(List()->font()).family().toStdString();
    }
    const QPixmap picture = dialog->grab();
    EXPECT_EQ(picture.size(), QSize(400, 393));
    const QString shot = qEnvironmentVariable("KELVO_SCREENSHOT");
    if (!shot.isEmpty()) {
        EXPECT_TRUE(picture.save(shot));
    }
}
