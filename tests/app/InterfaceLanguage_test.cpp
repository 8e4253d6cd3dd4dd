// The user interface in the desktop's language: the choice made from the environment,
// an English text for every text, and every text whole in its widget in both languages.
#include "app/InterfaceLanguage.h"
#include "app/MainWindow.h"
#include "app/PasswordDialog.h"
#include "platform/Command.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "settings/AddressBookDialog.h"
#include "settings/SettingsDialog.h"
#include "support/TestFolder.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QRegularExpression Japanese(QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));

// What a child started by ChosenFromTheDesktop shows: the menu titles, then the boxes of
// an unsupported drop and of a picture that is not there.
QString ShownAtStart()
{
    UseLanguage(DesktopLanguage()); // as the program starts
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
    return shown.join('|');
}

TEST(InterfaceLanguage, ChosenFromTheDesktop)
{
    // In the child: what it shows goes to the file the parent named.
    if (const QString shownFile = qEnvironmentVariable("KELVO_SHOWN_FILE"); !shownFile.isEmpty()) {
        QFile file(shownFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(ShownAtStart().toUtf8()) > 0);
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
            env.remove(name);
        for (const QString &variable : variables.split(' ', Qt::SkipEmptyParts))
            env.insert(variable.section('=', 0, 0), variable.section('=', 1));
        env.insert("KELVO_SHOWN_FILE", folder.File("shown.txt"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=InterfaceLanguage.ChosenFromTheDesktop"});
        ASSERT_TRUE(child.waitForFinished(60000) && child.exitCode() == 0) << child.readAll().data();
        EXPECT_EQ(QString::fromUtf8(folder.Read("shown.txt")), inEnglish.contains(variables) ? english : japanese);
    }
}

TEST(InterfaceLanguage, AnEnglishThatDoesNotLoadLeavesJapanese)
{
    TestFolder folder;
    folder.Write("broken.qm", QByteArray(64, 'x'));
    for (const QString &file : {folder.File("missing.qm"), folder.File("broken.qm")})
        EXPECT_TRUE(UseLanguage(InterfaceLanguage::English, file) == InterfaceLanguage::Japanese &&
                    MessageCaption(MsgKind::Warning) == QStringLiteral("警告"));
}

// The %1, %2 ... a text holds.
QString Placeholders(const QString &text)
{
    QString found;
    for (char n = '1'; n <= '9'; ++n)
        found += text.contains(QString('%') + n) ? n : ' ';
    return found;
}

// The translation file as lupdate leaves it after reading the sources: a text that was
// added or changed has no finished English. A finished one keeps the placeholders of its
// source and holds no Japanese.
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
        else if (english.contains(Japanese) || Placeholders(english) != Placeholders(source))
            problems.append("wrong English: " + source + " -> " + english);
    }
    EXPECT_GT(texts, 100);
    EXPECT_EQ(problems.join('\n').toStdString(), "") << "in translations/kelvo_en.ts";
}

// A text the user reads, and for a text that must fit, how much room it takes and has.
struct ShownText
{
    QString Where, Text;
    int Needed = 0, Room = 0;
};

void AddButtonTexts(QAbstractButton *button, QList<ShownText> &texts)
{
    const QString text = QString(button->text()).remove('&'); // a mnemonic's mark
    const QStyle *style = button->style();
    // A check box's text stands beside its box; a button's inside its frame.
    const int room = qobject_cast<QCheckBox *>(button) || qobject_cast<QRadioButton *>(button)
                         ? button->width() - style->pixelMetric(QStyle::PM_IndicatorWidth) -
                               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing)
                         : button->width() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    texts.append({button->objectName(), text, button->fontMetrics().horizontalAdvance(text), room});
}

void AddLabelTexts(QLabel *label, QList<ShownText> &texts)
{
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label->fontMetrics().boundingRect(room, flags, label->text());
    const QString where = label->objectName();
    texts.append({where, label->text(), needed.width(), room.width()});
    texts.append({where + " (height)", label->text(), needed.height(), room.height()});
    // A label that grows with its text stays within what holds it.
    texts.append(
        {where + " (in its box)", label->text(), label->geometry().right(), label->parentWidget()->rect().right()});
}

// Every text of `window` and the widgets on it that the user reads. Not among them: what
// the user typed or the files hold (the boxes' texts, the model list, the address list).
QList<ShownText> ShownTexts(QWidget *window)
{
    QList<ShownText> texts{{window->objectName(), window->windowTitle()}};
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        const QFontMetrics metrics = w->fontMetrics();
        texts.append({w->objectName() + " (tool tip)", w->toolTip()});
        if (auto *label = qobject_cast<QLabel *>(w)) {
            AddLabelTexts(label, texts);
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            AddButtonTexts(button, texts);
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            // The title starts a few dots in, past the frame's corner.
            const int inset = 8;
            texts.append({group->objectName(), group->title(), metrics.horizontalAdvance(group->title() + ' '),
                          group->width() - 2 * inset});
        } else if (auto *edit = qobject_cast<QLineEdit *>(w); edit && !edit->placeholderText().isEmpty()) {
            const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            texts.append({edit->objectName(), edit->placeholderText(),
                          metrics.horizontalAdvance(edit->placeholderText()), edit->width() - 2 * frame - 4});
        } else if (auto *bar = qobject_cast<QMenuBar *>(w)) {
            for (QAction *menu : bar->actions()) {
                texts.append({bar->objectName(), menu->text(), bar->actionGeometry(menu).right(), bar->width() - 1});
                for (QAction *item : menu->menu()->actions())
                    texts.append({menu->menu()->objectName(), item->text()});
            }
        }
    }
    texts.removeIf([](const ShownText &t) { return t.Text.isEmpty(); });
    return texts;
}

// Every window of kelvo, shown, with the boxes recorded and no files of the user's.
struct AllWindows
{
    AllWindows()
    {
        for (QWidget *window : std::initializer_list<QWidget *>{&main, &settingsDialog, &addressBook, &password})
            window->show();
        QTest::qWait(20);
    }
    // The main window and each page of the settings: the texts they show.
    QList<ShownText> Texts()
    {
        QList<ShownText> texts = ShownTexts(&main) + ShownTexts(&addressBook) + ShownTexts(&password);
        auto *pages = settingsDialog.findChild<QStackedWidget *>("pages");
        for (int page = 0; page < pages->count(); ++page) {
            pages->setCurrentIndex(page);
            texts += ShownTexts(&settingsDialog);
        }
        return texts;
    }
    TestFolder folder;
    MessageRecorder boxes;
    MainSettings settings;
    MainWindow main;
    SettingsDialog settingsDialog{settings, {}};
    AddressBookDialog addressBook{{}};
    PasswordDialog password{QStringLiteral("smtp.example.ne.jp"), QStringLiteral("hanako@example.ne.jp")};
};

// The status bar's texts while a send goes, each as the panel shows it.
QList<ShownText> StatusTexts(MainWindow &main)
{
    QList<ShownText> texts;
    QObject::connect(&main, &MainWindow::StatusChanged, [&](const QString &) {
        auto *panel = main.findChild<QLabel *>("statusText");
        texts += ShownText{"status", panel->text(), panel->fontMetrics().horizontalAdvance(panel->text()),
                           panel->contentsRect().width()};
    });
    SmtpClient &client = *main.smtpClient;
    client.TotalBytes = client.SentBytes = 99999999;
    for (const auto &event : {client.OnSecured, client.OnAuthenticated, client.OnConnect, client.OnSendStart,
                              client.OnPacketSent, client.OnSuccess, client.OnDisconnect})
        event(&client);
    return texts;
}

TEST(InterfaceLanguage, TextsFitTheirWidgets)
{
    ASSERT_TRUE(QFontInfo(WindowFont()).family().startsWith("IPA")) << "the windows' fonts are missing";
    for (const InterfaceLanguage language : {InterfaceLanguage::Japanese, InterfaceLanguage::English}) {
        SCOPED_TRACE(language == InterfaceLanguage::English ? "English" : "Japanese");
        ASSERT_EQ(UseLanguage(language), language);
        AllWindows windows;
        for (const ShownText &t : windows.Texts() + StatusTexts(windows.main))
            EXPECT_LE(t.Needed, t.Room) << t.Where.toStdString() << ": " << t.Text.toStdString();
        EXPECT_EQ(windows.main.size(), QSize(421, 324 + windows.main.menuBar()->height()));
        EXPECT_EQ(windows.settingsDialog.size(), QSize(380, 301));
        EXPECT_EQ(windows.addressBook.size(), QSize(400, 393));
    }
    UseLanguage(InterfaceLanguage::Japanese);
}

TEST(InterfaceLanguage, EnglishWindowsShowNoJapanese)
{
    ASSERT_EQ(UseLanguage(InterfaceLanguage::English), InterfaceLanguage::English);
    AllWindows windows;
    QStringList shown;
    for (const ShownText &t : windows.Texts() + StatusTexts(windows.main))
        shown.append(t.Where + ": " + t.Text);
    for (const char *command : {"greyAction", "savePictureAction"})
        windows.main.findChild<QAction *>(command)->trigger();
    for (const RecordedMessage &box : windows.boxes.Messages)
        shown.append(box.Caption + ": " + box.Text);
    EXPECT_EQ(shown.filter(Japanese).join('\n').toStdString(), "");
    UseLanguage(InterfaceLanguage::Japanese);
}

} // namespace
