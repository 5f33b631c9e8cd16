#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace pendlo::app {

Language ChooseLanguage(const QStringList& uiLanguages) {
  if (uiLanguages.isEmpty()) return Language::kJapanese;
  const QString& first = uiLanguages.front();
  const bool japanese = first.startsWith(QLatin1String("ja")) || first == QLatin1String("C") ||
                        first == QLatin1String("POSIX") || first.isEmpty();
  return japanese ? Language::kJapanese : Language::kEnglish;
}

Language SystemLanguage() {
  return ChooseLanguage(QLocale::system().uiLanguages());
}

QString ProgramTranslationsDir() {
  // The application object may not exist yet: the kernel names the file.
  const QFileInfo exe(QStringLiteral("/proc/self/exe"));
  return QDir::cleanPath(exe.symLinkTarget() + QStringLiteral("/../../share/pendlo/translations"));
}

std::unique_ptr<QTranslator> LoadProgramTexts(Language language, const QString& dir) {
  if (language == Language::kJapanese) return nullptr;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("pendlo_en"), dir)) return nullptr;
  return translator;
}

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
