// What a keyboard and a screen reader reach in every window: the Tab order, and each control's role and name as
// Qt's accessibility interface tells them to AT-SPI.
#include "app/InterfaceLanguage.h"
#include "app/MainWindow.h"
#include "app/PasswordDialog.h"
#include "platform/Accessibility.h"
#include "platform/MsgBox.h"
#include "settings/AddressBookDialog.h"
#include "settings/SettingsDialog.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The windows of one run, shown, with the settings dialog on its first run and the password typed.
struct Windows
{
    Windows()
    {
        for (QWidget *window : All()) {
            window->show();
            window->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        }
        password.findChild<QLineEdit *>("passwordEdit")->setText("x");
    }
    QList<QWidget *> All() { return {&main, &settings, &addressBook, &password}; }

    TestFolder folder;
    MessageRecorder boxes;
    MainSettings kept;
    MainWindow main;
    SettingsDialog settings{kept, {}};
    AddressBookDialog addressBook{{}};
    PasswordDialog password{"smtp.example.jp", "taro"};
};

// The objects Tab reaches from the focus, in their order, once round; a box inside a drop-down counts as the list.
QStringList TabOrder(QWidget *window, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QStringList reached;
    for (int i = 0; i < 30; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (auto *combo = qobject_cast<QComboBox *>(focus ? focus->parentWidget() : nullptr))
            focus = combo;
        const QString name = focus ? focus->objectName() : "none";
        if (reached.contains(name))
            break;
        reached.append(name);
        QTest::keyClick(focus, Qt::Key_Tab, modifiers);
    }
    return reached;
}

// The first, the last, and all ahead of the first reversed: what Shift+Tab reaches from the same start.
QStringList Backwards(QStringList order)
{
    std::reverse(order.begin() + 1, order.end());
    return order;
}

TEST(Keyboard, TabReachesEveryControlInReadingOrder)
{
    Windows w;
    w.main.findChild<QWidget *>("subjectEdit")->setFocus();
    const QStringList main = TabOrder(&w.main);
    EXPECT_EQ(main.join(' '), "subjectEdit pictureNameEdit addressBookButton destinationCombo sendButton previewScroll "
                              "bodyEdit");
    EXPECT_EQ(TabOrder(&w.main, Qt::ShiftModifier), Backwards(main));
    // Each page with every box enabled, from the page tabs to キャンセル; of a group of options, the chosen one
    // (the arrow keys choose).
    const char *pages[] = {
        "senderNameEdit senderAddressEdit serverEdit defaultDestinationEdit advancedCheck portEdit heloNameEdit",
        "recommendedSizeOption modelCombo ownSizeSpin longMailLimitOption ownLimitSpin", "adFooterCheck",
        "securityCombo authCheck loginNameEdit passwordEdit"};
    w.settings.findChild<QLineEdit *>("serverEdit")->setText("smtp.example.jp"); // proposes nothing on entry
    for (QWidget *box : w.settings.findChildren<QWidget *>())
        box->setEnabled(true);
    auto *tabs = w.settings.findChild<QTabBar *>("pageTabs");
    for (int page = 0; page < 4; ++page) {
        tabs->setCurrentIndex(page);
        tabs->setFocus();
        const QStringList order = TabOrder(&w.settings);
        EXPECT_EQ(order.join(' '), QString("pageTabs %1 okButton cancelButton").arg(pages[page]));
        EXPECT_EQ(TabOrder(&w.settings, Qt::ShiftModifier), Backwards(order));
    }
    w.addressBook.findChild<QWidget *>("addressList")->setFocus();
    EXPECT_EQ(TabOrder(&w.addressBook).join(' '),
              "addressList nameEdit addressEdit addButton deleteButton pasteButton closeButton");
    EXPECT_EQ(TabOrder(&w.password).join(' '), "passwordEdit okButton cancelButton");
}

// What a screen reader says an input is: its name; for a drop-down list, which Qt names by its value on Linux, the
// label it is labelled by.
QString SaidName(QAccessibleInterface *input)
{
    if (input->role() == QAccessible::ComboBox)
        for (const auto &[label, relation] : input->relations(QAccessible::Label))
            if (label->role() != QAccessible::Grouping)
                return label->text(QAccessible::Name);
    return input->text(QAccessible::Name);
}

// "role name" of every input shown in `node` and below, in the order a screen reader walks them.
void Inputs(QAccessibleInterface *node, QStringList &inputs)
{
    static const QList<QAccessible::Role> roles{
        QAccessible::EditableText, QAccessible::ComboBox, QAccessible::SpinBox,     QAccessible::CheckBox,
        QAccessible::RadioButton,  QAccessible::Button,   QAccessible::PageTab,     QAccessible::PageTabList,
        QAccessible::Tree,         QAccessible::List,     QAccessible::ProgressBar, QAccessible::Graphic};
    if (node->state().invisible)
        return;
    const bool input = roles.contains(node->role());
    if (input)
        inputs.append(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role()) + (' ' + SaidName(node)));
    if (input && node->role() != QAccessible::PageTabList)
        return; // what an input holds (rows, a box's own edit) is its own
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface *child = node->child(i))
            Inputs(child, inputs);
}

// Every input of every window and page, disabled or not, has a name, no group box's title; each field with a
// label is named by it, mnemonic aside; in both languages. The settings page tabs show their page when pressed,
// and the password box is one.
TEST(Accessibility, EveryInputIsNamedByItsLabel)
{
    for (const InterfaceLanguage language : {InterfaceLanguage::Japanese, InterfaceLanguage::English}) {
        SCOPED_TRACE(language == InterfaceLanguage::English ? "English" : "Japanese");
        ASSERT_EQ(UseLanguage(language), language);
        Windows w;
        QStringList seen;
        for (QWidget *window : w.All()) {
            QStringList titles;
            for (QGroupBox *group : window->findChildren<QGroupBox *>())
                titles << group->title() << WithoutMnemonic(group->title());
            auto *tabs = window->findChild<QTabBar *>("pageTabs");
            for (int page = 0; page < (tabs ? tabs->count() : 1); ++page) {
                QAccessibleInterface *root = QAccessible::queryAccessibleInterface(window);
                if (tabs) { // pressed as a screen reader presses it
                    QAccessibleInterface *tab = QAccessible::queryAccessibleInterface(tabs)->child(page);
                    tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                    EXPECT_EQ(window->findChild<QStackedWidget *>("pages")->currentIndex(), page);
                }
                QStringList inputs;
                Inputs(root, inputs);
                for (const QString &input : inputs)
                    EXPECT_FALSE(input.section(' ', 1).isEmpty() || titles.contains(input.section(' ', 1)))
                        << input.toStdString() << " in " << window->objectName().toStdString();
                seen += inputs;
            }
            for (QLabel *label : window->findChildren<QLabel *>()) {
                if (label->buddy())
                    EXPECT_EQ(SaidName(QAccessible::queryAccessibleInterface(label->buddy())),
                              WithoutMnemonic(label->text()));
            }
        }
        QAccessibleInterface *password = QAccessible::queryAccessibleInterface(w.password.focusWidget());
        EXPECT_TRUE(password->role() == QAccessible::EditableText && password->state().passwordEdit);
        if (language == InterfaceLanguage::Japanese) {
            for (const char *heard :
                 {"EditableText 本文", "ProgressBar 送信の進み具合", "ComboBox 送信先", "PageTab SMTPの設定",
                  "ComboBox 機種一覧から画像サイズを選ぶ", "SpinBox 自分で選択した画像サイズを設定",
                  "EditableText 送信用メールサーバ(SMTP)", "EditableText パスワード", "Tree アドレス帳"})
                EXPECT_TRUE(seen.contains(QString::fromUtf8(heard))) << heard << "\n" << seen.join('\n').toStdString();
        }
    }
    UseLanguage(InterfaceLanguage::Japanese);
}

} // namespace
