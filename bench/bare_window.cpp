// The floor Pendlo's start-up and memory are held against: a bare Qt Widgets
// window of the main window's size, with a Japanese label and a button, and
// nothing else. Used by bench/startup_memory.sh.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setFixedSize(456, 324);
  window.setWindowTitle(QStringLiteral("Bare"));
  QLabel label(QStringLiteral("変拍子・連符の定義"), &window);
  label.move(16, 16);
  QPushButton button(QStringLiteral("スタート"), &window);
  button.setGeometry(368, 96, 80, 30);
  window.show();
  return app.exec();
}
