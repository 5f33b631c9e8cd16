// The language of every text the user reads. The program's texts are
// written in Japanese, which stays the default: for a Japanese desktop and
// for one that names no language (C, POSIX, nothing set). Any other
// language gets the English translation, and Qt's own dialogs and buttons
// follow the same choice.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QCoreApplication;
class QTranslator;

namespace pendlo::app {

enum class Language { kJapanese, kEnglish };

// The first of the preferred languages, in order (QLocale's uiLanguages,
// "ja-JP", "en", "C"), that decides: ja... is Japanese, C and POSIX name
// none, so Japanese; any other is English. No language at all is Japanese.
Language ChooseLanguage(const QStringList& uiLanguages);

// ChooseLanguage for the desktop's languages: LANGUAGE, then LC_ALL,
// LC_MESSAGES, LANG. Needs no application object.
Language SystemLanguage();

// Where the installed program keeps its translations: share/pendlo/
// translations beside the directory of the executable (the build tree has
// the same layout).
QString ProgramTranslationsDir();

// The program's own texts in `language`, for the command line and then for
// the application (installTranslator); null for Japanese, which needs none,
// and when the file is missing or unreadable: the Japanese texts stay.
std::unique_ptr<QTranslator> LoadProgramTexts(Language language,
                                              const QString& dir = ProgramTranslationsDir());

// Where Qt keeps its translations (Debian: qt6-translations-l10n).
QString QtTranslationsDir();

// Installs Qt's Japanese translation from dir on app, GUI thread, before the
// first widget is built. Returns the installed translator (owned by app), or
// nullptr when the file is missing or unreadable: Qt's English texts stay.
QTranslator* InstallQtJapanese(QCoreApplication& app, const QString& dir = QtTranslationsDir());

}  // namespace pendlo::app
