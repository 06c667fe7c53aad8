#pragma once

#include <QIcon>

namespace bx {
// The application's icon (also the desktop entry's), for every window.
QIcon appIcon();
} // namespace bx
