#include "app/command_line.h"

#include <QString>
#include <QTranslator>
#include <string>
#include <string_view>

#include "files/store/message_text.h"

namespace pendlo::app {

namespace {

constexpr const char* kContext = "pendlo::app::CommandLine";

constexpr const char* kUsage =
    QT_TRANSLATE_NOOP("pendlo::app::CommandLine",
                      "使い方: pendlo [オプション]\n"
                      "変拍子と連符のメトロノームです。設定はすべてウィンドウで行い、\n"
                      "次の起動のために保存されます。\n"
                      "\n"
                      "オプション:\n"
                      "  -h, --help     この説明を表示して終了します\n"
                      "      --version  バージョンを表示して終了します\n");
constexpr const char* kNeedsValue =
    QT_TRANSLATE_NOOP("pendlo::app::CommandLine", "pendlo: オプション %1 には値が必要です\n");
constexpr const char* kUnknownOption =
    QT_TRANSLATE_NOOP("pendlo::app::CommandLine", "pendlo: 不明なオプションです: %1\n");
constexpr const char* kNoArguments =
    QT_TRANSLATE_NOOP("pendlo::app::CommandLine", "pendlo: 引数は取りません: %1\n");
constexpr const char* kSeeHelp =
    QT_TRANSLATE_NOOP("pendlo::app::CommandLine", "使い方は pendlo --help で表示されます\n");

// Writes `text` in the language of `texts`, %1 replaced by the bytes of arg.
void Say(std::FILE* to, const QTranslator* texts, const char* text, const char* arg = "") {
  const QString translated = texts != nullptr ? texts->translate(kContext, text) : QString();
  const std::string said = translated.isEmpty() ? std::string(text) : translated.toStdString();
  std::fputs(FormatMessage(said, {arg}).c_str(), to);
}

// The toolkit's options, with and without a value, in either spelling.
bool IsToolkitOption(std::string_view arg, bool& takesValue) {
  if (arg.starts_with("--")) arg.remove_prefix(1);
  for (std::string_view o : {"-platform", "-platformtheme", "-display", "-session", "-style"}) {
    if (arg == o) {
      takesValue = true;
      return true;
    }
  }
  takesValue = false;
  return arg == "-reverse";
}

}  // namespace

std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::FILE* out,
                                     std::FILE* err, const QTranslator* texts) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Say(out, texts, kUsage);
      return std::fflush(out) == 0 ? 0 : 1;
    }
    if (arg == "--version") {
      std::fprintf(out, "pendlo %s\n", PENDLO_VERSION);
      return std::fflush(out) == 0 ? 0 : 1;
    }
    bool takesValue = false;
    if (IsToolkitOption(arg, takesValue)) {
      if (takesValue && ++i >= argc) {
        Say(err, texts, kNeedsValue, argv[i - 1]);
        return 2;
      }
      continue;
    }
    Say(err, texts, arg.starts_with("-") ? kUnknownOption : kNoArguments, argv[i]);
    Say(err, texts, kSeeHelp);
    return 2;
  }
  return std::nullopt;
}

}  // namespace pendlo::app
