#include "ui/dialogs/error_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace pendlo::ui {

namespace {

QString& TitleStore() {
  static QString title = QStringLiteral("pendlo");
  return title;
}

ErrorBoxPresenter& PresenterStore() {
  static ErrorBoxPresenter presenter;
  return presenter;
}

}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

QString ApplicationTitle(const QString& executablePath) {
  QString name = QFileInfo(executablePath).fileName();
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

void SetApplicationTitle(const QString& title) {
  TitleStore() = title;
}

QString ApplicationTitleText() {
  return TitleStore();
}

void ShowErrorBox(const QString& message, QWidget* parent) {
  const QString text = ErrorBoxText(message);
  if (PresenterStore()) {
    PresenterStore()(TitleStore(), text);
    return;
  }
  if (parent == nullptr) parent = QApplication::activeWindow();
  QMessageBox box(QMessageBox::Critical, TitleStore(), text, QMessageBox::Ok, parent);
  box.exec();
}

void SetErrorBoxPresenter(ErrorBoxPresenter presenter) {
  PresenterStore() = std::move(presenter);
}

}  // namespace pendlo::ui
