#pragma once

class QWidget;

namespace bx {

// Gives a sheet or the settings window the theme's colours for the
// toolkit's own controls (fields, checkboxes, tabs, push buttons), in the
// current appearance and again whenever it changes.
void followThemePalette(QWidget* window);

} // namespace bx
