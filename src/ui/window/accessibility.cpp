#include "ui/window/accessibility.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QRadioButton>

#include "ui/widgets/definition_memo.h"
#include "ui/widgets/meter_radio_group.h"
#include "ui/widgets/tempo_scroll_bar.h"
#include "ui/window/controls.h"
#include "ui/window/window_builder.h"

namespace pendlo::ui {

namespace {

// A group box, named by its caption.
class GroupAccessible : public QAccessibleWidget {
 public:
  explicit GroupAccessible(GroupFrame* group) : QAccessibleWidget(group, QAccessible::Grouping) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
      return static_cast<const GroupFrame*>(widget())->Caption();
    }
    return QAccessibleWidget::text(t);
  }
};

// A meter item as a radio button of its group. The items are not
// auto-exclusive (the group deselects, so that no item may be chosen), and
// Qt would call them check boxes.
class MeterItemAccessible : public QAccessibleWidget {
 public:
  explicit MeterItemAccessible(QRadioButton* item)
      : QAccessibleWidget(item, QAccessible::RadioButton) {}

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return Item()->text();
    return QAccessibleWidget::text(t);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.checkable = true;
    s.checked = Item()->isChecked();
    return s;
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }

  // Press is a click: it chooses the item, and does nothing on the chosen one.
  void doAction(const QString& action) override {
    if (action == pressAction()) {
      Item()->click();
    } else {
      QAccessibleWidget::doAction(action);
    }
  }

 private:
  QRadioButton* Item() const { return static_cast<QRadioButton*>(widget()); }
};

// A bevelled panel without its indicator bar: the bar lights for 16 ms a
// beat, nothing a screen reader could speak in time, and the click is heard.
class PanelAccessible : public QAccessibleWidget {
 public:
  explicit PanelAccessible(BevelPanel* panel) : QAccessibleWidget(panel) {}

  int childCount() const override { return static_cast<int>(Shown().size()); }

  QAccessibleInterface* child(int index) const override {
    const QList<QWidget*> shown = Shown();
    if (index < 0 || index >= shown.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(shown[index]);
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    return child == nullptr ? -1 : static_cast<int>(Shown().indexOf(child->object()));
  }

 private:
  QList<QWidget*> Shown() const {
    QList<QWidget*> shown;
    for (QObject* o : widget()->children()) {
      auto* w = qobject_cast<QWidget*>(o);
      if (w != nullptr && !w->isWindow() && dynamic_cast<IndicatorBar*>(w) == nullptr) {
        shown.append(w);
      }
    }
    return shown;
  }
};

// Asked for every object, once for each class of its chain; the first call
// answers, with the object itself.
QAccessibleInterface* ControlInterface(const QString&, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  // The main window as a window: a plain top-level widget is otherwise a
  // filler, which no screen reader names on its activation.
  if (widget->isWindow() && dynamic_cast<MetronomeControls*>(widget) != nullptr) {
    return new QAccessibleWidget(widget, QAccessible::Window);
  }
  if (auto* group = dynamic_cast<GroupFrame*>(widget)) return new GroupAccessible(group);
  if (auto* panel = dynamic_cast<BevelPanel*>(widget)) return new PanelAccessible(panel);
  auto* item = qobject_cast<QRadioButton*>(widget);
  if (item != nullptr && qobject_cast<MeterRadioGroup*>(item->parentWidget()) != nullptr) {
    return new MeterItemAccessible(item);
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleControls() {
  static const bool installed = [] {
    QAccessible::installFactory(&ControlInterface);
    return true;
  }();
  (void)installed;
}

void NameLabelledControls(const MetronomeControls& controls) {
  controls.scrBarTempo->setAccessibleName(controls.GroupBox1->Caption());
  controls.memList->setAccessibleName(controls.GroupBox2->Caption());
}

void SayRunning(std::initializer_list<QWidget*> widgets, bool running) {
  const QString said = running ? QCoreApplication::translate("pendlo::ui::TMetronome", "演奏中")
                               : QCoreApplication::translate("pendlo::ui::TMetronome", "停止中");
  for (QWidget* w : widgets) {
    if (w->accessibleDescription() != said) w->setAccessibleDescription(said);
  }
}

}  // namespace pendlo::ui
