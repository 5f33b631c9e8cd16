#include "ui/file_dialogs.h"

#include <QFileDialog>
#include <QScreen>
#include <QShowEvent>

namespace pendlo::ui {

namespace {

class PlacedFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;

 protected:
  void showEvent(QShowEvent* event) override {
    QFileDialog::showEvent(event);
    if (!event->spontaneous()) {
      const QScreen* s = screen();
      if (s != nullptr) move(DialogPosition(s->geometry(), frameGeometry().size()));
    }
  }
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
