#include "settings/AddressBookDialog.h"

#include "platform/MsgBox.h"

#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

struct Book
{
    explicit Book(const QByteArray &file)
    {
        folder.Write(AddressFileName, file);
        dialog = std::make_unique<AddressBookDialog>([&](const QString &text) { pasted.append(text); });
        dialog->show();
    }
    void Click(const char *button, int row = -1) const
    {
        if (row >= 0)
            dialog->findChild<QTreeWidget *>("addressList")->topLevelItem(row)->setSelected(true);
        dialog->findChild<QAbstractButton *>(button)->click();
    }
    void Add(const QString &name, const QString &address) const
    {
        dialog->findChild<QLineEdit *>("nameEdit")->setText(name);
        dialog->findChild<QLineEdit *>("addressEdit")->setText(address);
        Click("addButton");
    }

    TestFolder folder;
    MessageRecorder boxes;
    QStringList pasted;
    std::unique_ptr<AddressBookDialog> dialog;
};

const QList<AddressEntry> Two{{"a", {"a@x"}}, {"b", {"b@x"}}};

// Tab reaches every box and button in reading order; what each button (and Return in a box) refuses; Escape and a
// paste (the comma text into the destination box) close, and both write.
TEST(AddressBook, ButtonsCheckWhatTheyAreGivenAndClosingWrites)
{
    Book book(WriteAddressStream(Two));
    ASSERT_TRUE(QTest::qWaitForWindowActive(book.dialog.get()));
    QStringList order{"addressList"};
    book.dialog->findChild<QTreeWidget *>("addressList")->setFocus();
    while (order.size() < 7) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.append(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(order.join(' '), "addressList nameEdit addressEdit addButton deleteButton pasteButton closeButton");
    for (const auto &[name, address, how] : {std::tuple("", "c@x", "addButton"),
                                             {"n", "no-at-sign", "nameEdit"},
                                             {"山田", "b x,\"y\"@x", "addressEdit"}}) {
        book.dialog->findChild<QLineEdit *>("nameEdit")->setText(QString::fromUtf8(name));
        book.dialog->findChild<QLineEdit *>("addressEdit")->setText(address);
        if (auto *box = book.dialog->findChild<QLineEdit *>(how))
            QTest::keyClick(box, Qt::Key_Return);
        else
            book.Click(how);
    }
    book.Click("deleteButton");
    book.Click("pasteButton");
    book.Click("deleteButton", 1);
    book.Click("deleteButton"); // the selection does not slide onto a neighbour
    QTest::keyClick(book.dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(ReadAddressFile(AddressFileName), QList<AddressEntry>({{"a", {"a@x"}}, {"山田", {"b x,\"y\"@x"}}}));
    book.dialog->show();
    book.Click("pasteButton", 1);
    EXPECT_FALSE(book.dialog->isVisible());
    EXPECT_EQ(book.pasted, QStringList("\"b x,\"\"y\"\"@x\"")); // comma text: quoted, quotes doubled
    EXPECT_EQ(book.boxes.Texts(),
              QStringList({"不適切なメールアドレスの形式です。", "削除したいアドレスを選択してください。",
                           "アドレスを選択してください。", "削除したいアドレスを選択してください。"}));
}

// A book that did not read whole shows what it read, read-only: its button, Escape and a paste close it without a
// write, the file byte for byte as it was. The first edit moves the file aside and says where; then closing writes.
TEST(AddressBook, AFileThatDidNotReadWholeIsNeverWrittenOver)
{
    const QByteArray cut = WriteAddressStream(Two).chopped(3);
    Book book(cut);
    EXPECT_TRUE(book.dialog->findChild<QLabel *>("readOnlyNotice")->isVisible());
    book.Click("closeButton");
    book.dialog->show();
    QTest::keyClick(book.dialog.get(), Qt::Key_Escape);
    book.dialog->show();
    book.Click("pasteButton", 0);
    EXPECT_EQ(book.folder.Read(AddressFileName), cut);
    EXPECT_EQ(book.boxes.Texts(), QStringList("ストリームの読み込みエラー"));
    book.Add("c", "c@x");
    const QString aside = book.folder.File(QDir(book.folder.Path()).entryList({"address.dat.damaged-2*"}).value(0));
    EXPECT_EQ(ReadFile(aside), cut);
    EXPECT_EQ(book.boxes.Texts().last(), "読めなかった " + book.folder.File(AddressFileName) + " を " + aside +
                                             " に移しました。アドレス帳は閉じるときに新しく書き込みます。");
    book.Click("closeButton");
    EXPECT_EQ(ReadAddressFile(AddressFileName), Two + QList<AddressEntry>({{"c", {"c@x"}}}));
}

// A book that cannot be written (a folder in the way) still closes, by its button, Escape or the window manager
// (on X11, below). The failure is shown once with the offer to save elsewhere; failing that the list stays for the
// next close, and is dropped only on the user's word.
TEST(AddressBook, AWriteThatFailsNeverKeepsTheBookOpen)
{
    Book book(WriteAddressStream(Two));
    QString saved = book.folder.File("saved.dat");
    book.dialog->AskSavePath = [&] { return saved; };
    ASSERT_TRUE(QFile::remove(AddressFileName) && QDir(book.folder.Path()).mkdir(AddressFileName));
    book.Add("c", "c@x");
    const QString failed = "ファイル address.dat を作成できません\nアドレス帳を別の場所に保存しますか？",
                  keep = "アドレス帳の変更を kelvo を終えるまで残し、次に閉じるときにもう一度保存しますか？\n"
                         "「いいえ」なら保存していない変更を捨てます。";
    // The answers, how the book is closed, its entries after and the boxes shown.
    const std::tuple<QList<MsgResult>, std::function<void()>, qsizetype, QStringList> rows[] = {
        {{MsgResult::No, MsgResult::Yes}, [&] { book.Click("closeButton"); }, 3, {failed, keep}},
        {{MsgResult::Yes},
         [&] { QTest::keyClick(book.dialog.get(), Qt::Key_Escape); },
         3,
         {failed, "アドレス帳を " + saved + " に保存しました。"}},
        {{}, [&] { book.dialog->close(); }, 2, {failed, keep}},
        {{}, [&] { book.dialog->close(); }, 2, {failed}}, // nothing unsaved: no question of dropping it
    };
    for (const auto &[answers, close, entries, boxes] : rows) {
        book.boxes.Clear();
        for (const MsgResult answer : answers)
            book.boxes.Answer(answer);
        book.dialog->show();
        close();
        EXPECT_FALSE(book.dialog->isVisible());
        EXPECT_EQ(book.dialog->Entries().size(), entries);
        EXPECT_EQ(book.boxes.Texts(), boxes);
    }
    EXPECT_EQ(ReadAddressFile(saved).size(), 3);
}

TEST(AddressBook, ClosedByTheWindowManagerWhenItCannotBeWritten)
{
    if (qgetenv("QT_QPA_PLATFORM") != "xcb") {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("dbus-run-session", {"--", "env", "QT_QPA_PLATFORM=xcb", "/usr/bin/python3",
                                         QStringLiteral(KELVO_SOURCE_DIR "/tests/app/slow_keyring_desktop.py"),
                                         QCoreApplication::applicationFilePath(), "--gtest_filter=*WindowManager*"});
        EXPECT_TRUE(child.waitForFinished(60000) && child.exitCode() == 0) << child.readAll().toStdString();
        return;
    }
    Book book(WriteAddressStream(Two));
    ASSERT_TRUE(QFile::remove(AddressFileName) && QDir(book.folder.Path()).mkdir(AddressFileName));
    book.dialog->hide();
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(book.dialog.get()));
        QProcess::execute("wmctrl", {"-i", "-c", QString::number(book.dialog->winId())});
    });
    QTimer::singleShot(10000, [&] { book.dialog->done(QDialog::Rejected); }); // not closed: the test fails
    EXPECT_EQ(book.dialog->exec(), QDialog::Accepted);
    EXPECT_EQ(book.boxes.Messages.size(), 1); // the failure; nothing unsaved to keep
}

} // namespace
