#include "Browser/SpineAccessible.h"

#include "Browser/TimelineSpine.h"

namespace bx {

namespace {
QAccessibleInterface* factory(const QString& className, QObject* object) {
  if (className == QLatin1String("bx::TimelineSpine") && object && object->isWidgetType())
    return new SpineAccessible(static_cast<TimelineSpine*>(object));
  return nullptr;
}
} // namespace

void SpineAccessible::install() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  Q_UNUSED(installed);
}

SpineAccessible::SpineAccessible(TimelineSpine* spine) : QAccessibleWidget(spine, QAccessible::Slider) {}

TimelineSpine* SpineAccessible::spine() const { return static_cast<TimelineSpine*>(widget()); }

QString SpineAccessible::text(QAccessible::Text t) const {
  switch (t) {
  case QAccessible::Name: return QStringLiteral("Timeline");
  case QAccessible::Value: return spine()->accessibleValue();
  default: return QAccessibleWidget::text(t);
  }
}

void* SpineAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QVariant SpineAccessible::currentValue() const {
  const auto m = spine()->currentMonth();
  return m ? QVariant(*m) : QVariant();
}

void SpineAccessible::setCurrentValue(const QVariant& value) {
  bool ok = false;
  const int m = value.toInt(&ok);
  if (!ok || !spine()->geometryNow().hasPosition(m)) return;
  emit spine()->scrubRequested(m);
}

QVariant SpineAccessible::maximumValue() const {
  const auto& g = spine()->geometryNow();
  return g.isEmpty() ? QVariant() : QVariant(g.monthAt(0));
}

QVariant SpineAccessible::minimumValue() const {
  const auto& g = spine()->geometryNow();
  return g.isEmpty() ? QVariant() : QVariant(g.monthAt(g.monthCount() - 1));
}

QStringList SpineAccessible::actionNames() const {
  return {increaseAction(), decreaseAction()};
}

void SpineAccessible::doAction(const QString& actionName) {
  if (actionName == increaseAction()) spine()->stepMonth(+1);
  else if (actionName == decreaseAction()) spine()->stepMonth(-1);
}

} // namespace bx
