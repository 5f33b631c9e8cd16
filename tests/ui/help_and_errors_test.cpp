// The help window's text and behaviour, and the error box's text rules.
#include <gtest/gtest.h>
#include <iconv.h>

#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/desktop.h"
#include "ui/dialogs/error_box.h"
#include "ui/dialogs/file_dialogs.h"
#include "ui/dialogs/help_text.h"
#include "ui/dialogs/help_window.h"
#include "ui/widgets/definition_memo.h"
#include "window_fixture.h"

namespace pendlo::ui {
namespace {

using testing::CaughtBoxes;
using testing::MakeWindow;
using testing::TempDir;

// The text in code page 932, by the system's converter.
std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* o = out.data();
  std::size_t outLeft = out.size();
  const std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<std::size_t>(-1)) << utf8;
  out.resize(out.size() - outLeft);
  return out;
}

TEST(HelpText, TheTwentySixLinesInCodePage932) {
  ASSERT_EQ(kHelpLines.size(), 26u);
  const struct {
    int line;  // 1-based
    std::string bytes;
  } rows[] = {
      {1, "\x81\xa1\x81\xa1\x81\xa1\x83\x65\x83\x93\x83\x7c"},
      {2, "\x81\xa1\x83\x58\x83\x4e\x83\x8d\x81\x5b\x83\x8b\x83\x6f\x81\x5b\x81\x40"},
      {6, ""},
      {11, ""},
      {15,
       "\x81\x75\x94\xbc\x8a\x70\x82\xcc"
       "1\x81\x60"
       "9\x81\x76\x88\xc8\x8a\x4f\x82\xcc"
       "\x95\xb6\x8e\x9a\x82\xcd\x96\xb3\x8e\x8b\x82\xb3\x82\xea\x82\xdc\x82\xb7\x81\x42"},
      {24, "\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42"},
      {25, ""},
      {26, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Cp932(std::string(kHelpLines[row.line - 1])), row.bytes) << row.line;
  }
  // Full-width "［" before Start, ASCII "]" after it; full-width digits in 4 and 5.
  EXPECT_NE(Cp932(std::string(kHelpLines[22])).find("\x81\x6dStart]"), std::string::npos);
  EXPECT_NE(Cp932(std::string(kHelpLines[3])).find("\x81\x75\x82\x50\x81\x76"), std::string::npos);
  EXPECT_NE(Cp932(std::string(kHelpLines[4])).find("\x81\x75\x82\x50\x82\x4f\x81\x76"),
            std::string::npos);
  for (std::string_view line : kHelpLines) Cp932(std::string(line));  // every line encodes
}

TEST(HelpWindow, CreatedHiddenShownCentredOnceAndOnlyHiddenByClose) {
  TempDir dir;
  auto w = MakeWindow(dir.path());
  TformHelp* help = w->formHelp;
  ASSERT_NE(help, nullptr);
  EXPECT_FALSE(help->isVisible());
  EXPECT_EQ(help->windowTitle(), "手抜きHelp");
  EXPECT_EQ(help->size(), QSize(TformHelp::kClientWidth, TformHelp::kClientHeight));
  EXPECT_TRUE(help->windowFlags() & Qt::WindowMaximizeButtonHint);
  QPlainTextEdit* memo = help->memHelp();
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->font().pixelSize(), 12);
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(memo->focusPolicy(), Qt::ClickFocus);
  EXPECT_EQ(memo->document()->blockCount(), 26);
  QStringList lines;
  for (std::string_view line : kHelpLines) lines << QString::fromUtf8(line.data(), line.size());
  EXPECT_EQ(memo->toPlainText(), lines.join('\n'));

  QTest::mouseClick(w->btnHelp, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
  EXPECT_EQ(memo->geometry(), help->rect()) << "the text fills the window";
  const QRect screen = help->screen()->geometry();
  EXPECT_EQ(help->pos(), QPoint((screen.width() - 463) / 2, (screen.height() - 336) / 2));
  EXPECT_NE(QApplication::focusWidget(), memo) << "showing does not focus the text";
  QTest::keyClick(help, Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), memo) << "Tab never focuses the text";
  QTest::keyClicks(memo, "abc");
  EXPECT_EQ(memo->toPlainText(), lines.join('\n')) << "typing changes nothing";

  help->move(10, 20);
  help->resize(300, 200);
  memo->verticalScrollBar()->setValue(3);
  EXPECT_FALSE(help->close());  // hidden, not closed
  EXPECT_FALSE(help->isVisible());
  w->btnHelpClick();
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->pos(), QPoint(10, 20)) << "never centred again";
  EXPECT_EQ(help->size(), QSize(300, 200));
  EXPECT_EQ(memo->verticalScrollBar()->value(), 3);
  w->btnHelpClick();  // already open: only raised
  EXPECT_EQ(w->findChildren<QWidget*>("formHelp").size(), 1);
  EXPECT_TRUE(w->isVisible());

  // Minimising the main window takes the help window with it.
  w->setWindowState(Qt::WindowMinimized);
  EXPECT_FALSE(help->isVisible());
  w->setWindowState(Qt::WindowNoState);
  EXPECT_TRUE(help->isVisible());
  QTest::keyClick(memo, Qt::Key_Escape);  // from the text too, as after a click into it
  EXPECT_FALSE(help->isVisible()) << "Escape closes help";
}

using pendlo::testing::Shell;

std::string Id(const QWidget* w) {
  return QString::number(w->winId()).toStdString();
}

// Mapped on the screen (not iconic, not withdrawn).
bool Viewable(const QWidget* w) {
  return Shell("xwininfo -id " + Id(w) + " 2>/dev/null").find("IsViewable") != std::string::npos;
}

std::string Property(const QWidget* w, const std::string& name) {
  return Shell("xprop -id " + Id(w) + " " + name + " 2>/dev/null");
}

// Waits, with the event loop running, until cond holds; then that it still
// holds a little later (a window manager's second thoughts arrive by then).
bool Settles(const std::function<bool()>& cond) {
  return QTest::qWaitFor(cond, 10000) && !QTest::qWaitFor([&] { return !cond(); }, 700);
}

// The window manager's name: "openbox" or "icewm". Each runs in an X server
// of its own (see CMakeLists.txt).
class UnderWindowManager : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
      GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }
    for (const std::string& tool :
         {GetParam(), std::string("xprop"), std::string("xwininfo"), std::string("wmctrl")}) {
      if (!pendlo::testing::Installed(tool)) {
        GTEST_SKIP() << tool << " is not installed (tools/debian-packages.txt lists it)";
      }
    }
    if (!wm_) {
      static TempDir logs;
      wm_ = std::make_unique<pendlo::testing::Program>();
      std::string error;
      ASSERT_TRUE(pendlo::testing::StartWindowManager(*wm_, GetParam(), logs.path(), &error))
          << error;
    }
    w_ = MakeWindow(dir_.path());
    ASSERT_TRUE(Settles([&] { return Viewable(w_.get()); }));
  }

  // As from a taskbar or a window list: iconify, then activate.
  void MinimiseAndRestore(bool withHelp) {
    w_->showMinimized();
    ASSERT_TRUE(Settles([&] { return !Viewable(w_.get()); })) << "the main window minimises";
    if (withHelp) {
      EXPECT_TRUE(Settles([&] { return !Viewable(w_->formHelp); }))
          << "the help window goes with it";
    }
    Shell("wmctrl -i -a " + Id(w_.get()));
    EXPECT_TRUE(Settles([&] { return Viewable(w_.get()); })) << "the main window comes back";
    EXPECT_TRUE(Settles([&] { return Viewable(w_->formHelp) == withHelp; }))
        << "the help window comes back exactly when it was shown";
  }

  static void TearDownTestSuite() { wm_.reset(); }

  // One for the whole run: each X server runs the cases of one.
  static inline std::unique_ptr<pendlo::testing::Program> wm_;
  TempDir dir_;
  std::unique_ptr<TMetronome> w_;
};

TEST_P(UnderWindowManager, HelpMinimisesAndRestoresWithTheMainWindow) {
  {
    SCOPED_TRACE("without the help window");
    MinimiseAndRestore(false);
  }
  QTest::keyClick(w_.get(), Qt::Key_H);
  TformHelp* help = w_->formHelp;
  ASSERT_TRUE(Settles([&] { return Viewable(help); }));
  EXPECT_NE(Property(help, "_NET_WM_STATE").find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos)
      << "no taskbar button of its own";
  EXPECT_NE(Property(help, "WM_TRANSIENT_FOR").find(QString::number(w_->winId(), 16).toStdString()),
            std::string::npos)
      << "transient for the main window";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("with the help window, round " + std::to_string(round));
    MinimiseAndRestore(true);
  }
  // The help window minimised on its own and behind the main window: H
  // brings it back, raised and active.
  help->showMinimized();
  ASSERT_TRUE(Settles([&] { return !Viewable(help); }));
  // Some window managers take the main window down with it: the program has
  // seen that before the restore (a slow machine lags behind).
  ASSERT_TRUE(Settles([&] { return w_->isMinimized() != Viewable(w_.get()); }));
  Shell("wmctrl -i -a " + Id(w_.get()));
  ASSERT_TRUE(Settles([&] { return Viewable(w_.get()); }));
  QTest::keyClick(w_.get(), Qt::Key_H);
  EXPECT_TRUE(Settles([&] { return Viewable(help); }));
  EXPECT_TRUE(Settles([&] {
    return Shell("xprop -root _NET_ACTIVE_WINDOW")
               .find(QString::number(help->winId(), 16).toStdString()) != std::string::npos;
  })) << "H activates the help window";
}

// The frame the window manager drew around w, as X tells it: the client's
// place and size, and _NET_FRAME_EXTENTS; empty before it is framed.
QRect XFrame(const QWidget* w) {
  int left, right, top, bottom;
  if (std::sscanf(Property(w, "_NET_FRAME_EXTENTS").c_str(),
                  "_NET_FRAME_EXTENTS(CARDINAL) = %d, %d, %d, %d", &left, &right, &top,
                  &bottom) != 4) {
    return {};
  }
  const std::string info = Shell("xwininfo -id " + Id(w) + " 2>/dev/null");
  const auto value = [&](const char* label) {
    const std::size_t at = info.find(label);
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + std::strlen(label));
  };
  const QRect client(value("Absolute upper-left X:"), value("Absolute upper-left Y:"),
                     value("Width:"), value("Height:"));
  return client.adjusted(-left, -top, right, bottom);
}

TEST_P(UnderWindowManager, DialogsFrameTopAtAThirdOfTheFreeHeight) {
  QRect frame;
  bool placed = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    placed = Settles([&] {
      frame = XFrame(dialog);
      return !frame.isEmpty() &&
             frame.topLeft() == QPoint((1024 - frame.width()) / 2, (768 - frame.height()) / 3);
    });
    QMetaObject::invokeMethod(dialog, "reject");
  });
  w_->btnOpenClick();
  EXPECT_TRUE(placed) << "frame at " << frame.x() << "," << frame.y() << ", " << frame.width()
                      << "x" << frame.height();
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, UnderWindowManager,
                         ::testing::Values(std::string("openbox"), std::string("icewm")),
                         [](const auto& p) { return p.param; });

TEST(ErrorBox, TextTitleAndInterception) {
  const struct {
    QString message, text;
  } rows[] = {
      {"No timer available", "No timer available."},
      {"I/O ｴﾗｰ (5)", "I/O ｴﾗｰ (5)"},
      {"ﾌｧｲﾙ /x/a.dtp は開けません", "ﾌｧｲﾙ /x/a.dtp は開けません."},
      {"done.", "done."},
      {"x-", "x-"},
      {"x/", "x/."},
      {"", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ErrorBoxText(row.message), row.text) << row.message.toStdString();

  const struct {
    QString path, title;
  } titles[] = {
      {"/usr/bin/pendlo", "pendlo"},
      {"/opt/PENDLO.bin", "Pendlo"},
      {"./Pendlo.v2.x", "Pendlo"},
      {"a", "a"},
  };
  for (const auto& row : titles) EXPECT_EQ(ApplicationTitle(row.path), row.title);

  CaughtBoxes boxes;
  ShowErrorBox("No timer available");
  EXPECT_EQ(boxes.texts, QStringList{"No timer available."});
  EXPECT_EQ(boxes.captions, QStringList{"pendlo"});
}

TEST(ErrorBox, FileErrorsOfOpenAndSaveLeaveTheWindowUsable) {
  TempDir dir;
  CaughtBoxes boxes;
  auto w = MakeWindow(dir.path());
  w->memList->SetTextUtf8("3 2 2");
  // The real dialog: a typed name of a missing file is accepted.
  const std::string missing = dir.File("nothing.dtp");
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(QString::fromStdString(missing));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  QTest::mouseClick(w->btnOpen, Qt::LeftButton);
  EXPECT_EQ(boxes.texts, QStringList{QString::fromStdString("ﾌｧｲﾙ " + missing + " は開けません.")});
  EXPECT_EQ(w->memList->TextUtf8(), "3 2 2");
  EXPECT_TRUE(w->isEnabled());
}

}  // namespace
}  // namespace pendlo::ui
