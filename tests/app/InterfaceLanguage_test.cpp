// The user interface in the desktop's language: the choice, the English texts, each text whole in its widget, each
// input named by its label.
#include "app/InterfaceLanguage.h"
#include "app/MainWindow.h"
#include "app/PasswordDialog.h"
#include "platform/Accessibility.h"
#include "platform/Command.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "settings/AddressBookDialog.h"
#include "settings/OAuthDetailsDialog.h"
#include "settings/SettingsDialog.h"
#include "settings/SignInWindow.h"
#include "support/TestFolder.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMetaEnum>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QRegularExpression Japanese(QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));

TEST(InterfaceLanguage, ChosenFromTheDesktop)
{
    // The child writes the menu titles and the boxes of two failed drops to the file the parent names.
    if (const QString shownFile = qEnvironmentVariable("KELVO_SHOWN_FILE"); !shownFile.isEmpty()) {
        UseLanguage(DesktopLanguage());
        TestFolder folder;
        MessageRecorder boxes;
        MainWindow window;
        QStringList shown;
        for (QAction *menu : window.findChild<QMenuBar *>()->actions())
            shown.append(menu->text());
        window.DropFiles({folder.File("x.gif")});
        RunCommand([&] { window.DropFiles({folder.File("x.jpg")}); });
        for (const RecordedMessage &box : boxes.Messages)
            shown.append(box.Caption + ": " + QString(box.Text).replace(folder.Path(), "~"));
        WriteFile(shownFile, shown.join('|').toUtf8());
        return;
    }
    TestFolder folder;
    const QString japanese =
        QStringLiteral("ファイル (&F)|メール (&M)|エフェクト (&E)|その他 (&O)|警告: "
                       "このファイルタイプには対応しておりません。|kelvo: ファイル ~/x.jpg を開けません。");
    const QString english = "&File|&Mail|&Effects|&Other|Warning: This file type is not supported.|"
                            "kelvo: Cannot open file ~/x.jpg.";
    // The variables set (split at '/'), by the language the windows speak then; the first, none.
    const QStringList inJapanese = QString("/LANG=C/LANG=C.UTF-8/LANG=POSIX/LANGUAGE=/LANGUAGE=xx_YY/LANG=klingon/"
                                           "LANG=ja_JP.UTF-8/LANGUAGE=ja LANG=en_US.UTF-8/"
                                           "LC_ALL=ja_JP.UTF-8 LANG=fr_FR.UTF-8")
                                       .split('/');
    const QStringList inEnglish = QString("LANG=en_US.UTF-8/LANG=de_DE.UTF-8/LANGUAGE=en/LANGUAGE=en LANG=ja_JP.UTF-8/"
                                          "LANGUAGE=fr:ja/LANGUAGE= LANG=de_DE.UTF-8/"
                                          "LC_MESSAGES=fr_FR.UTF-8 LANG=ja_JP.UTF-8")
                                      .split('/');
    for (const QString &variables : inJapanese + inEnglish) {
        SCOPED_TRACE(variables.toStdString());
        QProcess child;
        child.start("env", QStringList{"-u", "LANGUAGE", "-u", "LC_ALL", "-u", "LC_MESSAGES", "-u", "LANG",
                                       "KELVO_SHOWN_FILE=" + folder.File("shown.txt")} +
                               variables.split(' ', Qt::SkipEmptyParts) +
                               QStringList{QCoreApplication::applicationFilePath(),
                                           "--gtest_filter=InterfaceLanguage.ChosenFromTheDesktop"});
        ASSERT_TRUE(child.waitForFinished(60000) && child.exitCode() == 0) << child.readAll().data();
        EXPECT_EQ(QString::fromUtf8(folder.Read("shown.txt")), inEnglish.contains(variables) ? english : japanese);
    }
    // An English that does not load leaves Japanese: a missing file, or one that is no translation.
    for (const QString &file : {folder.File("missing.qm"), folder.File("shown.txt")})
        EXPECT_TRUE(UseLanguage(InterfaceLanguage::English, file) == InterfaceLanguage::Japanese &&
                    MessageCaption(MsgKind::Warning) == QStringLiteral("警告"));
}

// After lupdate reads the sources, a text added or changed has no finished English; a finished one keeps
// its source's placeholders and holds no Japanese.
TEST(InterfaceLanguage, EveryTextHasItsEnglish)
{
    TestFolder folder;
    const QString ts = folder.File("kelvo_en.ts");
    ASSERT_TRUE(QFile::copy(KELVO_SOURCE_DIR "/translations/kelvo_en.ts", ts));
    QProcess lupdate;
    lupdate.setWorkingDirectory(KELVO_SOURCE_DIR);
    lupdate.start(KELVO_LUPDATE, {"-locations", "none", "-I", ".", "app", "settings", "platform", "imaging", "mail",
                                  "net", "-ts", ts});
    ASSERT_TRUE(lupdate.waitForFinished(60000) && lupdate.exitCode() == 0) << lupdate.readAllStandardError().data();

    // The %1, %2 ... a text holds, whatever their order.
    const auto placeholders = [](QString text) {
        text.remove(QRegularExpression("[^%\\d]|%(?!\\d)|(?<!%)\\d"));
        std::sort(text.begin(), text.end());
        return text;
    };
    // The context's name comes before its messages.
    const QRegularExpression entry("<name>(.*?)</name>|<source>(.*?)</source>\\s*<translation( type=\"\\w+\")?>(.*?)<",
                                   QRegularExpression::DotMatchesEverythingOption);
    QString context;
    QStringList problems;
    int texts = 0;
    for (const QRegularExpressionMatch &m : entry.globalMatch(QString::fromUtf8(folder.Read("kelvo_en.ts")))) {
        if (!m.captured(1).isEmpty()) {
            context = m.captured(1);
            continue;
        }
        const QString source = context + ": " + m.captured(2), type = m.captured(3), english = m.captured(4);
        ++texts;
        if (type.contains("vanished") || type.contains("obsolete"))
            problems.append("no longer used: " + source);
        else if (!type.isEmpty() || english.isEmpty())
            problems.append("no English: " + source);
        else if (english.contains(Japanese) || placeholders(english) != placeholders(source))
            problems.append("wrong English: " + source + " -> " + english);
    }
    EXPECT_GT(texts, 100);
    EXPECT_EQ(problems.join('\n').toStdString(), "") << "in translations/kelvo_en.ts";
}

// A text the user reads: where, what, and for one that must fit, the room it takes and has.
struct ShownText
{
    QString Where, Text;
    int Needed = 0, Room = 0;
};

// The texts on `window` the user reads, with the room of each kind of widget; not what was typed or read.
QList<ShownText> ShownTexts(QWidget *window)
{
    QList<ShownText> texts{{window->objectName(), window->windowTitle()}};
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        const auto add = [&](QString text, int room) {
            text.remove('&'); // a mnemonic's mark
            texts.append({w->objectName(), text, w->fontMetrics().horizontalAdvance(text), room});
        };
        const auto metric = [w](QStyle::PixelMetric m) { return w->style()->pixelMetric(m); };
        texts.append({w->objectName(), w->toolTip()});
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const QRect room = label->contentsRect();
            const QRect needed = label->fontMetrics().boundingRect(
                room, int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0) | Qt::TextShowMnemonic,
                label->text());
            // Also when it grows with its text: within what holds it.
            for (const auto &[needs, has] : {std::pair(needed.width(), room.width()),
                                             {needed.height(), room.height()},
                                             {label->geometry().right(), label->parentWidget()->rect().right()}})
                texts.append({label->objectName(), label->text(), needs, has});
        } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) // beside its box
            add(static_cast<QAbstractButton *>(w)->text(),
                w->width() - metric(QStyle::PM_IndicatorWidth) - metric(QStyle::PM_CheckBoxLabelSpacing));
        else if (auto *button = qobject_cast<QAbstractButton *>(w)) // inside its frame
            add(button->text(), w->width() - 2 * metric(QStyle::PM_DefaultFrameWidth));
        else if (auto *group = qobject_cast<QGroupBox *>(w)) // past the frame's corner
            add(group->title() + ' ', w->width() - 16);
        else if (auto *edit = qobject_cast<QLineEdit *>(w)) // inside its frame and margins
            add(edit->placeholderText(), w->width() - 2 * metric(QStyle::PM_DefaultFrameWidth) - 4);
        else if (auto *tabs = qobject_cast<QTabBar *>(w)) // each tab within the bar, its text inside its margins
            for (int i = 0; i < tabs->count(); ++i) {
                add(tabs->tabText(i), tabs->tabRect(i).width() - 8);
                texts.append({"tab", tabs->tabText(i), tabs->tabRect(i).right(), tabs->width() - 1});
            }
        else if (auto *bar = qobject_cast<QMenuBar *>(w))
            for (QAction *menu : bar->actions()) {
                texts.append({"menu", menu->text(), bar->actionGeometry(menu).right(), bar->width() - 1});
                for (QAction *item : menu->menu()->actions())
                    texts.append({"menu", item->text()});
            }
    }
    texts.removeIf([](const ShownText &t) { return t.Text.trimmed().isEmpty(); });
    return texts;
}

// What a screen reader says an input is: its name; for a drop-down list, which Qt names by its value on Linux, the
// label it is labelled by.
QString SaidName(QAccessibleInterface *input)
{
    if (input->role() != QAccessible::ComboBox)
        return input->text(QAccessible::Name);
    for (const auto &[label, relation] : input->relations(QAccessible::Label))
        if (label->role() != QAccessible::Grouping)
            return label->text(QAccessible::Name);
    return {};
}

// "Role name" of each input shown in `node` and below; what an input holds (rows, its own edit box) is its own.
void Inputs(QAccessibleInterface *node, QStringList &inputs)
{
    static const QList<QAccessible::Role> roles{
        QAccessible::EditableText, QAccessible::ComboBox, QAccessible::SpinBox, QAccessible::CheckBox,
        QAccessible::RadioButton,  QAccessible::Button,   QAccessible::PageTab, QAccessible::Tree};
    if (roles.contains(node->role()) && !node->state().invisible)
        return inputs.append(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role()) +
                             (' ' + SaidName(node)));
    for (int i = 0; i < node->childCount() && !node->state().invisible; ++i)
        Inputs(node->child(i), inputs);
}

// Each login method of the security page shows boxes and a note of its own.
void ShowEveryLoginMethod(SettingsDialog &dialog, const std::function<void(QWidget *)> &look)
{
    dialog.findChild<QLineEdit *>("senderAddressEdit")->setText(QStringLiteral("hanako@example.ne.jp"));
    auto *methods = dialog.findChild<QComboBox *>("loginMethodCombo");
    for (int method = 0; method < methods->count(); ++method) {
        methods->setCurrentIndex(method);
        emit methods->activated(method);
        look(&dialog);
    }
}

// Each text of every window and page, of a send's status and two commands' boxes, whole in its widget in
// both languages, the windows at their sizes; no Japanese in English. Every input of every window and page, as a
// screen reader hears it, has a name, no group box's title; a box with a label is named by it, mnemonic aside, and
// the label has a mnemonic. A page tab pressed as a screen reader presses it shows its page.
TEST(InterfaceLanguage, TextsFitTheirWidgetsAndNameTheirInputs)
{
    ASSERT_TRUE(QFontInfo(WindowFont()).family().startsWith("IPA")) << "the windows' fonts are missing";
    for (const InterfaceLanguage language : {InterfaceLanguage::Japanese, InterfaceLanguage::English}) {
        SCOPED_TRACE(language == InterfaceLanguage::English ? "English" : "Japanese");
        ASSERT_EQ(UseLanguage(language), language);
        TestFolder folder;
        MessageRecorder boxes;
        MainSettings settings;
        MainWindow main;
        SettingsDialog settingsDialog(settings, {});
        AddressBookDialog addressBook({});
        PasswordDialog password(QStringLiteral("smtp.example.ne.jp"), QStringLiteral("hanako@example.ne.jp"));
        SignInWindow signIn(QStringLiteral("Microsoft"));
        OAuthDetailsDialog details(QStringLiteral("microsoft"), {}), customDetails(QStringLiteral("custom"), {});
        for (QWidget *window : std::initializer_list<QWidget *>{&main, &settingsDialog, &addressBook, &password,
                                                                &signIn, &details, &customDetails})
            window->show();
        QTest::qWait(20);
        QList<ShownText> texts;
        QStringList inputs, titles;
        const auto look = [&](QWidget *window) {
            texts += ShownTexts(window);
            Inputs(QAccessible::queryAccessibleInterface(window), inputs);
            for (QGroupBox *group : window->findChildren<QGroupBox *>())
                titles << group->title() << WithoutMnemonic(group->title());
        };
        for (QWidget *window :
             std::initializer_list<QWidget *>{&main, &addressBook, &password, &signIn, &details, &customDetails})
            look(window);
        signIn.ShowExchanging();
        texts += ShownTexts(&signIn);
        auto *pages = settingsDialog.findChild<QStackedWidget *>("pages");
        QAccessibleInterface *tabs = QAccessible::queryAccessibleInterface(settingsDialog.findChild<QTabBar *>());
        for (int page = 0; page < pages->count(); ++page) {
            tabs->child(page)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            EXPECT_EQ(pages->currentIndex(), page);
            look(&settingsDialog);
        }
        ShowEveryLoginMethod(settingsDialog, look);
        SmtpClient &client = *main.smtpClient;
        client.TotalBytes = client.SentBytes = 99999999;
        for (const auto &event : {client.OnSecured, client.OnAuthenticated, client.OnConnect, client.OnSendStart,
                                  client.OnPacketSent, client.OnSuccess, client.OnDisconnect}) {
            event(&client);
            texts += ShownTexts(main.findChild<QWidget *>("statusArea"));
        }
        for (const char *command : {"greyAction", "savePictureAction"})
            main.findChild<QAction *>(command)->trigger();
        for (const RecordedMessage &box : boxes.Messages)
            texts += {{"box", box.Caption}, {"box", box.Text}};
        EXPECT_EQ(main.size(), QSize(421, 324 + main.menuBar()->height()));
        EXPECT_EQ(settingsDialog.size(), QSize(380, 301));
        EXPECT_EQ(addressBook.size(), QSize(400, 393));
        for (const ShownText &t : texts) {
            const std::string where = (t.Where + ": " + t.Text).toStdString();
            EXPECT_LE(t.Needed, t.Room) << where;
            EXPECT_FALSE(language == InterfaceLanguage::English && t.Text.contains(Japanese)) << where;
        }
        for (const QString &input : inputs)
            EXPECT_FALSE(input.section(' ', 1).isEmpty() || titles.contains(input.section(' ', 1)) ||
                         (language == InterfaceLanguage::English && input.contains(Japanese)))
                << input.toStdString();
        for (QWidget *window : std::initializer_list<QWidget *>{&main, &settingsDialog, &addressBook, &password,
                                                                &details, &customDetails})
            for (QLabel *label : window->findChildren<QLabel *>())
                EXPECT_TRUE(!label->buddy() || (SaidName(QAccessible::queryAccessibleInterface(label->buddy())) ==
                                                    WithoutMnemonic(label->text()) &&
                                                (label->isHidden() || label->text().contains('&'))))
                    << label->text().toStdString(); // and a shown label has a mnemonic
        QAccessibleInterface *typed = QAccessible::queryAccessibleInterface(password.focusWidget());
        EXPECT_TRUE(typed->role() == QAccessible::EditableText && typed->state().passwordEdit);
    }
    UseLanguage(InterfaceLanguage::Japanese);
}

} // namespace
