#include "app/CommandLine.h"

#include "KelvoVersion.h"
#include "platform/FileName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace {

QString Translated(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

void Print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

CommandLineRequest ReadCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Translated(
        QT_TRANSLATE_NOOP("CommandLine", "kelvo は画像を一枚ずつ、携帯電話の画面に合わせてメールで送ります。")));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  Translated(QT_TRANSLATE_NOOP("CommandLine", "この説明を表示して終わります。")));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     Translated(QT_TRANSLATE_NOOP("CommandLine", "バージョンを表示して終わります。")));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(
        QStringLiteral("PICTURE"),
        Translated(QT_TRANSLATE_NOOP("CommandLine", "開く画像（JPEG、PNG、WebP、HEIC、BMP）。同じ設定ファイルの kelvo "
                                                    "が動いていれば、その kelvo で開きます。")),
        QStringLiteral("[PICTURE]"));

    QString mistake;
    if (!parser.parse(arguments))
        mistake = parser.errorText();
    else if (parser.positionalArguments().size() > 1)
        mistake = Translated(QT_TRANSLATE_NOOP("CommandLine", "画像は一つだけ指定できます。"));
    if (!mistake.isEmpty()) {
        Print(stderr, QStringLiteral("kelvo: %1\n\n%2").arg(mistake, parser.helpText()));
        return {2, QString()};
    }
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return {0, QString()};
    }
    if (parser.isSet(version)) {
        Print(stdout, QStringLiteral("kelvo %1\n").arg(QLatin1String(KelvoVersion)));
        return {0, QString()};
    }
    const QString picture = parser.positionalArguments().value(0);
    if (picture.isEmpty())
        return {std::nullopt, QString()};
    // Made absolute as text: QFileInfo and QDir::currentPath() would lose the bytes of a
    // name that is not UTF-8, the working folder's included.
    if (QDir::isAbsolutePath(picture))
        return {std::nullopt, QDir::cleanPath(picture)};
    const std::unique_ptr<char, decltype(&std::free)> workingFolder(getcwd(nullptr, 0), &std::free);
    const QString base = workingFolder ? FileNameFromBytes(workingFolder.get()) : QDir::currentPath();
    return {std::nullopt, QDir::cleanPath(base + u'/' + picture)};
}

void PrintError(const QString &line)
{
    Print(stderr, line + QLatin1Char('\n'));
}
