#pragma once

#include <QPalette>

namespace bx {

// The toolkit's own widgets (menu bar, toolbar, menus, scroll bars, plain
// dialogs) in the theme's colours for the appearance in force, following it
// live once installed.
namespace AppPalette {
QPalette make();
// Sets the application palette now and at every change of the appearance,
// and puts the style's check box edges in checkBoxEdge().
void install();
// The edge of an unchecked check box, for the appearance in force.
QColor checkBoxEdge();
} // namespace AppPalette

} // namespace bx
