#include "ui/dialogs/error_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

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

ChoiceBoxPresenter& ChoicePresenterStore() {
  static ChoiceBoxPresenter presenter;
  return presenter;
}

QWidget* OrActiveWindow(QWidget* parent) {
  return parent != nullptr ? parent : QApplication::activeWindow();
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
  QMessageBox box(QMessageBox::Critical, TitleStore(), text, QMessageBox::Ok,
                  OrActiveWindow(parent));
  box.exec();
}

int AskErrorBox(const QString& message, const QStringList& choices, QWidget* parent) {
  const QString text = ErrorBoxText(message);
  if (ChoicePresenterStore()) return ChoicePresenterStore()(TitleStore(), text, choices);
  if (PresenterStore()) {
    PresenterStore()(TitleStore(), text);
    return -1;
  }
  QMessageBox box(QMessageBox::Critical, TitleStore(), text, QMessageBox::Cancel,
                  OrActiveWindow(parent));
  QList<QAbstractButton*> buttons;
  for (const QString& choice : choices) buttons << box.addButton(choice, QMessageBox::AcceptRole);
  box.setEscapeButton(QMessageBox::Cancel);
  if (!buttons.isEmpty()) box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
  box.exec();
  // Nothing was clicked when the loop was ended from outside.
  return static_cast<int>(buttons.indexOf(box.clickedButton()));
}

QMessageBox* OpenErrorBox(const QString& message, QWidget* parent) {
  auto* box = new QMessageBox(QMessageBox::Critical, TitleStore(), ErrorBoxText(message),
                              QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
  return box;
}

void SetErrorBoxPresenter(ErrorBoxPresenter presenter) {
  PresenterStore() = std::move(presenter);
}

void SetChoiceBoxPresenter(ChoiceBoxPresenter presenter) {
  ChoicePresenterStore() = std::move(presenter);
}

}  // namespace pendlo::ui
