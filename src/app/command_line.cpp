#include "app/command_line.h"

#include <string_view>

namespace pendlo::app {

namespace {

constexpr std::string_view kUsage =
    "使い方: pendlo [オプション]\n"
    "変拍子と連符のメトロノームです。設定はすべてウィンドウで行い、\n"
    "次の起動のために保存されます。\n"
    "\n"
    "オプション:\n"
    "  -h, --help     この説明を表示して終了します\n"
    "      --version  バージョンを表示して終了します\n";

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
                                     std::FILE* err) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fwrite(kUsage.data(), 1, kUsage.size(), out);
      return std::fflush(out) == 0 ? 0 : 1;
    }
    if (arg == "--version") {
      std::fprintf(out, "pendlo %s\n", PENDLO_VERSION);
      return std::fflush(out) == 0 ? 0 : 1;
    }
    bool takesValue = false;
    if (IsToolkitOption(arg, takesValue)) {
      if (takesValue && ++i >= argc) {
        std::fprintf(err, "pendlo: オプション %s には値が必要です\n", argv[i - 1]);
        return 2;
      }
      continue;
    }
    if (arg.starts_with("-")) {
      std::fprintf(err, "pendlo: 不明なオプションです: %s\n", argv[i]);
    } else {
      std::fprintf(err, "pendlo: 引数は取りません: %s\n", argv[i]);
    }
    std::fputs("使い方は pendlo --help で表示されます\n", err);
    return 2;
  }
  return std::nullopt;
}

}  // namespace pendlo::app
