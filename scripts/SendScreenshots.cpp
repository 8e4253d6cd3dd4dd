// Takes the README's pictures of a send: password-prompt.png while the password is asked
// for, send-in-progress.png at the first packet and send-done.png once the server has the
// mail, into the folder given (docs/ by default). Built on demand (`cmake --build build
// --target send_screenshots`) and run by scripts/screenshot-main under Xvfb; the mail goes
// to a local aiosmtpd that wants STARTTLS and a login, as a provider's server does.
#include "app/MainWindow.h"
#include "imaging/Pipeline.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"
#include "platform/ProgramFolder.h"

#include "support/SmtpSink.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

// Sky over green hills: enough detail that the JPEG takes several packets.
QImage Landscape()
{
    QImage photo(800, 600, QImage::Format_BGR888);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const double sky = std::min(1.0, y / 360.0);
            const bool hill = y > 380 + 60 * std::sin(x / 90.0);
            photo.setPixel(x, y,
                           hill ? qRgb(60 + (x * y) % 40, 140 + (x % 50), 50)
                                : qRgb(int(90 + 120 * sky), int(150 + 80 * sky), 235));
        }
    return photo;
}

bool Save(QWidget &window, const QString &path)
{
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "cannot write", qPrintable(path));
    return saved;
}

// The user's own size, 240 dots, and the 100 KB limit: the mail goes out in several
// packets, so the progress shows part of the way.
bool WriteSettings(const QTemporaryDir &work, quint16 port)
{
    QFile ini(work.filePath(QStringLiteral("kelvo.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write(
        "[web]\r\nkai=0\r\n[smtp]\r\nname=kelvo\r\nFromAddress=taro@example.jp\r\nPort=" + QByteArray::number(port) +
        "\r\nSMTP=127.0.0.1\r\nID=taro\r\nDest=hanako@example.jp\r\n[keitai]\r\n"
        "dotsettei=2\r\nsiteidot=240\r\nrfsize=2\r\n[Koukoku]\r\nflg=1\r\n");
    return true;
}

// STARTTLS and the login "kelvo"; no password is known yet, so the send asks for it, and
// the prompt is pictured with the password typed.
void PicturePasswordPrompt(MainWindow &main, const QString &out, bool &saved)
{
    main.Settings.Security = SmtpSecurity::StartTls;
    main.Settings.Auth = SmtpLogin::Password;
    main.Settings.AuthUser = QStringLiteral("kelvo");
    const auto ask = main.AskPassword;
    main.AskPassword = [&main, &saved, out, ask](const QString &host, const QString &user) {
        QTimer::singleShot(300, &main, [&saved, out] {
            QWidget *prompt = QApplication::activeModalWidget();
            auto *box = prompt ? prompt->findChild<QLineEdit *>(QStringLiteral("passwordEdit")) : nullptr;
            if (!box) {
                saved = false;
                return;
            }
            QTest::keyClicks(box, QStringLiteral("secret"));
            saved = Save(*prompt, out + QStringLiteral("/password-prompt.png")) && saved;
            QTest::keyClick(box, Qt::Key_Return);
        });
        return ask(host, user);
    };
}

void ComposeMail(MainWindow &main, const QTemporaryDir &work)
{
    SaveJpeg(Landscape(), work.filePath(QStringLiteral("photo.jpg")), 95);
    main.DropFiles({work.filePath(QStringLiteral("photo.jpg"))});
    main.findChild<QLineEdit *>(QStringLiteral("subjectEdit"))->setText(QStringLiteral("週末の写真"));
    main.findChild<QPlainTextEdit *>(QStringLiteral("bodyEdit"))
        ->setPlainText(QStringLiteral("山の上から撮りました。\nまた行きましょう。"));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    PasswordStore::UseKeyring(false); // never the keyring of whoever takes the pictures
    const QString out = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs")).absolutePath();
    SmtpSink sink(SmtpSink::StartTls);
    if (sink.Port() == 0) {
        std::fprintf(stderr, "no SMTP server: %s\n", qPrintable(sink.Error()));
        return 1;
    }
    QTemporaryDir work;
    SetProgramFolder(work.path());
    QDir::setCurrent(work.path());
    if (!WriteSettings(work, sink.Port()))
        return 1;

    bool saved = true;
    MessageRecorder boxes;
    MainWindow main;
    main.show();
    QTest::qWait(200);
    PicturePasswordPrompt(main, out, saved);
    ComposeMail(main, work);

    int packets = 0;
    const NotifyEvent shown = main.smtpClient->OnPacketSent;
    main.smtpClient->OnPacketSent = [&](QObject *sender) {
        shown(sender);
        if (++packets == 1)
            saved = Save(main, out + QStringLiteral("/send-in-progress.png")) && saved;
    };
    main.findChild<QAction *>(QStringLiteral("sendAction"))->trigger();
    if (!boxes.Messages.isEmpty() || packets < 2) {
        std::fprintf(stderr, "the send did not go as planned (%d packets): %s\n", packets,
                     qPrintable(boxes.Texts().join(QLatin1Char('|'))));
        return 1;
    }
    QTest::qWait(100);
    saved = Save(main, out + QStringLiteral("/send-done.png")) && saved;
    return saved ? 0 : 1;
}
