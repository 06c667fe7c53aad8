#include "Sheets/SheetTransitions.h"

#include "Platform/ReduceMotion.h"

#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <algorithm>

namespace bx {

Transition Transition::unlessReduced() const { return ReduceMotion::isOn() ? opacity() : *this; }

TransitionEffect::TransitionEffect(const Transition& transition, QObject* parent)
    : QGraphicsEffect(parent), transition_(transition) {}

void TransitionEffect::setShown(double shown) {
  if (shown == shown_) return;
  shown_ = shown;
  update();
}

QRectF TransitionEffect::boundingRectFor(const QRectF& rect) const {
  // Room for the offset, so what it moved over is repainted.
  const double dy = std::abs(transition_.dy);
  return rect.adjusted(0, -dy, 0, dy);
}

void TransitionEffect::draw(QPainter* painter) {
  const double s = shown_;
  const double k = transition_.scale + (1 - transition_.scale) * s;
  const double dy = transition_.dy * (1 - s);
  const double alpha = std::clamp(s, 0.0, 1.0);
  if (alpha >= 1 && k == 1 && dy == 0) {
    drawSource(painter);
    return;
  }
  if (alpha <= 0) return;
  QPoint offset;
  const QPixmap pixmap = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
  if (pixmap.isNull()) return;
  painter->save();
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  painter->setOpacity(painter->opacity() * alpha);
  painter->translate(0, dy);
  if (k != 1) {
    const QRectF r(offset, pixmap.deviceIndependentSize());
    painter->translate(r.center());
    painter->scale(k, k);
    painter->translate(-r.center());
  }
  painter->drawPixmap(offset, pixmap);
  painter->restore();
}

namespace {

enum class End { Shown, Hidden, Deleted };

void play(QWidget* w, const Transition& transition, const Animation& animation, End end) {
  if (!w) return;
  auto* running = qobject_cast<TransitionEffect*>(w->graphicsEffect());
  if (Motion::isInstant()) {
    if (running) w->setGraphicsEffect(nullptr);
    if (end == End::Deleted) delete w;
    else w->setVisible(end == End::Shown);
    return;
  }
  const double to = end == End::Shown ? 1 : 0;
  double from = 1 - to;
  if (running) from = std::clamp(running->shown(), 0.0, 1.0);
  auto* effect = new TransitionEffect(transition);
  effect->setShown(from);
  // Replacing the effect deletes a running one and, with it, its animation.
  w->setGraphicsEffect(effect);
  if (end == End::Shown) w->show();
  auto* anim = new QVariantAnimation(effect);
  anim->setDuration(std::max(1, animation.durationMs()));
  anim->setStartValue(0.0);
  anim->setEndValue(1.0);
  QObject::connect(anim, &QVariantAnimation::valueChanged, effect, [effect, animation, from, to](const QVariant& v) {
    effect->setShown(from + (to - from) * animation.progress(v.toDouble()));
  });
  QPointer<QWidget> target = w;
  QPointer<TransitionEffect> mine = effect;
  QObject::connect(anim, &QVariantAnimation::finished, effect, [target, mine, end] {
    // Dropping the effect deletes this animation: not from inside its own
    // signal.
    QMetaObject::invokeMethod(
        target,
        [target, mine, end] {
          if (!target || !mine || target->graphicsEffect() != mine) return;
          target->setGraphicsEffect(nullptr);
          if (end == End::Hidden) target->hide();
          if (end == End::Deleted) delete target.data();
        },
        Qt::QueuedConnection);
  });
  anim->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace

void transitionIn(QWidget* w, const Transition& transition, const Animation& animation) {
  play(w, transition, animation, End::Shown);
}

void transitionOut(QWidget* w, const Transition& transition, const Animation& animation) {
  if (w && w->isHidden() && !w->graphicsEffect()) return;
  play(w, transition, animation, End::Hidden);
}

void transitionOutAndDelete(QWidget* w, const Transition& transition, const Animation& animation) {
  play(w, transition, animation, End::Deleted);
}

void transitionOutPicture(QWidget* old, QWidget* area, const Transition& transition, const Animation& animation) {
  if (Motion::isInstant() || !old || !area || !old->isVisible()) return;
  // A view still coming in draws nothing into a grab while its effect is
  // on: it leaves from where it would have arrived.
  if (qobject_cast<TransitionEffect*>(old->graphicsEffect())) old->setGraphicsEffect(nullptr);
  auto* picture = new QLabel(area);
  picture->setAttribute(Qt::WA_TransparentForMouseEvents);
  picture->setPixmap(old->grab());
  picture->setGeometry(QRect(old->mapTo(area, QPoint(0, 0)), old->size()));
  picture->show();
  picture->raise();
  transitionOutAndDelete(picture, transition, animation);
}

}  // namespace bx
