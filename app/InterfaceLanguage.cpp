#include "app/InterfaceLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>
#include <vector>

namespace {

// The translators in use; replaced by each UseLanguage.
std::vector<std::unique_ptr<QTranslator>> &InstalledTranslators()
{
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

void Install(std::unique_ptr<QTranslator> translator)
{
    QCoreApplication::installTranslator(translator.get());
    InstalledTranslators().push_back(std::move(translator));
}

// Qt's own texts in `locale`'s language, when the system has them (a package of their own).
void InstallQtTranslation(const QLocale &locale)
{
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        Install(std::move(qt));
}

} // namespace

InterfaceLanguage DesktopLanguage()
{
    // A name Qt cannot read gives the C locale.
    const QLocale::Language first = QLocale(QLocale::system().uiLanguages().value(0)).language();
    if (first == QLocale::Japanese || first == QLocale::C || first == QLocale::AnyLanguage)
        return InterfaceLanguage::Japanese;
    return InterfaceLanguage::English;
}

InterfaceLanguage UseLanguage(InterfaceLanguage language, const QString &englishFile)
{
    for (const std::unique_ptr<QTranslator> &translator : InstalledTranslators())
        QCoreApplication::removeTranslator(translator.get());
    InstalledTranslators().clear();
    if (language == InterfaceLanguage::English) {
        auto english = std::make_unique<QTranslator>();
        if (!english->load(englishFile))
            language = InterfaceLanguage::Japanese;
        else
            Install(std::move(english));
    }
    // Qt's texts are English already.
    if (language == InterfaceLanguage::Japanese)
        InstallQtTranslation(QLocale(QLocale::Japanese, QLocale::Japan));
    return language;
}
