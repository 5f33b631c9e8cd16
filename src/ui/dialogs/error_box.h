// The central error box: every failure that reaches the user is shown the
// same way, with the application title as caption and one OK button (or,
// where the user must choose, the choices and Cancel).
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QMessageBox;
class QWidget;

namespace pendlo::ui {

// The error's message with "." appended when its last character sorts after
// "." (so "No timer available" gets one and "I/O ｴﾗｰ (5)" does not).
QString ErrorBoxText(const QString& message);

// The executable's file name without its directory, cut at its first ".",
// every character after the first in lower case: "/usr/bin/Pendlo.bin" ->
// "Pendlo", "pendlo" -> "pendlo".
QString ApplicationTitle(const QString& executablePath);

// The title used for error boxes; set once at start-up.
void SetApplicationTitle(const QString& title);
QString ApplicationTitleText();

// Shows a critical message box with ErrorBoxText(message), modal, on the GUI
// thread; returns when it is dismissed.
void ShowErrorBox(const QString& message, QWidget* parent = nullptr);

// The same box with the buttons `choices` and Qt's Cancel, which Escape and
// the box's own close also press; modal, returns the index of the choice
// taken, or -1 for Cancel (also when the event loop is ended from outside:
// the program asked to end).
int AskErrorBox(const QString& message, const QStringList& choices, QWidget* parent = nullptr);

// The ShowErrorBox box shown without waiting and not modal, so the window
// stays usable; deleted when closed, which the caller may also do.
QMessageBox* OpenErrorBox(const QString& message, QWidget* parent);

// Tests take the box's caption and text here instead of a real box. Pass an
// empty function to show real boxes again.
using ErrorBoxPresenter = std::function<void(const QString& caption, const QString& text)>;
void SetErrorBoxPresenter(ErrorBoxPresenter presenter);

// Tests answer AskErrorBox here: the index of the choice taken, or -1.
// Without one, an ErrorBoxPresenter is shown the box, which answers -1.
using ChoiceBoxPresenter =
    std::function<int(const QString& caption, const QString& text, const QStringList& choices)>;
void SetChoiceBoxPresenter(ChoiceBoxPresenter presenter);

}  // namespace pendlo::ui
