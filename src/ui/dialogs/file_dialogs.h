// dlgOpen and dlgSave: Qt's own (non-native) file dialogs with the one filter
// "*.dtp", placed centred horizontally with their top at a third of the free
// height, each remembering its last confirmed name for the rest of the run.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

class QWidget;

namespace pendlo::ui {

// Where a dialog of `dialog` size goes on a screen of `screen` geometry:
// left = (screen width - width) div 2, top = (screen height - height) div 3.
QPoint DialogPosition(const QRect& screen, const QSize& dialog);

class FileDialogs : public QObject {
 public:
  explicit FileDialogs(QWidget* owner);

  // Shows the open dialog; the chosen name, or nothing when cancelled. A
  // typed name of a missing file is accepted.
  std::optional<QString> ExecOpen();
  // Shows the save dialog; the chosen name as typed, or nothing. It never
  // asks before replacing a file.
  std::optional<QString> ExecSave();

  QString OpenName() const { return openName_; }
  QString SaveName() const { return saveName_; }
  // Stored after Save has forced the extension, offered next time.
  void SetSaveName(const QString& name) { saveName_ = name; }

 private:
  std::optional<QString> Exec(bool save);

  QWidget* owner_;
  QString openName_;
  QString saveName_;
};

}  // namespace pendlo::ui
