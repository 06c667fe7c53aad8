#include "Views/ThemedWidget.h"

#include "Platform/Appearance.h"
#include "Platform/ReduceMotion.h"

namespace bx {

ThemedWidget::ThemedWidget(QWidget* parent) : QWidget(parent) {
  connect(&Appearance::shared(), &Appearance::changed, this, [this] { update(); });
  connect(&ReduceMotion::shared(), &ReduceMotion::changed, this, [this] { update(); });
}

} // namespace bx
