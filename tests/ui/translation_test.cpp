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
#include <cstdio>

#include "app/command_line.h"
#include "app/translations.h"
#include "files/store/errors.h"
#include "sound/player/click_player.h"
#include "ui/dialogs/help_text.h"
#include "ui/dialogs/help_window.h"
#include "ui/dialogs/message_translation.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/window/controls.h"
#include "ui/window/window_description.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::MakeWindow;
using testing::TempDir;

bool HasJapanese(const QString& text) {
  static const QRegularExpression japanese(
      QStringLiteral("[\\x{3000}-\\x{30FF}\\x{4E00}-\\x{9FFF}"
                     "\\x{FF00}-\\x{FFEF}]"));
  return text.contains(japanese);
}

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What --help writes with these texts.
QString HelpOutput(const QTranslator* texts) {
  std::FILE* out = std::tmpfile();
  const char* argv[] = {"pendlo", "--help"};
  EXPECT_EQ(app::AnswerCommandLine(2, argv, out, stderr, texts), 0);
  std::rewind(out);
  std::string written(4096, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), out));
  std::fclose(out);
  return QString::fromStdString(written);
}

// The width a control gives its caption: the style's label area for
// buttons and radio items, the frame between its corners for a group.
int RoomFor(QWidget* w) {
  if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    QStyleOptionButton option;
    option.initFrom(button);
    const bool radio = button->inherits("QRadioButton");
    return button->style()
        ->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                         &option, button)
        .width();
  }
  return w->width() - 16;
}

TEST(Translation, EveryTextInTheDesktopsLanguage) {
  const char* expected = std::getenv("PENDLO_EXPECTED_LANGUAGE");
  ASSERT_NE(expected, nullptr) << "run by CTest with the language it expects";
  const bool english = std::string(expected) == "en";
  const app::Language language = app::SystemLanguage();
  ASSERT_EQ(language, english ? app::Language::kEnglish : app::Language::kJapanese);
  const std::unique_ptr<QTranslator> texts =
      app::LoadProgramTexts(language, QStringLiteral(PENDLO_TRANSLATIONS_DIR));
  ASSERT_EQ(texts != nullptr, english) << "pendlo_en.qm in " PENDLO_TRANSLATIONS_DIR;
  if (texts) QCoreApplication::installTranslator(texts.get());

  TempDir dir;
  auto window = MakeWindow(dir.path());
  window->btnHelpClick();
  ASSERT_NE(window->formHelp, nullptr);

  // Every caption the window shows, with the room it has, and the
  // designed Japanese text it stands for.
  struct Shown {
    QWidget* control;
    QString text;
    QString designed;
  };
  std::vector<Shown> shown;
  for (const ControlDesign& c : kMetronomeControls) {
    if (c.text.empty() || c.kind == Kind::Label) continue;
    auto* w = window->findChild<QWidget*>(Utf8(c.name));
    ASSERT_NE(w, nullptr) << c.name;
    auto* button = qobject_cast<QAbstractButton*>(w);
    shown.push_back(
        {w, button ? button->text() : static_cast<GroupFrame*>(w)->Caption(), Utf8(c.text)});
  }
  for (int i = 0; i < window->rgHyoushi->Count(); ++i) {
    shown.push_back({window->rgHyoushi->Item(i), window->rgHyoushi->Item(i)->text(),
                     Utf8(kMeterItems[static_cast<std::size_t>(i)])});
  }
  for (const Shown& s : shown) {
    SCOPED_TRACE(s.control->objectName().toStdString() + ": " + s.text.toStdString());
    EXPECT_EQ(HasJapanese(s.text), !english && HasJapanese(s.designed));
    if (!english) {
      EXPECT_EQ(s.text, s.designed);
    }
    QString plain = s.text;
    plain.remove(QLatin1Char('&'));
    EXPECT_LE(s.control->fontMetrics().horizontalAdvance(plain), RoomFor(s.control));
  }

  QStringList designedHelp;
  for (std::string_view line : kHelpLines) designedHelp << Utf8(line);
  const QString help = window->formHelp->memHelp()->toPlainText();
  EXPECT_EQ(help == designedHelp.join(QLatin1Char('\n')), !english);
  EXPECT_EQ(help.count(QLatin1Char('\n')), 25);
  EXPECT_EQ(HasJapanese(help) || HasJapanese(window->formHelp->windowTitle()), !english);
  if (!english) {
    EXPECT_EQ(window->formHelp->windowTitle(), QStringLiteral("手抜きHelp"));
  }

  // Every message of the core, alone, named and joined to a reason.
  std::vector<std::string> messages;
  for (const char* format : kFileMessages)
    messages.push_back(FormatMessage(format, {"a.dtp", "b"}));
  for (const char* format : sound::player::kPlayerMessages) {
    messages.push_back(FormatMessage(format, {"pi.wav", "no data chunk"}));
  }
  messages.push_back(FormatMessage(kNamedFormat, {"/d/init.sav", kFileNotFoundText}) + "\n" +
                     FormatMessage(kReasonFormat, {sound::player::kNoSoundMessage, "no device"}));
  for (const std::string& m : messages) {
    const QString translated = TranslateMessage(m);
    EXPECT_EQ(HasJapanese(translated), !english) << m;
    if (!english) {
      EXPECT_EQ(translated.toStdString(), m);
    }
  }
  if (english) {
    EXPECT_EQ(TranslateMessage(messages.back()),
              QStringLiteral("/d/init.sav: File not found\nCannot output sound (no device)"));
    EXPECT_EQ(TranslateMessage(FormatMessage(kKeptChangedFormat, {"/d/dtp.sav", "/d/dtp.1.sav"})),
              QStringLiteral("File /d/dtp.sav had been changed elsewhere, so it was kept as "
                             "/d/dtp.1.sav"));
  }

  const QString usage = HelpOutput(texts.get());
  EXPECT_EQ(HasJapanese(usage), !english) << usage.toStdString();
  EXPECT_EQ(usage.startsWith(QStringLiteral("使い方: pendlo [オプション]\n")), !english);
  if (texts) QCoreApplication::removeTranslator(texts.get());
}

}  // namespace
}  // namespace pendlo::ui
