<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>QFileDialog</name>
    <message>
        <source>Save As</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>pendlo::Messages</name>
    <message>
        <source>ﾌｧｲﾙが見つかりません</source>
        <translation>File not found</translation>
    </message>
    <message>
        <source>不正なﾌｧｲﾙ名です</source>
        <translation>Invalid file name</translation>
    </message>
    <message>
        <source>ｵｰﾌﾟﾝしたﾌｧｲﾙが多すぎます</source>
        <translation>Too many open files</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙへのｱｸｾｽが拒否されました</source>
        <translation>File access denied</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙの末尾以降を読み込みました</source>
        <translation>Read beyond end of file</translation>
    </message>
    <message>
        <source>ﾃﾞｨｽｸがいっぱいです</source>
        <translation>Disk full</translation>
    </message>
    <message>
        <source>入力値が数値ではありません</source>
        <translation>Invalid numeric input</translation>
    </message>
    <message>
        <source>I/O ｴﾗｰ (%1)</source>
        <translation>I/O error (%1)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ %1 は開けません</source>
        <translation>Cannot open file %1</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ %1 を作成できません</source>
        <translation>Cannot create file %1</translation>
    </message>
    <message>
        <source>ｽﾄﾘｰﾑへの書き込みｴﾗｰ</source>
        <translation>Stream write error</translation>
    </message>
    <message>
        <source>文字列の大きさが ﾒﾓ の制限を越えました</source>
        <translation>Text exceeds memo capacity</translation>
    </message>
    <message>
        <source>次の文字は ﾌｧｲﾙ に保存できないため &quot;?&quot; になります: %1</source>
        <translation>These characters cannot be stored in the file and become &quot;?&quot;: %1</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ %1 はﾒﾓに読み込めなかったので %2 に残しました</source>
        <translation>File %1 could not be read into the memo, so it was kept as %2</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ %1 は他で変更されていたので %2 に残しました</source>
        <translation>File %1 had been changed elsewhere, so it was kept as %2</translation>
    </message>
    <message>
        <source>ｻｳﾝﾄﾞを出力できません</source>
        <translation>Cannot output sound</translation>
    </message>
    <message>
        <source>ｻｳﾝﾄﾞの出力が途切れました</source>
        <translation>Sound output was interrupted</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ %1 は再生できません (%2)</source>
        <translation>Cannot play file %1 (%2)</translation>
    </message>
</context>
<context>
    <name>pendlo::app::CommandLine</name>
    <message>
        <source>使い方: pendlo [オプション]
変拍子と連符のメトロノームです。設定はすべてウィンドウで行い、
次の起動のために保存されます。

オプション:
  -h, --help     この説明を表示して終了します
      --version  バージョンを表示して終了します
</source>
        <translation>Usage: pendlo [options]
A metronome for irregular meters and tuplets. Everything is set in the
window and saved for the next start.

Options:
  -h, --help     show this help and exit
      --version  show the version and exit
</translation>
    </message>
    <message>
        <source>pendlo: オプション %1 には値が必要です
</source>
        <translation>pendlo: option %1 needs a value
</translation>
    </message>
    <message>
        <source>pendlo: 不明なオプションです: %1
</source>
        <translation>pendlo: unknown option: %1
</translation>
    </message>
    <message>
        <source>pendlo: 引数は取りません: %1
</source>
        <translation>pendlo: takes no arguments: %1
</translation>
    </message>
    <message>
        <source>使い方は pendlo --help で表示されます
</source>
        <translation>Run pendlo --help for usage
</translation>
    </message>
</context>
<context>
    <name>pendlo::ui::TMetronome</name>
    <message>
        <source>設定と変拍子・連符の定義は保存されません</source>
        <translation>The settings and the definitions will not be saved</translation>
    </message>
    <message>
        <source>テンポ</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>拍子</source>
        <translation>Meter</translation>
    </message>
    <message>
        <source>変拍子・連符の定義</source>
        <translation>Irregular meters and tuplets</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>変拍子</source>
        <translation>Irregular</translation>
    </message>
    <message>
        <source>連符</source>
        <translation>Tuplets</translation>
    </message>
    <message>
        <source>演奏中</source>
        <translation>Playing</translation>
    </message>
    <message>
        <source>停止中</source>
        <translation>Stopped</translation>
    </message>
</context>
<context>
    <name>pendlo::ui::TformHelp</name>
    <message>
        <source>■■■テンポ</source>
        <translation>■■■Tempo</translation>
    </message>
    <message>
        <source>■スクロールバー&#x3000;</source>
        <translation>■Scroll bar</translation>
    </message>
    <message>
        <source>[スクロールボックス]をドラッグしてテンポを変えます。</source>
        <translation>Drag the [scroll box] to change the tempo.</translation>
    </message>
    <message>
        <source>[スクロール矢印]を押すと「１」づつ変化します。</source>
        <translation>Pressing a [scroll arrow] changes it by 1.</translation>
    </message>
    <message>
        <source>[スクロールボックス]と[スクロール矢印]の間をクリックすれば「１０」づつ変化します。</source>
        <translation>Clicking between the [scroll box] and a [scroll arrow] changes it by 10.</translation>
    </message>
    <message>
        <source>■■■拍子</source>
        <translation>■■■Meter</translation>
    </message>
    <message>
        <source>例えば[４]を選べば４拍子になります。</source>
        <translation>Choosing [4], for example, gives four beats to the bar.</translation>
    </message>
    <message>
        <source>[変拍子]を選べば変拍子になります。</source>
        <translation>Choosing [Irregular] plays the irregular meter you define.</translation>
    </message>
    <message>
        <source>[連符]を選べば三連符、五連符などの連符モードになります。</source>
        <translation>Choosing [Tuplets] plays triplets, quintuplets and other tuplets.</translation>
    </message>
    <message>
        <source>■■■変拍子・連符の定義</source>
        <translation>■■■Irregular meters and tuplets</translation>
    </message>
    <message>
        <source>■定義記入欄</source>
        <translation>■Definition box</translation>
    </message>
    <message>
        <source>すべての文字を書き込むことができますが、</source>
        <translation>You may write any characters here, but</translation>
    </message>
    <message>
        <source>「半角の1～9」以外の文字は無視されます。</source>
        <translation>everything except the digits 1 to 9 is ignored.</translation>
    </message>
    <message>
        <source>また、先頭に半角のスラッシュ「/」がある行も無視されます。</source>
        <translation>Lines that begin with a slash &quot;/&quot; are ignored too,</translation>
    </message>
    <message>
        <source>これを利用してコメントを書くことが出来ます。</source>
        <translation>so you can use them for comments.</translation>
    </message>
    <message>
        <source>■[開く]ボタン</source>
        <translation>■[Open] button</translation>
    </message>
    <message>
        <source>拡張子「.dtp」の変拍子・連符定義ファイルを開きます。</source>
        <translation>Opens a definition file with the extension &quot;.dtp&quot;.</translation>
    </message>
    <message>
        <source>■[保存]ボタン</source>
        <translation>■[Save] button</translation>
    </message>
    <message>
        <source>定義した内容をそのまま保存します。</source>
        <translation>Saves the definitions exactly as written.</translation>
    </message>
    <message>
        <source>拡張子は強制的に「.dtp」になります。</source>
        <translation>The extension is always made &quot;.dtp&quot;.</translation>
    </message>
    <message>
        <source>■定義記入欄を変更した場合、定義ファイルを開いた場合は、［Start]ボタンを押し直</source>
        <translation>■After changing the definitions or opening a definition file, press [Start]</translation>
    </message>
    <message>
        <source>してください。</source>
        <translation>again.</translation>
    </message>
    <message>
        <source>手抜きHelp</source>
        <translation>Quick Help</translation>
    </message>
</context>
<context>
    <name>pendlo::ui::WindowErrors</name>
    <message>
        <source>再試行</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>別名で保存...</source>
        <translation>Save As...</translation>
    </message>
    <message>
        <source>保存せずに終了</source>
        <translation>Exit Without Saving</translation>
    </message>
</context>
</TS>
