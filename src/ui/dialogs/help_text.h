// The help window's fixed text: 26 lines explaining the main window.
#pragma once

#include <QtGlobal>
#include <array>
#include <string_view>

namespace pendlo::ui {

// UTF-8; every character is held by code page 932 ("～" is U+FF5E, its
// 0x81 0x60). Lines 23 and 24 are one sentence broken where it stands.
// Each line that is not empty is translated on its own, in the context
// "pendlo::ui::TformHelp".
inline constexpr std::array<std::string_view, 26> kHelpLines{
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■■■テンポ"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■スクロールバー\u3000"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp",
                      "[スクロールボックス]をドラッグしてテンポを変えます。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "[スクロール矢印]を押すと「１」づつ変化します。"),
    QT_TRANSLATE_NOOP(
        "pendlo::ui::TformHelp",
        "[スクロールボックス]と[スクロール矢印]の間をクリックすれば「１０」づつ変化します。"),
    "",
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■■■拍子"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "例えば[４]を選べば４拍子になります。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "[変拍子]を選べば変拍子になります。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp",
                      "[連符]を選べば三連符、五連符などの連符モードになります。"),
    "",
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■■■変拍子・連符の定義"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■定義記入欄"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "すべての文字を書き込むことができますが、"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp",
                      "「半角の1\uFF5E"
                      "9」以外の文字は無視されます。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp",
                      "また、先頭に半角のスラッシュ「/」がある行も無視されます。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "これを利用してコメントを書くことが出来ます。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■[開く]ボタン"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp",
                      "拡張子「.dtp」の変拍子・連符定義ファイルを開きます。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "■[保存]ボタン"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "定義した内容をそのまま保存します。"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "拡張子は強制的に「.dtp」になります。"),
    QT_TRANSLATE_NOOP(
        "pendlo::ui::TformHelp",
        "■定義記入欄を変更した場合、定義ファイルを開いた場合は、\uFF3BStart]ボタンを押し直"),
    QT_TRANSLATE_NOOP("pendlo::ui::TformHelp", "してください。"),
    "",
    "",
};

}  // namespace pendlo::ui
