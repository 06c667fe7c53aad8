#pragma once

#include <QAccessibleWidget>

namespace bx {

class TimelineSpine;

// The spine for assistive technology: one adjustable element (a slider)
// named "Timeline" whose value is the current month and its count, stepped
// month by month with the increase and decrease actions.
class SpineAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
  explicit SpineAccessible(TimelineSpine* spine);

  // Registers the factory once per process.
  static void install();

  QString text(QAccessible::Text t) const override;
  void* interface_cast(QAccessible::InterfaceType type) override;
  int childCount() const override { return 0; }
  QAccessibleInterface* child(int) const override { return nullptr; }

  // Value: the current month's index; setting it scrubs there.
  QVariant currentValue() const override;
  void setCurrentValue(const QVariant& value) override;
  QVariant maximumValue() const override;
  QVariant minimumValue() const override;
  QVariant minimumStepSize() const override { return 1; }

  QStringList actionNames() const override;
  void doAction(const QString& actionName) override;
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
  TimelineSpine* spine() const;
};

} // namespace bx
