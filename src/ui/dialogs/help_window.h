// TformHelp: the non-modal help window with its fixed text. Created hidden
// once; Help shows it (centred the first time only), raises and activates
// it; closing (also by Escape) hides it. It is transient for the main
// window, has no taskbar button and goes down and up with the main window.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

namespace pendlo::ui {

class TformHelp : public QWidget {
 public:
  // `owner` is the main window: the help window stays its dependent.
  explicit TformHelp(QWidget* owner);

  // Shows the window if hidden or iconified (centred on its screen the first
  // time), brings it to the front and activates it. Returns at once.
  void ShowHelp();

  QPlainTextEdit* memHelp() const { return memHelp_; }

  // The outer size it is created with, frame included.
  static constexpr int kOuterWidth = 463;
  static constexpr int kOuterHeight = 336;
  // The client area at that size.
  static constexpr int kClientWidth = 455;
  static constexpr int kClientHeight = 304;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Escape closes the window, as a dialog's does.
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shown, not iconified, on top; no taskbar entry of its own.
  void Present();

  QPlainTextEdit* memHelp_;
  bool placed_ = false;
  bool hiddenWithOwner_ = false;
};

}  // namespace pendlo::ui
