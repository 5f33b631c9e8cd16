#include "ui/dialogs/file_dialogs.h"

#include <QFileDialog>
#include <QScreen>
#include <QShowEvent>

#include "ui/desktop/x11_window_state.h"

namespace pendlo::ui {

namespace {

// Placed when shown, and again whenever the window manager sets its frame:
// the rule is for the frame, which a window learns only after it is mapped.
class PlacedFileDialog : public QFileDialog {
 public:
  explicit PlacedFileDialog(QWidget* parent)
      : QFileDialog(parent), frame_(new FrameExtentsWatch(this, [this] { Place(); })) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);
    if (!event->spontaneous()) Place();
  }

 private:
  void Place() {
    const QScreen* s = screen();
    if (s == nullptr || !isVisible()) return;
    QMargins m = frame_->Extents();
    if (m.isNull()) {  // not framed yet, or not on X11: what the toolkit knows
      const QRect frame = frameGeometry(), inner = geometry();
      m = QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                   frame.right() - inner.right(), frame.bottom() - inner.bottom());
    }
    const QPoint frameAt = DialogPosition(s->geometry(), size().grownBy(m));
    // The client area's place: exact whatever the toolkit knows of the frame.
    setGeometry(QRect(frameAt + QPoint(m.left(), m.top()), size()));
  }

  FrameExtentsWatch* frame_;
};

}  // namespace

QPoint DialogPosition(const QRect& screen, const QSize& dialog) {
  return {screen.left() + (screen.width() - dialog.width()) / 2,
          screen.top() + (screen.height() - dialog.height()) / 3};
}

FileDialogs::FileDialogs(QWidget* owner) : QObject(owner), owner_(owner) {
  setObjectName(QStringLiteral("dlgFiles"));
}

std::optional<QString> FileDialogs::ExecOpen() {
  return Exec(false);
}

std::optional<QString> FileDialogs::ExecSave() {
  return Exec(true);
}

std::optional<QString> FileDialogs::Exec(bool save) {
  PlacedFileDialog dialog(owner_);
  dialog.setObjectName(save ? QStringLiteral("dlgSave") : QStringLiteral("dlgOpen"));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setNameFilter(QStringLiteral("*.dtp"));
  dialog.setWindowTitle(save ? QFileDialog::tr("Save As") : QFileDialog::tr("Open"));
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a missing file is accepted
  }
  const QString& last = save ? saveName_ : openName_;
  if (!last.isEmpty()) dialog.selectFile(last);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  (save ? saveName_ : openName_) = files.front();
  return files.front();
}

}  // namespace pendlo::ui
