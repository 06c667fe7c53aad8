#pragma once

#include <QPalette>

namespace bx {

// The toolkit's own widgets (menu bar, toolbar, menus, scroll bars, plain
// dialogs) in the theme's colours for the appearance in force, following it
// live once installed.
namespace AppPalette {
QPalette make();
// Sets the application palette now and at every change of the appearance.
void install();
} // namespace AppPalette

} // namespace bx
