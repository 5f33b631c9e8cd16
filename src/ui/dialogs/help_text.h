// The help window's fixed text: 26 lines explaining the main window.
#pragma once

#include <array>
#include <string_view>

namespace pendlo::ui {

// UTF-8; every character is held by code page 932 ("～" is U+FF5E, its
// 0x81 0x60). Lines 23 and 24 are one sentence broken where it stands.
inline constexpr std::array<std::string_view, 26> kHelpLines{
    "■■■テンポ",
    "■スクロールバー\u3000",
    "[スクロールボックス]をドラッグしてテンポを変えます。",
    "[スクロール矢印]を押すと「１」づつ変化します。",
    "[スクロールボックス]と[スクロール矢印]の間をクリックすれば「１０」づつ変化します。",
    "",
    "■■■拍子",
    "例えば[４]を選べば４拍子になります。",
    "[変拍子]を選べば変拍子になります。",
    "[連符]を選べば三連符、五連符などの連符モードになります。",
    "",
    "■■■変拍子・連符の定義",
    "■定義記入欄",
    "すべての文字を書き込むことができますが、",
    "「半角の1\uFF5E9」以外の文字は無視されます。",
    "また、先頭に半角のスラッシュ「/」がある行も無視されます。",
    "これを利用してコメントを書くことが出来ます。",
    "■[開く]ボタン",
    "拡張子「.dtp」の変拍子・連符定義ファイルを開きます。",
    "■[保存]ボタン",
    "定義した内容をそのまま保存します。",
    "拡張子は強制的に「.dtp」になります。",
    "■定義記入欄を変更した場合、定義ファイルを開いた場合は、\uFF3BStart]ボタンを押し直",
    "してください。",
    "",
    "",
};

}  // namespace pendlo::ui
