#pragma once

class QAction;
class QMenu;
class QObject;

namespace orrery {

// The menu items the kit adds to the application's menus.
namespace OrreryCommands {

// "Check for Updates…" (no shortcut), running Orrery::checkForUpdates().
QAction* checkForUpdatesAction(QObject* parent);
// Adds that item to `menu`, after `after` when given (the item that opens
// the About box), else at the end. Returns the new action.
QAction* addTo(QMenu* menu, QAction* after = nullptr);

} // namespace OrreryCommands
} // namespace orrery
