// The relay's icon, drawn in code so that no image plugin is needed at run
// time; lanrelay.svg is the same picture for the desktop's menus.
#pragma once

#include <QIcon>

namespace gui {

QIcon programIcon();

}  // namespace gui
