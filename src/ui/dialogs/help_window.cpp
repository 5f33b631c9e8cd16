#include "ui/dialogs/help_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "ui/desktop/x11_window_state.h"
#include "ui/dialogs/help_text.h"
#include "ui/widgets/look.h"

namespace pendlo::ui {

namespace {

constexpr const char* kHelpContext = "pendlo::ui::TformHelp";

QString HelpText() {
  QStringList lines;
  for (std::string_view line : kHelpLines) {
    lines << (line.empty() ? QString()
                           : QCoreApplication::translate(kHelpContext, std::string(line).c_str()));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

TformHelp::TformHelp(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("formHelp"));
  setWindowTitle(QCoreApplication::translate("pendlo::ui::TformHelp", "手抜きHelp"));
  setFont(DesignFont({Face::PGothic, 12}));
  memHelp_ = new QPlainTextEdit(this);
  memHelp_->setObjectName(QStringLiteral("memHelp"));
  memHelp_->setReadOnly(true);
  memHelp_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memHelp_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  memHelp_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memHelp_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memHelp_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memHelp_->setFocusPolicy(Qt::ClickFocus);  // never by Tab or on showing
  memHelp_->setPlainText(HelpText());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(memHelp_);
  resize(kClientWidth, kClientHeight);
  if (owner != nullptr) owner->installEventFilter(this);
}

void TformHelp::ShowHelp() {
  if (!placed_) {
    placed_ = true;
    const QScreen* screen =
        parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    move(area.left() + std::max(0, (area.width() - kOuterWidth) / 2),
         area.top() + std::max(0, (area.height() - kOuterHeight) / 2));
  }
  hiddenWithOwner_ = false;
  Present();
  activateWindow();
}

void TformHelp::Present() {
  // A window the window manager iconified (with its owner, or on its own)
  // keeps that state in the toolkit: shown so it would map iconic, and some
  // window managers then iconify its owner with it.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  if (!isVisible()) SkipTaskbar(this);
  show();
  raise();
}

void TformHelp::closeEvent(QCloseEvent* event) {
  // Closing only hides: size, place and scroll position stay for next time.
  hide();
  event->ignore();
}

void TformHelp::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
  } else {
    QWidget::keyPressEvent(event);
  }
}

bool TformHelp::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::WindowStateChange) {
    const bool minimized = parentWidget()->windowState() & Qt::WindowMinimized;
    if (minimized && isVisible()) {
      hiddenWithOwner_ = true;
      hide();
    } else if (!minimized && hiddenWithOwner_) {
      hiddenWithOwner_ = false;
      Present();
    }
  }
  return false;
}

}  // namespace pendlo::ui
