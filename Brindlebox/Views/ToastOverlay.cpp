#include "Views/ToastOverlay.h"

#include "Platform/ReduceMotion.h"
#include "Theme/AnimatedValue.h"
#include "Theme/Motion.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace bx {

ToastOverlay::ToastOverlay(QWidget* host) : QObject(host), host_(host) { host_->installEventFilter(this); }

ToastOverlay::~ToastOverlay() {
  for (const QPointer<ToastView>& v : views_) delete v.data();
}

int ToastOverlay::bottomPadding() { return qEnvironmentVariableIsSet("BRINDLEBOX_DEMO_DIR") ? 96 : 22; }

int ToastOverlay::maxBannerWidth() const { return std::max(1, host_->width() - 2 * kSidePadding); }

QRect ToastOverlay::settledBanner(const ToastView* view) const {
  const QSize s = view->bannerSize(maxBannerWidth());
  return QRect((host_->width() - s.width()) / 2, host_->height() - bottomPadding() - s.height(), s.width(),
               s.height());
}

QRect ToastOverlay::bannerGeometry() const { return current_ ? settledBanner(current_) : QRect(); }

// `progress` 1 = settled in place, 0 = fully out (below the bottom edge when
// moving, else in place).
void ToastOverlay::place(ToastView* view, qreal progress, bool moving) const {
  view->setMaxBannerWidth(maxBannerWidth());
  const QRect settled = settledBanner(view);
  const int outY = host_->height();
  const qreal y = moving ? outY + (settled.top() - outY) * progress : settled.top();
  const int m = ToastView::kShadowMargin;
  view->setGeometry(settled.translated(0, qRound(y) - settled.top()).adjusted(-m, -m, m, m));
}

void ToastOverlay::setToast(std::optional<Toast> toast) {
  const bool sameId = toast && toast_ && toast->id == toast_->id;
  toast_ = toast;
  if (sameId) return;
  const bool reduce = ReduceMotion::isOn();
  if (current_) leave(current_, reduce);
  current_ = nullptr;
  if (!toast) return;

  auto* view = new ToastView(*toast, host_);
  current_ = view;
  views_.removeAll(nullptr);
  views_.append(view);
  const QUuid id = toast->id;
  connect(view, &ToastView::clicked, this, [this, id] {
    if (toast_ && toast_->id == id) {
      setToast(std::nullopt);
      emit dismissed(id);
    }
  });
  auto* t = new AnimatedValue(0, view);
  const bool moving = !reduce;
  connect(t, &AnimatedValue::changed, this, [this, view, t, moving] {
    view->setPresentationOpacity(t->value());
    place(view, t->value(), moving);
  });
  view->setPresentationOpacity(0);
  place(view, 0, moving);
  view->show();
  view->raise();
  t->animateTo(1, MotionAnimation{reduce, Motion::spring}.effective());
}

void ToastOverlay::leave(ToastView* view, bool reduce) {
  view->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (Motion::isInstant()) {
    view->deleteLater();
    return;
  }
  auto* t = new AnimatedValue(1, view);
  const bool moving = !reduce;
  connect(t, &AnimatedValue::changed, this, [this, view, t, moving] {
    view->setPresentationOpacity(std::clamp(t->value(), 0.0, 1.0));
    place(view, t->value(), moving);
    if (t->value() <= 0.001 && !t->isRunning()) view->deleteLater();
  });
  const Animation a = MotionAnimation{reduce, Motion::spring}.effective();
  t->animateTo(0, a);
  // The spring may end a hair above 0; make sure the view goes.
  QTimer::singleShot(a.durationMs() + 50, view, [view] { view->deleteLater(); });
}

bool ToastOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == host_ && event->type() == QEvent::Resize && current_) {
    place(current_, 1, false);
  }
  return QObject::eventFilter(watched, event);
}

} // namespace bx
