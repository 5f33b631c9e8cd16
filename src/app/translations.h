// Qt's own Japanese texts for the standard dialogs and buttons (the file
// dialogs, the message boxes' buttons), whatever the desktop's language: every
// text of this program is Japanese, so its dialogs must be too.
#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

namespace pendlo::app {

// Where Qt keeps its translations (Debian: qt6-translations-l10n).
QString QtTranslationsDir();

// Installs Qt's Japanese translation from dir on app, GUI thread, before the
// first widget is built. Returns the installed translator (owned by app), or
// nullptr when the file is missing or unreadable: Qt's English texts stay.
QTranslator* InstallQtJapanese(QCoreApplication& app, const QString& dir = QtTranslationsDir());

}  // namespace pendlo::app
