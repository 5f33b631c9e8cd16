#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace pendlo::app {

QString QtTranslationsDir() {
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QTranslator* InstallQtJapanese(QCoreApplication& app, const QString& dir) {
  auto* translator = new QTranslator(&app);
  // One exact file name: no search through the locale's fallbacks, and the
  // file is mapped rather than read, so start-up stays quick.
  if (!translator->load(QStringLiteral("qtbase_ja"), dir) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace pendlo::app
