#include "AppIconView.h"

#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>

namespace orrery {

AppIconView::AppIconView(int size, QWidget* parent) : QWidget(parent), side_(size) {
  setFixedSize(size, size);
  auto* shadow = new QGraphicsDropShadowEffect(this);
  shadow->setColor(QColor(0, 0, 0, 38));
  shadow->setBlurRadius(12); // a blur radius of 6 on either side
  shadow->setOffset(0, 3);
  setGraphicsEffect(shadow);
}

void AppIconView::paintEvent(QPaintEvent*) {
  const QIcon icon = QGuiApplication::windowIcon();
  if (icon.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawPixmap(rect(), icon.pixmap(QSize(side_, side_), devicePixelRatioF()));
}

} // namespace orrery
