#include "settings/AddressBookDialog.h"

#include "platform/MsgBox.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

// A book cut short shows as far as it was read; what each button (and Return in a box) refuses; only closing (or
// pasting, which closes) writes the book, and a book that cannot be written keeps the dialog open.
TEST(AddressBook, ButtonsCheckWhatTheyAreGivenAndOnlyClosingWrites)
{
    TestFolder folder;
    MessageRecorder boxes;
    QStringList pasted;
    const QByteArray cut = WriteAddressStream({{"a", {"a@x"}}, {"b", {"b@x"}}}).chopped(3);
    folder.Write(AddressFileName, cut);
    AddressBookDialog dialog([&](const QString &text) { pasted.append(text); });
    dialog.show();
    const auto click = [&](const char *button) { dialog.findChild<QAbstractButton *>(button)->click(); };
    QTreeWidget *list = dialog.findChild<QTreeWidget *>("addressList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QStringList order{"addressList"}; // Tab reaches every box and button in reading order
    for (list->setFocus(); order.size() < 7; order.append(QApplication::focusWidget()->objectName()))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(order.join(' '), "addressList nameEdit addressEdit addButton deleteButton pasteButton closeButton");
    // The add button, or Return in either box.
    for (const auto &[name, address, how] : {std::tuple("", "c@x", "addButton"),
                                             {"n", "no-at-sign", "nameEdit"},
                                             {"山田", "b x,\"y\"@x", "addressEdit"}}) {
        dialog.findChild<QLineEdit *>("nameEdit")->setText(QString::fromUtf8(name));
        dialog.findChild<QLineEdit *>("addressEdit")->setText(address);
        if (auto *box = dialog.findChild<QLineEdit *>(how))
            QTest::keyClick(box, Qt::Key_Return);
        else
            click(how);
    }
    click("deleteButton");
    click("pasteButton");
    list->topLevelItem(1)->setSelected(true);
    click("deleteButton");
    click("deleteButton"); // the selection does not slide onto a neighbour
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.close());
    EXPECT_EQ(boxes.Texts(), QStringList({"ストリームの読み込みエラー", "不適切なメールアドレスの形式です。",
                                          "削除したいアドレスを選択してください。", "アドレスを選択してください。",
                                          "削除したいアドレスを選択してください。"}));
    EXPECT_EQ(folder.Read(AddressFileName), cut);

    QDir(folder.Path()).rename(AddressFileName, "old.dat");
    QDir(folder.Path()).mkdir(AddressFileName);
    list->topLevelItem(1)->setSelected(true);
    click("pasteButton");
    EXPECT_EQ(boxes.Texts().last(), "ファイル address.dat を作成できません");
    EXPECT_TRUE(dialog.isVisible());
    QDir(folder.Path()).rmdir(AddressFileName);
    click("pasteButton");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(pasted, QStringList(2, "\"b x,\"\"y\"\"@x\"")); // comma text: quoted, quotes doubled
    EXPECT_EQ(ReadAddressFile(AddressFileName), QList<AddressEntry>({{"a", {"a@x"}}, {"山田", {"b x,\"y\"@x"}}}));
}
