// The program's icon: a 32 x 32 grey cog wheel with rings at its hub, in the
// classic 16-colour palette, transparent outside (drawn by data/make_icon.py).
#pragma once

#include <QIcon>

namespace pendlo::ui {

QIcon PendloIcon();

}  // namespace pendlo::ui
