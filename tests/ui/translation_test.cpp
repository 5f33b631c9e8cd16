// The window, the help window, the messages and --help in the desktop's
// language, with the program's translations installed as main() installs
// them: English where PENDLO_EXPECTED_LANGUAGE is "en" (LANG=en_US.UTF-8,
// or LANGUAGE=en over a Japanese LANG), the designed Japanese texts where it
// is "ja" (LANG=C.UTF-8). Run by CTest once per language.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTranslator>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/translations.h"
#include "files/store/errors.h"
#include "sound/player/click_player.h"
#include "ui/dialogs/help_window.h"
#include "ui/dialogs/message_translation.h"
#include "ui/window/controls.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

bool HasJapanese(const QString& text) {
  static const QRegularExpression japanese(
      QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
  return text.contains(japanese);
}

TEST(Translation, EveryTextInTheDesktopsLanguage) {
  const char* expected = std::getenv("PENDLO_EXPECTED_LANGUAGE");
  ASSERT_NE(expected, nullptr) << "run by CTest with the language it expects";
  const bool english = std::string(expected) == "en";
  const app::Language language = app::SystemLanguage();
  ASSERT_EQ(language == app::Language::kEnglish, english);
  const auto texts = app::LoadProgramTexts(language, QStringLiteral(PENDLO_TRANSLATIONS_DIR));
  ASSERT_EQ(texts != nullptr, english) << "pendlo_en.qm in " PENDLO_TRANSLATIONS_DIR;
  if (texts) QCoreApplication::installTranslator(texts.get());
  testing::TempDir dir;
  auto window = testing::MakeWindow(dir.path());
  window->btnHelpClick();

  // Every caption, each within the room its control gives it.
  QStringList shown;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    auto* button = qobject_cast<QAbstractButton*>(w);
    auto* group = dynamic_cast<GroupFrame*>(w);
    if (button == nullptr && group == nullptr) continue;
    shown << (button != nullptr ? button->text() : group->Caption());
    // The style's label area of a button or radio item; a group's frame
    // between its corners.
    QStyleOptionButton option;
    option.initFrom(w);
    const auto area = w->inherits("QRadioButton") ? QStyle::SE_RadioButtonContents
                                                  : QStyle::SE_PushButtonContents;
    const int room =
        button ? w->style()->subElementRect(area, &option, w).width() : w->width() - 16;
    const QString plain = QString(shown.back()).remove(QLatin1Char('&'));
    EXPECT_LE(w->fontMetrics().horizontalAdvance(plain), room) << plain.toStdString();
  }
  const QString captions = shown.join(QLatin1Char('|'));
  EXPECT_EQ(HasJapanese(captions), !english) << captions.toStdString();
  EXPECT_EQ(captions == QStringLiteral("テンポ|拍子|1|2|3|4|5|6|7|8|9|変拍子|連符|"
                                       "変拍子・連符の定義|開く|保存|&Start|Sto&p|&Help|E&xit"),
            !english);

  const QString help = window->formHelp->windowTitle() + window->formHelp->memHelp()->toPlainText();
  EXPECT_EQ(HasJapanese(help), !english);
  EXPECT_EQ(help.startsWith(QStringLiteral("手抜きHelp■■■テンポ\n")), !english);

  // Every message of the core, and one named and one joined to its reason,
  // whose parts are translated on their own.
  std::vector<std::string> messages{
      FormatMessage(kNamedFormat, {"/d/init.sav", kFileNotFoundText}) + "\n" +
      FormatMessage(kReasonFormat, {sound::player::kNoSoundMessage, "no device"})};
  for (const char* f : kFileMessages) messages.push_back(FormatMessage(f, {"a", "b"}));
  for (const char* f : sound::player::kPlayerMessages) messages.push_back(FormatMessage(f, {"a"}));
  for (const std::string& m : messages) {
    const QString translated = TranslateMessage(m);
    EXPECT_FALSE(english ? HasJapanese(translated) : translated.toStdString() != m) << m;
  }

  char* written = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&written, &size);
  EXPECT_EQ(
      app::AnswerCommandLine(2, std::array{"pendlo", "--help"}.data(), out, stderr, texts.get()),
      0);
  std::fclose(out);
  const std::string usage(written, size);
  std::free(written);
  EXPECT_EQ(HasJapanese(QString::fromStdString(usage)), !english) << usage;
  if (texts) QCoreApplication::removeTranslator(texts.get());
}

}  // namespace
}  // namespace pendlo::ui
