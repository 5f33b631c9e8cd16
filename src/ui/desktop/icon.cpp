#include "ui/desktop/icon.h"

#include <QPixmap>

#include "pendlo.xpm"

namespace pendlo::ui {

QIcon PendloIcon() {
  return QIcon(QPixmap(pendlo_xpm));
}

}  // namespace pendlo::ui
