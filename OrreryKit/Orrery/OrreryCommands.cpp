#include "OrreryCommands.h"

#include "Orrery/Orrery.h"

#include <QAction>
#include <QMenu>

namespace orrery::OrreryCommands {

QAction* checkForUpdatesAction(QObject* parent) {
  auto* action = new QAction(QStringLiteral("Check for Updates\u2026"), parent);
  action->setMenuRole(QAction::ApplicationSpecificRole);
  QObject::connect(action, &QAction::triggered, [] { Orrery::checkForUpdates(); });
  return action;
}

QAction* addTo(QMenu* menu, QAction* after) {
  QAction* action = checkForUpdatesAction(menu);
  const QList<QAction*> actions = menu->actions();
  const qsizetype at = after ? actions.indexOf(after) : -1;
  if (at >= 0 && at + 1 < actions.size()) menu->insertAction(actions[at + 1], action);
  else menu->addAction(action);
  return action;
}

} // namespace orrery::OrreryCommands
