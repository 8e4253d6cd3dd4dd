#pragma once

#include <QString>

// kelvo speaks Japanese, its texts' own language, and English.
enum class InterfaceLanguage { Japanese, English };

// The desktop's choice, from the first of QLocale::system().uiLanguages() (which reads
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG): Japanese when that is Japanese, and when there is
// none or Qt does not know it (C, POSIX, a name it cannot read), so that a machine with no
// language set sees the texts kelvo always had; English for any other language.
InterfaceLanguage DesktopLanguage();

// Where the English texts are: built into the program.
inline const QString EnglishTranslationFile = QStringLiteral(":/i18n/kelvo_en.qm");

// Puts the application's texts into `language` from here on: windows made afterwards
// show it, and so do the texts code asks for. English comes from `englishFile`; when
// that cannot be loaded the texts stay Japanese, silently, and the result is Japanese.
// Qt's own texts (the file dialog's buttons, the command line's errors) follow from Qt's
// translations where the system has them.
InterfaceLanguage UseLanguage(InterfaceLanguage language, const QString &englishFile = EnglishTranslationFile);
